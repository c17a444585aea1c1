// The model's tool tips on Qt's.
#include "frontend/tool_tip_binding.h"

#include <QToolTip>
#include <climits>

#include "frontend/text_fit.h"
#include "platform/ui/tool_tip_ctrl.h"

namespace velmora {

CToolTipBinding::CToolTipBinding(CToolTipCtrl& tip, QWidget* parent) : CModelBinding(tip, new QWidget(parent)) {
  Widget()->hide();
}

void CToolTipBinding::SyncFromModel() {
  CModelBinding::SyncFromModel();
  Widget()->hide();
  auto* tip = ModelAs<CToolTipCtrl>();
  QWidget* owner = Widget()->parentWidget();
  if (!tip || !owner) return;
  if (tip->IsShown() && !tip->GetTipText().empty()) {
    const POINT at = tip->Position();
    // Below and right of the pointer, as the desktop places a tip.
    const QPoint global = owner->mapToGlobal(QPoint(at.x + 12, at.y + 16));
    const unsigned delay = tip->AutoPopDelay();
    QToolTip::showText(global, Qs(tip->GetTipText()), owner, QRect(),
                       delay == 0 ? -1 : static_cast<int>(delay > INT_MAX ? INT_MAX : delay));
    showing_ = true;
  } else if (showing_) {
    QToolTip::hideText();
    showing_ = false;
  }
}

void CToolTipBinding::Detach() {
  if (showing_) QToolTip::hideText();
  showing_ = false;
  CModelBinding::Detach();
}

}  // namespace velmora

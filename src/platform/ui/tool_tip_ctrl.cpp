// The tool tip's state.
#include "platform/ui/tool_tip_ctrl.h"

namespace velmora {

bool CToolTipCtrl::Create(CWnd* owner) { return CWnd::Create(owner, kChildId, std::string(), WS_CHILD); }

void CToolTipCtrl::UpdateTipText(const std::string& text) {
  if (text == GetWindowText()) return;
  SetWindowText(text);
}

void CToolTipCtrl::SetAutoPopDelay(unsigned ms) {
  if (autopop_ms_ == ms) return;
  autopop_ms_ = ms;
  Invalidate();
}

void CToolTipCtrl::ShowAt(int x, int y) {
  const POINT at{x, y};
  if (shown_ && at_ == at) return;
  shown_ = true;
  at_ = at;
  Invalidate();
}

void CToolTipCtrl::Hide() {
  if (!shown_) return;
  shown_ = false;
  Invalidate();
}

void CToolTipCtrl::ResetWindowState() {
  shown_ = false;
  at_ = POINT{};
}

}  // namespace velmora

// The window mirror: bindings by window, the sync pass and the window model's observer.
#include "frontend/window_mirror.h"

#include <vector>

#include "frontend/combo_box_ex_binding.h"
#include "frontend/control_bindings.h"
#include "frontend/custom_window.h"
#include "frontend/dialog_units.h"
#include "frontend/dialog_window.h"
#include "frontend/dispatcher_bridge.h"
#include "frontend/list_bindings.h"
#include "frontend/model_binding.h"
#include "frontend/tool_tip_binding.h"
#include "frontend/widget_registry.h"
#include "platform/ui/combo_box_ex.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/list_ctrl.h"
#include "platform/ui/property_sheet.h"
#include "platform/ui/tool_tip_ctrl.h"
#include "platform/ui/tree_ctrl.h"

namespace velmora {

bool IsTopLevelDialog(const CWnd& window) {
  return dynamic_cast<const CDialog*>(&window) && !dynamic_cast<const CPropertyPage*>(&window) &&
         !(window.GetStyle() & WS_CHILD);
}

CWindowMirror& CWindowMirror::Get() {
  static CWindowMirror mirror;  // UI thread only
  return mirror;
}

void CWindowMirror::Install() {
  if (installed_) return;
  installed_ = true;
  SetWindowObserver(this);
}

void CWindowMirror::Uninstall() {
  if (!installed_) return;
  SetWindowObserver(nullptr);
  installed_ = false;
  // Widgets still shown lose their windows (they are deleted by their owners).
  auto all = bindings_;
  for (auto& [window, binding] : all) binding->Detach();
  bindings_.clear();
  converted_.clear();
}

void CWindowMirror::Add(CWnd* window, CModelBinding* binding) { bindings_[window] = binding; }

void CWindowMirror::Remove(CWnd* window, CModelBinding* binding) {
  auto it = bindings_.find(window);
  if (it != bindings_.end() && it->second == binding) bindings_.erase(it);
}

CModelBinding* CWindowMirror::Find(const CWnd* window) const {
  auto it = bindings_.find(window);
  return it == bindings_.end() ? nullptr : it->second;
}

QWidget* CWindowMirror::WidgetOf(const CWnd* window) const {
  CModelBinding* b = Find(window);
  return b ? b->Widget() : nullptr;
}

void CWindowMirror::ConvertTemplateRects(CDialog& dialog) {
  if (!converted_.insert(dialog.GetSafeHwnd()).second) return;
  RECT own = dialog.GetWindowRect();
  QSize size = CDialogUnits::ToPixels(own.Width(), own.Height());
  dialog.MoveWindow(RECT{0, 0, size.width(), size.height()});
  for (CWnd* child : dialog.Children()) {
    if (IsTopLevelDialog(*child) || dynamic_cast<CPropertyPage*>(child)) continue;
    RECT r = child->GetWindowRect();
    child->MoveWindow(ToRect(CDialogUnits::ToPixels(r)));
    RECT px = child->GetWindowRect();
    if (px.Width() > 0 && px.Height() > 0) child->SendMessage(WM_SIZE, 0, MAKELPARAM(px.Width(), px.Height()));
  }
}

CModelBinding* CWindowMirror::MakeBinding(CWnd& w, QWidget* parent) {
  if (CModelBinding* b = MakeRegisteredBinding(w, parent)) return b;
  if (auto* tip = dynamic_cast<CToolTipCtrl*>(&w)) return new CToolTipBinding(*tip, parent);
  if (auto* sheet = dynamic_cast<CPropertySheet*>(&w)) return new CSheetBinding(*sheet, parent);
  if (auto* dialog = dynamic_cast<CDialog*>(&w)) return new CDialogContentBinding(*dialog, parent);
  if (auto* list = dynamic_cast<CListCtrl*>(&w)) return new CListBinding(*list, parent);
  if (auto* tree = dynamic_cast<CTreeCtrl*>(&w)) return new CTreeBinding(*tree, parent);
  if (auto* combo_ex = dynamic_cast<CComboBoxEx*>(&w)) return new CComboBoxExBinding(*combo_ex, parent);
  if (auto* combo = dynamic_cast<CComboBox*>(&w)) return new CComboBinding(*combo, parent);
  if (auto* edit = dynamic_cast<CEdit*>(&w)) {
    bool multi = parent && IsMultiLineHeight(*parent, w.GetWindowRect().Height());
    return new CEditBinding(*edit, parent, multi);
  }
  if (auto* button = dynamic_cast<CButton*>(&w)) return new CButtonBinding(*button, parent);
  if (auto* progress = dynamic_cast<CProgressCtrl*>(&w)) return new CProgressBinding(*progress, parent);
  if (auto* text = dynamic_cast<CStatic*>(&w)) return new CStaticBinding(*text, parent);
  return new CCustomWindowBinding(w, parent);
}

CModelBinding* CWindowMirror::Bind(CWnd& window, QWidget* parent, bool geometry_from_model) {
  if (CModelBinding* existing = Find(&window)) return existing;
  if (!window.IsWindow()) return nullptr;
  if (auto* dialog = dynamic_cast<CDialog*>(&window)) ConvertTemplateRects(*dialog);
  CModelBinding* binding = MakeBinding(window, parent);
  binding->SetGeometryFromModel(geometry_from_model);
  binding->MarkSeen(window.InvalidateCount());
  binding->SyncFromModel();
  binding->TakeChildrenDirty();
  binding->SyncChildren();
  return binding;
}

void CWindowMirror::SyncAll() {
  if (syncing_ > 0) {
    sync_again_ = true;
    return;
  }
  ++syncing_;
  int rounds = 0;
  do {
    sync_again_ = false;
    std::vector<std::pair<const CWnd*, CModelBinding*>> all(bindings_.begin(), bindings_.end());
    for (auto& [key, binding] : all) {
      if (Find(key) != binding) continue;  // gone during this pass
      CWnd* w = binding->Model();
      if (!w) continue;
      unsigned count = w->InvalidateCount();
      if (count == binding->SeenCount()) continue;
      binding->MarkSeen(count);
      binding->SyncFromModel();
    }
    for (auto& [key, binding] : all) {
      if (Find(key) != binding || !binding->Model()) continue;
      if (binding->TakeChildrenDirty()) binding->SyncChildren();
    }
  } while (sync_again_ && ++rounds < 4);
  --syncing_;
}

void CWindowMirror::OnWindowChanged() { CQtDispatcherBridge::Wake(); }

void CWindowMirror::OnWindowCreated(CWnd& window) {
  if (CModelBinding* parent = Find(window.GetParent())) {
    parent->MarkChildrenDirty();
    CQtDispatcherBridge::Wake();
  }
}

void CWindowMirror::OnWindowDestroyed(CWnd& window) {
  converted_.erase(window.GetSafeHwnd());
  CModelBinding* binding = Find(&window);
  if (!binding) return;
  bindings_.erase(&window);
  binding->Detach();
  QWidget* widget = binding->Widget();
  if (!widget) return;
  // A dialog's own top window goes with it.
  if (auto* top = dynamic_cast<CDialogWindow*>(widget->window()); top && top->Content() == widget) {
    top->Forget();
    top->hide();
    top->deleteLater();
    return;
  }
  widget->hide();
  widget->deleteLater();
}

}  // namespace velmora

// The binding of one model window to its widget.
#include "frontend/model_binding.h"

#include "frontend/images.h"
#include "frontend/window_mirror.h"

namespace velmora {

QRect ToQRect(const RECT& r) { return QRect(r.left, r.top, r.right - r.left, r.bottom - r.top); }
RECT ToRect(const QRect& r) { return RECT{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()}; }

CModelBinding::CModelBinding(CWnd& window, QWidget* widget)
    : QObject(widget), model_(&window), key_(&window), hwnd_(window.GetSafeHwnd()), widget_(widget) {
  CWindowMirror::Get().Add(&window, this);
}

CModelBinding::~CModelBinding() { CWindowMirror::Get().Remove(const_cast<CWnd*>(key_), this); }

void CModelBinding::Detach() { model_ = nullptr; }

void CModelBinding::SyncFromModel() {
  CWnd* w = model_;
  if (!w || !widget_) return;
  SyncScope scope(this);
  widget_->setEnabled(w->IsWindowEnabled());
  if (w->WindowCursor() != applied_cursor_) {
    applied_cursor_ = w->WindowCursor();
    if (applied_cursor_ == CursorKind::kDefault)
      widget_->unsetCursor();
    else
      widget_->setCursor(ProgramCursor(applied_cursor_));
  }
  if (widget_->isWindow()) return;  // top windows: their host decides place and visibility
  // A widget that a layout of the front end places (views, panels, the address control, a
  // dialog's content in its window) is also shown by that layout.
  if (!geometry_from_model_) return;
  RECT r = w->GetWindowRect();
  if (!(r == applied_rect_)) {
    applied_rect_ = r;
    widget_->setGeometry(ToQRect(r));
  }
  widget_->setVisible(w->IsWindowVisible());
}

QWidget* CModelBinding::ContainerFor(CWnd&) { return ChildContainer(); }

void CModelBinding::SyncChildren() {
  CWnd* w = model_;
  if (!w || !ChildContainer()) return;
  CWindowMirror& mirror = CWindowMirror::Get();
  for (CWnd* child : w->Children()) {
    if (!child->IsWindow() || mirror.Find(child) || IsTopLevelDialog(*child)) continue;
    if (QWidget* into = ContainerFor(*child)) mirror.Bind(*child, into);
  }
}

void CModelBinding::ReportGeometry(const QRect& rect) {
  RECT r = ToRect(rect);
  applied_rect_ = r;
  CWnd* w = model_;
  if (!w || !w->IsWindow()) return;
  bool resized = w->GetWindowRect().Width() != r.Width() || w->GetWindowRect().Height() != r.Height();
  w->MoveWindow(r);
  if (resized) w->SendMessage(WM_SIZE, 0, MAKELPARAM(r.Width(), r.Height()));
}

}  // namespace velmora

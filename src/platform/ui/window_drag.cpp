// Mouse capture and drags between windows.
#include "platform/ui/window_drag.h"

#include <utility>

#include "platform/ui/list_ctrl.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

struct CaptureState {
  HWND capture = 0;
  CursorKind cursor = CursorKind::kDefault;
  std::function<void(CWnd*)> observer;
};

CaptureState& State() {
  static CaptureState state;
  return state;
}

void Tell() {
  if (State().observer) State().observer(GetCapture());
}

bool Deliver(UINT msg, HWND to, CWnd* target, POINT client, POINT screen) {
  CWnd* window = UiDispatcher().FromHandle(to);
  if (!window) return false;
  DRAGPOINT point;
  point.target = target && target->IsWindow() ? target->GetSafeHwnd() : 0;
  point.client = client;
  point.screen = screen;
  window->SendMessage(msg, 0, reinterpret_cast<LPARAM>(&point));
  return true;
}

}  // namespace

void SetCapture(CWnd* window) {
  State().capture = window && window->IsWindow() ? window->GetSafeHwnd() : 0;
  State().cursor = CursorKind::kDefault;
  Tell();
}

void ReleaseCapture() {
  if (!State().capture) return;
  State().capture = 0;
  State().cursor = CursorKind::kDefault;
  Tell();
}

CWnd* GetCapture() { return State().capture ? UiDispatcher().FromHandle(State().capture) : nullptr; }

void SetCaptureObserver(std::function<void(CWnd*)> observer) { State().observer = std::move(observer); }

void SetCaptureCursor(CursorKind kind) {
  if (State().cursor == kind) return;
  State().cursor = kind;
  if (State().capture) Tell();
}

CursorKind GetCaptureCursor() { return State().cursor; }

bool DragPointerMoved(CWnd* target, POINT client, POINT screen) {
  if (!GetCapture()) return false;
  return Deliver(WM_DRAGMOVE, State().capture, target, client, screen);
}

bool DragPointerReleased(CWnd* target, POINT client, POINT screen) {
  if (!GetCapture()) return false;
  HWND to = State().capture;
  ReleaseCapture();
  return Deliver(WM_DRAGDROP, to, target, client, screen);
}

bool BeginDragItem(CListCtrl& list, int item) {
  if (!list.IsWindowEnabled() || item < 0 || item >= list.GetItemCount()) return false;
  if (!list.GetItemState(item, LVIS_SELECTED)) {
    list.ClearSelection();
    list.SetItemState(item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
  }
  CWnd* parent = list.GetParent();
  if (!parent || !parent->IsWindow()) return false;
  NMLISTVIEW nm;
  nm.hdr.hwndFrom = list.GetSafeHwnd();
  nm.hdr.idFrom = static_cast<UINT_PTR>(list.GetDlgCtrlID());
  nm.hdr.code = LVN_BEGINDRAG;
  nm.iItem = item;
  parent->SendMessage(WM_NOTIFY, static_cast<WPARAM>(list.GetDlgCtrlID()), reinterpret_cast<LPARAM>(&nm.hdr));
  return true;
}

}  // namespace velmora

// The side-bar panel host: sizing its one control and passing the control's notifications on.
#include "shell/panel_host.h"

#include <utility>

namespace velmora {

CPanelHost::CPanelHost(CWnd& body, NotifyHandler on_notify) : body_(body), on_notify_(std::move(on_notify)) {
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM lparam) {
    const int cx = GET_X_LPARAM(lparam), cy = GET_Y_LPARAM(lparam);
    if (body_.IsWindow() && cx > 0 && cy > 0) body_.MoveWindow(RECT{0, 0, cx, cy});
    return LRESULT{0};
  });
  MapMessage(WM_NOTIFY, [this](WPARAM, LPARAM lparam) {
    auto* hdr = reinterpret_cast<NMHDR*>(lparam);
    if (!hdr || hdr->hwndFrom != body_.GetSafeHwnd() || !on_notify_) return LRESULT{0};
    return on_notify_(hdr);
  });
}

bool CPanelHost::CreatePanel(CWnd* parent, int panel_id, const std::string& name, int body_id) {
  if (IsWindow()) return true;
  const RECT rect{0, 0, 200, 420};
  if (!Create(parent, panel_id, name, WS_CHILD | WS_VISIBLE, rect)) return false;
  if (!body_.Create(this, body_id, "", WS_CHILD | WS_VISIBLE | WS_BORDER, rect)) {
    DestroyWindow();
    return false;
  }
  return true;
}

}  // namespace velmora

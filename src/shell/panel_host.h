// CPanelHost: the window of a side-bar panel whose body is one control (a tree, a list): it
// keeps the control at its own size and hands the control's notifications (WM_NOTIFY from that
// control) back to the panel.
#pragma once
#include <functional>
#include <string>

#include "platform/ui/window.h"

namespace velmora {

class CPanelHost : public CWnd {
 public:
  using NotifyHandler = std::function<LRESULT(NMHDR* hdr)>;

  // `body`: the control that fills the host; `on_notify`: called with the notifications whose
  // sender is `body` (others are answered 0).
  CPanelHost(CWnd& body, NotifyHandler on_notify);

  // Makes the host (a child of `parent` with the panel's id and name) and the body in it (with
  // `body_id`, bordered); true when both are there, also when they were already. When the body
  // cannot be made the host goes again.
  bool CreatePanel(CWnd* parent, int panel_id, const std::string& name, int body_id);

 private:
  CWnd& body_;
  NotifyHandler on_notify_;
};

}  // namespace velmora

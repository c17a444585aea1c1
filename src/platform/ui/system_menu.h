// The system menu of a top window (the menu of its title bar): the entries a window adds to it
// and the WM_SYSCOMMAND that a chosen entry sends. The front end shows the menu on Alt+Space and
// on a right click on the window's title area, and sends the chosen command to the window
// (WPARAM: the command id); the window's own handler passes the commands it does not know to
// DefSysCommand. UI thread only.
#pragma once
#include "platform/ui/menu.h"
#include "platform/ui/window.h"

namespace velmora {

constexpr UINT WM_SYSCOMMAND = 0x0112;
constexpr UINT SC_CLOSE = 0xF060;

// The window's own entries (created empty on first use); `revert` drops them. The menu lives
// while the window does: the entries of destroyed windows are dropped on the next call.
CMenu* GetSystemMenu(CWnd& window, bool revert = false);
// The entries, or null when the window never got any.
const CMenu* FindSystemMenu(const CWnd& window);
// The default course of a system command: SC_CLOSE sends WM_CLOSE; others do nothing.
LRESULT DefSysCommand(CWnd& window, WPARAM command);

}  // namespace velmora

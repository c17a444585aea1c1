// CMainFrame: the main window. It parents the child views, holds the left bar's panels, the
// address bar's control and the status bar, routes the menu and toolbar commands (see
// command_table.h) and keeps which bars are shown. A front end draws it; without one it is the
// same model, driven by tests and the headless program.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/window.h"
#include "shell/side_bar_panel.h"

namespace velmora {

class CMapStatusBar;

class CMainFrame : public CWnd {
 public:
  // The bars a person can show and hide.
  enum class Bar { kToolBar, kStatusBar, kSideBar, kAddressBar };

  CMainFrame();
  ~CMainFrame() override;

  // Creates the window and registers the frame's own commands (exit, the bars, one command per
  // registered view kind).
  bool CreateFrame(const std::string& title);
  // Destroys the panels and the window (the views are destroyed by the application first).
  void CloseFrame();
  // Shows the frame (SW_SHOW, SW_SHOWMAXIMIZED, SW_HIDE) and keeps the way it was asked for.
  void ShowFrame(int cmd);
  int ShowCommand() const { return show_cmd_; }

  // Adds a panel to the left bar; the frame owns it. Returns the panel.
  ISideBarPanel* AddSideBarPanel(std::unique_ptr<ISideBarPanel> panel);
  // The panel whose name equals `name` exactly, else null.
  ISideBarPanel* FindSideBarPanel(const char* name) const;
  std::vector<ISideBarPanel*> SideBarPanels() const;

  // The address bar holds one control of the frame (the place search box): a child window of
  // the frame. Null empties the slot. Enter in the address bar sends IDOK to the frame.
  void SetAddressBarControl(CWnd* control);
  CWnd* AddressBarControl() const { return address_control_; }

  void ShowControlBar(Bar bar, bool show);
  bool IsControlBarVisible(Bar bar) const;

  // A menu or toolbar command: the current view's map, then the frame's own, then the command
  // table's handler. True when someone handled it.
  bool RouteCommand(UINT id);
  // The command's enabled and checked state, asked along the same route; a command that nobody
  // handles is disabled.
  void QueryCommandUI(CCmdUI& cmd);

  CMapStatusBar& StatusBar();

 protected:
  bool OnCommand(WPARAM wparam, LPARAM lparam) override;
  // WM_CLOSE (the close box, "退出"): ends the application's message loop.
  LRESULT DefWindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void RegisterFrameCommands();
  CWnd* CurrentViewWindow() const;

  std::vector<std::unique_ptr<ISideBarPanel>> panels_;
  CWnd* address_control_ = nullptr;
  bool bars_[4] = {true, true, true, true};
  int show_cmd_ = SW_HIDE;
  std::vector<UINT> map_commands_;  // the map tools and source items the frame registered
};

}  // namespace velmora

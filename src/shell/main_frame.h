// CMainFrame: the main window. It parents the child views, holds the left bar's panels and shows
// the status bar.
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
  CMainFrame();
  ~CMainFrame() override;

  bool CreateFrame(const std::string& title);
  // Destroys the panels and the window (the views are destroyed by the application first).
  void CloseFrame();

  // Adds a panel to the left bar; the frame owns it. Returns the panel.
  ISideBarPanel* AddSideBarPanel(std::unique_ptr<ISideBarPanel> panel);
  // The panel whose name equals `name` exactly, else null.
  ISideBarPanel* FindSideBarPanel(const char* name) const;
  std::vector<ISideBarPanel*> SideBarPanels() const;

  CMapStatusBar& StatusBar();

 private:
  std::vector<std::unique_ptr<ISideBarPanel>> panels_;
};

}  // namespace velmora

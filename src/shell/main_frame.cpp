// Main frame: panels and status bar.
#include "shell/main_frame.h"

#include <cstring>

#include "shell/map_status_bar.h"

namespace velmora {

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() { CloseFrame(); }

bool CMainFrame::CreateFrame(const std::string& title) {
  if (IsWindow()) return true;
  return Create(nullptr, 0, title, 0);
}

void CMainFrame::CloseFrame() {
  // Panels go in the reverse order of their adding: later panels may use earlier ones.
  while (!panels_.empty()) {
    std::unique_ptr<ISideBarPanel> panel = std::move(panels_.back());
    panels_.pop_back();
    if (CWnd* window = panel->GetPanelWnd()) window->DestroyWindow();
  }
  DestroyWindow();
}

ISideBarPanel* CMainFrame::AddSideBarPanel(std::unique_ptr<ISideBarPanel> panel) {
  if (!panel) return nullptr;
  panels_.push_back(std::move(panel));
  return panels_.back().get();
}

ISideBarPanel* CMainFrame::FindSideBarPanel(const char* name) const {
  if (!name) return nullptr;
  for (const auto& panel : panels_) {
    const char* own = panel->GetPanelName();
    if (own && std::strcmp(own, name) == 0) return panel.get();
  }
  return nullptr;
}

std::vector<ISideBarPanel*> CMainFrame::SideBarPanels() const {
  std::vector<ISideBarPanel*> out;
  for (const auto& panel : panels_) out.push_back(panel.get());
  return out;
}

CMapStatusBar& CMainFrame::StatusBar() { return MapStatusBar(); }

}  // namespace velmora

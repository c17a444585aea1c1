// Main frame: panels, the address bar's control, bars, command routing and the status bar.
#include "shell/main_frame.h"

#include <cstring>

#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/map_status_bar.h"
#include "shell/map_view_commands.h"
#include "shell/options_sheet.h"

namespace velmora {
namespace {

// Toolbar pictures of the view kinds (data/images).
const char* ViewKindIcon(int kind) {
  switch (kind) {
    case kViewMap2D: return "view_map2d.png";
    case kViewGlobe3D: return "view_globe3d.png";
    case kViewTiles3D: return "view_tiles3d.png";
    case kViewEarthApp: return "view_earth_app.png";
    case kViewEarthPlugin: return "view_earth_plugin.png";
    case kViewWebMap: return "view_web_map.png";
    default: return "";
  }
}

// Names of the view kinds in the "视图" menu.
const char* ViewKindName(int kind) {
  switch (kind) {
    case kViewMap2D: return "二维地图";
    case kViewGlobe3D: return "三维地球";
    case kViewTiles3D: return "三维瓦片";
    case kViewEarthApp: return "谷歌地球";
    case kViewEarthPlugin: return "谷歌地球插件";
    case kViewWebMap: return "网页地图";
    default: return nullptr;
  }
}

int BarIndex(CMainFrame::Bar bar) { return static_cast<int>(bar); }

}  // namespace

CMainFrame::CMainFrame() = default;

CMainFrame::~CMainFrame() { CloseFrame(); }

bool CMainFrame::CreateFrame(const std::string& title) {
  if (IsWindow()) return true;
  if (!Create(nullptr, 0, title, 0)) return false;
  RegisterFrameCommands();
  return true;
}

void CMainFrame::RegisterFrameCommands() {
  CCommandTable& table = AppCommands();
  AppCommand exit;
  exit.id = ID_APP_EXIT;
  exit.menu = "文件";
  exit.text = "退出(&X)";
  exit.prompt = "退出应用程序\n退出";
  exit.order = 1000;
  exit.separator_before = true;
  exit.handler = [this] { SendMessage(WM_CLOSE); };
  table.Register(std::move(exit));

  auto bar_command = [this](UINT id, Bar bar, const char* text, const char* prompt, int order) {
    AppCommand c;
    c.id = id;
    c.menu = "视图";
    c.text = text;
    c.prompt = prompt;
    c.order = order;
    c.handler = [this, bar] { ShowControlBar(bar, !IsControlBarVisible(bar)); };
    c.update = [this, bar](CCmdUI& ui) { ui.SetCheck(IsControlBarVisible(bar) ? 1 : 0); };
    return c;
  };
  table.Register(bar_command(ID_VIEW_TOOLBAR, Bar::kToolBar, "工具栏(&T)", "显示或隐藏工具栏\n切换工具栏", 10));
  table.Register(bar_command(ID_VIEW_STATUS_BAR, Bar::kStatusBar, "状态栏(&S)", "显示或隐藏状态栏\n切换状态栏", 11));
  RegisterOptionsCommand();
  map_commands_ = RegisterMapViewCommands();

  // One command per view kind that a module can make; kinds not built have none.
  CKovraHomeExApp* app = GetApp();
  if (!app) return;
  bool first = true;
  for (int kind : app->Views().RegisteredKinds()) {
    const char* name = ViewKindName(kind);
    if (!name) continue;
    AppCommand c;
    c.id = ID_VIEW_KIND_FIRST + static_cast<UINT>(kind);
    c.menu = "视图";
    c.text = name;
    c.prompt = std::string("显示") + name + "视图\n" + name;
    c.order = 100 + kind;
    c.icon = ViewKindIcon(kind);
    c.toolbar = true;
    c.separator_before = first;
    first = false;
    c.handler = [kind] {
      if (CKovraHomeExApp* a = GetApp()) a->SwitchView(kind);
    };
    c.update = [kind](CCmdUI& ui) {
      CKovraHomeExApp* a = GetApp();
      IChildView* current = a ? a->GetCurrentView() : nullptr;
      ui.SetCheck(current && current->GetViewKind() == kind ? 1 : 0);
    };
    AppCommands().Register(std::move(c));
  }
}

void CMainFrame::CloseFrame() {
  // The frame's commands go with it: their handlers use the frame.
  CCommandTable& table = AppCommands();
  for (UINT id : {ID_APP_EXIT, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR, ID_VIEW_SIDEBAR}) table.Unregister(id);
  UnregisterOptionsCommand();
  UnregisterMapViewCommands(map_commands_);
  map_commands_.clear();
  for (int kind = kViewMap2D; kind <= kViewWebMap; ++kind) table.Unregister(ID_VIEW_KIND_FIRST + static_cast<UINT>(kind));
  address_control_ = nullptr;
  // Panels go in the reverse order of their adding: later panels may use earlier ones.
  while (!panels_.empty()) {
    std::unique_ptr<ISideBarPanel> panel = std::move(panels_.back());
    panels_.pop_back();
    if (CWnd* window = panel->GetPanelWnd()) window->DestroyWindow();
  }
  DestroyWindow();
}

void CMainFrame::ShowFrame(int cmd) {
  show_cmd_ = cmd;
  ShowWindow(cmd);
  Invalidate();
}

ISideBarPanel* CMainFrame::AddSideBarPanel(std::unique_ptr<ISideBarPanel> panel) {
  if (!panel) return nullptr;
  panels_.push_back(std::move(panel));
  if (panels_.size() == 1 && IsWindow()) {
    AppCommand c;
    c.id = ID_VIEW_SIDEBAR;
    c.menu = "视图";
    c.text = "侧栏(&L)";
    c.prompt = "显示或隐藏左侧栏\n切换侧栏";
    c.order = 12;
    c.handler = [this] { ShowControlBar(Bar::kSideBar, !IsControlBarVisible(Bar::kSideBar)); };
    c.update = [this](CCmdUI& ui) { ui.SetCheck(IsControlBarVisible(Bar::kSideBar) ? 1 : 0); };
    AppCommands().Register(std::move(c));
  }
  Invalidate();
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

void CMainFrame::SetAddressBarControl(CWnd* control) {
  if (control == address_control_) return;
  address_control_ = control;
  Invalidate();
}

void CMainFrame::ShowControlBar(Bar bar, bool show) {
  bool& shown = bars_[BarIndex(bar)];
  if (shown == show) return;
  shown = show;
  Invalidate();
}

bool CMainFrame::IsControlBarVisible(Bar bar) const { return bars_[BarIndex(bar)]; }

CWnd* CMainFrame::CurrentViewWindow() const {
  CKovraHomeExApp* app = GetApp();
  IChildView* view = app && app->MainFrame() == this ? app->GetCurrentView() : nullptr;
  CWnd* window = view ? view->GetWnd() : nullptr;
  return window && window->IsWindow() ? window : nullptr;
}

bool CMainFrame::RouteCommand(UINT id) {
  if (CWnd* view = CurrentViewWindow(); view && view->HandlesCommand(id)) {
    view->SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
  }
  if (HandlesCommand(id)) {
    SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
  }
  return AppCommands().Execute(id);
}

void CMainFrame::QueryCommandUI(CCmdUI& cmd) {
  UINT id = cmd.Id();
  if (CWnd* view = CurrentViewWindow(); view && (view->HasUpdateCommandUI(id) || view->HandlesCommand(id))) {
    view->UpdateCommandUI(cmd);
    return;
  }
  if (HasUpdateCommandUI(id) || HandlesCommand(id)) {
    UpdateCommandUI(cmd);
    return;
  }
  std::optional<AppCommand> command = AppCommands().Find(id);
  if (!command) {
    cmd.Enable(false);
    return;
  }
  if (!command->update && !command->handler) cmd.Enable(false);  // registered, but nothing handles it now
  AppCommands().QueryState(cmd);
}

bool CMainFrame::OnCommand(WPARAM wparam, LPARAM) {
  unsigned code = HIWORD(wparam);
  if (code != 0 && code != 1) return false;
  UINT id = LOWORD(wparam);
  // Menu and toolbar commands that the frame's own map did not take (it ran first).
  if (CWnd* view = CurrentViewWindow(); view && view->HandlesCommand(id)) {
    view->SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return true;
  }
  return AppCommands().Execute(id);
}

LRESULT CMainFrame::DefWindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg == WM_CLOSE) {
    if (CKovraHomeExApp* app = GetApp(); app && app->MainFrame() == this)
      app->RequestQuit(0);
    return 0;
  }
  return CWnd::DefWindowProc(msg, wparam, lparam);
}

CMapStatusBar& CMainFrame::StatusBar() { return MapStatusBar(); }

}  // namespace velmora

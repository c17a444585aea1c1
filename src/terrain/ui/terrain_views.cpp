// The 3D tile view and the 3D views' commands in the application.
#include "terrain/ui/terrain_views.h"

#include <memory>

#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "terrain/ui/3d_tile_view.h"
#include "terrain/ui/3d_view_wnd.h"
#include "terrain/ui/area_export.h"
#include "terrain/ui/dlg_layer_cache_info.h"
#include "terrain/ui/dem_tools.h"
#include "terrain/ui/dem_extract_commands.h"
#include "terrain/ui/elevation_profile_commands.h"
#include "terrain/ui/render_wnd.h"
#include "terrain/ui/satellite_tree.h"

namespace velmora {
namespace {

void RegisterCommands() {
  CCommandTable& table = AppCommands();
  AppCommand view;
  view.id = ID_VIEW_KIND_FIRST + kViewTiles3D;
  view.menu = "视图";
  view.text = k3DTileViewCommandText;
  view.prompt = std::string("显示") + k3DTileViewCommandText + "\n" + k3DTileViewCommandText;
  view.icon = "view_tiles3d.png";
  view.order = 100 + kViewTiles3D;
  view.toolbar = true;
  view.handler = [] {
    if (CKovraHomeExApp* app = GetApp()) SwitchTo3DTileView(*app);
  };
  view.update = [](CCmdUI& ui) {
    CKovraHomeExApp* app = GetApp();
    IChildView* current = app ? app->GetCurrentView() : nullptr;
    ui.SetCheck(current && current->GetViewKind() == kViewTiles3D ? 1 : 0);
  };
  table.Register(std::move(view));

  // The 3D tile view's refresh (its own map handles it; greyed in the other views).
  AppCommand refresh;
  refresh.id = ID_3D_REFRESH;
  refresh.menu = "视图";
  refresh.text = "刷新三维瓦片";
  refresh.prompt = "重新载入三维瓦片视图中看得见的瓦片\n刷新三维瓦片";
  refresh.order = 299;
  refresh.separator_before = true;
  table.Register(std::move(refresh));

  // The 3D views handle these (the current view's message map); the table gives them their place.
  struct Fill {
    UINT id;
    const char* text;
    const char* prompt;
  };
  const Fill fills[] = {{ID_FILLMODE_CYCLE, "切换填充模式", "依次切换三维视图的点、线、面填充\n填充模式"},
                        {ID_FILLMODE_POINT, "点", "三维视图以点绘制\n点"},
                        {ID_FILLMODE_WIREFRAME, "线", "三维视图以线框绘制\n线"},
                        {ID_FILLMODE_SOLID, "面", "三维视图以面绘制\n面"}};
  int order = 300;
  for (const Fill& f : fills) {
    AppCommand c;
    c.id = f.id;
    c.menu = "视图/填充模式";
    c.text = f.text;
    c.prompt = f.prompt;
    c.order = order++;
    c.separator_before = f.id == ID_FILLMODE_POINT;
    table.Register(std::move(c));
  }
}

void UnregisterCommands() {
  CCommandTable& table = AppCommands();
  for (UINT id = ID_FILLMODE_CYCLE; id <= ID_FILLMODE_SOLID; ++id) table.Unregister(id);
  table.Unregister(ID_VIEW_KIND_FIRST + kViewTiles3D);
  table.Unregister(ID_3D_REFRESH);
}

}  // namespace

IChildView* SwitchTo3DTileView(CKovraHomeExApp& app) {
  IChildView* previous = app.GetCurrentView();
  IChildView* view = app.SwitchView(kViewTiles3D);
  if (!view) return nullptr;
  if (previous && previous != view) {
    view->UpdateSatellites(previous);
  } else {
    // No view before it (no 2D map is built): the default camera of the child views rather than
    // a camera that was never set.
    double lng = 0, lat = 0, level = 0;
    view->GetCamera(&lng, &lat, &level);
    if (level == 0) view->SetCamera(kDefaultCameraLng, kDefaultCameraLat, kDefaultCameraLevel, false);
  }
  return view;
}

IChildView* SwitchTo3DGlobeView(CKovraHomeExApp& app) {
  IChildView* previous = app.GetCurrentView();
  IChildView* view = app.SwitchView(kViewGlobe3D);
  // Shown anew: the terrain of the map's area, its lines and the shown satellites.
  if (view && previous != view) view->UpdateSatellites(previous);
  return view;
}

// The switch to the 3D globe view, in place of the frame's plain switch of kind 1.
static void RegisterGlobeCommand() {
  CCommandTable& table = AppCommands();
  AppCommand globe;
  globe.id = ID_VIEW_KIND_FIRST + kViewGlobe3D;
  globe.menu = "视图";
  globe.text = k3DGlobeCommandText;
  globe.prompt = std::string("显示") + k3DGlobeCommandText + "\n" + k3DGlobeCommandText;
  globe.order = 100 + kViewGlobe3D;
  globe.icon = "view_globe3d.png";
  globe.toolbar = true;
  globe.handler = [] {
    if (CKovraHomeExApp* app = GetApp()) SwitchTo3DGlobeView(*app);
  };
  globe.update = [](CCmdUI& ui) {
    CKovraHomeExApp* app = GetApp();
    IChildView* current = app ? app->GetCurrentView() : nullptr;
    ui.SetCheck(current && current->GetViewKind() == kViewGlobe3D ? 1 : 0);
  };
  table.Register(std::move(globe));
}

void RegisterTerrainViews(CKovraHomeExApp& app) {
  app.Views().RegisterFactory(kViewTiles3D, [] { return std::make_unique<C3DTileView>(); });
  app.Views().RegisterFactory(kViewGlobe3D, [] { return std::make_unique<C3DViewWnd>(); });
  AppStep step;
  step.name = "3D views";
  step.phase = AppPhase::kFrame;
  // After the frame registered its own view commands: this one replaces the plain switch of
  // kind 2 with the switch that hands the camera over.
  step.start = [](CKovraHomeExApp& a) {
    RegisterCommands();
    RegisterGlobeCommand();
    RegisterAreaExportCommand();
    RegisterLayerCacheInfoCommand();
    // The satellite library in the side bar; the program runs on without it when it cannot be made.
    if (CMainFrame* frame = a.MainFrame(); frame && !frame->FindSideBarPanel(CSatelliteTree::kPanelName)) {
      auto tree = std::make_unique<CSatelliteTree>();
      if (tree->CreatePanel(frame)) frame->AddSideBarPanel(std::move(tree));
    }
    return true;
  };
  step.stop = [](CKovraHomeExApp&) {
    UnregisterCommands();
    AppCommands().Unregister(ID_VIEW_KIND_FIRST + kViewGlobe3D);
    UnregisterAreaExportCommand();
    UnregisterLayerCacheInfoCommand();
  };
  app.RegisterStep(std::move(step));
  RegisterElevationProfileCommands(app);
  RegisterDemTools(app);
  RegisterDemExtractCommands(app);
}

}  // namespace velmora

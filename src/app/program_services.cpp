// The services of the modules plugged into the application object as view factories, start-up and
// shut-down steps and commands: what the velmora program runs, and what the tests of the whole
// main window start.
#include "app/program_services.h"

#include <memory>
#include <string>

#include "core/log.h"
#include "core/settings.h"
#include "earth/ui/ge_app_view.h"
#include "earth/ui/ge_plugin_view.h"
#include "earth/ui/html_wnd.h"
#include "earth/ui/ve_view.h"
#include "frontend/desktop.h"
#include "places/ui/address_tools.h"
#include "places/ui/coord_tool_commands.h"
#include "places/ui/map_info_commands.h"
#include "places/ui/place_search_commands.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "server/ui/map_service_commands.h"
#include "server/wmts_server.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/map_status_bar.h"
#include "shell/map_view_sinks.h"
#include "shell/splash_wnd.h"
#include "terrain/elev_cache_db.h"
#include "terrain/ui/terrain_views.h"
#include "tiles/layer_manager.h"
#include "tiles/tile.h"
#include "tiles/tile_manager.h"

namespace {

using velmora::AppPhase;
using velmora::AppStep;
using velmora::CKovraHomeExApp;

void RegisterServices(CKovraHomeExApp& app) {
  app.Views().RegisterFactory(velmora::kViewMap2D, [&app] { return velmora::CreatePDView(velmora::ShellMapViewSinks(&app)); });
  // The web map page view (kind 5): made on first use by the view switch ("视图/网页地图").
  app.Views().RegisterFactory(velmora::kViewWebMap, [] { return std::make_unique<velmora::CVEView>(); });
  // The earth plug-in view (kind 4, "视图/谷歌地球插件"), its commands and the "地球插件" panel.
  velmora::RegisterGEPluginView(app);

  AppStep layers;
  layers.name = "layers";
  layers.phase = AppPhase::kCatalogue;
  layers.start_text = "加载地图源...";
  layers.start = [](CKovraHomeExApp&) {
    velmora::CLayerManager& manager = velmora::LayerManager();
    if (!manager.IsLoaded()) velmora::AppLog("the map-source catalogue could not be loaded");
    manager.LoadState();
    return true;
  };
  layers.stop = [](CKovraHomeExApp&) { velmora::LayerManager().SaveState(); };
  app.RegisterStep(std::move(layers));

  AppStep tiles;
  tiles.name = "tiles";
  tiles.phase = AppPhase::kTileManager;
  tiles.start_text = "启动下载线程...";
  tiles.start = [](CKovraHomeExApp&) {
    velmora::CTileManager& manager = velmora::TileManager();
    manager.SetNetStateSink([](int state) { velmora::MapStatusBar().SetNetState(state); });
    velmora::SetElevationNetStateSink([](int state) { velmora::MapStatusBar().SetNetState(state); });
    manager.SetDiskFullSink([](const std::string& reason) {
      // A full disk fails the tile being stored; the program goes on. The manager reports once
      // until a write succeeds again; the person sees the message on the UI thread.
      velmora::AppLog("tile store: %s", reason.c_str());
      velmora::UiDispatcher().PostCall([] {
        velmora::ShowMessageBox("硬盘空间不足,请重新设置数据目录!", velmora::MB_OK | velmora::MB_ICONERROR);
      });
    });
    return manager.Start();
  };
  tiles.stop = [](CKovraHomeExApp&) { velmora::TileManager().Stop(); };
  app.RegisterStep(std::move(tiles));

  // The map publishing server starts after the tile manager when its option is on. The step
  // itself always runs so that its stop does too: the services dialog can start services while
  // the option is off, and every accept and connection thread must end before the tile manager
  // stops.
  AppStep publishing;
  publishing.name = "wmts";
  publishing.phase = AppPhase::kPublishing;
  publishing.start = [](CKovraHomeExApp&) {
    // A service that cannot listen (port in use, no permission) and a services file that cannot
    // be read whole are told to the person on the UI thread; the service shows as stopped.
    velmora::WmtsServerOptions& server_options = velmora::WmtsServer().Options();
    server_options.listen_failure_sink = [](const velmora::ServiceListenFailure& failure) {
      velmora::UiDispatcher().PostCall([text = failure.message] {
        velmora::ShowMessageBox(text, velmora::MB_OK | velmora::MB_ICONERROR);
      });
    };
    server_options.notice_sink = [](const std::string& message) {
      velmora::UiDispatcher().PostCall([message] {
        velmora::ShowMessageBox(message, velmora::MB_OK | velmora::MB_ICONWARNING);
      });
    };
    if (!velmora::AppOptions().map_publish) return true;
    velmora::SetSplashText("创建地图发布服务...");
    velmora::WmtsServer().Start();  // missing web files leave it idle: no reason to refuse the start-up
    return true;
  };
  publishing.stop = [](CKovraHomeExApp&) { velmora::WmtsServer().StopServices(0); };
  app.RegisterStep(std::move(publishing));

  // The hidden script window of coordinate conversions, made with the main frame.
  velmora::RegisterHiddenScriptWindow(app);
  // The earth application view (kind 3), its tools and the side-bar page "谷歌地球".
  velmora::RegisterGEAppView(app);
  // The place search box in the address bar and the place-name panel, made with the frame.
  velmora::RegisterPlaceSearch(app);
  // The address library pane "地址库" and "工具/地址数据下载...", made with the frame.
  velmora::RegisterAddressTools(app);
  // "工具/地图服务": the services dialog, whether or not publishing was on at start-up.
  velmora::RegisterMapServiceCommands();
}

}  // namespace

namespace velmora {

void RegisterProgramServices(CKovraHomeExApp& app) {
  RegisterServices(app);
  RegisterCoordToolCommands();
  RegisterMapInfoTools(app);
  RegisterTerrainViews(app);
}

}  // namespace velmora

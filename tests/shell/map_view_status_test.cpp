// The 2D map view wired to the shell as the program wires it: mouse and wheel messages through
// the view's window procedure move the camera, the status bar shows its centre, level and the
// cursor, and drags land in the application's view history; the view registry makes it as kind 0.
#include <gtest/gtest.h>

#include "core/format.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/draw_item_db.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/map_status_bar.h"
#include "shell/map_view_sinks.h"
#include "support/isolated_folders.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_manager.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

std::string Centre(double lng, double lat) { return FormatFixed(float(lng), 2) + "*," + FormatFixed(float(lat), 2) + "*"; }

TEST(MapViewStatus, MouseAndWheelMoveTheCameraAndTheStatusBarFollows) {
  ASSERT_TRUE(LayerManager().IsLoaded());
  UiDispatcher().AttachToCurrentThread();
  CHeadlessUiHost host;
  SetUiHost(&host);
  MapStatusBar().Reset();
  TileManagerOptions o;
  o.data_dir = kFolders.File("tiles/");
  o.download_threads = 1;
  o.offline = true;
  o.use_download_list = false;
  CTileManager tiles(o);
  ASSERT_TRUE(tiles.Start());
  CDrawItemDB db;
  ASSERT_TRUE(db.Open(kFolders.File("drawitem.kdb")));
  {
    CKovraHomeExApp app;
    TileEngineOptions eo;
    eo.tiles = &tiles;
    CPDView view(ShellMapViewSinks(&app), eo, &db);
    ASSERT_TRUE(view.CreateView(WS_VISIBLE, nullptr));
    view.SendMessage(WM_SIZE, 0, MAKELPARAM(800, 600));
    EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneCenter), "120.00*,36.00*");
    EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneLevel), "10.0");

    // The cursor readout.
    view.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(700, 100));
    LngLat under = view.Engine().ScreenToLngLat(700, 100);
    EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneCursor),
              FormatFixed(float(under.lng), 2) + "*, " + FormatFixed(float(under.lat), 2) + "*");

    // A drag of 400 pixels to the left at level 10 moves the centre 400 / 262144 of the world east.
    view.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(600, 300));
    for (int x = 550; x >= 200; x -= 50) view.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, 300));
    view.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(200, 300));
    MapCamera c = view.Engine().GetCamera();
    EXPECT_NEAR(c.lng, 120.0 + 400.0 / 262144.0 * 360.0, 1e-9);
    EXPECT_NEAR(c.lat, 36.0, 1e-9);
    EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneCenter), Centre(c.lng, c.lat));
    ASSERT_TRUE(app.ViewHistory().Current());
    EXPECT_EQ(*app.ViewHistory().Current(), (ViewPosition{c.lng, c.lat, 10.0}));

    // Two wheel notches towards the user zoom out one level about the cursor.
    view.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<unsigned>(-240) & 0xFFFF), MAKELPARAM(100, 500));
    EXPECT_EQ(view.GetZoom(), 9.0);
    EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneLevel), "9.0");
    view.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), MAKELPARAM(100, 500));
    EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneLevel), "9.5");
    c = view.Engine().GetCamera();
    EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneCenter), Centre(c.lng, c.lat));
    view.DestroyWindow();
  }

  // The program registers it as view kind 0; the registry makes it on first use.
  CViewRegistry registry;
  registry.RegisterFactory(kViewMap2D, [] { return CreatePDView(ShellMapViewSinks(nullptr)); });
  IChildView* made = registry.GetOrCreate(kViewMap2D, nullptr);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->GetName(), "PDView");
  registry.DestroyAll();
  tiles.Stop();
  SetUiHost(nullptr);
}

}  // namespace
}  // namespace velmora

// The 3D tile view in the desktop front end on the offscreen platform: chosen from the "视图" menu
// it takes the 2D view's camera, fills with the store's tiles while the loader works (its repaints
// reach the widget without anyone polling), shows each tile where the map has it in the grabbed
// main window, and hands its camera back when the 2D view is chosen again.
#include <QAction>
#include <QMenuBar>
#include <QStackedWidget>

#include <cmath>
#include <optional>

#include "core/geodesy.h"
#include "core/settings.h"
#include "frontend/main_window.h"
#include "frontend_env.h"
#include "platform/gfx/image_codec.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "support/temp_dir.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/ui/3d_tile_view.h"
#include "terrain/ui/terrain_views.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

using test::PumpUntil;
using test::Settle;

constexpr int kSource = 0;
constexpr int kZoom = 11;

Argb TileColor(int x, int y) {
  return 0xFF000000u | (Argb((x * 59 + 31) & 0xFF) << 16) | (Argb((y * 83 + 5) & 0xFF) << 8) | Argb(((x - y) * 17) & 0xFF);
}

// The 2D view as the child-view interface sees it: a camera, a grey picture.
class CameraView : public CWnd, public IChildView {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  bool OnPaint(CBitmap& canvas) override {
    canvas.Clear(0xFF808080u);
    return true;
  }
  void GetCamera(double* lng, double* lat, double* level) const override { *lng = lng_, *lat = lat_, *level = level_; }
  void SetCamera(double lng, double lat, double level, bool) override { lng_ = lng, lat_ = lat, level_ = level; }
  double lng_ = 0, lat_ = 0, level_ = 11.0;
};

TEST(FrontendTileView, ChosenFromTheMenuItFillsWithTheMapsTilesAndHandsTheCameraBack) {
  test::TempDir data;
  ScopedAppOptions options([&](CAppOptions& o) {
    o.data_dir = data.path();
    o.dem_source_mode = kDemSourceSrtm;
  });
  AppCommands().Clear();
  ASSERT_NE(WriteHeightFile3s(data.File("heights/"), 60, 5, [](double, double) { return 150.0; }), "");
  CElevationStore elevation(nullptr, data.File("heights/"));
  TileManagerOptions tm;
  tm.data_dir = data.File("tiles/");
  tm.download_threads = 1;
  tm.offline = true;
  tm.use_download_list = false;
  CTileManager tiles(tm);
  CTileStore* store = tiles.OpenStore(kSource);
  ASSERT_NE(store, nullptr);
  const int cx = static_cast<int>(MercatorLngToX(116.4, kZoom) / 256), cy = static_cast<int>(MercatorLatToY(39.9, kZoom) / 256);
  for (int x = cx - 6; x <= cx + 6; ++x)
    for (int y = cy - 5; y <= cy + 5; ++y) {
      CBitmap picture;
      ASSERT_TRUE(picture.Create(256, 256, TileColor(x, y)));
      std::vector<uint8_t> png;
      ASSERT_TRUE(EncodeImage(picture, ImageType::kPng, &png));
      ASSERT_EQ(store->Write(MakeTileKey(x, y, TileKeyValue(kSource, kZoom)), png.data(), png.size(), false),
                TileWriteResult::kWritten);
    }
  ASSERT_TRUE(tiles.Start());

  auto app = std::make_unique<CKovraHomeExApp>();
  app->SetInstanceLockPath(data.File("velmora.lock"));
  app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
  CameraView* map = nullptr;
  app->Views().RegisterFactory(kViewMap2D, [&] {
    auto v = std::make_unique<CameraView>();
    v->lng_ = MercatorXToLng(256.0 * (cx + 0.5), kZoom);
    v->lat_ = MercatorYToLat(256.0 * (cy + 0.5), kZoom);
    map = v.get();
    return v;
  });
  RegisterTerrainViews(*app);
  C3DTileView* tile_view = nullptr;
  app->Views().RegisterFactory(kViewTiles3D, [&] {
    auto v = std::make_unique<C3DTileView>();
    v->SetSources(&tiles, &elevation);
    v->SetLayers({MapLayer{kSource, kKindMercator}});
    tile_view = v.get();
    return v;
  });
  AppStep window;
  window.name = "main window";
  window.phase = AppPhase::kFrame;
  window.start = [](CKovraHomeExApp& a) {
    return test::FrontendEnvironment::Session().CreateMainWindow(*a.MainFrame()) != nullptr;
  };
  window.stop = [](CKovraHomeExApp&) { test::FrontendEnvironment::Session().DestroyMainWindow(); };
  app->RegisterStep(std::move(window));
  ASSERT_TRUE(app->InitInstance());
  CQtMainWindow* main = test::FrontendEnvironment::Session().MainWindow();
  ASSERT_NE(main, nullptr);
  Settle();

  // The view menu holds the 3D tile view; choosing it shows the view with the 2D camera.
  QAction* action = main->ActionFor(ID_VIEW_KIND_FIRST + kViewTiles3D);
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(action->text(), QStringLiteral("三维瓦片视图"));
  action->trigger();
  Settle();
  ASSERT_NE(tile_view, nullptr);
  ASSERT_EQ(app->GetCurrentView(), tile_view);
  EXPECT_EQ(tile_view->Camera().lng, map->lng_);
  EXPECT_EQ(tile_view->Camera().level, 11.0);
  QWidget* centre = main->ViewStack()->currentWidget();
  ASSERT_NE(centre, main->Hint());

  // The loader's repaints reach the widget: wait until a painted frame shows every tile.
  ASSERT_TRUE(PumpUntil(
      [&] {
        const CTileMeshPool::Stats s = tile_view->Pool().GetStats();
        return s.visible > 0 && s.textured == s.visible && tile_view->LastDrawnTiles() == s.visible;
      },
      60000));
  Settle();
  const QImage grab = main->grab().toImage();
  const std::string path = test::SaveArtefact(grab, "tile_view_in_main_window");
  const QPoint middle = centre->mapTo(main, centre->rect().center());
  EXPECT_EQ(grab.pixel(middle + QPoint(20, 20)) & 0xFFFFFFu, TileColor(cx, cy) & 0xFFFFFFu) << path;
  // The tile east of it, a tile's width (2^0 * 256 / 256 of the view's scale) to the right.
  const double d = kEarthRadiusKm / std::pow(2.0, 11.0 - 4) * 0.9587628865979382;
  const double px_per_km = (centre->height() / 2.0) / (d * std::tan(3.14159265358979323846 / 8));
  const double tile_km = 2 * 3.14159265358979323846 * kEarthRadiusKm / 2048 * std::cos(map->lat_ * 3.14159265358979323846 / 180);
  const int east = static_cast<int>(std::lround(tile_km * px_per_km));
  if (middle.x() + east < grab.width()) {
    EXPECT_EQ(grab.pixel(middle + QPoint(east, 0)) & 0xFFFFFFu, TileColor(cx + 1, cy) & 0xFFFFFFu) << path;
  }

  // Moved in 3D, then back to the 2D view: it takes the 3D camera.
  tile_view->SetCamera(tile_view->Camera().lng + 0.25, tile_view->Camera().lat, 11.5, true);
  main->ActionFor(ID_VIEW_KIND_FIRST + kViewMap2D)->trigger();
  Settle();
  EXPECT_EQ(app->GetCurrentView(), map);
  EXPECT_EQ(map->lng_, tile_view->Camera().lng);
  EXPECT_EQ(map->level_, 11.5);

  app->ExitInstance();
  app.reset();
  tiles.Stop();
  AppCommands().Clear();
  Settle();
}

}  // namespace
}  // namespace velmora

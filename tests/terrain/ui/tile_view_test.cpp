// The 3D tile view over a real tile store (every tile a colour of its own) and synthetic height
// files, on the headless device, driven through its window procedure: the tiles drawn where the
// map has them; the loader filling the view one mesh or texture at a time, then on its own
// thread; the camera handed from the 2D view to the 3D view and back through the child-view
// interface and the view command of the main frame; the camera keys, wheel, tilt and drag with
// their limits; lines from the map's polylines; the model export; and the pool's cap when flying
// far.
#include "terrain/ui/3d_tile_view.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/mark_shape.h"
#include "shapes/polyline_shape.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "support/isolated_folders.h"
#include "support/render_artefacts.h"
#include "terrain/d3d_context.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/ui/terrain_views.h"
#include "tiles/tile_manager.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
constexpr int kSource = 0;
constexpr int kZoom = 10;
constexpr double kPi = 3.14159265358979323846;

double Terrain(double lon, double lat) { return 300 + 40 * (lon - 115) + 25 * (lat - 35); }

Argb TileColor(int x, int y) {
  return 0xFF000000u | (Argb((x * 67 + 13) & 0xFF) << 16) | (Argb((y * 41 + 7) & 0xFF) << 8) | Argb(((x + y) * 29) & 0xFF);
}

int TileX(double lng) { return static_cast<int>(MercatorLngToX(lng, kZoom) / 256); }
int TileY(double lat) { return static_cast<int>(MercatorLatToY(lat, kZoom) / 256); }
double CentreLng(int x) { return MercatorXToLng(256.0 * (x + 0.5), kZoom); }
double CentreLat(int y) { return MercatorYToLat(256.0 * (y + 0.5), kZoom); }

// The device, the height files, the tile manager over a store with coloured tiles at zoom 10
// about (116.4, 39.9) and (117.5, 37.0), and the UI thread.
class TileViewEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    options_.emplace([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
    ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
    ASSERT_NE(WriteHeightFile3s(kFolders.File("heights/"), 60, 5, Terrain), "");
    elevation_ = std::make_unique<CElevationStore>(nullptr, kFolders.File("heights/"));
    TileManagerOptions tm;
    tm.data_dir = kFolders.File("tiles/");
    tm.download_threads = 1;
    tm.offline = true;
    tm.use_download_list = false;
    tiles_ = std::make_unique<CTileManager>(tm);
    CTileStore* store = tiles_->OpenStore(kSource);
    ASSERT_NE(store, nullptr);
    for (auto [lng, lat] : {std::pair{116.4, 39.9}, std::pair{117.5, 37.0}}) {
      for (int x = TileX(lng) - 7; x <= TileX(lng) + 7; ++x)
        for (int y = TileY(lat) - 6; y <= TileY(lat) + 6; ++y) {
          CBitmap picture;
          ASSERT_TRUE(picture.Create(256, 256, TileColor(x, y)));
          std::vector<uint8_t> png;
          ASSERT_TRUE(EncodeImage(picture, ImageType::kPng, &png));
          ASSERT_EQ(store->Write(MakeTileKey(x, y, TileKeyValue(kSource, kZoom)), png.data(), png.size(), false),
                    TileWriteResult::kWritten);
        }
    }
    ASSERT_TRUE(tiles_->Start());
  }
  void TearDown() override {
    tiles_->Stop();
    tiles_.reset();
    options_.reset();
  }
  static CTileManager& Tiles() { return *tiles_; }
  static CElevationStore& Elevation() { return *elevation_; }

 private:
  std::optional<ScopedAppOptions> options_;
  static inline std::unique_ptr<CTileManager> tiles_;
  static inline std::unique_ptr<CElevationStore> elevation_;
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new TileViewEnvironment);

std::unique_ptr<C3DTileView> MakeView() {
  auto view = std::make_unique<C3DTileView>();
  view->SetSources(&TileViewEnvironment::Tiles(), &TileViewEnvironment::Elevation());
  view->SetLayers({MapLayer{kSource, kKindMercator}});
  return view;
}

class TileViewTest : public ::testing::Test {
 protected:
  void Make(int width, int height) {
    view = MakeView();
    ASSERT_TRUE(view->CreateView(0, nullptr));
    view->SendMessage(WM_SIZE, 0, MAKELPARAM(width, height));
    view->SetTilt(0, 0);
    width_ = width, height_ = height;
  }
  void TearDown() override {
    view.reset();
    g_D3DContext.SetFillMode(kFillModeSolid);
  }
  CBitmap Paint() {
    CBitmap canvas;
    EXPECT_TRUE(canvas.Create(width_, height_));
    EXPECT_TRUE(view->OnPaint(canvas));
    EXPECT_EQ(view->LastRenderResult(), D3D_OK);
    return canvas;
  }
  // Paints until every tile in sight is drawn with its picture; the frames it took (0: never).
  int PaintUntilLoaded(CBitmap* last = nullptr) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int frames = 1;; ++frames) {
      // The state before the frame: what it draws has at least that (the loader only adds).
      const CTileMeshPool::Stats s = view->Pool().GetStats();
      CBitmap canvas = Paint();
      if (s.visible > 0 && s.textured == s.visible && view->LastDrawnTiles() == s.visible) {
        if (last) *last = std::move(canvas);
        return frames;
      }
      if (std::chrono::steady_clock::now() > deadline) return 0;
    }
  }
  // Window pixel of a ground point seen from straight above (a flat earth is close enough at
  // these distances: the terrain's height and the curvature move it by a pixel or two).
  std::pair<int, int> Pixel(double lng, double lat) const {
    const TileViewCamera& c = view->Camera();
    const double d = kEarthRadiusKm / std::pow(2.0, c.level - 4) * 0.9587628865979382;
    const double px_per_km = (height_ / 2.0) / (d * std::tan(kPi / 8));
    const double east = (lng - c.lng) * kPi / 180 * kEarthRadiusKm * std::cos(c.lat * kPi / 180);
    const double north = (lat - c.lat) * kPi / 180 * kEarthRadiusKm;
    return {static_cast<int>(std::lround(width_ / 2.0 + east * px_per_km)),
            static_cast<int>(std::lround(height_ / 2.0 - north * px_per_km))};
  }

  std::unique_ptr<C3DTileView> view;
  int width_ = 0, height_ = 0;
};

TEST_F(TileViewTest, DrawsTheMapsTilesWhereTheyAre) {
  Make(640, 480);
  const int cx = TileX(116.4), cy = TileY(39.9);
  view->SetCamera(CentreLng(cx), CentreLat(cy), 10.0, true);
  EXPECT_EQ(view->SourceId(), kSource);
  CBitmap frame;
  ASSERT_GT(PaintUntilLoaded(&frame), 0);
  test::SaveTestArtefact(frame, "tile_view", "tiles_level10");
  // The tile under the point and its eight neighbours, each at the middle of where it lies.
  for (int dx = -1; dx <= 1; ++dx)
    for (int dy = -1; dy <= 1; ++dy) {
      auto [x, y] = Pixel(CentreLng(cx + dx), CentreLat(cy + dy));
      if (dx == 0 && dy == 0) x += 20, y += 20;  // beside the "+" of the view's middle
      EXPECT_EQ(frame.GetPixel(x, y), TileColor(cx + dx, cy + dy)) << dx << "," << dy << " at " << x << "," << y;
    }
  // The status bar shows the centre; the overlay its numbers.
  EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneLevel), "10.0");
  const CTileMeshPool::Stats s = view->Pool().GetStats();
  EXPECT_EQ(s.visible, s.pool);
  EXPECT_GE(s.visible, 12u);

  // At level 4 or below the globe shows instead, with the tiles kept in the pool.
  view->SetCamera(116.4, 39.9, 3.0, true);
  frame = Paint();
  test::SaveTestArtefact(frame, "tile_view", "globe_level3");
  EXPECT_EQ(view->Pool().GetStats().visible, 0u);
  EXPECT_EQ(view->Pool().GetStats().pool, s.pool);
  // The globe wears the shipped world picture: neither its bare colour nor space.
  const Argb globe = frame.GetPixel(320 + 20, 240 + 20);
  EXPECT_NE(globe, kBareGlobeColor);
  EXPECT_NE(globe, 0xFF000000u);
  EXPECT_EQ(frame.GetPixel(2, 470), 0xFF000000u);  // space beside the globe
}

TEST_F(TileViewTest, LoaderFillsTheViewOneMeshOrTextureAtATime) {
  Make(480, 360);
  ASSERT_TRUE(view->Pool().StopLoader(kInfinite));
  const int cx = TileX(117.5), cy = TileY(37.0);
  view->SetCamera(CentreLng(cx), CentreLat(cy), 10.5, true);
  const std::vector<TileKey> keys = view->Pool().VisibleKeys();
  ASSERT_GE(keys.size(), 4u);
  EXPECT_EQ(keys.front(), MakeTileKey(cx, cy, TileKeyValue(kSource, kZoom)));
  for (TileKey k : keys) EXPECT_TRUE(CTileManager::IsFinalState(TileViewEnvironment::Tiles().WaitForState(k, 20000)));

  // Timer 1 does one loader step: every step adds a mesh or a texture, every frame shows them.
  std::vector<size_t> drawn, work;
  for (int guard = 0; guard < 1000; ++guard) {
    const CBitmap frame = Paint();
    const CTileMeshPool::Stats s = view->Pool().GetStats();
    drawn.push_back(view->LastDrawnTiles());
    work.push_back(s.built + s.textured);
    if (work.size() == 2) {
      // The first mesh is built, its picture not copied yet: the stand-in colour shows.
      test::SaveTestArtefact(frame, "tile_view", "progress_first_mesh");
      EXPECT_EQ(frame.GetPixel(240 + 20, 180 + 20), kPendingTileColor);
    }
    if (work.size() == 3) {
      EXPECT_EQ(frame.GetPixel(240 + 20, 180 + 20), TileColor(cx, cy));
    }
    if (s.textured == s.visible) break;
    view->SendMessage(WM_TIMER, 1);
  }
  ASSERT_EQ(work.size(), 2 * keys.size() + 1);
  EXPECT_EQ(drawn.front(), 0u);
  EXPECT_EQ(drawn.back(), keys.size());
  for (size_t i = 1; i < work.size(); ++i) {
    EXPECT_EQ(work[i], work[i - 1] + 1) << i;
    EXPECT_GE(drawn[i], drawn[i - 1]) << i;
  }
  // Another place with the loader on its own thread again: the view fills over frames.
  ASSERT_TRUE(view->Pool().StartLoader([v = view.get()] { v->Invalidate(); }));
  const unsigned repaints = view->InvalidateCount();
  view->SetCamera(CentreLng(TileX(116.4)), CentreLat(TileY(39.9)), 10.3, true);
  CBitmap frame;
  ASSERT_GT(PaintUntilLoaded(&frame), 0);
  EXPECT_GT(view->InvalidateCount(), repaints + 2);  // the loader asks for repaints as it goes
  test::SaveTestArtefact(frame, "tile_view", "loaded_by_thread");
}

// A 2D map view as far as the child-view interface goes: a camera.
class TestMapView : public CWnd, public IChildView {
 public:
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return "PDView"; }
  CWnd* GetWnd() override { return this; }
  void GetCamera(double* lng, double* lat, double* level) const override {
    *lng = lng_, *lat = lat_, *level = level_;
  }
  void SetCamera(double lng, double lat, double level, bool) override { lng_ = lng, lat_ = lat, level_ = level; }
  double lng_ = 116.41, lat_ = 39.93, level_ = 11.3;
};

TEST(TileViewHandOver, CameraGoesFrom2DTo3DAndBackThroughTheViewCommands) {
  test::TempDir data;
  ScopedAppOptions options([&](CAppOptions& o) { o.data_dir = data.path(); });
  CHeadlessUiHost host;
  SetUiHost(&host);
  auto app = std::make_unique<CKovraHomeExApp>();
  app->SetInstanceLockPath(data.File("velmora.lock"));
  app->SetFreeSpaceProbe([](const std::string&) { return std::optional<uint64_t>(1ull << 40); });
  TestMapView* map = nullptr;
  app->Views().RegisterFactory(kViewMap2D, [&] {
    auto v = std::make_unique<TestMapView>();
    map = v.get();
    return v;
  });
  RegisterTerrainViews(*app);
  ASSERT_TRUE(app->Views().HasFactory(kViewTiles3D));
  app->Views().RegisterFactory(kViewTiles3D, [] { return MakeView(); });
  ASSERT_TRUE(app->InitInstance());
  ASSERT_NE(map, nullptr);
  EXPECT_EQ(app->GetCurrentView(), map);

  // The view menu's command for kind 2 is ours (it hands the camera over); the fill modes are there.
  const std::optional<AppCommand> command = AppCommands().Find(ID_VIEW_KIND_FIRST + kViewTiles3D);
  ASSERT_TRUE(command);
  EXPECT_EQ(command->menu, "视图");
  EXPECT_EQ(command->text, "三维瓦片视图");
  ASSERT_TRUE(AppCommands().Find(ID_FILLMODE_WIREFRAME));
  EXPECT_EQ(AppCommands().Find(ID_FILLMODE_WIREFRAME)->text, "线");

  // 2D -> 3D: the 3D view takes the 2D camera.
  GetMainFrame()->RouteCommand(ID_VIEW_KIND_FIRST + kViewTiles3D);
  IChildView* tiles = app->GetCurrentView();
  ASSERT_NE(tiles, nullptr);
  ASSERT_EQ(tiles->GetViewKind(), kViewTiles3D);
  EXPECT_EQ(tiles->GetName(), "3DTileView");
  double lng, lat, level;
  tiles->GetCamera(&lng, &lat, &level);
  EXPECT_EQ(lng, 116.41);
  EXPECT_EQ(lat, 39.93);
  EXPECT_EQ(level, 11.3);
  EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneCenter), "116.41*,39.93*");
  CCmdUI checked(ID_VIEW_KIND_FIRST + kViewTiles3D);
  GetMainFrame()->QueryCommandUI(checked);
  EXPECT_EQ(checked.Checked(), 1);

  // Moved in 3D (Ctrl+right: a degree east; the wheel: a tenth of a level up).
  CWnd* window = tiles->GetWnd();
  window->SendMessage(WM_KEYDOWN, VK_CONTROL);
  window->SendMessage(WM_KEYDOWN, VK_RIGHT);
  window->SendMessage(WM_KEYUP, VK_CONTROL);
  window->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
  tiles->GetCamera(&lng, &lat, &level);
  EXPECT_NEAR(lng, 117.41, 1e-9);
  EXPECT_NEAR(level, 11.4, 1e-9);

  // 3D -> 2D (the frame's own command for kind 0): the 2D view takes the 3D camera.
  GetMainFrame()->RouteCommand(ID_VIEW_KIND_FIRST + kViewMap2D);
  EXPECT_EQ(app->GetCurrentView(), map);
  EXPECT_NEAR(map->lng_, 117.41, 1e-9);
  EXPECT_EQ(map->lat_, 39.93);
  EXPECT_NEAR(map->level_, 11.4, 1e-9);

  // And 2D -> 3D again after the 2D view moved.
  map->lng_ = 100.0;
  GetMainFrame()->RouteCommand(ID_VIEW_KIND_FIRST + kViewTiles3D);
  tiles->GetCamera(&lng, &lat, &level);
  EXPECT_EQ(lng, 100.0);
  app->ExitInstance();
  EXPECT_FALSE(AppCommands().Find(ID_VIEW_KIND_FIRST + kViewTiles3D));
  EXPECT_FALSE(AppCommands().Find(ID_FILLMODE_CYCLE));
  app.reset();
  SetUiHost(nullptr);
}

TEST_F(TileViewTest, CameraKeysWheelAndTiltWithTheirLimits) {
  Make(320, 240);
  double lng, lat, level;
  auto camera = [&] { view->GetCamera(&lng, &lat, &level); };
  auto key = [&](UINT vk, UINT modifier = 0) {
    if (modifier) view->SendMessage(WM_KEYDOWN, modifier);
    view->SendMessage(WM_KEYDOWN, vk);
    if (modifier) view->SendMessage(WM_KEYUP, modifier);
  };
  view->SetCamera(116.4, 39.9, 2.5, true);
  key(VK_LEFT);
  camera();
  EXPECT_EQ(level, 2.0);
  view->SetCamera(116.4, 39.9, 22.5, true);
  key(VK_RIGHT);
  camera();
  EXPECT_EQ(level, 22.9);
  view->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);  // 23.0 -> 22.9
  camera();
  EXPECT_EQ(level, 22.9);
  view->SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<unsigned>(-120) & 0xFFFF), 0);
  camera();
  EXPECT_NEAR(level, 22.8, 1e-9);
  view->SetCamera(179.5, 39.9, 10.0, true);
  key(VK_RIGHT, VK_CONTROL);
  camera();
  EXPECT_EQ(lng, -179.5);
  key(VK_UP, VK_SHIFT);  // latitude stays; the pitch changes
  camera();
  EXPECT_EQ(lat, 39.9);
  EXPECT_EQ(view->Camera().pitch, -1.0f);
  key(VK_LEFT, VK_SHIFT);
  camera();
  EXPECT_EQ(lat, 38.9);

  // A tilt changes what is in sight (the point looked at stays).
  view->SetTilt(0, 0);
  view->SetCamera(CentreLng(TileX(116.4)), CentreLat(TileY(39.9)), 10.2, true);
  const std::vector<TileKey> flat = view->Pool().VisibleKeys();
  for (int i = 0; i < 45; ++i) key(VK_DOWN, VK_CONTROL);
  EXPECT_EQ(view->Camera().yaw, 45.0f);
  EXPECT_NE(view->Pool().VisibleKeys(), flat);
  view->SendMessage(WM_MBUTTONDOWN, 0, 0);  // the middle button levels the view again
  EXPECT_EQ(view->Camera().yaw, 0.0f);
  EXPECT_EQ(view->Camera().pitch, 0.0f);
  EXPECT_EQ(view->Pool().VisibleKeys(), flat);
  key(VK_UP);  // roll only
  EXPECT_EQ(view->Camera().roll, -1.0f);

  // The tilt is kept in the profile.
  view->SetTilt(12.0f, -3.0f);
  view->DestroyWindow();
  EXPECT_EQ(GetProfileDouble(k3DTileViewSection, "yaw", 0), 12.0);
  view = MakeView();
  ASSERT_TRUE(view->CreateView(0, nullptr));
  EXPECT_EQ(view->Camera().yaw, 12.0f);
  EXPECT_EQ(view->Camera().pitch, -3.0f);
  view->SetTilt(0, 0);
}

TEST_F(TileViewTest, DraggingKeepsThePointUnderTheCursor) {
  Make(640, 480);
  view->SetCamera(116.4, 39.9, 12.0, true);
  auto pick = [&](int x, int y) {
    const TileViewFrame f = BuildTileViewFrame(view->Camera(), 640.0f / 480.0f);
    double lng = 0, lat = 0;
    EXPECT_TRUE(TileViewPickEarth(f, x, y, 640, 480, &lng, &lat));
    return std::pair{lng, lat};
  };
  const auto grabbed = pick(320, 240);
  view->SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(320, 240));
  for (int i = 1; i <= 8; ++i) view->SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(320 + 10 * i, 240 - 5 * i));
  view->SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(400, 200));
  const auto under = pick(400, 200);
  EXPECT_NEAR(under.first, grabbed.first, 1e-4);
  EXPECT_NEAR(under.second, grabbed.second, 1e-4);
  EXPECT_LT(view->Camera().lng, 116.4);  // the map moved right: the camera went west
  // The cursor's place is in the status bar.
  view->SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(320, 240));
  std::ostringstream expect;
  EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneCursor).substr(0, 7),
            FormatC("%.2f*", view->Camera().lng).substr(0, 7));
}

TEST_F(TileViewTest, PolylinesAsLinesAboveTheTiles) {
  Make(480, 360);
  view->SetCamera(CentreLng(TileX(116.4)), CentreLat(TileY(39.9)), 10.0, true);
  PolylinePoints line;
  line.color = 0xFFFF00FFu;
  for (int i = 0; i <= 10; ++i) {
    line.lnglat.push_back(static_cast<float>(116.5 + 0.05 * i));
    line.lnglat.push_back(static_cast<float>(39.6 + 0.05 * i));
    line.heights.push_back(3000.0f);
  }
  CCmdUI clear(0);
  view->UpdateClearObjects(clear);
  EXPECT_FALSE(clear.IsEnabled());
  EXPECT_EQ(view->AddPolylines({line, PolylinePoints{}}, true), 1u);
  EXPECT_EQ(view->LineCount(), 1u);
  view->UpdateClearObjects(clear);
  EXPECT_TRUE(clear.IsEnabled());
  // Centred on the line's middle, at the same level.
  EXPECT_NEAR(view->Camera().lng, 116.75, 0.01);
  EXPECT_NEAR(view->Camera().lat, 39.85, 0.01);
  EXPECT_EQ(view->Camera().level, 10.0);
  CBitmap frame;
  ASSERT_GT(PaintUntilLoaded(&frame), 0);
  test::SaveTestArtefact(frame, "tile_view", "line");
  int magenta = 0;
  for (int x = 0; x < 480; ++x)
    for (int y = 0; y < 360; ++y) magenta += frame.GetPixel(x, y) == 0xFFFF00FFu ? 1 : 0;
  EXPECT_GT(magenta, 100);
  view->ClearObjects();
  EXPECT_EQ(view->LineCount(), 0u);
}

TEST_F(TileViewTest, TheMapsPolylinesAndHandedShapesBecomeLines) {
  Make(320, 240);
  TileEngineOptions engine;
  engine.tiles = &TileViewEnvironment::Tiles();
  CPDView map(MapViewSinks{}, engine);
  ASSERT_TRUE(map.CreateView(0, nullptr));
  auto track = std::make_unique<CPolylineShape>();
  ASSERT_TRUE(track->AddPoint(116.3f, 39.8f));
  ASSERT_TRUE(track->AddPoint(116.6f, 40.0f));
  track->Values() = {1200.0f, 1500.0f};
  track->line_color = 0xFF00FFFFu;
  ASSERT_TRUE(map.AddTrackShapes(std::move(track)));
  map.SetCamera(116.45, 39.9, 10.5, false);

  // The 2D map hands over its camera and its polylines (CopyPolylinesTo3D); again, they replace
  // the lines of the last hand-over.
  view->UpdateSatellites(&map);
  EXPECT_EQ(view->LineCount(), 1u);
  double lng, lat, level;
  map.GetCamera(&lng, &lat, &level);
  EXPECT_EQ(view->Camera().lng, lng);
  EXPECT_EQ(view->Camera().level, level);
  view->UpdateSatellites(&map);
  EXPECT_EQ(view->LineCount(), 1u);
  CBitmap frame;
  ASSERT_GT(PaintUntilLoaded(&frame), 0);
  test::SaveTestArtefact(frame, "tile_view", "map_polyline");
  int cyan = 0;
  for (int x = 0; x < 320; ++x)
    for (int y = 0; y < 240; ++y) cyan += frame.GetPixel(x, y) == 0xFF00FFFFu ? 1 : 0;
  EXPECT_GT(cyan, 30);

  // Shapes handed over: the polylines become lines, every shape is the view's to delete; the
  // camera centres only on a line made from the last shape.
  auto other = new CPolylineShape;
  other->AddPoint(117.0f, 39.0f);
  other->AddPoint(117.2f, 39.2f);
  auto empty_line = new CPolylineShape;
  std::vector<CMapShape*> shapes = {other, new CMarkShape, empty_line};
  EXPECT_EQ(view->LoadShapes(shapes, true), 1);
  EXPECT_TRUE(shapes.empty());
  EXPECT_EQ(view->LineCount(), 2u);
  EXPECT_EQ(view->Camera().lng, lng);  // the last shape made no line
  shapes = {new CPolylineShape};
  static_cast<CPolylineShape*>(shapes[0])->AddPoint(117.0f, 39.0f);
  static_cast<CPolylineShape*>(shapes[0])->AddPoint(117.2f, 39.2f);
  view->LoadShapes(shapes, true);
  EXPECT_NEAR(view->Camera().lng, 117.1, 0.01);
  EXPECT_NEAR(view->Camera().lat, 39.1, 0.01);
  view->ClearObjects();
  EXPECT_EQ(view->LineCount(), 0u);
}

TEST_F(TileViewTest, ModelExportWritesTheTilesInSight) {
  Make(320, 240);
  // Nothing in sight: no question at all.
  CHeadlessUiHost host;
  SetUiHost(&host);
  view->SetCamera(116.4, 39.9, 3.0, true);
  view->SendMessage(WM_COMMAND, ID_3D_EXPORT_MODEL);
  EXPECT_TRUE(host.Records().empty());

  view->SetCamera(CentreLng(TileX(116.4)), CentreLat(TileY(39.9)), 10.0, true);
  ASSERT_GT(PaintUntilLoaded(), 0);
  test::TempDir out;
  host.AnswerFile({out.File("model.obj")});
  view->SendMessage(WM_COMMAND, ID_3D_EXPORT_MODEL);
  SetUiHost(nullptr);
  ASSERT_EQ(host.Records().size(), 1u);
  std::ifstream obj(out.File("model.obj"));
  std::string text((std::istreambuf_iterator<char>(obj)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("#\n#  Wavefront OBJ file\n#  Velmora制作 ", 0), 0u);
  EXPECT_NE(text.find("mtllib model.mtl\n"), std::string::npos);
  size_t v = 0, f = 0, materials = 0;
  std::istringstream lines(text);
  for (std::string l; std::getline(lines, l);) {
    v += l.rfind("v ", 0) == 0;
    f += l.rfind("f ", 0) == 0;
    materials += l.rfind("usemtl ", 0) == 0;
  }
  const CTileMeshPool::Stats s = view->Pool().GetStats();
  EXPECT_EQ(materials, s.visible);
  EXPECT_EQ(v, s.visible * 17 * 17);  // zoom 10: 16 x 16 cells
  EXPECT_EQ(f, s.visible * 2 * 16 * 16);
  std::ifstream mtl(out.File("model.mtl"));
  std::string mtl_text((std::istreambuf_iterator<char>(mtl)), std::istreambuf_iterator<char>());
  EXPECT_EQ(mtl_text.rfind("#\n#  Wavefront material file\n", 0), 0u);
  const int cx = TileX(CentreLng(TileX(116.4))), cy = TileY(CentreLat(TileY(39.9)));
  const std::string picture = FormatC("model_tile_%d_%d_%d.jpg", kZoom, cx, cy);
  EXPECT_NE(mtl_text.find("map_Kd " + picture), std::string::npos);
  CBitmap jpg;
  ASSERT_TRUE(LoadImageFile(out.File(picture), &jpg));
  const Argb c = jpg.GetPixel(128, 128), want = TileColor(cx, cy);
  for (int shift : {0, 8, 16}) EXPECT_NEAR(double((c >> shift) & 0xFF), double((want >> shift) & 0xFF), 6.0);
}

TEST_F(TileViewTest, FlyingFarReusesThePoolsMeshes) {
  Make(1920, 1080);
  view->SetTilt(88, 0);  // looking at the horizon: hundreds of tiles in sight
  size_t most = 0;
  std::set<TileKey> seen;
  for (int i = 0; i < 40; ++i) {
    view->SetCamera(-120.0 + 6.0 * i, 20.0 + 0.5 * i, 12.6, true);
    const CTileMeshPool::Stats s = view->Pool().GetStats();
    most = std::max(most, s.visible);
    for (TileKey k : view->Pool().VisibleKeys()) seen.insert(k);
    ASSERT_LE(s.pool, view->Pool().Cap());
  }
  // Thousands of tiles went by; the pool holds as many meshes as the most in sight at once.
  EXPECT_GT(most, 100u);
  EXPECT_GT(seen.size(), 10 * most);
  EXPECT_EQ(view->Pool().GetStats().pool, most);
}

}  // namespace
}  // namespace velmora

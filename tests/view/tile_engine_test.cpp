// The 2D view's tile engine over real tile stores: known pixels at integer and fractional zoom for
// the kinds 1, 4, 5 and 6, ScreenToLngLat against the drawn pixels, pan and zoom round trips, the
// grid at the antimeridian, limits that must not give NaN, hangs or huge images, the whole-pixel
// fast path against cairo, failed tiles that stay failed, stand-in parents, overlays, shapes on
// the map, and the tile-state road through the test web server.
#include "view/tile_engine.h"

#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "core/settings.h"
#include "support/map_test_util.h"
#include "support/render_artefacts.h"
#include "shapes/mark_shape.h"
#include "shapes/polyline_shape.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

constexpr int kOsm = 60;        // kind 1
constexpr int kKind4 = 13;      // ellipsoidal Mercator
constexpr int kKind5 = 44;      // equirectangular
constexpr int kKind6 = 4;       // offset-datum Mercator
constexpr int kPlaceholder = 0; // kind 1, placeholder host

class TileEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayerManager().IsLoaded());
    folder = std::make_unique<test::TempDir>();
    tiles = test::MakeTileManager(folder->path());
  }
  void TearDown() override {
    tiles->Stop();
  }

  // Without the navigation control and the scale bar, which sit over the map's pixels.
  static void Bare(CTileEngine& e) {
    e.ShowNavigation(false);
    e.ShowScaleBar(false);
  }

  std::unique_ptr<test::TempDir> folder;
  std::unique_ptr<CTileManager> tiles;

  // Stores the gradient tiles around a point at a level (a 7 x 7 block).
  void StoreAround(int source, int kind, double lng, double lat, int z, int reach = 3) {
    PixelPoint p = LngLatToPixel(lng, lat, kind, z);
    int64_t cols, rows;
    KindTileCount(kind, z, &cols, &rows);
    int tx = static_cast<int>(std::floor(p.x / kTileSize)), ty = static_cast<int>(std::floor(p.y / kTileSize));
    test::StoreGradientTiles(*tiles, source, z, tx - reach, tx + reach, std::max(0, ty - reach),
                             std::min<int>(int(rows) - 1, ty + reach), cols);
  }

  TileEngineOptions Options(bool fast = true) {
    TileEngineOptions o;
    o.tiles = tiles.get();
    o.fast_blit = fast;
    return o;
  }

  static CBitmap Canvas(int w, int h) {
    CBitmap c;
    c.Create(w, h, 0xFF000000u);
    return c;
  }

  // Every sampled pixel shows the tile pixel that ScreenToLngLat names, to under a window pixel.
  void ExpectDrawingMatchesCoordinates(CTileEngine& engine, const CBitmap& canvas, int kind, const char* what) {
    MapCamera cam = engine.GetCamera();
    int z = engine.ImageLevel();
    ASSERT_GE(z, 0) << what;
    double s = std::exp2(cam.zoom - z);
    int64_t cols, rows;
    KindTileCount(kind, z, &cols, &rows);
    int checked = 0;
    for (int y = 3; y < cam.height - 24; y += 23) {  // the attribution sits at the bottom
      for (int x = 5; x < cam.width; x += 29) {
        LngLat ll = engine.ScreenToLngLat(x + 0.5, y + 0.5);
        PixelPoint wp = LngLatToPixel(ll.lng, ll.lat, kind, z);
        double tx = std::floor(wp.x / kTileSize), ty = std::floor(wp.y / kTileSize);
        double fi = wp.x - tx * kTileSize, fj = wp.y - ty * kTileSize;
        // Next to a tile edge the bilinear filter mixes two tiles.
        double edge = 2.0 / s + 1.0;
        if (fi < edge || fi > kTileSize - edge || fj < edge || fj > kTileSize - edge) continue;
        int col = static_cast<int>(((int64_t(tx) % cols) + cols) % cols);
        test::Drawn d = test::DrawnAt(canvas, x, y);
        ASSERT_EQ(d.tag, test::TileTag(col, int(ty), z)) << what << " at " << x << "," << y << " drawn " << d.i << ","
                                                       << d.j << " want " << fi << "," << fj << " tile " << col << "," << ty;
        // The colour code names a whole tile pixel: copied, the sample lay in [d, d + 1);
        // filtered (value = position - 1/2, rounded down), in [d + 1/2, d + 3/2). That span
        // must come within one window pixel (1/s tile pixels) of where ScreenToLngLat says.
        const double from = s == 1.0 ? 0.0 : 0.5, reach = 1.0 / s;
        EXPECT_TRUE(d.i + from < fi + reach && d.i + from + 1 > fi - reach) << what << " x at " << x << "," << y << ": "
                                                                           << int(d.i) << " for " << fi;
        EXPECT_TRUE(d.j + from < fj + reach && d.j + from + 1 > fj - reach) << what << " y at " << x << "," << y << ": "
                                                                           << int(d.j) << " for " << fj;
        ++checked;
      }
    }
    EXPECT_GT(checked, 100) << what;
  }
};

TEST_F(TileEngineTest, KnownPixelsForEachKindAtIntegerAndFractionalZoom) {
  struct Case {
    int source, kind;
    double lng, lat, zoom;
  };
  const Case cases[] = {
      {kOsm, 1, 10.3, 40.2, 6.0},     {kOsm, 1, -73.9, 40.7, 7.4},  {kKind4, 4, 116.4, 39.9, 6.0},
      {kKind4, 4, 116.4, 39.9, 6.7},  {kKind5, 5, 12.5, 41.9, 5.0}, {kKind5, 5, -122.4, 37.8, 5.5},
      {kKind6, 6, 121.5, 31.2, 8.0},  {kKind6, 6, 121.5, 31.2, 8.25},
  };
  for (const Case& c : cases) {
    std::string what = "source " + std::to_string(c.source) + " zoom " + std::to_string(c.zoom);
    StoreAround(c.source, c.kind, c.lng, c.lat, static_cast<int>(std::floor(c.zoom)));
    CTileEngine engine(Options());
    Bare(engine);
    engine.SetLayers({MapLayer{c.source}});
    engine.SetWindowSize(500, 380);
    engine.SetCamera(c.lng, c.lat, c.zoom);
    EXPECT_EQ(engine.GetCamera().kind, c.kind);
    ASSERT_TRUE(engine.WaitForIdle(20000)) << what;
    TileCounts counts = engine.CountTiles();
    EXPECT_EQ(counts.pending, 0) << what;
    EXPECT_GT(counts.loaded, 6) << what;
    CBitmap canvas = Canvas(500, 380);
    engine.Paint(canvas);
    ExpectDrawingMatchesCoordinates(engine, canvas, c.kind, what.c_str());
    if (c.source == kOsm && c.zoom == 6.0) {
      EXPECT_FALSE(test::SaveTestArtefact(canvas, "view", "map_view_kind1_zoom6").empty());
    }
  }
}

TEST_F(TileEngineTest, PanAndZoomRoundTripsKeepThePointUnderTheCursor) {
  CTileEngine engine(Options());
  engine.SetLayers({MapLayer{kOsm}});
  engine.SetWindowSize(800, 600);
  engine.SetCamera(120.0, 36.0, 10.0);
  MapCamera start = engine.GetCamera();
  EXPECT_EQ(start.lng, 120.0);
  EXPECT_EQ(start.lat, 36.0);
  EXPECT_EQ(start.zoom, 10.0);

  engine.PanBy(137.25, -61.5);
  engine.PanBy(-137.25, 61.5);
  MapCamera back = engine.GetCamera();
  EXPECT_NEAR(back.lng, start.lng, 1e-9);
  EXPECT_NEAR(back.lat, start.lat, 1e-9);

  // Panning moves the map with the mouse: the point that was under (100, 100) is under
  // (100 + dx, 100 + dy) afterwards.
  LngLat grabbed = engine.ScreenToLngLat(100, 100);
  engine.PanBy(40, 25);
  PixelPoint now = engine.LngLatToScreen(grabbed.lng, grabbed.lat);
  EXPECT_NEAR(now.x, 140, 1e-6);
  EXPECT_NEAR(now.y, 125, 1e-6);

  // Zooming about a pixel keeps the point under it, in and back out.
  for (double dz : {1.0, 0.37, -2.5, 3.9}) {
    MapCamera before = engine.GetCamera();
    LngLat under = engine.ScreenToLngLat(613, 77);
    engine.ZoomAt(before.zoom + dz, 613, 77);
    LngLat after = engine.ScreenToLngLat(613, 77);
    EXPECT_NEAR(after.lng, under.lng, 1e-9) << dz;
    EXPECT_NEAR(after.lat, under.lat, 1e-9) << dz;
    engine.ZoomAt(before.zoom, 613, 77);
    MapCamera again = engine.GetCamera();
    EXPECT_NEAR(again.lng, before.lng, 1e-9) << dz;
    EXPECT_NEAR(again.lat, before.lat, 1e-9) << dz;
    EXPECT_NEAR(again.zoom, before.zoom, 1e-12) << dz;
  }

  // The source's limits: OpenStreetMap goes to level 19 (enlarged up to 19.9).
  double lo, hi;
  engine.GetZoomLimits(&lo, &hi);
  EXPECT_EQ(lo, 2.0);
  EXPECT_NEAR(hi, 19.9, 1e-12);
  engine.ZoomAt(25, 10, 10);
  EXPECT_NEAR(engine.GetCamera().zoom, 19.9, 1e-12);
  engine.SetLayers({MapLayer{50}});  // a custom source with levels 0-22
  engine.SetCamera(0, 0, 30);
  EXPECT_NEAR(engine.GetCamera().zoom, 22.9, 1e-12);
}

TEST_F(TileEngineTest, GridAndImageAreContinuousAcrossTheAntimeridian) {
  const int z = 4;
  StoreAround(kOsm, 1, 180.0, 20.0, z, 3);
  CTileEngine engine(Options());
  Bare(engine);
  engine.SetLayers({MapLayer{kOsm}});
  engine.SetWindowSize(640, 320);
  engine.SetCamera(180.0, 20.0, z);
  MapCamera cam = engine.GetCamera();
  EXPECT_EQ(cam.lng, -180.0);  // wrapped

  std::vector<GridTile> grid = engine.BuildGrid(MapLayer{kOsm});
  ASSERT_FALSE(grid.empty());
  // Columns 15 and 0 meet at the centre: the last column's right edge is the first one's left.
  const GridTile* last = nullptr;
  const GridTile* first = nullptr;
  for (const GridTile& g : grid) {
    EXPECT_GE(g.column, 0);
    EXPECT_LT(g.column, 16);
    EXPECT_NEAR(g.width, 256, 1e-9);
    if (g.row != grid.front().row) continue;
    if (g.column == 15) last = &g;
    if (g.column == 0) first = &g;
  }
  ASSERT_TRUE(last && first);
  EXPECT_NEAR(last->x + last->width, first->x, 1e-9);
  EXPECT_NEAR(first->x, 320, 1e-9);

  float tl[2], br[2];
  engine.GetViewBounds(tl, br);
  EXPECT_LT(tl[0], -180.0f);  // not wrapped: west < east
  EXPECT_NEAR(br[0] - tl[0], 640.0 / 4096 * 360, 1e-3);

  ASSERT_TRUE(engine.WaitForIdle(20000));
  CBitmap canvas = Canvas(640, 320);
  engine.Paint(canvas);
  ExpectDrawingMatchesCoordinates(engine, canvas, 1, "antimeridian");
  // Left of the centre column 15, right of it column 0, with no gap between.
  int row = static_cast<int>(std::floor(LngLatToPixel(180, 20, 1, z).y / kTileSize));
  EXPECT_EQ(test::DrawnAt(canvas, 319, 160).tag, test::TileTag(15, row, z));
  EXPECT_EQ(test::DrawnAt(canvas, 319, 160).i, 255);
  EXPECT_EQ(test::DrawnAt(canvas, 320, 160).tag, test::TileTag(0, row, z));
  EXPECT_EQ(test::DrawnAt(canvas, 320, 160).i, 0);
}

TEST_F(TileEngineTest, LimitsGiveNoNaNNoHangAndNoHugeImage) {
  TileEngineOptions o = Options();
  CTileEngine engine(o);
  engine.SetLayers({MapLayer{kOsm}});
  const double nan = std::nan(""), inf = INFINITY;
  const double lngs[] = {0, 180, -180, 179.9999999, 1e12, -1e300, nan, inf, -inf};
  const double lats[] = {0, 90, -90, 85.1, -89.999, 1e9, nan, inf};
  const double zooms[] = {2, 22.9, 0, -5, 100, nan, inf, 2.0000001};
  const std::pair<int, int> windows[] = {{1, 1}, {0, 0}, {-5, 7}, {10000, 10000}, {40000, 3}, {1920, 1080}};
  int rebuilds = 0;
  for (auto [w, h] : windows) {
    engine.SetWindowSize(w, h);
    for (double lng : lngs) {
      for (double lat : lats) {
        for (double zoom : zooms) {
          engine.SetCamera(lng, lat, zoom);
          MapCamera c = engine.GetCamera();
          ASSERT_TRUE(std::isfinite(c.lng) && std::isfinite(c.lat) && std::isfinite(c.zoom));
          ASSERT_GE(c.lng, -180.0);
          ASSERT_LT(c.lng, 180.0);
          ASSERT_LE(std::fabs(c.lat), kMercatorMaxLat);
          ASSERT_GE(c.zoom, 2.0);
          ASSERT_LE(c.zoom, 19.9);
          float tl[2], br[2];
          engine.GetViewBounds(tl, br);
          for (float v : {tl[0], tl[1], br[0], br[1]}) ASSERT_TRUE(std::isfinite(v));
          LngLat corner = engine.ScreenToLngLat(c.width, c.height);
          ASSERT_TRUE(std::isfinite(corner.lng) && std::isfinite(corner.lat));
          ASSERT_LE(engine.BuildGrid(MapLayer{kOsm}).size(), size_t(1) << 16);
        }
      }
      // One rebuild per window and longitude keeps the test short; every tile is refused
      // offline, so nothing waits.
      engine.RebuildMapImage();
      ++rebuilds;
    }
  }
  EXPECT_GT(rebuilds, 0);

  // The largest window: the image drops levels until it fits the pixel budget.
  engine.SetWindowSize(10000, 10000);
  engine.SetCamera(120, 36, 22.9);
  engine.RebuildMapImage();
  EXPECT_LT(engine.ImageLevel(), 19);
  engine.SetCamera(0, 0, 2);
  engine.RebuildMapImage();
  CBitmap part = Canvas(1000, 1000);  // the window's top-left corner
  engine.Paint(part);
  // A one-pixel window and canvas.
  engine.SetWindowSize(1, 1);
  engine.SetCamera(0, 89, 22.9);
  engine.RebuildMapImage();
  CBitmap dot = Canvas(1, 1);
  engine.Paint(dot);
  EXPECT_EQ(ArgbA(dot.GetPixel(0, 0)), 255);
}

TEST_F(TileEngineTest, FastPathDrawsTheSamePixelsAsCairo) {
  StoreAround(kOsm, 1, 8.5, 47.4, 9, 2);
  StoreAround(kOsm, 1, 8.5, 47.4, 8, 2);
  // Both engines see the same tile states: loaded tiles, offline (failed) ones beyond the
  // stored block and, at level 10 where nothing is stored, the level-9 stand-ins of pending
  // tiles (a second manager without downloads keeps them pending).
  int failed = 0;
  for (double zoom : {9.0, 9.5, 8.0}) {
    CTileEngine fast(Options(true)), plain(Options(false));
    for (CTileEngine* e : {&fast, &plain}) {
      e->SetLayers({MapLayer{kOsm}});
      e->SetWindowSize(900, 700);
      e->SetCamera(8.5, 47.4, zoom);
      ASSERT_TRUE(e->WaitForIdle(20000));
    }
    failed += fast.CountTiles().failed;
    CBitmap a = Canvas(900, 700), b = Canvas(900, 700);
    fast.Paint(a);
    plain.Paint(b);
    ASSERT_EQ(0, std::memcmp(a.Pixels(), b.Pixels(), a.ByteSize())) << zoom;
  }
  EXPECT_GT(failed, 0);
  auto pending = test::MakeTileManager(folder->path() + "pending/", 0, false);
  {
    CTileStore* store = pending->OpenStore(kOsm);
    CTileStore* source = tiles->OpenStore(kOsm);
    ASSERT_TRUE(store && source);
    // Level 9 in the pending manager's store, level 10 nowhere.
    PixelPoint p = LngLatToPixel(8.5, 47.4, 1, 9);
    test::StoreGradientTiles(*pending, kOsm, 9, int(p.x / 256) - 3, int(p.x / 256) + 3, int(p.y / 256) - 3,
                             int(p.y / 256) + 3, 512);
  }
  TileEngineOptions fo = Options(true), po = Options(false);
  fo.tiles = po.tiles = pending.get();
  CTileEngine fast(fo), plain(po);
  for (CTileEngine* e : {&fast, &plain}) {
    e->SetLayers({MapLayer{kOsm}});
    e->SetWindowSize(600, 400);
    e->SetCamera(8.5, 47.4, 9);
    ASSERT_TRUE(e->WaitForIdle(20000));  // the stored block covers the image
  }
  for (CTileEngine* e : {&fast, &plain}) {
    e->SetCamera(8.5, 47.4, 10);
    e->RebuildMapImage();
  }
  EXPECT_GT(fast.CountTiles().pending, 0);
  CBitmap a = Canvas(600, 400), b = Canvas(600, 400);
  fast.Paint(a);
  plain.Paint(b);
  EXPECT_EQ(0, std::memcmp(a.Pixels(), b.Pixels(), a.ByteSize()));
  // The stand-in is the level-9 tile enlarged: its tag, half its pixel steps.
  PixelPoint c9 = LngLatToPixel(8.5, 47.4, 1, 9);
  test::Drawn d = test::DrawnAt(a, 300, 200);
  EXPECT_EQ(d.tag, test::TileTag(int(c9.x / 256), int(c9.y / 256), 9));
  EXPECT_NEAR(d.i, std::fmod(c9.x, 256.0), 2.0);
  EXPECT_FALSE(test::SaveTestArtefact(a, "view", "map_view_stand_ins").empty());
  pending->Stop();
}

TEST_F(TileEngineTest, FailedTilesShowAsFailedAndAreNotAskedAgain) {
  test::HttpTestServer web;
  web.RoutePrefix("/fail/", [](const test::HttpRequestRecord&) { return test::HttpReply::ServerError(); });
  WriteProfileString(kUrlTemplatesSection, std::to_string(kPlaceholder), web.BaseUrl() + "/fail/{z}/{x}/{y}");
  auto online = test::MakeTileManager(folder->path() + "online/", 2, false);
  TileEngineOptions o = Options();
  o.tiles = online.get();
  CTileEngine engine(o);
  engine.SetLayers({MapLayer{kPlaceholder}});
  engine.SetWindowSize(300, 200);
  // Centred on the middle of a tile.
  PixelPoint c7 = LngLatToPixel(30, 30, 1, 7);
  LngLat mid = PixelToLngLat(std::floor(c7.x / 256) * 256 + 128, std::floor(c7.y / 256) * 256 + 128, 1, 7);
  engine.SetCamera(mid.lng, mid.lat, 7.0);
  ASSERT_TRUE(engine.WaitForIdle(20000));
  TileCounts counts = engine.CountTiles();
  EXPECT_EQ(counts.pending, 0);
  EXPECT_GT(counts.failed, 0);
  EXPECT_EQ(counts.loaded, 0);
  size_t asked = web.RequestCount();
  EXPECT_EQ(asked, size_t(counts.failed));  // one attempt each (retry limit 1)

  // Rebuilds and small pans inside the composed margin ask nothing again.
  for (int i = 0; i < 10; ++i) {
    engine.PanBy(i % 2 ? 5 : -5, 0);
    engine.RebuildMapImage();
    EXPECT_EQ(online->PendingCount(), 0u);
  }
  EXPECT_EQ(web.RequestCount(), asked);

  CBitmap canvas = Canvas(300, 200);
  engine.Paint(canvas);
  // The tile under the centre: its middle carries the cross, the rest the failed colour.
  EXPECT_EQ(canvas.GetPixel(150, 100), kTileFailedMark);
  EXPECT_EQ(canvas.GetPixel(90, 40), kTileFailed);
  EXPECT_EQ(canvas.GetPixel(150, 140), kTileFailed);
  EXPECT_FALSE(test::SaveTestArtefact(canvas, "view", "map_view_failed_tiles").empty());
  online->Stop();
  WriteProfileString(kUrlTemplatesSection, std::to_string(kPlaceholder), "");
}

TEST_F(TileEngineTest, TileStateRoadPlaceholderThenTheDownloadedTile) {
  test::HttpTestServer web;
  std::mutex m;
  std::condition_variable cv;
  bool released = false;
  std::vector<uint8_t> bytes = test::EncodedTile(test::GradientTile(0xAB), ImageType::kPng);
  web.RoutePrefix("/osm/", [&](const test::HttpRequestRecord&) {
    std::unique_lock lock(m);
    cv.wait_for(lock, std::chrono::seconds(20), [&] { return released; });
    return test::HttpReply::Ok(std::string(bytes.begin(), bytes.end()), "image/png");
  });
  WriteProfileString(kUrlTemplatesSection, std::to_string(kOsm), web.BaseUrl() + "/osm/{z}/{x}/{y}.png");
  auto online = test::MakeTileManager(folder->path() + "road/", 2, false);
  TileEngineOptions o = Options();
  o.tiles = online.get();
  CTileEngine engine(o);
  engine.SetLayers({MapLayer{kOsm}});
  engine.SetWindowSize(200, 200);
  engine.SetCamera(2.35, 48.85, 12.0);

  EXPECT_FALSE(engine.RebuildMapImage());
  ASSERT_TRUE(web.WaitForRequests(1, 10000));
  CBitmap before = Canvas(200, 200);
  engine.Paint(before);
  Argb c = before.GetPixel(100, 100);
  EXPECT_TRUE(c == kTilePending || c == kTilePendingGrid) << std::hex << c;
  // The tile server's policy: the program names itself.
  EXPECT_EQ(web.Requests().front().Header("User-Agent"), ProgramUserAgent());

  {
    std::lock_guard lock(m);
    released = true;
  }
  cv.notify_all();
  ASSERT_TRUE(engine.WaitForIdle(20000));
  CBitmap after = Canvas(200, 200);
  engine.Paint(after);
  EXPECT_EQ(test::DrawnAt(after, 100, 100).tag, 0xAB);
  EXPECT_EQ(engine.CountTiles().loaded, engine.CountTiles().loaded + engine.CountTiles().pending);
  online->Stop();
  WriteProfileString(kUrlTemplatesSection, std::to_string(kOsm), "");
}

TEST_F(TileEngineTest, OverlaysShapesAndOverlaysAreDrawnOverTheMap) {
  StoreAround(kOsm, 1, 100, 10, 6, 2);
  // An overlay of another source: transparent tiles with an opaque red square in the middle.
  CBitmap overlay;
  overlay.Create(256, 256, 0x00000000u);
  for (int y = 96; y < 160; ++y)
    for (int x = 96; x < 160; ++x) overlay.SetPixel(x, y, 0xFFFF0000u);
  std::vector<uint8_t> png = test::EncodedTile(overlay, ImageType::kPng);
  CTileStore* store = tiles->OpenStore(24);
  ASSERT_NE(store, nullptr);
  PixelPoint p6 = LngLatToPixel(100, 10, 1, 6);
  int tx = int(p6.x / 256), ty = int(p6.y / 256);
  for (int y = ty - 2; y <= ty + 2; ++y)
    for (int x = tx - 2; x <= tx + 2; ++x) store->Write(MakeTileKey(x, y, TileKeyValue(24, 6)), png.data(), png.size(), false);

  CTileEngine engine(Options());
  Bare(engine);
  engine.SetLayers({MapLayer{kOsm}, MapLayer{24}});
  engine.SetWindowSize(400, 300);
  engine.SetCamera(100, 10, 6);
  auto mark = std::make_unique<CMarkShape>();
  mark->AddPoint(100.5f, 10.5f);
  mark->icon_index = 1;
  ASSERT_TRUE(engine.Objects().Add(std::move(mark), false));
  engine.ShowRegion(99.0f, 11.0f, 99.5f, 10.7f);
  ASSERT_TRUE(engine.WaitForIdle(20000));
  CBitmap canvas = Canvas(400, 300);
  engine.Paint(canvas);

  // Overlay square over the base tile's middle.
  LngLat mid = PixelToLngLat(tx * 256 + 128, ty * 256 + 128, 1, 6);
  PixelPoint s = engine.LngLatToScreen(mid.lng, mid.lat);
  EXPECT_EQ(canvas.GetPixel(int(s.x), int(s.y)), 0xFFFF0000u);
  // Outside the square the base tile shows through.
  EXPECT_EQ(test::DrawnAt(canvas, int(s.x) - 80, int(s.y) - 80).tag, test::TileTag(tx, ty, 6));
  // The mark's pin stands above its point in its icon colour.
  PixelPoint pin = engine.LngLatToScreen(100.5, 10.5);
  EXPECT_EQ(canvas.GetPixel(int(pin.x), int(pin.y) - 4), CMarkShape::IconColor(1));
  // Attribution of the visible sources at the bottom right: the text's box is lighter than
  // the map there.
  EXPECT_EQ(engine.Attributions().front(), "© OpenStreetMap contributors");
  EXPECT_FALSE(engine.ScaleBarText().empty());
  std::vector<CMapShape*> marks;
  engine.GetShapesByType(kShapeMark, marks);
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_EQ(engine.HitTestShapes(pin.x, pin.y - 10), marks[0]);
  EXPECT_EQ(engine.HitTestShapes(pin.x + 60, pin.y + 60), nullptr);
  EXPECT_FALSE(test::SaveTestArtefact(canvas, "view", "map_view_overlay_shapes").empty());
}

TEST_F(TileEngineTest, TheThreadRebuildsAndAsksForARedraw) {
  StoreAround(kOsm, 1, -0.12, 51.5, 11, 3);
  CTileEngine engine(Options());
  Bare(engine);
  std::atomic<int> redraws{0};
  engine.SetRedrawSink([&] { ++redraws; });
  engine.SetLayers({MapLayer{kOsm}});
  engine.SetWindowSize(640, 480);
  ASSERT_TRUE(engine.Start());
  EXPECT_FALSE(engine.Start());
  engine.SetCamera(-0.12, 51.5, 11.5);
  ASSERT_TRUE(engine.WaitForIdle(20000));
  EXPECT_GT(redraws.load(), 0);
  CBitmap canvas = Canvas(640, 480);
  engine.Paint(canvas);
  ExpectDrawingMatchesCoordinates(engine, canvas, 1, "thread");
  engine.Stop();
  EXPECT_FALSE(engine.IsRunning());
  // The view's tiles were let go: nothing is marked in view any more, so the cache may drop them.
  EXPECT_EQ(engine.CountTiles().pending, 0);
}

TEST_F(TileEngineTest, ScriptProjectionHookAndItsFallback) {
  CTileEngine engine(Options());
  engine.SetLayers({MapLayer{kKind4}});
  engine.SetWindowSize(400, 300);
  engine.SetCamera(116.4, 39.9, 9);
  double lng = 0, lat = 0;
  ASSERT_TRUE(engine.WindowToLngLat(10, 20, &lng, &lat));
  LngLat own = engine.ScreenToLngLat(10, 20);
  EXPECT_EQ(lng, own.lng);
  EXPECT_EQ(lat, own.lat);
  std::vector<GridTile> native = engine.BuildGridKind4(MapLayer{kKind4});
  EXPECT_EQ(native.size(), engine.BuildGrid(MapLayer{kKind4}).size());

  // A script that shifts everything by one degree east.
  ScriptProjection hook;
  hook.handles = [](int kind) { return kind == kKindEllipsoidalMercator; };
  hook.pixel_to_coord = [&](const MapCamera&, double x, double y, double* a, double* b) {
    LngLat ll = engine.ScreenToLngLat(x, y);
    *a = ll.lng + 1, *b = ll.lat;
    return true;
  };
  hook.coord_to_pixel = [&](const MapCamera&, double a, double b, double* x, double* y) {
    PixelPoint p = engine.LngLatToScreen(a - 1, b);
    *x = p.x, *y = p.y;
    return true;
  };
  SetScriptProjection(hook);
  ASSERT_TRUE(engine.WindowToLngLat(10, 20, &lng, &lat));
  EXPECT_NEAR(lng, own.lng + 1, 1e-12);
  std::vector<GridTile> scripted = engine.BuildGridKind4(MapLayer{kKind4});
  EXPECT_FALSE(scripted.empty());
  hook.pixel_to_coord = [](const MapCamera&, double, double, double*, double*) { return false; };
  SetScriptProjection(hook);
  EXPECT_FALSE(engine.WindowToLngLat(10, 20, &lng, &lat));
  EXPECT_EQ(lng, own.lng);  // the fall-back values
  ClearScriptProjection();
}

}  // namespace
}  // namespace velmora

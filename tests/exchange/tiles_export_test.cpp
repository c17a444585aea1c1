// Composed pictures against the tiles of a test store, pixel by pixel: the whole world at a zoom
// (Mercator and equirectangular), an area lined up with the tiles, an area at any size sampled
// under each pixel's centre, an overlay with its opacity; missing tiles waited for with a bound
// and left in the background colour; pictures beyond memory refused with their message.
#include "exchange/tiles_export_ctrl.h"

#include <gtest/gtest.h>

#include <cmath>
#include <mutex>

#include "core/geodesy.h"
#include "platform/gfx/image_codec.h"
#include "support/isolated_folders.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

constexpr int kBase = 0;      // kind 1, zooms 2-20
constexpr int kOverlay = 1;   // kind 1
constexpr int kEquirect = 44; // kind 5

// A colour that tells every pixel of every tile apart.
Argb Pattern(int source, int64_t tx, int64_t ty, int px, int py) {
  return MakeArgb(255, static_cast<uint8_t>(tx * 37 + px + source * 90), static_cast<uint8_t>(ty * 53 + py),
                  static_cast<uint8_t>(tx * 11 + ty * 7 + source * 60));
}

std::vector<uint8_t> TilePng(int source, int64_t tx, int64_t ty) {
  CBitmap b;
  EXPECT_TRUE(b.Create(256, 256));
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) b.SetPixel(x, y, Pattern(source, tx, ty, x, y));
  std::vector<uint8_t> png;
  EXPECT_TRUE(EncodeImage(b, ImageType::kPng, &png));
  return png;
}

class TilesExportTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(LayerManager().IsLoaded()); }
  TileManagerOptions Options(bool offline = true) {
    TileManagerOptions o;
    o.data_dir = dir_.path();
    o.download_threads = 0;
    o.offline = offline;
    o.use_download_list = false;
    return o;
  }
  static void Store(CTileManager& m, int source, int zoom, int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
    CTileStore* store = m.OpenStore(source);
    ASSERT_NE(store, nullptr);
    for (int64_t y = y0; y <= y1; ++y)
      for (int64_t x = x0; x <= x1; ++x) {
        std::vector<uint8_t> png = TilePng(source, x, y);
        ASSERT_EQ(store->Write(MakeTileKey(static_cast<int>(x), static_cast<int>(y), TileKeyValue(source, zoom)),
                               png.data(), png.size(), false),
                  TileWriteResult::kWritten);
      }
  }
  // The tile pixel under the centre of picture pixel (u, v) for a box in world pixels at zoom 0.
  static Argb Expected(int source, int zoom, double x0, double y0, double x1, double y1, int w, int h, int u, int v) {
    const double scale = std::ldexp(1.0, zoom);
    const int64_t X = static_cast<int64_t>(std::floor((x0 * scale + (u + 0.5) * ((x1 - x0) * scale) / w)));
    const int64_t Y = static_cast<int64_t>(std::floor((y0 * scale + (v + 0.5) * ((y1 - y0) * scale) / h)));
    return Premultiply(Pattern(source, X / 256, Y / 256, static_cast<int>(X % 256), static_cast<int>(Y % 256)));
  }
  static MapLayer Layer(int source, float opacity = 1.0f) {
    MapLayer l;
    l.source_id = source;
    l.kind = LayerManager().FindSourceStrict(source)->kind;
    l.opacity = opacity;
    return l;
  }
  test::TempDir dir_;
};

TEST_F(TilesExportTest, WholeWorldAtAZoomIsItsTilesSideBySide) {
  CTileManager manager(Options());
  Store(manager, kBase, 2, 0, 3, 0, 3);
  Store(manager, kEquirect, 2, 0, 3, 0, 1);
  CTilesExportCtrl mercator(manager, {Layer(kBase)});
  std::unique_ptr<CBitmap> world = mercator.ComposeTile(2);
  ASSERT_NE(world, nullptr) << mercator.LastError();
  ASSERT_EQ(world->Width(), 1024);
  ASSERT_EQ(world->Height(), 1024);
  EXPECT_EQ(mercator.MissingTiles(), 0u);
  int wrong = 0;
  for (int y = 0; y < 1024; ++y)
    for (int x = 0; x < 1024; ++x)
      wrong += world->Row(y)[x] != Premultiply(Pattern(kBase, x / 256, y / 256, x % 256, y % 256));
  EXPECT_EQ(wrong, 0);

  CTilesExportCtrl plate(manager, {Layer(kEquirect)});
  std::unique_ptr<CBitmap> flat = plate.ComposeTile(2);
  ASSERT_NE(flat, nullptr) << plate.LastError();
  EXPECT_EQ(flat->Width(), 1024);
  EXPECT_EQ(flat->Height(), 512);
  EXPECT_EQ(flat->Row(511)[1023], Premultiply(Pattern(kEquirect, 3, 1, 255, 255)));
}

TEST_F(TilesExportTest, AreasLinedUpWithTilesOrAtAnySizeTakeThePixelUnderEachCentre) {
  CTileManager manager(Options());
  ASSERT_TRUE(manager.Start());
  // Tiles (10..12, 12..13) at zoom 5, as picture corners in longitude and latitude.
  LngLat lt = PixelToLngLat(10 * 256, 12 * 256, 1, 5);
  LngLat br = PixelToLngLat(13 * 256, 14 * 256, 1, 5);
  Store(manager, kBase, 5, 10, 12, 12, 13);
  CTilesExportCtrl ctrl(manager, {Layer(kBase)});
  std::unique_ptr<CBitmap> area = ctrl.ComposeAreaImage(lt.lng, lt.lat, br.lng, br.lat, 768, 512);
  ASSERT_NE(area, nullptr) << ctrl.LastError();
  EXPECT_EQ(ctrl.LastZoom(), 5);
  int wrong = 0;
  for (int y = 0; y < 512; ++y)
    for (int x = 0; x < 768; ++x)
      wrong += area->Row(y)[x] != Premultiply(Pattern(kBase, 10 + x / 256, 12 + y / 256, x % 256, y % 256));
  EXPECT_EQ(wrong, 0);

  // Any area at any size: the zoom whose tiles hold at least the picture's pixels, then the
  // pixel under each centre.
  const double west = 119.9, north = 36.6, east = 120.6, south = 36.1;
  const int w = 300, h = 211;
  for (int z = 9; z <= 11; ++z) {
    int64_t x0 = static_cast<int64_t>(MercatorLngToX(west, z) / 256), x1 = static_cast<int64_t>(MercatorLngToX(east, z) / 256);
    int64_t y0 = static_cast<int64_t>(MercatorLatToY(north, z) / 256), y1 = static_cast<int64_t>(MercatorLatToY(south, z) / 256);
    Store(manager, kBase, z, x0, x1, y0, y1);
  }
  std::unique_ptr<CBitmap> any = ctrl.ComposeAreaImage(west, north, east, south, w, h);
  ASSERT_NE(any, nullptr) << ctrl.LastError();
  const int zoom = ctrl.LastZoom();
  const double bx0 = MercatorLngToX(west, 0), bx1 = MercatorLngToX(east, 0);
  const double by0 = MercatorLatToY(north, 0), by1 = MercatorLatToY(south, 0);
  EXPECT_GE((bx1 - bx0) * std::ldexp(1.0, zoom), w);  // at least the picture's pixels...
  EXPECT_LT((bx1 - bx0) * std::ldexp(1.0, zoom - 1), w);  // ...and no more zoom than needed
  wrong = 0;
  for (int v = 0; v < h; ++v)
    for (int u = 0; u < w; ++u) wrong += any->Row(v)[u] != Expected(kBase, zoom, bx0, by0, bx1, by1, w, h, u, v);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(ctrl.MissingTiles(), 0u);
}

TEST_F(TilesExportTest, OverlaysBlendWithTheirOpacityAndMissingTilesAreWaitedForWithABound) {
  // No download threads and not offline: a tile that is not stored never arrives.
  CTileManager manager(Options(false));
  ASSERT_TRUE(manager.Start());
  Store(manager, kBase, 3, 0, 7, 0, 7);
  Store(manager, kOverlay, 3, 0, 3, 0, 7);  // the overlay covers only the western half
  ComposeOptions options;
  options.wait_ms = 300;
  options.background = 0xFF102030u;
  CTilesExportCtrl ctrl(manager, {Layer(kBase), Layer(kOverlay, 0.5f)}, options);
  std::unique_ptr<CBitmap> world = ctrl.ComposeTile(3);
  ASSERT_NE(world, nullptr) << ctrl.LastError();
  EXPECT_EQ(ctrl.MissingTiles(), 32u);  // the overlay's eastern tiles
  auto blend = [](Argb d, Argb s) {
    Argb out = 0;
    for (int k = 0; k < 32; k += 8) {
      unsigned sc = (((s >> k) & 255) * 128 + 127) / 255, dc = (d >> k) & 255;
      unsigned sa = ((s >> 24) * 128 + 127) / 255;
      out |= std::min(255u, sc + (dc * (255 - sa) + 127) / 255) << k;
    }
    return out;
  };
  for (auto [x, y] : {std::pair{5, 7}, std::pair{1000, 2000}, std::pair{1023, 0}}) {
    Argb base = Premultiply(Pattern(kBase, x / 256, y / 256, x % 256, y % 256));
    Argb over = Premultiply(Pattern(kOverlay, x / 256, y / 256, x % 256, y % 256));
    EXPECT_EQ(world->Row(y)[x], blend(base, over)) << x << "," << y;
  }
  EXPECT_EQ(world->Row(100)[1500], Premultiply(Pattern(kBase, 5, 0, 1500 % 256, 100)));  // no overlay there

  // A base tile missing altogether: the background colour shows.
  CTilesExportCtrl lone(manager, {Layer(kBase)}, options);
  std::unique_ptr<CBitmap> z4 = lone.ComposeTile(4);
  ASSERT_NE(z4, nullptr);
  EXPECT_EQ(lone.MissingTiles(), 256u);
  EXPECT_EQ(z4->GetPixel(77, 99), 0xFF102030u);
}

TEST_F(TilesExportTest, PicturesBeyondMemoryAreRefusedWithAMessage) {
  CTileManager manager(Options());
  CTilesExportCtrl ctrl(manager, {Layer(kBase)});
  EXPECT_EQ(ctrl.ComposeTile(7), nullptr);  // 32768 pixels a side
  EXPECT_EQ(ctrl.LastError(), "拼接图像过大: 32768 x 32768 像素, 超出可用内存");
  ComposeOptions small;
  small.max_bytes = 1 << 20;
  CTilesExportCtrl tight(manager, {Layer(kBase)}, small);
  EXPECT_EQ(tight.ComposeAreaImage(120, 37, 121, 36, 1000, 1000), nullptr);
  EXPECT_EQ(tight.LastError(), "拼接图像过大: 1000 x 1000 像素, 超出可用内存");
  EXPECT_NE(tight.ComposeAreaImage(120, 37, 121, 36, 500, 500), nullptr);  // 1,000,000 bytes fit
  // Bad areas and no layers.
  EXPECT_EQ(ctrl.ComposeAreaImage(120, 37, 120, 37, 10, 10), nullptr);
  EXPECT_EQ(ctrl.ComposeAreaImage(std::nan(""), 37, 121, 36, 10, 10), nullptr);
  CTilesExportCtrl none(manager, std::vector<MapLayer>{});
  EXPECT_EQ(none.ComposeTile(2), nullptr);
  EXPECT_FALSE(none.LastError().empty());
}

// The map view as the composer finds it when it is given no layers.
class FakeMapView : public IMapViewState {
 public:
  MapCamera GetCamera() const override { return {}; }
  void GetViewBounds(float lt[2], float br[2]) const override { lt[0] = lt[1] = br[0] = br[1] = 0; }
  std::vector<MapLayer> CopyLayerList() const override {
    MapLayer hidden;
    hidden.source_id = kOverlay;
    hidden.visible = false;
    MapLayer base;
    base.source_id = kBase;
    return {hidden, base};
  }
};

TEST_F(TilesExportTest, LayersComeFromTheCurrentMapView) {
  CTileManager manager(Options());
  Store(manager, kBase, 2, 0, 3, 0, 3);
  FakeMapView view;
  SetCurrentMapView(&view);
  CTilesExportCtrl ctrl(manager);
  SetCurrentMapView(nullptr);
  std::unique_ptr<CBitmap> world = ctrl.ComposeTile(2);
  ASSERT_NE(world, nullptr) << ctrl.LastError();
  EXPECT_EQ(world->Row(300)[700], Premultiply(Pattern(kBase, 2, 1, 700 % 256, 300 % 256)));
}

}  // namespace
}  // namespace velmora

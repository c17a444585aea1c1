// The layer statistics panel on the shipped world picture: cells of zoom 2 and 12 keys (half
// transparent vs opaque by the first key, each key split at its own zoom), a tile smaller than a
// pixel drawn three screen pixels wide, the bare picture for no keys, an equirectangular layer's
// cells, a viewport without width; the flat panel scaled into its canvas and blank without the
// picture; the globe through the offscreen device showing red where the keys lie and turning with
// the mouse only in 3D; and the cache information dialog on a real tile store.
#include "terrain/ui/layer_stat_3d_panel.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/isolated_folders.h"
#include "support/render_artefacts.h"
#include "terrain/d3d_context.h"
#include "terrain/tile_coverage.h"
#include "terrain/ui/dlg_layer_cache_info.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_manager.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

class Environment : public ::testing::Environment {
 public:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
  }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

CBitmap World() {
  CBitmap world;
  EXPECT_TRUE(LoadImageFile(AppOptions().program_dir + "images/world.jpg", &world));
  return world;
}

TileKey Key(int x, int y, int zoom) { return MakeTileKey(x, y, TileKeyValue(0, zoom)); }

int Red(Argb c) { return int((c >> 16) & 0xFF); }
int Green(Argb c) { return int((c >> 8) & 0xFF); }
int Blue(Argb c) { return int(c & 0xFF); }
Argb HalfRed(Argb d) {
  auto mix = [](int c, int dc) { return uint32_t((c * 128 + dc * 127 + 127) / 255); };
  return 0xFF000000u | (mix(255, Red(d)) << 16) | (mix(0, Green(d)) << 8) | mix(0, Blue(d));
}

// The red run along picture row y that contains x.
int RunWidth(const CBitmap& b, int x, int y) {
  if (b.GetPixel(x, y) != kCoverageOpaque) return 0;
  int l = x, r = x;
  while (l > 0 && b.GetPixel(l - 1, y) == kCoverageOpaque) --l;
  while (r + 1 < b.Width() && b.GetPixel(r + 1, y) == kCoverageOpaque) ++r;
  return r - l + 1;
}

TEST(TileCoverage, CellsFollowEachKeysZoomAndTheFirstKeysColour) {
  const CBitmap world = World();
  ASSERT_EQ(world.Width(), 1024);
  ASSERT_EQ(world.Height(), 512);
  // Zoom 2, tile (1, 1): 90 W to 0, 66.5 N to the equator, half transparent.
  CBitmap low = World();
  DrawTileCoverage(low, {Key(1, 1, 2)}, kKindMercator, 1024);
  EXPECT_EQ(low.GetPixel(300, 150), HalfRed(world.GetPixel(300, 150)));
  EXPECT_EQ(low.GetPixel(255, 150), world.GetPixel(255, 150));  // just west of 90 W
  EXPECT_EQ(low.GetPixel(300, 258), world.GetPixel(300, 258));  // just south of the equator
  EXPECT_NE(low.GetPixel(511, 70), world.GetPixel(511, 70));    // 66 N, just west of 0

  // A zoom-12 key first: opaque, and its sub-pixel tile three pixels wide; the zoom-2 key that
  // follows is split at its own zoom and covers its quarter of the world's width.
  const int x12 = static_cast<int>(MercatorLngToX(116.4, 12) / 256), y12 = static_cast<int>(MercatorLatToY(39.9, 12) / 256);
  CBitmap high = World();
  DrawTileCoverage(high, {Key(x12, y12, 12), Key(1, 1, 2)}, kKindMercator, 1024);
  const int px = static_cast<int>((116.4 + 180) * 1024 / 360), py = static_cast<int>((90 - 39.9) * 1024 / 360);
  EXPECT_EQ(RunWidth(high, px, py), 3);
  EXPECT_EQ(RunWidth(high, 300, 150), 256);
  // Shown half as wide, the smallest cell is six picture pixels.
  CBitmap narrow = World();
  DrawTileCoverage(narrow, {Key(x12, y12, 12)}, kKindMercator, 512);
  EXPECT_EQ(RunWidth(narrow, px, py), 6);
  // A viewport of no width counts as the picture's.
  CBitmap none = World();
  DrawTileCoverage(none, {Key(x12, y12, 12)}, kKindMercator, 0);
  EXPECT_EQ(RunWidth(none, px, py), 3);
  // The last column of the world keeps its width (no wrap to 180 W).
  CBitmap east = World();
  DrawTileCoverage(east, {Key(3, 1, 2)}, kKindMercator, 1024);
  EXPECT_NE(east.GetPixel(1020, 150), world.GetPixel(1020, 150));
  EXPECT_EQ(east.GetPixel(3, 150), world.GetPixel(3, 150));

  // Equirectangular layer: zoom 2 has 4 x 2 tiles, tile (1, 0) spans 90 W-0 and 90 N-0.
  CBitmap plate = World();
  DrawTileCoverage(plate, {Key(1, 0, 2)}, kKindEquirect, 1024);
  EXPECT_EQ(plate.GetPixel(300, 10), HalfRed(world.GetPixel(300, 10)));
  EXPECT_EQ(plate.GetPixel(300, 250), HalfRed(world.GetPixel(300, 250)));
  EXPECT_EQ(plate.GetPixel(300, 262), world.GetPixel(300, 262));
}

class PanelTest : public ::testing::Test {
 protected:
  void SetUp() override { SetUiHost(&host); }
  void TearDown() override {
    SetUiHost(nullptr);
    ProgramSettings().Remove(kLayerStat3DKey);
  }
  void Make(CLayerStat3DPanel& panel, int width, int height) {
    ASSERT_TRUE(panel.Create(nullptr, 1, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, width, height}));
    panel.PreSubclassWindow();
    panel.SetClock([this] { return now; });
  }
  CBitmap Paint(CLayerStat3DPanel& panel, int width, int height, bool* painted = nullptr) {
    CBitmap canvas;
    EXPECT_TRUE(canvas.Create(width, height, 0xFF123456u));
    const bool p = panel.OnPaint(canvas);
    if (painted) *painted = p;
    return canvas;
  }
  CHeadlessUiHost host;
  uint64_t now = 1000;
};

TEST_F(PanelTest, FlatPanelShowsThePictureWithItsCellsOrNothing) {
  CLayerStat3DPanel panel;
  ASSERT_FALSE(panel.Is3D());
  Make(panel, 512, 256);
  bool painted = true;
  Paint(panel, 512, 256, &painted);
  EXPECT_FALSE(painted);  // nothing drawn yet
  panel.DrawCoverage({});
  ASSERT_NE(panel.Coverage(), nullptr);
  const CBitmap world = World();
  EXPECT_EQ(panel.Coverage()->GetPixel(700, 300), world.GetPixel(700, 300));  // the bare picture
  const unsigned before = panel.InvalidateCount();
  panel.DrawCoverage({Key(1, 1, 2)});
  EXPECT_GT(panel.InvalidateCount(), before);
  CBitmap canvas = Paint(panel, 512, 256, &painted);
  ASSERT_TRUE(painted);
  test::SaveTestArtefact(canvas, "layer_stat", "flat");
  // The picture scaled to half: the cell's middle is reddish, the far east is not touched.
  EXPECT_GT(Red(canvas.GetPixel(150, 75)), Green(canvas.GetPixel(150, 75)) + 60);
  EXPECT_NE(canvas.GetPixel(500, 200), 0xFF123456u);
  // The mouse does not turn a flat panel.
  const D3DXMATRIX view = panel.ArcBall().Rotation();
  panel.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
  now += 10;
  panel.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 120));
  Paint(panel, 512, 256);
  EXPECT_EQ(std::memcmp(&view, &panel.ArcBall().Rotation(), sizeof view), 0);

  // The smallest cell follows the width shown: 6 picture pixels at 512, 3 once shown at 1024.
  const int x12 = static_cast<int>(MercatorLngToX(116.4, 12) / 256), y12 = static_cast<int>(MercatorLatToY(39.9, 12) / 256);
  const int px = static_cast<int>((116.4 + 180) * 1024 / 360), py = static_cast<int>((90 - 39.9) * 1024 / 360);
  panel.DrawCoverage({Key(x12, y12, 12)});
  EXPECT_EQ(RunWidth(*panel.Coverage(), px, py), 6);
  Paint(panel, 1024, 512);
  EXPECT_EQ(RunWidth(*panel.Coverage(), px, py), 3);

  // Without the world picture: no coverage and nothing painted.
  ScopedAppOptions missing([](CAppOptions& o) { o.program_dir = kFolders.File("nowhere/"); });
  panel.DrawCoverage({Key(1, 1, 2)});
  EXPECT_EQ(panel.Coverage(), nullptr);
  Paint(panel, 512, 256, &painted);
  EXPECT_FALSE(painted);
}

TEST_F(PanelTest, GlobeShowsTheCellsAndTurnsWithTheMouse) {
  ProgramSettings().SetInt(kLayerStat3DKey, 1);
  CLayerStat3DPanel panel;
  ProgramSettings().SetInt(kLayerStat3DKey, 0);  // read once: the panel stays in 3D
  ASSERT_TRUE(panel.Is3D());
  Make(panel, 320, 240);
  panel.DrawCoverage({});
  const CBitmap bare = Paint(panel, 320, 240);
  EXPECT_EQ(panel.LastRenderResult(), D3D_OK);
  const Argb centre = bare.GetPixel(160, 120);
  EXPECT_NE(centre, 0xFF000000u);  // the globe fills the middle
  EXPECT_EQ(bare.GetPixel(2, 2), 0xFF000000u);  // cleared to black around it
  // Every tile of zoom 12's first key opaque, the others the whole world at zoom 1.
  panel.DrawCoverage({Key(0, 0, 12), Key(0, 0, 1), Key(1, 0, 1), Key(0, 1, 1), Key(1, 1, 1)});
  const CBitmap red = Paint(panel, 320, 240);
  test::SaveTestArtefact(red, "layer_stat", "globe");
  const Argb c = red.GetPixel(160, 120);
  EXPECT_GT(Red(c), 230);
  EXPECT_LT(Green(c), 25);
  EXPECT_LT(Blue(c), 25);
  // Only the western hemisphere covered: red on one side of the globe, the picture on the other.
  panel.DrawCoverage({Key(0, 0, 12), Key(0, 0, 1), Key(0, 1, 1)});
  const CBitmap half = Paint(panel, 320, 240);
  test::SaveTestArtefact(half, "layer_stat", "globe_west");
  int red_pixels = 0, other = 0;
  for (int y = 0; y < 240; y += 2)
    for (int x = 0; x < 320; x += 2) {
      const Argb p = half.GetPixel(x, y);
      if (p == 0xFF000000u) continue;
      (Red(p) > 230 && Green(p) < 25 && Blue(p) < 25 ? red_pixels : other)++;
    }
  EXPECT_GT(red_pixels, 300);
  EXPECT_GT(other, 300);
  // A drag turns the globe.
  const D3DXMATRIX view = panel.ArcBall().Rotation();
  panel.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(100, 100));
  panel.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, 100));
  now += 10;
  panel.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(180, 130));
  Paint(panel, 320, 240);
  EXPECT_NE(std::memcmp(&view, &panel.ArcBall().Rotation(), sizeof view), 0);
}

TEST_F(PanelTest, UntexturedGlobeWithoutThePicture) {
  ProgramSettings().SetInt(kLayerStat3DKey, 1);
  ScopedAppOptions missing([](CAppOptions& o) { o.program_dir = kFolders.File("nowhere/"); });
  CLayerStat3DPanel panel;
  Make(panel, 160, 120);
  panel.DrawCoverage({Key(0, 0, 1)});
  EXPECT_EQ(panel.Coverage(), nullptr);
  EXPECT_EQ(panel.Globe().Texture(), nullptr);
  const CBitmap frame = Paint(panel, 160, 120);
  EXPECT_EQ(panel.LastRenderResult(), D3D_OK);
  EXPECT_EQ(frame.GetPixel(1, 1), 0xFF000000u);
}

TEST_F(PanelTest, TheDialogShowsTheStoredKeysOfALevel) {
  const std::vector<MapSourceDef>& sources = LayerManager().Sources();
  ASSERT_FALSE(sources.empty());
  const MapSourceDef& first = sources.front();
  TileManagerOptions tm;
  tm.data_dir = kFolders.File("tiles/");
  tm.download_threads = 0;
  tm.offline = true;
  tm.use_download_list = false;
  CTileManager tiles(tm);
  CTileStore* store = tiles.OpenStore(first.id);
  ASSERT_NE(store, nullptr);
  const uint8_t bytes[] = {1, 2, 3};
  for (auto [x, y, z] : {std::tuple{1, 1, 2}, {2, 1, 2}, {10, 12, 5}})
    ASSERT_EQ(store->Write(MakeTileKey(x, y, TileKeyValue(first.id, z)), bytes, sizeof bytes, false),
              TileWriteResult::kWritten);
  ASSERT_TRUE(store->Flush());
  CDlgLayerCacheInfo dialog(&tiles);
  host.AnswerDialog(CDlgLayerCacheInfo::kTemplateId, [&](CDialog& d) {
    EXPECT_EQ(d.GetWindowText(), "图层离线缓存信息");
    EXPECT_EQ(dialog.Keys().size(), 2u);  // level 2 at first
    EXPECT_EQ(d.GetDlgItemText(CDlgLayerCacheInfo::kIdCount), "已缓存瓦片: 2");
    ASSERT_NE(dialog.Panel().Coverage(), nullptr);
    EXPECT_NE(dialog.Panel().Coverage()->GetPixel(300, 150), World().GetPixel(300, 150));
    d.GetDlgItemAs<CComboBox>(CDlgLayerCacheInfo::kIdZoom)->Select(5);
    EXPECT_EQ(dialog.Keys().size(), 1u);
    EXPECT_EQ(TileKeyZoom(dialog.Keys().front()), 5);
    d.GetDlgItemAs<CComboBox>(CDlgLayerCacheInfo::kIdZoom)->Select(7);
    EXPECT_TRUE(dialog.Keys().empty());
    EXPECT_EQ(dialog.Panel().Coverage()->GetPixel(300, 150), World().GetPixel(300, 150));
    // A layer nobody downloaded: no keys, and no store made for it.
    if (sources.size() > 1) {
      d.GetDlgItemAs<CComboBox>(CDlgLayerCacheInfo::kIdLayer)->Select(1);
      EXPECT_TRUE(dialog.Keys().empty());
      EXPECT_FALSE(std::filesystem::exists(kFolders.File("tiles/" + std::to_string(sources[1].id) + ".img")));
    }
    // The mode for the next opening; this panel stays flat.
    d.GetDlgItemAs<CButton>(CDlgLayerCacheInfo::kId3D)->Click();
    EXPECT_EQ(ProgramSettings().GetInt(kLayerStat3DKey, 0), 1);
    EXPECT_FALSE(dialog.Panel().Is3D());
    d.GetDlgItemAs<CButton>(IDCANCEL)->Click();
  });
  dialog.DoModal();
  EXPECT_EQ(host.PendingAnswers(), 0u);
  tiles.Stop();
}

}  // namespace
}  // namespace velmora

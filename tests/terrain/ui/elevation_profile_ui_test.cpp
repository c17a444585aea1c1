// The profile chart, the elevation preview and the contour dialog on a real 2D map view (Mercator)
// over height files we write: pictures painted into bitmaps and read back pixel by pixel, the
// tool tip, the jump of a double-click, the hiking summary from the context menu, contours added
// to the map at the latitudes the ramp puts them, and the dialog's refusals. (Sampling from the web
// service behind the progress dialog: elevation_sampling_threads_test.)
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "../elevation_ramps.h"
#include "core/format.h"
#include "core/settings.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/draw_item_db.h"
#include "shapes/polyline_shape.h"
#include "support/isolated_folders.h"
#include "support/map_test_util.h"
#include "support/render_artefacts.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/ui/dlg_contour.h"
#include "terrain/ui/elev_profile_ctrl.h"
#include "terrain/ui/elevation_profile_commands.h"
#include "terrain/ui/profile_chart.h"
#include "exchange/ui/dlg_region_base.h"
#include "tiles/layer_manager.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

using test::Ramps;

bool IsProfileGreen(Argb c) { return ArgbG(c) == 255 && ArgbR(c) == 0 && ArgbB(c) == 0; }
// The translucent grid green over black.
bool IsGridGreen(Argb c) { return ArgbR(c) == 0 && ArgbB(c) == 0 && ArgbG(c) >= 90 && ArgbG(c) <= 110; }

class ProfileUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayerManager().IsLoaded());
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    tiles = test::MakeTileManager(folder.File("tiles/"));
    ASSERT_TRUE(db.Open(folder.File("drawitem.kdb")));
    TileEngineOptions o;
    o.tiles = tiles.get();
    view = std::make_unique<CPDView>(MapViewSinks{}, o, &db);
    ASSERT_TRUE(view->CreateView(WS_VISIBLE, nullptr));
    view->SendMessage(WM_SIZE, 0, MAKELPARAM(640, 480));
    view->SetCamera(117.1, 36.1, 14, false);
  }
  void TearDown() override {
    view.reset();
    tiles->Stop();
    SetUiHost(nullptr);
  }
  static CBitmap Paint(CWnd& window) {
    CBitmap canvas;
    RECT r = window.GetWindowRect();
    EXPECT_TRUE(canvas.Create(r.Width(), r.Height()));
    EXPECT_TRUE(window.OnPaint(canvas));
    return canvas;
  }
  static void Mouse(CWnd& w, UINT msg, float x, float y) {
    w.SendMessage(msg, 0, MAKELPARAM(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))));
  }

  CHeadlessUiHost host;
  test::TempDir folder, cache_dir;
  CElevCacheDb cache{cache_dir.path()};
  CElevationStore ew_store{&cache, Ramps().east_west.File("data/")};
  CElevationStore sn_store{&cache, Ramps().south_north.File("data/")};
  ScopedAppOptions srtm{[](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; }};
  std::unique_ptr<CTileManager> tiles;
  CDrawItemDB db;
  std::unique_ptr<CPDView> view;
};

// ---- profile chart --------------------------------------------------------------------------

TEST_F(ProfileUiTest, ChartPictureGridProfileAndGap) {
  CProfileChart chart;
  ASSERT_TRUE(chart.Create(nullptr, 1, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 250, 120}));
  // Along the equator so the distances are simple; the fourth point has no data.
  std::vector<ShapePoint> pts;
  for (int i = 0; i <= 6; ++i) pts.push_back({static_cast<float>(i * 0.001), 0.0f});
  const std::vector<float> h = {100, 160, 130, -9999, 220, 180, 100};
  chart.SetLine("t", pts, h);
  CBitmap pic = Paint(chart);

  int grid_columns = 0;
  for (int x = 0; x < 250; ++x) {
    int grid = 0;
    for (int y = 0; y < 120; ++y) grid += IsGridGreen(pic.GetPixel(x, y));
    if (grid >= 20) {
      ++grid_columns;
      EXPECT_TRUE(x == 100 || x == 200) << "grid line at " << x;
    }
  }
  EXPECT_EQ(grid_columns, 2);

  const ProfileLayout& l = chart.Layout();
  ASSERT_EQ(l.points.size(), 7u);
  EXPECT_DOUBLE_EQ(l.range, 120.0);
  auto green_near = [&](float x, float y) {
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        if (IsProfileGreen(pic.GetPixel(static_cast<int>(x) + dx, static_cast<int>(y) + dy))) return true;
    return false;
  };
  for (int i : {0, 1, 4, 5}) {
    // Half-way along each drawn segment, where the formulas put it.
    const float x = (static_cast<float>(i) + 0.5f) * 250.0f / 6.0f;
    const float y = static_cast<float>((120 - (h[i] + h[i + 1]) / 2 + 100) * 120 / 120);
    EXPECT_NEAR(l.points[i].x, i * 250.0 / 6, 0.01);
    EXPECT_TRUE(green_near(x, y)) << "segment " << i;
  }
  // Between the points on either side of the hole nothing is drawn.
  for (int x = static_cast<int>(l.points[2].x) + 2; x < static_cast<int>(l.points[4].x) - 1; ++x)
    for (int y = 0; y < 120; ++y) EXPECT_FALSE(IsProfileGreen(pic.GetPixel(x, y))) << x << "," << y;
}

TEST_F(ProfileUiTest, ChartToolTipDoubleClickAndHikingSummary) {
  CProfileChart chart;
  ASSERT_TRUE(chart.Create(nullptr, 1, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 300, 150}));
  chart.SetTargetView(view.get());
  // A track without heights of its own: one height per point comes from the height files.
  CPolylineShape line;
  line.SetName("a/b:c");
  line.SetPoints({{117.02f, 36.05f}, {117.05f, 36.06f}, {117.08f, 36.07f}, {117.11f, 36.05f}});
  chart.SetElevationStore(&ew_store);
  ASSERT_TRUE(chart.LoadTrack(line));
  ASSERT_EQ(chart.Heights().size(), 4u);
  EXPECT_NEAR(chart.Heights()[2], 800.0f, 10.0f);

  const ProfileScreenPoint p = chart.Layout().points[2];
  Mouse(chart, WM_MOUSEMOVE, p.x + 2, p.y - 2);
  EXPECT_EQ(chart.HoveredPoint(), 2);
  ASSERT_TRUE(chart.ToolTip().IsShown());
  EXPECT_EQ(chart.ToolTip().GetTipText(), FormatC("%f,%f:%gm", 117.08f, 36.07f, static_cast<double>(chart.Heights()[2])));
  EXPECT_EQ(chart.ToolTip().AutoPopDelay(), 10000000u);
  CBitmap pic = Paint(chart);
  int mark = 0;  // the solid red ring round the point (the crosshair is a translucent red)
  for (int dy = -3; dy <= 3; ++dy)
    for (int dx = -3; dx <= 3; ++dx) {
      const Argb c = pic.GetPixel(static_cast<int>(p.x) + dx, static_cast<int>(p.y) + dy);
      mark += ArgbR(c) > 200 && ArgbG(c) < 100 && ArgbB(c) < 100;
    }
  EXPECT_GE(mark, 6);

  Mouse(chart, WM_MOUSEMOVE, p.x + 20, p.y);
  EXPECT_EQ(chart.HoveredPoint(), -1);
  EXPECT_FALSE(chart.ToolTip().IsShown());

  // The double-click moves the map view there and keeps its level.
  Mouse(chart, WM_LBUTTONDBLCLK, p.x, p.y);
  double lng = 0, lat = 0, level = 0;
  view->GetCamera(&lng, &lat, &level);
  EXPECT_NEAR(lng, 117.08, 1e-4);
  EXPECT_NEAR(lat, 36.07, 1e-4);
  EXPECT_NEAR(level, 14.0, 1e-9);

  // "徒步分析..." from the context menu writes the summary and opens it.
  host.AnswerMenu(CProfileChart::ID_HIKING_ANALYSIS);
  chart.SendMessage(WM_CONTEXTMENU, chart.GetSafeHwnd(), MAKELPARAM(10, 10));
  const std::string file = AppOptions().data_dir + "walk/a-b-c.txt";
  EXPECT_TRUE(std::filesystem::exists(file));
  bool opened = false;
  for (const auto& r : host.Records()) opened |= r.kind == CHeadlessUiHost::Record::Kind::kOpenDocument && r.text == file;
  EXPECT_TRUE(opened);

  // A folder that cannot be made: the message, and nothing opened.
  std::filesystem::remove_all(AppOptions().data_dir + "walk");
  test::WriteTestFile(AppOptions().data_dir + "walk", "x");
  host.ClearRecords();
  EXPECT_FALSE(chart.OnHikingAnalysis());
  EXPECT_EQ(host.LastMessage(), "无法创建文件");
  for (const auto& r : host.Records()) EXPECT_NE(r.kind, CHeadlessUiHost::Record::Kind::kOpenDocument);
  std::filesystem::remove(AppOptions().data_dir + "walk");
}

TEST_F(ProfileUiTest, ChartWithoutAnyHeightStaysEmpty) {
  CProfileChart chart;
  ASSERT_TRUE(chart.Create(nullptr, 1, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 220, 110}));
  chart.SetLine("", {{1, 1}, {1.1f, 1}}, {-9999, -9999});
  CBitmap pic = Paint(chart);
  for (int y = 0; y < 110; ++y)
    for (int x = 0; x < 220; ++x) ASSERT_EQ(pic.GetPixel(x, y), 0xFF000000u);
  EXPECT_FALSE(chart.OnHikingAnalysis());
}

// ---- contour dialog -------------------------------------------------------------------------

class ContourDialogTest : public ProfileUiTest {
 protected:
  void Open(CElevationStore& store) {
    dlg.SetMapView(view.get());
    dlg.Chart().SetElevationStore(&store);
    ASSERT_TRUE(dlg.Create());
  }
  void Box(const char* w, const char* n, const char* e, const char* s) {
    dlg.SetDlgItemText(CDlgContour::kIdWest, w);
    dlg.SetDlgItemText(CDlgContour::kIdNorth, n);
    dlg.SetDlgItemText(CDlgContour::kIdEast, e);
    dlg.SetDlgItemText(CDlgContour::kIdSouth, s);
  }
  void Command(UINT id) { dlg.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
  CDlgContour dlg;
};

TEST_F(ContourDialogTest, OpensOnTheViewBoxAndAddsLinesAtTheirLatitudes) {
  Open(sn_store);
  float tl[2], br[2];
  CurrentMapView()->GetViewBounds(tl, br);
  EXPECT_EQ(dlg.GetDlgItemText(CDlgContour::kIdWest), FormatCorner(tl[0]));
  EXPECT_EQ(dlg.GetDlgItemText(CDlgContour::kIdSouth), FormatCorner(br[1]));
  EXPECT_EQ(dlg.GetDlgItemText(CDlgContour::kIdInterval), "10");
  EXPECT_EQ(dlg.GetDlgItemText(CDlgContour::kIdCount), "200");
  ASSERT_EQ(dlg.List().GetColumnCount(), 2);
  EXPECT_EQ(dlg.List().GetColumnHeading(0), "海拔");
  EXPECT_EQ(dlg.List().GetColumnWidth(1), 50);

  // Before any sampling there is nothing to trace.
  Command(CDlgContour::kCmdCompute);
  EXPECT_EQ(dlg.List().GetItemCount(), 0);

  // 0.2 x 0.3 degrees with 200 columns and 480 * 200 / 640 = 150 rows: 0.001 and 0.002 degree steps.
  Box("117", "36.3", "117.2", "36");
  dlg.SetDlgItemText(CDlgContour::kIdInterval, "1000");
  Command(CDlgContour::kCmdSample);
  EXPECT_EQ(dlg.Chart().Columns(), 200);
  EXPECT_EQ(dlg.Chart().Rows(), 150);
  Command(CDlgContour::kCmdCompute);
  ASSERT_EQ(dlg.List().GetItemCount(), 2);
  EXPECT_EQ(dlg.List().GetItemText(0, 0), FormatC("%g", dlg.Chart().Grid().Lines()[0]->level));
  EXPECT_EQ(dlg.List().GetItemText(0, 1), FormatC("%d", static_cast<int>(dlg.Chart().Grid().Lines()[0]->points.size())));

  const size_t before = view->Engine().Tracks().Count();
  dlg.List().DoubleClickItem(1);
  ASSERT_EQ(view->Engine().Tracks().Count(), before + 1);
  std::vector<CMapShape*> lines;
  view->Engine().Tracks().GetShapesByType(kShapePolyline, lines);
  ASSERT_FALSE(lines.empty());
  const CMapShape* added = lines.back();
  const float level = dlg.Chart().Grid().Lines()[1]->level;
  EXPECT_EQ(added->Name(), FormatC("%g", static_cast<double>(level)));
  for (const ShapePoint& p : added->Points()) {
    EXPECT_NEAR(p.lat, 36.0 + level / 10000.0, 0.0025);
    EXPECT_GE(p.lng, 117.0f - 1e-4f);
    EXPECT_LE(p.lng, 117.2f + 1e-4f);
  }

  // The selected row's line turns red on the picture, the others stay white.
  dlg.List().ClickItem(0);
  EXPECT_EQ(dlg.Chart().SelectedLine(), 0);
  CBitmap pic = Paint(dlg.Chart());
  test::SaveTestArtefact(pic, "terrain", "contour_preview");
  auto colour_at = [&](int k) {
    const auto& pts = dlg.Chart().Grid().Lines()[k]->points;
    const ContourPoint mid = pts[pts.size() / 2];
    const GfxPoint s = dlg.Chart().GridToScreen(mid, pic.Width(), pic.Height());
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx) {
        Argb c = pic.GetPixel(static_cast<int>(s.x) + dx, static_cast<int>(s.y) + dy);
        if (c == 0xFFFF0000u || c == 0xFFFFFFFFu) return c;
      }
    return Argb{0};
  };
  EXPECT_EQ(colour_at(0), 0xFFFF0000u);
  EXPECT_EQ(colour_at(1), 0xFFFFFFFFu);
}

TEST_F(ContourDialogTest, RefusesBadIntervalsCornersAndCounts) {
  Open(ew_store);
  Box("117", "36.15", "117.2", "36");
  Command(CDlgContour::kCmdSample);
  for (const char* bad : {"5", "2001", "x"}) {
    host.ClearRecords();
    dlg.SetDlgItemText(CDlgContour::kIdInterval, bad);
    Command(CDlgContour::kCmdCompute);
    EXPECT_EQ(host.LastMessage(), CDlgContour::IntervalMessage()) << bad;
    EXPECT_EQ(dlg.List().GetItemCount(), 0);
  }
  dlg.SetDlgItemText(CDlgContour::kIdInterval, "500");
  Command(CDlgContour::kCmdCompute);
  EXPECT_EQ(dlg.List().GetItemCount(), 3);

  struct Bad {
    const char *w, *n, *e, *s, *count;
  };
  for (const Bad& b : {Bad{"117.2", "36.15", "117", "36", "200"}, Bad{"117", "36", "117.2", "36.15", "200"},
                       Bad{"117", "36.15", "117.2", "36", "0"}, Bad{"117", "36.15", "117.2", "36", "1000000"},
                       Bad{"117", "36.15", "117.0005", "36", "200"}}) {
    host.ClearRecords();
    Box(b.w, b.n, b.e, b.s);
    dlg.SetDlgItemText(CDlgContour::kIdCount, b.count);
    EXPECT_FALSE(dlg.OnSample());
    EXPECT_EQ(host.LastMessage(), CDlgRegionBase::kBadCorners);
    EXPECT_EQ(dlg.Chart().Columns(), 200);  // the last good sampling stays
  }
  // A map view of no size gives no rows.
  view->SendMessage(WM_SIZE, 0, MAKELPARAM(0, 0));
  Box("117", "36.15", "117.2", "36");
  dlg.SetDlgItemText(CDlgContour::kIdCount, "200");
  host.ClearRecords();
  EXPECT_FALSE(dlg.OnSample());
  EXPECT_EQ(host.LastMessage(), CDlgRegionBase::kBadCorners);

  // The arrows step the interval by 10 within its range.
  dlg.SetDlgItemText(CDlgContour::kIdInterval, "1995");
  Command(CDlgContour::kIdIntervalUp);
  EXPECT_EQ(dlg.GetDlgItemText(CDlgContour::kIdInterval), "2000");
  dlg.SetDlgItemText(CDlgContour::kIdInterval, "10");
  Command(CDlgContour::kIdIntervalDown);
  EXPECT_EQ(dlg.GetDlgItemText(CDlgContour::kIdInterval), "10");
}

TEST_F(ProfileUiTest, CommandsOpenTheProgramsWindowsModeless) {
  OnContour(view.get());
  CPolylineShape line;
  line.SetPoints({{117.02f, 36.05f}, {117.05f, 36.06f}});
  line.Values() = {10, 20};
  EXPECT_TRUE(ShowElevationProfile(line));
  CLabelPolylineShape labelled;
  labelled.SetPoints({{117.02f, 36.05f}, {117.05f, 36.06f}});
  labelled.Values() = {10, 20};
  EXPECT_TRUE(ShowElevationProfile(labelled));  // the window is reused
  std::vector<std::string> shown;
  for (const auto& r : host.Records())
    if (r.kind == CHeadlessUiHost::Record::Kind::kModeless) shown.push_back(r.caption);
  EXPECT_EQ(shown, (std::vector<std::string>{"205", "252", "252"}));
  CloseElevationProfileWindows();
}

}  // namespace
}  // namespace velmora

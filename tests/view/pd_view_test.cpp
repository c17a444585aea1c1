// The 2D map view driven headless through its window procedure: drag to pan, wheel and keys to
// zoom about the cursor, the navigation control, the box tool with the area dialog, the free
// region, the child-view slots, the saved camera, objects kept in the drawn-item database, a
// damaged database, and a painted window saved for a person to look at.
#include "view/pd_view.h"

#include <gtest/gtest.h>


#include "core/format.h"
#include "core/settings.h"
#include "support/map_test_util.h"
#include "support/render_artefacts.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/draw_item_db.h"
#include "shapes/mark_shape.h"
#include "support/isolated_folders.h"
#include "tiles/layer_manager.h"
#include "view/dlg_area_setting.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
constexpr int W = 640, H = 480;

struct Reports {
  std::vector<std::array<float, 3>> centres, cursors;
  std::vector<std::array<double, 3>> history;
  std::vector<std::string> messages;
};

class PDViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayerManager().IsLoaded());
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    for (const char* key : {"Lng", "Lat", "Level", "Source"}) WriteProfileString(CPDView::kProfileSection, key, "");
    tiles = test::MakeTileManager(folder.path() + "tiles/");
    PixelPoint p = LngLatToPixel(120, 36, 1, 10);
    test::StoreGradientTiles(*tiles, 60, 10, int(p.x / 256) - 3, int(p.x / 256) + 3, int(p.y / 256) - 3,
                             int(p.y / 256) + 3, 1024);
    ASSERT_TRUE(db.Open(folder.File("drawitem.kdb")));
  }
  void TearDown() override {
    views.clear();
    tiles->Stop();
    SetUiHost(nullptr);
  }

  MapViewSinks Sinks() {
    MapViewSinks s;
    s.view_center = [this](float a, float b, float c) { reports.centres.push_back({a, b, c}); };
    s.cursor = [this](float a, float b, float c) { reports.cursors.push_back({a, b, c}); };
    s.push_history = [this](double a, double b, double c) { reports.history.push_back({a, b, c}); };
    s.message = [this](const std::string& t) { reports.messages.push_back(t); };
    return s;
  }

  CPDView& NewView(CDrawItemDB* use_db = nullptr) {
    TileEngineOptions o;
    o.tiles = tiles.get();
    views.push_back(std::make_unique<CPDView>(Sinks(), o, use_db ? use_db : &db));
    CPDView& v = *views.back();
    EXPECT_TRUE(v.CreateView(WS_VISIBLE, nullptr));
    v.SendMessage(WM_SIZE, 0, MAKELPARAM(W, H));
    return v;
  }

  static void Mouse(CPDView& v, UINT msg, int x, int y, WPARAM flags = 0) { v.SendMessage(msg, flags, MAKELPARAM(x, y)); }
  static void Wheel(CPDView& v, int delta, int x, int y) {
    v.SendMessage(WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<unsigned>(delta) & 0xFFFF), MAKELPARAM(x, y));
  }

  test::TempDir folder;
  std::unique_ptr<CTileManager> tiles;
  CDrawItemDB db;
  CHeadlessUiHost host;
  Reports reports;
  std::vector<std::unique_ptr<CPDView>> views;
};

TEST_F(PDViewTest, DefaultCameraSlotsAndTheCurrentMapView) {
  CPDView& v = NewView();
  EXPECT_EQ(v.GetViewKind(), kViewMap2D);
  EXPECT_EQ(v.GetName(), "PDView");
  EXPECT_EQ(v.GetDlgCtrlID(), kViewMap2D);
  double lng, lat, level;
  v.GetCamera(&lng, &lat, &level);
  EXPECT_EQ(lng, 120.0);
  EXPECT_EQ(lat, 36.0);
  EXPECT_EQ(level, 10.0);
  std::vector<int> ids;
  v.GetSourceIds(ids);
  EXPECT_EQ(ids, std::vector<int>{60});  // OpenStreetMap is the default map
  ASSERT_FALSE(reports.centres.empty());
  EXPECT_EQ(reports.centres.back(), (std::array<float, 3>{120.0f, 36.0f, 10.0f}));
  EXPECT_EQ(CurrentMapView(), &v.Engine());
  MapCamera c = CurrentMapView()->GetCamera();
  EXPECT_EQ(c.width, W);
  EXPECT_EQ(c.height, H);
  v.DestroyWindow();
  EXPECT_EQ(CurrentMapView(), nullptr);
}

TEST_F(PDViewTest, DragPansWithTheMouseAndAClickSelects) {
  CPDView& v = NewView();
  LngLat grabbed = v.Engine().ScreenToLngLat(100, 100);
  Mouse(v, WM_LBUTTONDOWN, 100, 100, MK_LBUTTON);
  Mouse(v, WM_MOUSEMOVE, 101, 100, MK_LBUTTON);  // within the click slop: nothing moves yet
  EXPECT_EQ(v.GetZoom(), 10.0);
  MapCamera still = v.Engine().GetCamera();
  EXPECT_EQ(still.lng, 120.0);
  for (int step = 1; step <= 6; ++step) Mouse(v, WM_MOUSEMOVE, 100 + step * 10, 100 + step * 7, MK_LBUTTON);
  Mouse(v, WM_LBUTTONUP, 160, 142);
  PixelPoint now = v.Engine().LngLatToScreen(grabbed.lng, grabbed.lat);
  EXPECT_NEAR(now.x, 160, 1e-6);
  EXPECT_NEAR(now.y, 142, 1e-6);
  MapCamera c = v.Engine().GetCamera();
  ASSERT_EQ(reports.history.size(), 1u);
  EXPECT_EQ(reports.history[0], (std::array<double, 3>{c.lng, c.lat, c.zoom}));
  EXPECT_EQ(reports.centres.back()[0], float(c.lng));
  // The cursor readout follows the mouse.
  ASSERT_FALSE(reports.cursors.empty());
  EXPECT_FLOAT_EQ(reports.cursors.back()[0], float(grabbed.lng));
  EXPECT_FLOAT_EQ(reports.cursors.back()[1], float(grabbed.lat));

  // A click (press and release in place) selects the shape under it.
  auto mark = std::make_unique<CMarkShape>();
  mark->AddPoint(120.01f, 36.0f);
  const CMapShape* placed = mark.get();
  ASSERT_TRUE(v.AddObject(std::move(mark), false));
  PixelPoint pin = v.Engine().LngLatToScreen(120.01, 36.0);
  Mouse(v, WM_LBUTTONDOWN, int(pin.x), int(pin.y) - 10, MK_LBUTTON);
  Mouse(v, WM_LBUTTONUP, int(pin.x), int(pin.y) - 10);
  EXPECT_EQ(v.SelectedShape(), placed);
  EXPECT_EQ(reports.history.size(), 1u);  // a click is no move
  // A move without the button ends a drag the release of which was lost.
  Mouse(v, WM_LBUTTONDOWN, 300, 300, MK_LBUTTON);
  Mouse(v, WM_MOUSEMOVE, 340, 300, 0);
  Mouse(v, WM_MOUSEMOVE, 400, 300, MK_LBUTTON);
  EXPECT_EQ(v.Engine().GetCamera().lng, c.lng);
}

TEST_F(PDViewTest, WheelAndKeysZoomAboutTheCursorWithinTheSourceLimits) {
  CPDView& v = NewView();
  LngLat under = v.Engine().ScreenToLngLat(500, 300);
  Wheel(v, 120, 500, 300);
  EXPECT_DOUBLE_EQ(v.GetZoom(), 10.5);
  LngLat after = v.Engine().ScreenToLngLat(500, 300);
  EXPECT_NEAR(after.lng, under.lng, 1e-9);
  EXPECT_NEAR(after.lat, under.lat, 1e-9);
  Wheel(v, -240, 500, 300);
  EXPECT_DOUBLE_EQ(v.GetZoom(), 9.5);
  Wheel(v, 30, 500, 300);  // a fine wheel: a quarter of a notch
  EXPECT_DOUBLE_EQ(v.GetZoom(), 9.625);
  for (int i = 0; i < 40; ++i) Wheel(v, 120, 500, 300);
  EXPECT_NEAR(v.GetZoom(), 19.9, 1e-12);  // OpenStreetMap's last level, enlarged
  for (int i = 0; i < 80; ++i) Wheel(v, -120, 10, 10);
  EXPECT_EQ(v.GetZoom(), 2.0);
  EXPECT_NEAR(reports.centres.back()[2], 2.0f, 1e-6);

  v.SetCamera(120, 36, 10, false);
  Mouse(v, WM_MOUSEMOVE, 200, 100, 0);
  LngLat key_under = v.Engine().ScreenToLngLat(200, 100);
  v.SendMessage(WM_KEYDOWN, VK_ADD, 0);
  EXPECT_EQ(v.GetZoom(), 11.0);
  LngLat key_after = v.Engine().ScreenToLngLat(200, 100);
  EXPECT_NEAR(key_after.lng, key_under.lng, 1e-9);
  v.SendMessage(WM_KEYDOWN, VK_NEXT, 0);
  EXPECT_EQ(v.GetZoom(), 10.0);
  LngLat left_edge = v.Engine().ScreenToLngLat(0, H / 2);
  v.SendMessage(WM_KEYDOWN, VK_LEFT, 0);  // shows more of the west: the map moves right
  PixelPoint moved = v.Engine().LngLatToScreen(left_edge.lng, left_edge.lat);
  EXPECT_NEAR(moved.x, W / 8.0, 1e-6);
  EXPECT_EQ(v.SendMessage(WM_KEYDOWN, 'Q', 0), 0);

  // The navigation control: zoom in to the next whole level, pan north by a quarter window.
  v.SetCamera(120, 36, 10.3, false);
  Mouse(v, WM_LBUTTONDOWN, 40, 86, MK_LBUTTON);
  Mouse(v, WM_LBUTTONUP, 40, 86);
  EXPECT_EQ(v.GetZoom(), 11.0);
  double lat_before = v.Engine().GetCamera().lat;
  Mouse(v, WM_LBUTTONDOWN, 40, 20, MK_LBUTTON);
  Mouse(v, WM_LBUTTONUP, 40, 20);
  EXPECT_GT(v.Engine().GetCamera().lat, lat_before);
  EXPECT_EQ(v.Engine().HitNavigation(40, 111), NavHit::kZoomOut);
  EXPECT_EQ(v.Engine().HitNavigation(300, 300), NavHit::kNone);
}

TEST_F(PDViewTest, BoxToolOpensTheAreaDialogAndShowsTheRegion) {
  CPDView& v = NewView();
  v.SetTool(CPDView::Tool::kBox);
  LngLat tl = v.Engine().ScreenToLngLat(150, 160), br = v.Engine().ScreenToLngLat(350, 300);
  host.AnswerDialog(CDlgAreaSetting::IDD, [&](CDialog& d) {
    EXPECT_EQ(d.GetWindowText(), "区域设定");
    EXPECT_EQ(d.GetDlgItemText(CDlgAreaSetting::IDC_LEFT_LNG), FormatFixed(float(tl.lng), 6));
    EXPECT_EQ(d.GetDlgItemText(CDlgAreaSetting::IDC_BOTTOM_LAT), FormatFixed(float(br.lat), 6));
    d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_LEFT_LNG)->Type("abc");
    d.GetDlgItemAs<CButton>(IDOK)->Click();  // refused: stays open
    EXPECT_FALSE(d.HasEnded());
    // Corners typed the wrong way round are put in order.
    d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_LEFT_LNG)->Type("120.5");
    d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_TOP_LAT)->Type(" 35.5 ");
    d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_RIGHT_LNG)->Type("119.5");
    d.GetDlgItemAs<CEdit>(CDlgAreaSetting::IDC_BOTTOM_LAT)->Type("36.5");
    d.GetDlgItemAs<CButton>(IDOK)->Click();
  });
  Mouse(v, WM_LBUTTONDOWN, 150, 160, MK_LBUTTON);
  Mouse(v, WM_MOUSEMOVE, 250, 220, MK_LBUTTON);
  EXPECT_TRUE(v.Tracker().IsTracking());
  Mouse(v, WM_LBUTTONUP, 350, 300);
  EXPECT_EQ(host.MessageTexts(), std::vector<std::string>{CDlgAreaSetting::kBadCorners});
  float a[2], b[2];
  ASSERT_TRUE(v.Engine().GetRegion(a, b));
  EXPECT_EQ(a[0], 119.5f);
  EXPECT_EQ(a[1], 36.5f);
  EXPECT_EQ(b[0], 120.5f);
  EXPECT_EQ(b[1], 35.5f);
  EXPECT_EQ(v.Engine().GetCamera().lng, 120.0);  // the box tool does not pan

  // A band of a few pixels is a slip, not a box: no dialog.
  size_t asked = host.Records().size();
  Mouse(v, WM_LBUTTONDOWN, 300, 300, MK_LBUTTON);
  Mouse(v, WM_LBUTTONUP, 305, 340);
  EXPECT_EQ(host.Records().size(), asked);
  v.ShowRegion(kNoRegion, 0, 0, 0);
  EXPECT_FALSE(v.Engine().GetRegion(a, b));
}

TEST_F(PDViewTest, FreeRegionToolCollectsPixelsAndPoints) {
  CPDView& v = NewView();
  v.SetTool(CPDView::Tool::kRegion);
  for (auto [x, y] : {std::pair{100, 100}, {300, 100}, {300, 300}}) {
    Mouse(v, WM_LBUTTONDOWN, x, y, MK_LBUTTON);
    Mouse(v, WM_LBUTTONUP, x, y);
  }
  ASSERT_NE(v.FreeRegion(), nullptr);
  EXPECT_FALSE(v.FreeRegion()->IsClosed());
  Mouse(v, WM_LBUTTONDBLCLK, 300, 300, MK_LBUTTON);
  CRegionShape* region = v.FreeRegion();
  ASSERT_TRUE(region->IsClosed());
  EXPECT_EQ(region->PointCount(), 4u);
  EXPECT_EQ(region->PixelPoints().size(), 4u);
  LngLat first = v.Engine().ScreenToLngLat(100, 100);
  EXPECT_EQ(region->Points()[0], (ShapePoint{float(first.lng), float(first.lat)}));
  EXPECT_EQ(v.GetTool(), CPDView::Tool::kPan);
  std::unique_ptr<CRegionShape> taken = v.TakeFreeRegion();
  EXPECT_EQ(v.FreeRegion(), nullptr);
  // Escape drops a ring being drawn.
  v.SetTool(CPDView::Tool::kRegion);
  Mouse(v, WM_LBUTTONDOWN, 10, 10, MK_LBUTTON);
  v.SendMessage(WM_KEYDOWN, VK_ESCAPE, 0);
  EXPECT_EQ(v.FreeRegion(), nullptr);
}

TEST_F(PDViewTest, CameraSlotsObjectsAndTheSavedCentre) {
  {
    CPDView& v = NewView();
    v.SetCamera(300, 100, 40, true);  // wrapped, clamped
    MapCamera c = v.Engine().GetCamera();
    EXPECT_NEAR(c.lng, -60, 1e-9);
    EXPECT_NEAR(c.lat, kMercatorMaxLat, 1e-9);
    EXPECT_NEAR(c.zoom, 19.9, 1e-12);
    ASSERT_EQ(reports.history.size(), 1u);
    v.SetCamera(116.39, 39.91, 12.5, false);
    EXPECT_EQ(reports.history.size(), 1u);
    v.ZoomStep(-2);
    EXPECT_DOUBLE_EQ(v.GetZoom(), 10.5);
    EXPECT_TRUE(v.Engine().SetBaseSource(61));
    v.DestroyWindow();
  }
  views.clear();
  {
    CPDView& v = NewView();
    double lng, lat, level;
    v.GetCamera(&lng, &lat, &level);
    EXPECT_NEAR(lng, 116.39, 1e-6);
    EXPECT_NEAR(lat, 39.91, 1e-6);
    EXPECT_NEAR(level, 10.5, 1e-6);
    EXPECT_EQ(v.Engine().BaseSourceId(), 61);

    // Contour lines, tracks, boundaries; the 3D view receives the polylines.
    v.AddContourLine("100", {{116.3f, 39.9f}, {116.4f, 39.95f}});
    EXPECT_FALSE(v.AddTrackShapes(std::make_unique<CPolylineShape>()));  // no point
    v.ShowBoundary({{{116, 39}, {117, 39}, {117, 40}}, {{1, 1}}}, true, true);
    std::vector<CMapShape*> polygons;
    v.Engine().GetShapesByType(kShapePolygon, polygons);
    EXPECT_EQ(polygons.size(), 1u);  // the two-point ring is skipped
    MapCamera fit = v.Engine().GetCamera();
    EXPECT_NEAR(fit.lng, 116.5, 1e-6);
    float tl[2], br[2];
    v.Engine().GetViewBounds(tl, br);
    EXPECT_LT(tl[0], 116.0f);
    EXPECT_GT(br[0], 117.0f);
    v.ShowBoundary({{{10, 10}, {11, 10}, {11, 11}}}, true, false);
    polygons.clear();
    v.Engine().GetShapesByType(kShapePolygon, polygons);
    EXPECT_EQ(polygons.size(), 1u);
    EXPECT_NEAR(v.Engine().GetCamera().lng, 116.5, 1e-6);  // not centred this time
    int lines = 0;
    EXPECT_EQ(v.CopyPolylinesTo3D([&](const CPolylineShape& l) { lines += l.Name() == "100"; }), 1u);
    EXPECT_EQ(lines, 1);

    std::vector<CMapShape*> loaded = {new CMarkShape(), new CMarkShape()};
    loaded[0]->AddPoint(-10, 50);
    loaded[1]->AddPoint(-11, 51);
    EXPECT_EQ(v.LoadShapes(loaded, true), 2);
    EXPECT_TRUE(loaded.empty());
    EXPECT_NEAR(v.Engine().GetCamera().lng, -10.5, 1e-6);
    std::vector<CMapShape*> all;
    v.Engine().GetShapesByType(kAllShapeTypes, all);
    EXPECT_EQ(all.size(), 4u);
    CCmdUI cmd(1);
    v.UpdateClearObjects(cmd);
    EXPECT_TRUE(cmd.IsEnabled());
    v.ClearObjects();
    all.clear();
    v.Engine().GetShapesByType(kAllShapeTypes, all);
    EXPECT_TRUE(all.empty());
    CCmdUI after(1);
    v.UpdateClearObjects(after);
    EXPECT_FALSE(after.IsEnabled());
  }
}

TEST_F(PDViewTest, StoredObjectsComeBackAndADamagedDatabaseIsReported) {
  {
    CPDView& v = NewView();
    auto mark = std::make_unique<CMarkShape>();
    mark->SetName("收藏");
    mark->AddPoint(120.02f, 36.01f);
    ASSERT_TRUE(v.AddObject(std::move(mark), true));
    auto session = std::make_unique<CMarkShape>();
    session->AddPoint(120.03f, 36.01f);
    ASSERT_TRUE(v.AddObject(std::move(session), false));
  }
  views.clear();
  {
    CPDView& v = NewView();
    std::vector<CMapShape*> marks;
    v.Engine().GetShapesByType(kShapeMark, marks);
    ASSERT_EQ(marks.size(), 1u);
    EXPECT_EQ(marks[0]->Name(), "收藏");
    EXPECT_TRUE(reports.messages.empty());
  }
  views.clear();
  const std::string broken = folder.File("broken.kdb");
  test::WriteTestFile(broken, std::string(5000, 'x'));
  CDrawItemDB damaged;
  EXPECT_FALSE(damaged.Open(broken));
  CPDView& v = NewView(&damaged);
  ASSERT_EQ(reports.messages.size(), 1u);
  EXPECT_NE(reports.messages[0].find("标注数据库"), std::string::npos);
  // The view still works; its objects live for this run only.
  auto mark = std::make_unique<CMarkShape>();
  mark->AddPoint(120, 36);
  EXPECT_TRUE(v.AddObject(std::move(mark), true));
  EXPECT_EQ(test::ReadTestFile(broken), std::string(5000, 'x'));
}

TEST_F(PDViewTest, PaintsTheMapWithItsControls) {
  CPDView& v = NewView();
  v.SetWeather({"晴 12°C", "北风 3级"}, nullptr);
  v.ShowWeather(true);
  auto mark = std::make_unique<CMarkShape>();
  mark->SetName("青岛");
  mark->label_shown = 1;
  mark->AddPoint(120.05f, 36.03f);
  v.AddObject(std::move(mark), false);
  ASSERT_TRUE(v.Engine().WaitForIdle(20000));
  CBitmap canvas;
  canvas.Create(W, H, 0xFF000000u);
  EXPECT_TRUE(v.OnPaint(canvas));
  // The centre shows the stored tile there.
  PixelPoint c = LngLatToPixel(120, 36, 1, 10);
  EXPECT_EQ(test::DrawnAt(canvas, W / 2, H / 2).tag, test::TileTag(int(c.x / 256), int(c.y / 256), 10));
  EXPECT_EQ(v.Engine().ScaleBarText(), "10 km");
  EXPECT_FALSE(test::SaveTestArtefact(canvas, "view", "pd_view").empty());
  EXPECT_GT(v.InvalidateCount(), 0u);
}

}  // namespace
}  // namespace velmora

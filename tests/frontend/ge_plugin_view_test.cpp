// The earth plug-in view on the real earth page: Qt WebEngine drawing the globe with WebGL on an X
// server of the program's own (Xvfb, Mesa's software rasteriser), fed by tiles made here (white
// with black dots every half degree) and heights with a 4000 m hill. One view and page serve the
// whole program; the marshalled calls run on workers while the main thread serves the loop.
#include <QCoreApplication>
#include <QApplication>
#include <QFileDialog>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWheelEvent>
#include <QWidget>
#include <zip.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/settings.h"
#include "earth/ui/dlg_ge_plugin_options.h"
#include "earth/ui/earth_link.h"
#include "earth/ui/earth_page.h"
#include "earth/ui/ge_plugin_view.h"
#include "frontend/dialog_window.h"
#include "frontend/window_mirror.h"
#include "frontend_env.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "platform/sync.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialog.h"
#include "platform/ui/tree_ctrl.h"
#include "platform/ui/ui_host.h"
#include "shapes/polygon_shape.h"
#include "shell/map_status_bar.h"
#include "shell/screen_dem_extract.h"
#include "support/earth/earth_page_fixture.h"
#include "tiles/map_view_state.h"
#include "view/dlg_area_setting.h"

namespace velmora {
namespace {

constexpr int kWidth = 1024, kHeight = 768;

using test::kDotSpacing;
using test::kHillLat;
using test::kHillLng;
using test::kHillTop;

const bool kProgramReady = (test::EarthProgram({.screen_width = kWidth, .screen_height = kHeight, .images = true}), true);

// A 2D map standing in for the program's: only its camera is read.
class FakeMap : public IMapViewState {
 public:
  MapCamera GetCamera() const override {
    MapCamera c;
    c.lng = 110.0;
    c.lat = 30.0;
    c.zoom = 8.0;
    return c;
  }
  void GetViewBounds(float tl[2], float br[2]) const override {
    tl[0] = 109, tl[1] = 31, br[0] = 111, br[1] = 29;
  }
  std::vector<MapLayer> CopyLayerList() const override { return {}; }
};

// The window that holds the view, as the main frame's client area does.
class CHost : public CDialog {
 public:
  CHost() : CDialog(Template()) {}
  ~CHost() override {
    if (IsWindow()) DestroyWindow();
  }
  CGEPluginView view;
  CDlgGEPluginOptions panel;

 protected:
  bool OnInitDialog() override {
    view.CreateView(WS_VISIBLE, this);
    panel.CreatePanel(this);
    panel.ShowWindow(SW_HIDE);
    return true;
  }

 private:
  static DialogTemplate Template() {
    DialogTemplate t;
    t.caption = "plug-in";
    t.cx = kWidth;
    t.cy = kHeight;
    return t;
  }
};

class PluginViewTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    SetPageResourceSource("tile", test::DotTile);
    host_ = std::make_unique<CHost>();
    if (!host_->Create(nullptr)) return;
    host_->ShowWindow(SW_SHOW);
    GetUiHost().ShowModeless(*host_);
    host_->MoveWindow(RECT{0, 0, kWidth, kHeight});
    host_->view.MoveWindow(RECT{0, 0, kWidth, kHeight});
    host_->view.SetOptionsPanel(&host_->panel);
    // A camera asked for before the plug-in object came.
    host_->view.SetCamera(kHillLng, kHillLat, 9.0, false);
    asked_altitude_ = ZoomToAltitude(9.0f);
    test::PumpUntil([] { return host_->view.HasPluginObject(); }, 60000);
  }
  static void TearDownTestSuite() {
    host_.reset();
    test::Settle();
  }
  void SetUp() override {
    ASSERT_EQ(test::EarthProgram().xvfb_error, "") << "no X server";
    ASSERT_TRUE(View().HasPluginObject()) << "the page never handed the plug-in object over";
  }

  static CGEPluginView& View() { return host_->view; }
  static CDlgGEPluginOptions& Panel() { return host_->panel; }

  static void OnWorker(const std::function<void()>& work, int ms = 60000) { test::OnWorker(work, ms); }
  // The page's option state, read on this thread.
  static std::map<std::string, double> Options() {
    std::optional<std::map<std::string, double>> got;
    bool done = false;
    View().PluginObject()->GetOptions([&](std::optional<std::map<std::string, double>> o) {
      got = std::move(o);
      done = true;
    });
    test::PumpUntil([&] { return done; }, 10000);
    return got.value_or(std::map<std::string, double>{});
  }
  // Everything streamed for what the page shows now (frames asked for first, on a worker).
  static void Settled() {
    OnWorker([] { EXPECT_TRUE(View().WaitStreaming(nullptr, 30000)); });
  }
  static int ComboSel(int id) {
    auto* combo = Panel().GetDlgItemAs<CComboBox>(id);
    return combo ? combo->GetCurSel() : -2;
  }
  static void RefreshNow() {
    bool done = false;
    View().Refresh([&] { done = true; });
    test::PumpUntil([&] { return done; }, 10000);
  }
  static QImage Grab() {
    CBitmap picture;
    if (!View().Page().Engine().GrabPicture(&picture)) return QImage();
    return QImage(reinterpret_cast<const uchar*>(picture.Pixels()), picture.Width(), picture.Height(),
                  QImage::Format_ARGB32_Premultiplied)
        .copy();
  }

  static inline std::unique_ptr<CHost> host_;
  static inline double asked_altitude_ = 0;
};

// The dark blobs of a picture (8 to 200 pixels, not at the border) and their centres.
std::vector<test::DarkBlob> DarkDots(const QImage& image) {
  auto dark = [&](int x, int y) {
    const QRgb c = image.pixel(x, y);
    return qRed(c) < 96 && qGreen(c) < 96 && qBlue(c) < 96;
  };
  return test::DarkBlobCentres(image.width(), image.height(), dark, 200);
}

TEST_F(PluginViewTest, HandOverFillsThePanelAndAppliesTheAskedCameraOnce) {
  EXPECT_EQ(Panel().GetDlgItemText(1234), "谷歌地球: 1.120\n地球插件: 1.0.0");
  test::PumpUntil([] { return ComboSel(1227) == 2; }, 10000);
  EXPECT_EQ(ComboSel(1225), 0);
  EXPECT_EQ(ComboSel(1226), 2);
  EXPECT_EQ(ComboSel(1227), 2);  // fly-to speed 1.0
  EXPECT_EQ(ComboSel(1228), 0);  // exaggeration 1.0
  // The camera asked for before the hand-over is where the page's view came to rest.
  test::PumpUntil([] { return std::fabs(View().LastCamera()[0] - kHillLng) < 1e-6; }, 10000);
  const std::array<double, 3> c = View().LastCamera();
  EXPECT_NEAR(c[0], kHillLng, 1e-6);
  EXPECT_NEAR(c[1], kHillLat, 1e-6);
  EXPECT_NEAR(c[2], asked_altitude_, 1.0);
  // An exaggeration of 1.2 reads back as entry 1 (its nearest), not 0.
  View().SetTerrainExaggeration(1);
  bool filled = false;
  View().FillPanelOnHandOver([&] { filled = true; });
  test::PumpUntil([&] { return filled; }, 10000);
  EXPECT_EQ(ComboSel(1228), 1);
  View().SetTerrainExaggeration(0);
  // Nothing pushed: a pop does nothing.
  const std::array<double, 3> before = View().LastCamera();
  OnWorker([] { EXPECT_TRUE(View().PopCamera()); });
  double centre[3];
  OnWorker([&] { ASSERT_TRUE(View().GetCenter(centre)); });
  EXPECT_NEAR(centre[0], before[0], 1e-9);
  EXPECT_NEAR(centre[1], before[1], 1e-9);
}

TEST_F(PluginViewTest, OptionsReachThePageAndReadBackIntoThePanel) {
  struct Case {
    int id;
    const char* option;
    double on;
  };
  const Case cases[] = {{1235, "statusBar", 1},     {1236, "historicalImagery", 1}, {1237, "sun", 1},
                        {1238, "layer2", 1},        {1239, "layer3", 1},            {1241, "layer4", 1},
                        {1242, "layer6", 1},        {1243, "grid", 1},              {1244, "atmosphere", 1},
                        {1245, "layer5", 1},        {1246, "scaleLegend", 1},       {1247, "overviewMap", 1}};
  for (const Case& c : cases) {
    View().SetOption(c.id, 1);
    test::PumpUntil([&] { return Panel().IsDlgButtonChecked(c.id) == 1; }, 10000);
    EXPECT_EQ(Options()[c.option], c.on) << c.id;
    EXPECT_EQ(Panel().IsDlgButtonChecked(c.id), 1) << c.id;
  }
  EXPECT_EQ(Options()["timeControl"], 1);
  for (const Case& c : cases) View().SetOption(c.id, 0);
  test::PumpUntil([] { return Panel().IsDlgButtonChecked(1247) == 0; }, 10000);
  for (const Case& c : cases) EXPECT_EQ(Options()[c.option], 0) << c.id;
  // The terrain box goes through the terrain switch: layer flags and panel follow.
  View().SetOption(1240, 0);
  test::PumpUntil([] { return (View().LayerFlags() & kGELayerTerrain) == 0; }, 10000);
  EXPECT_EQ(Options()["layer1"], 0);
  View().SetOption(1240, 1);
  test::PumpUntil([] { return (View().LayerFlags() & kGELayerTerrain) != 0 && Panel().IsDlgButtonChecked(1240); }, 10000);
  EXPECT_EQ(Options()["layer1"], 1);
  // Ids outside the boxes do nothing: no command reaches the page.
  const uint64_t seq = View().Page().Link()->AnsweredSeq();
  View().SetOption(1234, 1);
  View().SetOption(1249, 1);
  test::Settle();
  EXPECT_EQ(View().Page().Link()->AnsweredSeq(), seq);
  // Exaggeration entries 0 and 10; fly-to speed -1 teleports.
  View().SetTerrainExaggeration(10);
  EXPECT_DOUBLE_EQ(Options()["terrainExaggeration"], 3.0);
  View().SetTerrainExaggeration(0);
  EXPECT_DOUBLE_EQ(Options()["terrainExaggeration"], 1.0);
  View().SetOption(1248, 1);
  test::PumpUntil([] { return Panel().IsDlgButtonChecked(1248) == 1; }, 10000);
  EXPECT_EQ(Options()["flyToSpeed"], 5);
  View().SetMapMode(1);
  EXPECT_EQ(Options()["mapType"], 2);
  View().SetMapMode(0);
  View().SetNavigationControl(0);
  EXPECT_EQ(Options()["navigationControl"], 1);
  View().SetNavigationControl(2);
}

TEST_F(PluginViewTest, HitTestsMoveLTAndTheCapture) {
  OnWorker([] {
    ASSERT_TRUE(View().SetFlyToSpeed(-1));
    View().ViewChangeEvent().Reset();
    ASSERT_TRUE(View().SetCameraParam(100.0, 20.0, 550000.0));
    EXPECT_TRUE(View().ViewChangeEvent().Wait(20000));
    ASSERT_TRUE(View().WaitStreaming(nullptr, 30000));
  });
  const QImage picture = Grab();
  ASSERT_FALSE(picture.isNull());
  test::SaveArtefact(picture, "plugin_view_dots");
  const std::vector<test::DarkBlob> dots = DarkDots(picture);
  ASSERT_GE(dots.size(), 20u) << "the dots of the tiles are not in the picture";
  // Both hit tests at dot centres give grid points within a pixel.
  OnWorker([&] {
    for (size_t i = 0; i < dots.size(); i += 5) {
      // The blob's centre in pixel indices; the dot's centre lies half a pixel further.
      const int px = static_cast<int>(std::lround(dots[i].x + 0.5)), py = static_cast<int>(std::lround(dots[i].y + 0.5));
      EarthCoordRecord globe, right, down;
      double terrain[3];
      ASSERT_TRUE(View().GetCoordByPos(px, py, globe, nullptr));
      ASSERT_TRUE(View().GetCoordByPos(px + 1, py, right, nullptr));
      ASSERT_TRUE(View().GetCoordByPos(px, py + 1, down, nullptr));
      ASSERT_TRUE(View().GetCoordByPos(px, py, terrain, nullptr));
      const double dx = std::fabs(right.lng - globe.lng), dy = std::fabs(down.lat - globe.lat);
      EXPECT_LE(std::fabs(globe.lng - std::round(globe.lng / kDotSpacing) * kDotSpacing), 1.5 * dx);
      EXPECT_LE(std::fabs(globe.lat - std::round(globe.lat / kDotSpacing) * kDotSpacing), 1.5 * dy);
      EXPECT_NEAR(terrain[0], globe.lng, 1.5 * dx);
      EXPECT_NEAR(terrain[1], globe.lat, 1.5 * dy);
    }
  });
  // MoveLT brings a grid point to (5, 70); there the picture shows its dot.
  bool moved = false;
  EarthCoordRecord corner;
  OnWorker([&] {
    moved = View().MoveLT(100.5, 20.5);
    ASSERT_TRUE(View().WaitStreaming(nullptr, 30000));
    ASSERT_TRUE(View().GetCoordByPos(5, 70, corner, nullptr));
  });
  ASSERT_TRUE(moved) << View().LastTrace();
  EXPECT_NEAR(corner.lng, 100.5, 1e-6);
  EXPECT_NEAR(corner.lat, 20.5, 1e-6);
  Settled();
  const QImage moved_picture = Grab();
  test::SaveArtefact(moved_picture, "plugin_view_movelt");
  // The dark pixels around (5, 70) centre on it (their pixels' centres lie half a pixel on).
  double sx = 0, sy = 0;
  int n = 0;
  for (int y = 58; y < 82; ++y)
    for (int x = 0; x < 17; ++x) {
      const QRgb c = moved_picture.pixel(x, y);
      if (qRed(c) < 96 && qGreen(c) < 96 && qBlue(c) < 96) sx += x + 0.5, sy += y + 0.5, ++n;
    }
  ASSERT_GE(n, 8) << "no dot at (5, 70) after MoveLT";
  EXPECT_NEAR(sx / n, 5.0, 1.5);
  EXPECT_NEAR(sy / n, 70.0, 1.5);
  // Already there: no move.
  double before[3], after[3];
  OnWorker([&] {
    ASSERT_TRUE(View().GetCenter(before));
    EXPECT_TRUE(View().MoveLT(100.5, 20.5));
    ASSERT_TRUE(View().GetCenter(after));
  });
  EXPECT_EQ(before[0], after[0]);
  EXPECT_EQ(before[1], after[1]);

  // The capture: size, frame, corner texts from the hit tests at the corners.
  std::unique_ptr<CBitmap> shot;
  double l = 0, t = 0, r = 0, b = 0;
  EarthCoordRecord tl, br, bl;
  OnWorker([&] {
    shot = View().CaptureRender();
    ASSERT_TRUE(View().GetCaptureBounds(&l, &t, &r, &b));
    ASSERT_TRUE(View().GetCoordByPos(5, 70, tl, nullptr));
    ASSERT_TRUE(View().GetCoordByPos(kWidth - 83, kHeight - 93, br, nullptr));
    ASSERT_TRUE(View().GetCoordByPos(5, kHeight - 93, bl, nullptr));
    EXPECT_EQ(View().GetCaptureCornerLat(), bl.lat);
    EXPECT_EQ(View().GetCaptureCornerLon(), [] {
      EarthCoordRecord tr;
      View().GetCoordByPos(kWidth - 83, 70, tr, nullptr);
      return tr.lng;
    }());
  });
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(shot->Width(), kWidth - 88);
  EXPECT_EQ(shot->Height(), kHeight - 163);
  EXPECT_EQ(l, tl.lng);
  EXPECT_EQ(t, tl.lat);
  EXPECT_EQ(r, br.lng);
  EXPECT_EQ(b, br.lat);
  EXPECT_EQ(CaptureCornerText(100.5, 20.5), "100.5000000, 20.500000");
  QImage capture(reinterpret_cast<const uchar*>(shot->Pixels()), shot->Width(), shot->Height(),
                 QImage::Format_ARGB32_Premultiplied);
  test::SaveArtefact(capture, "plugin_view_capture");
  // The frame's line (black over white ground) and yellow text at both corners.
  int frame_dark = 0;
  for (int x = 20; x < shot->Width() - 20; ++x)
    frame_dark += ArgbR(shot->GetPixel(x, 5)) < 60 && ArgbR(shot->GetPixel(x, shot->Height() - 6)) < 60;
  EXPECT_GT(frame_dark, (shot->Width() - 40) * 8 / 10);
  auto yellow_in = [&](int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) {
        const Argb c = shot->GetPixel(x, y);
        n += ArgbR(c) > 200 && ArgbG(c) > 200 && ArgbB(c) < 80;
      }
    return n;
  };
  EXPECT_GT(yellow_in(0, 0, 200, 18), 20);
  EXPECT_GT(yellow_in(0, shot->Height() - 20, 200, shot->Height()), 20);

  // The screen terrain: the hill's top under the centre when the camera is over it.
  OnWorker([] {
    ASSERT_TRUE(View().SetCameraParam(kHillLng, kHillLat, 60000.0));
    IScreenTerrainSource* source = View().GetScreenTerrainSource();
    ASSERT_TRUE(source->PrepareTerrain(nullptr));
    int w = 0, h = 0;
    ASSERT_TRUE(source->GetClientSize(&w, &h));
    double lng, lat, alt;
    ASSERT_TRUE(source->ScreenToTerrain(w / 2, h / 2, &lng, &lat, &alt));
    EXPECT_NEAR(lng, kHillLng, 0.01);
    EXPECT_NEAR(alt, kHillTop, kHillTop * 0.02);
    source->FinishTerrain();
  });
}

TEST_F(PluginViewTest, KmlAndKmzFilesFillTheTreeAndTogglesChangeThePicture) {
  test::TempDir files;
  const std::string kml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document>"
      "<name>区域</name><Style id=\"red\"><PolyStyle><color>ff0000ff</color></PolyStyle></Style>"
      "<Placemark><name>红块</name><styleUrl>#red</styleUrl><Polygon><outerBoundaryIs><LinearRing><coordinates>"
      "105.1,25.1,0 105.4,25.1,0 105.4,25.4,0 105.1,25.4,0 105.1,25.1,0</coordinates></LinearRing></outerBoundaryIs>"
      "</Polygon></Placemark><Placemark><name>点</name><Point><coordinates>105.2,25.2,0</coordinates></Point>"
      "</Placemark></Document></kml>\n";
  const std::string kml_path = files.File("area.kml");
  std::ofstream(kml_path) << kml;
  const std::string kmz_path = files.File("area.kmz");
  {
    int error = 0;
    zip_t* zip = zip_open(kmz_path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    ASSERT_NE(zip, nullptr);
    const std::string inner = std::string(kml).replace(kml.find("区域"), std::string("区域").size(), "压缩");
    auto* copy = static_cast<char*>(std::malloc(inner.size()));
    std::memcpy(copy, inner.data(), inner.size());
    zip_source_t* src = zip_source_buffer(zip, copy, inner.size(), 1);
    ASSERT_GE(zip_file_add(zip, "doc.kml", src, ZIP_FL_ENC_UTF_8), 0);
    ASSERT_EQ(zip_close(zip), 0);
  }
  auto open = [](const std::string& path) {
    std::optional<bool> added;
    const bool sent = View().OpenKmz(path, [&](bool ok) { added = ok; });
    if (sent) test::PumpUntil([&] { return added.has_value(); }, 20000);
    return sent && added.value_or(false);
  };
  ASSERT_TRUE(open(kml_path));
  RefreshNow();
  auto* tree = Panel().GetDlgItemAs<CTreeCtrl>(1268);
  ASSERT_NE(tree, nullptr);
  std::vector<std::string> names;
  for (HTREEITEM top : tree->GetChildren(TVI_ROOT)) {
    names.push_back(tree->GetItemText(top));
    for (HTREEITEM child : tree->GetChildren(top)) {
      names.push_back(tree->GetItemText(child));
      for (HTREEITEM leaf : tree->GetChildren(child)) names.push_back(tree->GetItemText(leaf));
    }
  }
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names[0], "区域");
  EXPECT_NE(std::find(names.begin(), names.end(), "红块"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "点"), names.end());
  // The tree is built anew, not appended to, on every refresh.
  const size_t count = tree->GetCount();
  RefreshNow();
  EXPECT_EQ(tree->GetCount(), count);
  EXPECT_EQ(View().Features().size(), count);

  // Toggling the red block's visibility changes the picture.
  Settled();
  auto red_pixels = [](const QImage& image) {
    int n = 0;
    for (int y = 0; y < image.height(); y += 2)
      for (int x = 0; x < image.width(); x += 2) {
        const QRgb c = image.pixel(x, y);
        n += qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80;
      }
    return n;
  };
  const QImage shown = Grab();
  test::SaveArtefact(shown, "plugin_view_kml");
  const int red_before = red_pixels(shown);
  EXPECT_GT(red_before, 100);
  HTREEITEM block = 0;
  for (size_t i = 0; i < View().Features().size(); ++i)
    if (View().Features()[i].name == "红块")
      for (HTREEITEM top : tree->GetChildren(TVI_ROOT))
        for (HTREEITEM child : tree->GetChildren(top))
          if (tree->GetItemData(child) == i) block = child;
  ASSERT_NE(block, 0u);
  std::optional<bool> toggled;
  View().ToggleFeature(*tree, block, [&](bool ok) { toggled = ok; });
  test::PumpUntil([&] { return toggled.has_value(); }, 10000);
  EXPECT_TRUE(toggled.value_or(false));
  Settled();
  // The picture is taken again until the page has drawn the block hidden (or the wait ends).
  QImage hidden;
  test::PumpUntil([&] {
    hidden = Grab();
    return red_pixels(hidden) < red_before / 10;
  }, 10000);
  test::SaveArtefact(hidden, "plugin_view_kml_hidden");
  EXPECT_LT(red_pixels(hidden), red_before / 10);
  int image = -1, selected = -1;
  ASSERT_TRUE(tree->GetItemImage(block, &image, &selected));
  EXPECT_EQ(image, 0);
  // Item data of no feature of the list does nothing.
  tree->SetItemData(block, 999);
  toggled.reset();
  View().ToggleFeature(*tree, block, [&](bool ok) { toggled = ok; });
  test::PumpUntil([&] { return toggled.has_value(); }, 10000);
  EXPECT_FALSE(toggled.value_or(true));

  // A KMZ: its document comes in beside the first.
  ASSERT_TRUE(open(kmz_path));
  RefreshNow();
  std::vector<std::string> tops;
  for (HTREEITEM top : tree->GetChildren(TVI_ROOT)) tops.push_back(tree->GetItemText(top));
  EXPECT_EQ(tops, (std::vector<std::string>{"区域", "压缩"}));

  // A file the plug-in cannot parse adds nothing and moves nothing.
  Settled();
  double before[3], after[3];
  OnWorker([&] { ASSERT_TRUE(View().GetCenter(before)); });
  const std::string bad = files.File("bad.kml");
  std::ofstream(bad) << "this is no kml <<<";
  EXPECT_FALSE(open(bad));
  EXPECT_FALSE(open(files.File("missing.kml")));
  RefreshNow();
  EXPECT_EQ(tree->GetChildren(TVI_ROOT).size(), 2u);
  OnWorker([&] { ASSERT_TRUE(View().GetCenter(after)); });
  EXPECT_EQ(before[0], after[0]);
  EXPECT_EQ(before[1], after[1]);
  EXPECT_EQ(View().LastTrace().rfind("OpenKmz Error", 0), 0u);
  // Clearing removes every feature.
  std::optional<bool> cleared;
  View().ClearFeatures([&](bool ok) { cleared = ok; });
  test::PumpUntil([&] { return cleared.has_value(); }, 10000);
  RefreshNow();
  EXPECT_EQ(tree->GetCount(), 0u);
}

TEST_F(PluginViewTest, PageMessagesToolsAndTheMouse) {
  // Fewer than three numbers, or numbers that are none, change nothing.
  MapStatusBar().SetViewCenter(1, 2, 3);
  EXPECT_FALSE(View().OnViewChange("120.5,36.1"));
  EXPECT_FALSE(View().OnViewChange("120.5,nan,5000"));
  EXPECT_FALSE(View().OnViewChange("120.5,36.1,inf"));
  EXPECT_FALSE(View().OnMouseCoordChange("1,2"));
  EXPECT_FALSE(View().OnViewChangeEnd("a,b,c"));
  EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneLevel), FormatC("%.1f", 3.0));
  const std::string level = FormatC("%.1f", AltitudeToZoom(5000));
  EXPECT_TRUE(View().OnViewChange("120.5,36.1,5000"));
  EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneLevel), level);
  // The same under a locale with a decimal comma.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    MapStatusBar().SetViewCenter(1, 2, 3);
    EXPECT_TRUE(View().OnViewChange("120.5,36.1,5000"));
    EXPECT_EQ(MapStatusBar().PaneText(CMapStatusBar::kPaneLevel), level);
    std::setlocale(LC_NUMERIC, saved.c_str());
  }

  // Tools: the box tool twice is the move tool again.
  auto command = [](UINT id) { View().SendMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0); };
  command(CGEPluginView::ID_TOOL_BOX);
  EXPECT_EQ(View().ToolMode(), CGEPluginView::kToolBox);
  command(CGEPluginView::ID_TOOL_BOX);
  EXPECT_EQ(View().ToolMode(), CGEPluginView::kToolBrowse);

  // The wheel over the page: in mode 8 it comes to the view and moves nothing; in mode 1 it
  // reaches the globe.
  QWidget* web = CWindowMirror::Get().WidgetOf(&View().Page());
  ASSERT_NE(web, nullptr);
  QWidget* render = web->focusProxy() ? web->focusProxy() : web;
  auto wheel = [&] {
    const QPointF at(kWidth / 2.0, kHeight / 2.0);
    for (int i = 0; i < 5; ++i) {
      QWheelEvent event(at, render->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                        Qt::NoScrollPhase, false);
      QCoreApplication::sendEvent(render, &event);
    }
  };
  Settled();
  test::PumpUntil([] { return false; }, 500);
  const double start_alt = View().LastCamera()[2];
  command(CGEPluginView::ID_TOOL_BOX);
  wheel();
  test::PumpUntil([] { return false; }, 1500);
  EXPECT_EQ(View().LastCamera()[2], start_alt);
  command(CGEPluginView::ID_TOOL_BROWSE);
  wheel();
  test::PumpUntil([&] { return View().LastCamera()[2] != start_alt; }, 10000);
  EXPECT_LT(View().LastCamera()[2], start_alt);

  // A band of 10 pixels or less does nothing and keeps the tool.
  command(CGEPluginView::ID_TOOL_BOX);
  View().SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(200, 200));
  View().SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(210, 260));
  View().SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(210, 260));
  test::Settle();
  EXPECT_EQ(View().ToolMode(), CGEPluginView::kToolBox);
  command(CGEPluginView::ID_TOOL_BROWSE);

  // The free region: each click adds the pixel and the point the hit test gives there.
  command(CGEPluginView::ID_TOOL_REGION);
  EXPECT_EQ(View().ToolMode(), CGEPluginView::kToolRegion);
  const std::pair<int, int> clicks[] = {{300, 300}, {500, 320}, {420, 480}};
  for (auto [x, y] : clicks) View().SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(x, y));
  test::PumpUntil([] { return View().FreeRegion() && View().FreeRegion()->PixelPoints().size() == 3; }, 10000);
  ASSERT_NE(View().FreeRegion(), nullptr);
  std::vector<ShapePoint> points;
  View().FreeRegion()->GetPoints(points);
  ASSERT_EQ(points.size(), 3u);
  OnWorker([&] {
    for (size_t i = 0; i < 3; ++i) {
      EarthCoordRecord r;
      ASSERT_TRUE(View().GetCoordByPos(clicks[i].first, clicks[i].second, r, nullptr));
      EXPECT_NEAR(points[i].lng, r.lng, 1e-5);
      EXPECT_NEAR(points[i].lat, r.lat, 1e-5);
    }
  });
  test::PumpUntil([] { return false; }, 300);
  test::SaveArtefact(Grab(), "plugin_view_region");
  View().SendMessage(WM_RBUTTONDOWN, 0, MAKELPARAM(10, 10));
  EXPECT_EQ(View().FreeRegion(), nullptr);
  command(CGEPluginView::ID_TOOL_REGION);
  EXPECT_EQ(View().ToolMode(), CGEPluginView::kToolBrowse);
}

TEST_F(PluginViewTest, BandsOpenTheAreaDialogAndTheElevationExtractionInScreenPixels) {
  Settled();
  // The elevation tools' hook, as they install it: the ring and the source it is handed.
  std::vector<LngLatF> ring;
  IScreenTerrainSource* handed = nullptr;
  SetScreenDemExtractHandler([&](std::span<const LngLatF> pixels, IScreenTerrainSource* source) {
    ring.assign(pixels.begin(), pixels.end());
    handed = source;
    return true;
  });
  auto band = [](int x0, int y0, int x1, int y1) {
    View().SendMessage(WM_LBUTTONDOWN, 0, MAKELPARAM(x0, y0));
    View().SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(x1, y1));
    View().SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(x1, y1));
  };
  auto answer_area = [](float* corners) {
    test::When([] { return test::ModalTitled("区域设定") != nullptr; }, [corners] {
      CDialog& area = *test::ModalTitled("区域设定")->Dialog();
      auto& dialog = static_cast<CDlgAreaSetting&>(area);
      corners[0] = dialog.m_lt[0], corners[1] = dialog.m_lt[1], corners[2] = dialog.m_rb[0], corners[3] = dialog.m_rb[1];
      area.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    });
  };
  View().SendMessage(WM_COMMAND, MAKEWPARAM(CGEPluginView::ID_TOOL_DEM, 0), 0);
  ASSERT_EQ(View().ToolMode(), CGEPluginView::kToolDem);
  float preset[4] = {0, 0, 0, 0};
  answer_area(preset);
  band(100, 120, 400, 380);
  ASSERT_TRUE(test::PumpUntil([&] { return handed != nullptr; }, 20000));
  EXPECT_EQ(handed, View().GetScreenTerrainSource());
  EXPECT_EQ(View().RenderWindow(), View().Page().GetSafeHwnd());
  const std::vector<std::pair<float, float>> expected = {{100, 120}, {400, 120}, {400, 380}, {100, 380}, {100, 120}};
  ASSERT_EQ(ring.size(), expected.size());
  for (size_t i = 0; i < ring.size(); ++i) {
    EXPECT_EQ(ring[i].lng, expected[i].first) << i;
    EXPECT_EQ(ring[i].lat, expected[i].second) << i;
  }
  EXPECT_EQ(View().ToolMode(), CGEPluginView::kToolBrowse);
  // The dialog was preset with the globe's coordinates under the band's corners.
  EarthCoordRecord tl, br;
  OnWorker([&] {
    ASSERT_TRUE(View().GetCoordByPos(100, 120, tl, nullptr));
    ASSERT_TRUE(View().GetCoordByPos(400, 380, br, nullptr));
  });
  EXPECT_NEAR(preset[0], tl.lng, 1e-4);
  EXPECT_NEAR(preset[1], tl.lat, 1e-4);
  EXPECT_NEAR(preset[2], br.lng, 1e-4);
  EXPECT_NEAR(preset[3], br.lat, 1e-4);
  const PointF saved = ProgramSettings().GetPointF("dem_explt", {0, 0});
  EXPECT_NEAR(saved.x, preset[0], 1e-4);
  SetScreenDemExtractHandler({});

  // The box mosaic: the corners go under "exp" and an unfinished job's file goes.
  const std::string resume = AppOptions().data_dir + "gp.exp";
  std::ofstream(resume) << "old job";
  View().SendMessage(WM_COMMAND, MAKEWPARAM(CGEPluginView::ID_TOOL_BOX, 0), 0);
  float box[4] = {0, 0, 0, 0};
  answer_area(box);
  // The export's file dialog follows the area dialog: cancelled, nothing is exported.
  bool export_asked = false;
  test::When([] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()) != nullptr; }, [&export_asked] {
    export_asked = true;
    qobject_cast<QFileDialog*>(QApplication::activeModalWidget())->reject();
  });
  band(200, 200, 300, 300);
  ASSERT_TRUE(test::PumpUntil([&] { return export_asked; }, 20000));
  ASSERT_TRUE(test::PumpUntil([] { return View().ToolMode() == CGEPluginView::kToolBrowse; }, 20000));
  EXPECT_FALSE(std::filesystem::exists(resume));
  const PointF exp = ProgramSettings().GetPointF("explt", {0, 0});
  EXPECT_NEAR(exp.x, box[0], 1e-4);
  EXPECT_NEAR(exp.y, box[1], 1e-4);
}

TEST_F(PluginViewTest, APanelWithoutThePlugInViewSaysSoAndChangesNothing) {
  // No application here: the view cannot be switched to, so the panel's handlers only say so.
  std::vector<std::string> texts;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    texts.push_back(box->text().toStdString());
    box->buttons().front()->click();
  });
  answer.start(20);
  const double grid = Options()["grid"];
  auto* check = Panel().GetDlgItemAs<CButton>(1243);
  ASSERT_NE(check, nullptr);
  check->Click();
  test::PumpUntil([&] { return !texts.empty(); }, 10000);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], CDlgGEPluginOptions::kNeedPluginView);
  EXPECT_EQ(Options()["grid"], grid);
  check->Click();
  test::PumpUntil([&] { return texts.size() == 2; }, 10000);
  // Sized, the panel gives the tree its width and the height above the buttons.
  Panel().MoveWindow(RECT{0, 0, 240, 700});
  Panel().SendMessage(WM_SIZE, 0, MAKELPARAM(240, 700));
  const RECT tree = Panel().GetDlgItem(1268)->GetWindowRect();
  const RECT reset = Panel().GetDlgItem(1278)->GetWindowRect();
  EXPECT_EQ(tree.Width(), 240);
  EXPECT_LT(tree.bottom, reset.top);
  EXPECT_GT(tree.bottom, reset.top - 10);
  EXPECT_LE(reset.bottom, 700);
}

TEST_F(PluginViewTest, WaitingScreenAndAReloadOpenAtTheMapsCamera) {
  FakeMap map;
  SetCurrentMapView(&map);
  View().Reload();
  EXPECT_FALSE(View().HasPluginObject());
  CBitmap waiting;
  ASSERT_TRUE(waiting.Create(kWidth, kHeight));
  ASSERT_TRUE(View().OnPaint(waiting));
  QImage picture(reinterpret_cast<const uchar*>(waiting.Pixels()), kWidth, kHeight, QImage::Format_ARGB32_Premultiplied);
  test::SaveArtefact(picture, "plugin_view_waiting");
  EXPECT_EQ(waiting.GetPixel(3, kHeight - 3), 0xFF000000u);
  int yellow = 0, logo = 0;
  for (int y = 8; y < 30; ++y)
    for (int x = kWidth / 2 - 45; x < kWidth / 2 + 150; ++x) {
      const Argb c = waiting.GetPixel(x, y);
      yellow += ArgbR(c) > 200 && ArgbG(c) > 200 && ArgbB(c) < 80;
    }
  for (int y = kHeight / 2 - 20; y < kHeight / 2 + 20; ++y)
    for (int x = kWidth / 2 - 20; x < kWidth / 2 + 20; ++x) logo += waiting.GetPixel(x, y) != 0xFF000000u;
  EXPECT_GT(yellow, 30);
  EXPECT_GT(logo, 10);
  // The page comes back; with no camera asked for it opens where the 2D map is.
  test::PumpUntil([] { return View().HasPluginObject(); }, 60000);
  ASSERT_TRUE(View().HasPluginObject());
  test::PumpUntil([] { return std::fabs(View().LastCamera()[0] - 110.0) < 1e-6; }, 10000);
  EXPECT_NEAR(View().LastCamera()[0], 110.0, 1e-6);
  EXPECT_NEAR(View().LastCamera()[1], 30.0, 1e-6);
  EXPECT_NEAR(View().LastCamera()[2], ZoomToAltitude(8.0f), 1.0);
  SetCurrentMapView(nullptr);
  EXPECT_FALSE(View().OnPaint(waiting));  // the page shows the globe now
}

}  // namespace
}  // namespace velmora

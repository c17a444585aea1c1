// The plug-in export and the region overlay on the real earth page (Qt WebEngine with WebGL on an
// X server of the program's own, Mesa's software rasteriser): the page hands its plug-in object
// to the controller as the plug-in view does; the overlay shown twice is one placemark with the
// four corners in order, drawn green where the hit tests put the region's edges, and removed by
// FLT_MAX; a 2 x 2 export with a world file joins the page's captures so that GDAL puts the
// tiles' dots on the half-degree grid, none doubled or missing at the seams, with the terrain
// layer off for the shots and on again afterwards.
#include <gdal.h>

#include <QCoreApplication>
#include <QImage>
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <set>
#include <thread>

#include "core/geodesy.h"
#include "core/log.h"
#include "core/projection.h"
#include "core/settings.h"
#include "earth/gp_export_job.h"
#include "earth/gp_export_stand_in.h"
#include "earth/ui/earth_page.h"
#include "earth/ui/earth_plugin_object.h"
#include "earth/ui/ge_plugin_ctrl.h"
#include "earth/ui/gp_plugin_export.h"
#include "earth/ui/region_bound.h"
#include "frontend_env.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/window.h"
#include "support/render_artefacts.h"
#include "support/earth/earth_page_fixture.h"

namespace velmora {
namespace {

constexpr int kScreenWidth = 1024, kScreenHeight = 768;

using test::kDotSpacing;
using test::OnWorker;

const bool kProgramReady = (test::EarthProgram({.screen_width = kScreenWidth, .screen_height = kScreenHeight}), true);

class GpExportPageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::StartDotTileSuite();
  }
  static void TearDownTestSuite() {
    if (ctrl_) ctrl_->SetPluginObject(nullptr);
    if (window_) window_->DestroyWindow();
    CloseEarthApplication();
    test::Settle();
    ctrl_.reset();
    window_.reset();
    test::StopCollectingLog();
  }
  void SetUp() override { ASSERT_EQ(test::EarthProgram().xvfb_error, "") << "no X server"; }
  void TearDown() override {
    if (HasFailure()) test::PrintCollectedLog();
  }

  // The page as the plug-in view holds it: its hand-over gives the controller its plug-in object,
  // the end of each view change sets the controller's event.
  static CGEPluginCtrl& Ctrl() {
    if (!ctrl_) {
      ctrl_ = std::make_unique<CGEPluginCtrl>();
      window_ = std::make_unique<CWnd>();
      EXPECT_TRUE(window_->Create(nullptr, 4, "GEPluginView"));
      ctrl_->AttachMessageWindow(window_.get());
      ctrl_->SetCallTimeout(20000);
      EarthApplication(true);
      CEarthPage* page = EarthApplicationPage();
      EXPECT_NE(page, nullptr);
      if (page) {
        std::shared_ptr<CEarthLink> link = page->Link();
        page->SetMessageListener([link](const std::string& message) {
          const std::string hand_over = "SetGEPluginObject ";
          if (message.rfind(hand_over, 0) == 0)
            ctrl_->SetPluginObject(CEarthPluginObject::FromHandOver(link, message.substr(hand_over.size())));
          else if (message.rfind("OnViewChangeEnd ", 0) == 0)
            ctrl_->ViewChangeEvent().Set();
        });
      }
      EXPECT_TRUE(test::PumpUntil([] { return ctrl_->HasPluginObject(); }, 60000)) << "no plug-in object";
    }
    return *ctrl_;
  }

  // A page call from this (user-interface) thread, waited for while pumping.
  static std::optional<std::string> PageCall(const std::string& command, std::vector<ScriptValue> args) {
    std::optional<std::string> answer;
    bool done = false;
    Ctrl().PluginObject()->Call(command, std::move(args), [&](std::optional<std::string> a) {
      answer = std::move(a);
      done = true;
    });
    EXPECT_TRUE(test::PumpUntil([&] { return done; }, 20000));
    return answer;
  }

  static bool Show(float left, float top, float right, float bottom, std::vector<std::string>* traces = nullptr) {
    bool done = false, ok = false;
    ShowRegionBound(
        Ctrl().PluginObject(), left, top, right, bottom,
        [traces](const std::string& line) {
          if (traces) traces->push_back(line);
        },
        [&](bool result) {
          ok = result;
          done = true;
        });
    EXPECT_TRUE(test::PumpUntil([&] { return done; }, 20000));
    return ok;
  }

  static int OverlaysInTree() {
    std::optional<std::string> lines = PageCall("ge.features", {});
    if (!lines) return -1;
    int count = 0;
    for (const GEPluginFeature& f : ParsePluginFeatures(*lines)) count += f.depth == 0 && f.name == kRegionBoundName;
    return count;
  }

  static std::unique_ptr<CGEPluginCtrl> ctrl_;
  static std::unique_ptr<CWnd> window_;
};
std::unique_ptr<CGEPluginCtrl> GpExportPageTest::ctrl_;
std::unique_ptr<CWnd> GpExportPageTest::window_;

TEST_F(GpExportPageTest, RegionOverlayIsOneGreenPlacemarkReplacedAndRemoved) {
  CGEPluginCtrl& ctrl = Ctrl();
  ASSERT_TRUE(ctrl.HasPluginObject());
  // Nothing to remove yet: nothing happens, nothing fails.
  EXPECT_TRUE(Show(FLT_MAX, 0, 0, 0));
  EXPECT_EQ(OverlaysInTree(), 0);
  ShowRegionBound(nullptr, 117.2f, 37.8f, 117.8f, 37.2f);  // no plug-in object: nothing

  ASSERT_TRUE(Show(117.0f, 38.0f, 118.0f, 37.0f));
  ASSERT_TRUE(Show(117.2f, 37.8f, 117.8f, 37.2f));
  EXPECT_EQ(OverlaysInTree(), 1);
  std::optional<std::string> handle = PageCall("kml.find", {ScriptValue::String(kRegionBoundName)});
  ASSERT_TRUE(handle);
  std::optional<std::string> described = PageCall("kml.describe", {ScriptValue::String(*handle)});
  ASSERT_TRUE(described);
  // name, line colour, fill, the ring (latitude, longitude, altitude) in the overlay's order:
  // (top, left), (top, right), (bottom, right), (bottom, left)
  std::vector<std::string> fields;
  for (size_t from = 0;;) {
    const size_t tab = described->find('\t', from);
    fields.push_back(described->substr(from, tab == std::string::npos ? std::string::npos : tab - from));
    if (tab == std::string::npos) break;
    from = tab + 1;
  }
  ASSERT_EQ(fields.size(), 4u) << *described;
  EXPECT_EQ(fields[0], kRegionBoundName);
  EXPECT_EQ(fields[1], "ff00ff00");
  EXPECT_EQ(fields[2], "0");
  std::string flat = fields[3];
  std::replace(flat.begin(), flat.end(), ';', ',');
  std::optional<std::vector<double>> ring = ParsePluginNumbers(flat, 12, ',');
  ASSERT_TRUE(ring) << fields[3];
  const float expected[12] = {37.8f, 117.2f, 0, 37.8f, 117.8f, 0, 37.2f, 117.8f, 0, 37.2f, 117.2f, 0};
  for (int i = 0; i < 12; ++i) EXPECT_NEAR((*ring)[i], double(expected[i]), 1e-9) << i;

  // Seen from above: green where the hit tests put the region's west and east edges.
  std::unique_ptr<CBitmap> shot;
  double left_px = -1, right_px = -1;
  int row = 0;
  OnWorker([&] {
    ASSERT_TRUE(ctrl.SetCameraParam(117.5, 37.5, 150000.0, 0));
    ASSERT_TRUE(ctrl.WaitStreaming(nullptr, 60000));
    shot = ctrl.CaptureRender();
    // The row of the region's middle latitude, and the pixels of its edges along it.
    int w = 0, h = 0;
    ASSERT_TRUE(ctrl.RenderSize(&w, &h));
    row = h / 2;
    double previous[3] = {0, 0, 0};
    for (int x = 5; x < w - 83; ++x) {
      double here[3];
      if (!ctrl.GetCoordByPos(x, row, here, nullptr)) continue;
      if (x > 5 && previous[0] < 117.2 && here[0] >= 117.2) left_px = x - 5;
      if (x > 5 && previous[0] < 117.8 && here[0] >= 117.8) right_px = x - 5;
      std::copy(here, here + 3, previous);
      x += 3;  // a hit test per few pixels is enough to bracket the edge
    }
  });
  ASSERT_NE(shot, nullptr);
  QImage picture(reinterpret_cast<const uchar*>(shot->Pixels()), shot->Width(), shot->Height(),
                 QImage::Format_ARGB32_Premultiplied);
  test::SaveArtefact(picture, "gp_region_overlay");
  ASSERT_GT(left_px, 0);
  ASSERT_GT(right_px, left_px);
  auto green_near = [&](double px) {
    for (int x = int(px) - 6; x <= int(px) + 6; ++x) {
      const Argb c = shot->GetPixel(x, row - 70);
      const int r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
      if (g > 150 && r < 100 && b < 100) return true;
    }
    return false;
  };
  EXPECT_TRUE(green_near(left_px)) << left_px;
  EXPECT_TRUE(green_near(right_px)) << right_px;
  // No green in the region's middle: no fill.
  EXPECT_FALSE(green_near((left_px + right_px) / 2));

  // FLT_MAX removes it.
  EXPECT_TRUE(Show(FLT_MAX, 0, 0, 0));
  EXPECT_EQ(OverlaysInTree(), 0);
}

TEST_F(GpExportPageTest, TwoByTwoExportPutsTheDotsWhereTheWorldFileSays) {
  CGEPluginCtrl& ctrl = Ctrl();
  ASSERT_TRUE(ctrl.HasPluginObject());
  const std::string data = AppOptions().data_dir;
  std::filesystem::create_directories(data);
  const std::string out = data + "page_export.tif";
  constexpr double kAltitude = 120000.0;
  // The capture's span at the export altitude, for a rectangle of 1.4 x 1.4 captures. Near the
  // equator, where a view's scale hardly changes from one row of shots to the next (a perspective
  // view keeps metres per pixel, a Mercator picture degrees per pixel).
  constexpr double kLeft = 99.9, kTop = 5.1;
  double l = 0, t = 0, r = 0, b = 0;
  OnWorker([&] {
    ASSERT_TRUE(ctrl.SetCameraParam(kLeft + 0.1, kTop - 0.1, kAltitude, 0));
    ASSERT_TRUE(ctrl.WaitStreaming(nullptr, 60000));
    ASSERT_TRUE(ctrl.GetCaptureBounds(&l, &t, &r, &b));
  });
  ASSERT_GT(r, l);
  GpExportParams p;
  p.data_folder = data;
  p.output_path = out;
  p.delay_ms = 500;  // the export dialog's delay lets the finer tiles replace the coarse ones
  p.coordinates = true;
  p.has_rectangle = true;
  p.left = float(kLeft);
  p.top = float(kTop);
  p.right = static_cast<float>(kLeft + 1.4 * (r - l));
  p.bottom = static_cast<float>(MercatorYToLat(MercatorLatToY(kTop, 20) + 1.4 * (MercatorLatToY(b, 20) -
                                                                                    MercatorLatToY(t, 20)), 20));
  p.altitude = kAltitude;
  p.view_change_timeout_ms = 2000;
  CGpPluginExport plugin(ctrl);
  test::RecordingHost host;
  GpExportResult result;
  Event quit;
  std::vector<bool> terrain_during;
  OnWorker([&] { result = RunGpExport(p, plugin, host, quit); });
  ASSERT_TRUE(result.finished) << (host.messages.empty() ? "" : host.messages.back()) << " " << ctrl.LastTrace();
  EXPECT_EQ(result.columns, 2);
  EXPECT_EQ(result.rows, 2);
  EXPECT_TRUE(host.Traced("EnableTerrain FALSE"));
  EXPECT_TRUE(host.Traced("EnableTerrain TRUE"));
  // The terrain layer is on again, in the controller's flags and on the page.
  EXPECT_TRUE(ctrl.LayerFlags() & kGELayerTerrain);
  std::optional<std::string> options = PageCall("ge.options", {});
  ASSERT_TRUE(options);
  EXPECT_EQ(ParsePluginOptions(*options)["layer1"], 1.0);

  // GDAL: the picture, its world file and its projection.
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(out.c_str(), GA_ReadOnly);
  ASSERT_NE(ds, nullptr);
  const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
  double geo[6];
  ASSERT_EQ(GDALGetGeoTransform(ds, geo), CE_None);
  const char* wkt = GDALGetProjectionRef(ds);
  EXPECT_NE(std::string(wkt ? wkt : "").find("Mercator"), std::string::npos);
  std::vector<uint8_t> red(size_t(w) * h);
  ASSERT_EQ(GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, w, h, red.data(), w, h, GDT_Byte, 0, 0), CE_None);
  GDALClose(ds);
  EXPECT_EQ(w, 2 * (kScreenWidth - 88));
  EXPECT_EQ(h, 2 * (kScreenHeight - 163));
  // Every dot on the half-degree grid within 3 pixels of where the world file puts it; every grid
  // point well inside the picture found once (none lost or doubled at the seams).
  // Blobs of up to 800 pixels: the tiles' dots, larger where the globe draws a coarser tile level
  // towards a view's edges.
  const std::vector<test::DarkBlob> dots =
      test::DarkBlobCentres(w, h, [&](int x, int y) { return red[size_t(y) * w + x] < 96; }, 800);
  std::set<std::pair<long, long>> found;
  int misplaced = 0, doubled = 0;
  // Each capture's frame and corner texts (in its outer 12 and 28 pixels) are no dots.
  auto in_frame = [](double x, double y) {
    const double sx = std::fmod(x, kScreenWidth - 88), sy = std::fmod(y, kScreenHeight - 163);
    return sx < 12 || sx > kScreenWidth - 88 - 12 || sy < 28 || sy > kScreenHeight - 163 - 28;
  };
  for (auto [x, y, pixels] : dots) {
    if (in_frame(x, y)) continue;
    const double mx = geo[0] + (x + 0.5) * geo[1], my = geo[3] + (y + 0.5) * geo[5];
    const double lng = mx / 6378137.0 * 180 / M_PI, lat = std::atan(std::sinh(my / 6378137.0)) * 180 / M_PI;
    const long gi = std::lround(lng / kDotSpacing), gj = std::lround(lat / kDotSpacing);
    double gx = gi * kDotSpacing, gy = gj * kDotSpacing;
    ASSERT_TRUE(LonLatToMercator(&gx, &gy));
    const double px = (gx - geo[0]) / geo[1] - 0.5, py = (gy - geo[3]) / geo[5] - 0.5;
    // A dot of a coarser tile level (drawn magnified, over 200 pixels) is placed as coarsely.
    if (std::hypot(px - x, py - y) > (pixels > 200 ? 6.0 : 3.0) && ++misplaced < 4)
      ADD_FAILURE() << "dot at " << x << "," << y << " is " << lng << "," << lat << "; its grid point at " << px << ","
                    << py;
    if (!found.insert({gi, gj}).second) ++doubled;
  }
  EXPECT_EQ(misplaced, 0);
  EXPECT_EQ(doubled, 0);
  int expected = 0;
  for (long gi = long(std::floor((kLeft - 1) / kDotSpacing)); gi <= long(std::ceil((kLeft + 4) / kDotSpacing)); ++gi)
    for (long gj = long(std::floor((kTop - 4) / kDotSpacing)); gj <= long(std::ceil((kTop + 1) / kDotSpacing)); ++gj) {
      double gx = gi * kDotSpacing, gy = gj * kDotSpacing;
      ASSERT_TRUE(LonLatToMercator(&gx, &gy));
      const double px = (gx - geo[0]) / geo[1], py = (gy - geo[3]) / geo[5];
      // Away from the picture's border and the captures' own frame and corner texts.
      if (px < 30 || py < 30 || px > w - 30 || py > h - 30) continue;
      if (in_frame(px, py)) continue;
      ++expected;
      EXPECT_TRUE(found.count({gi, gj})) << gi * kDotSpacing << "," << gj * kDotSpacing;
    }
  EXPECT_GT(expected, 0);
  CBitmap joined;
  ASSERT_TRUE(LoadImageFile(out, &joined));
  QImage shown(reinterpret_cast<const uchar*>(joined.Pixels()), joined.Width(), joined.Height(),
               QImage::Format_ARGB32_Premultiplied);
  test::SaveArtefact(shown.scaled(shown.width() / 2, shown.height() / 2), "gp_export_2x2");
}

}  // namespace
}  // namespace velmora

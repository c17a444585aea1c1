// The earth application on the real earth page: Qt WebEngine drawing the globe with WebGL on an X
// server of the program's own (Xvfb, Mesa's software rasteriser), fed by the program's velmora://
// hosts: tiles made here (white with black dots every half degree), heights from height files
// with a 4000 m hill. The automation runs on a worker thread, as the mosaic's does, while the
// main thread serves the user-interface loop. One page serves the whole program.
#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <QTimer>
#include <gdal.h>
#include <QImage>
#include <cmath>
#include <filesystem>
#include <thread>

#include "core/log.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "earth/ui/earth_link.h"
#include "earth/ge_mosaic_job.h"
#include "earth/mosaic_assemble.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "earth/ui/earth_page.h"
#include "earth/ui/google_earth_app.h"
#include "frontend_env.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "platform/sync.h"
#include "support/earth/earth_page_fixture.h"

namespace velmora {
namespace {

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;
constexpr double kMicroDegree = 1e-6;

using test::kDotSpacing;
using test::kHillLat;
using test::kHillLng;
using test::kHillTop;
using test::OnWorker;

// Before main: the X server must be there before the desktop session makes the QApplication.
const bool kProgramReady = (test::EarthProgram({.screen_width = kScreenWidth, .screen_height = kScreenHeight}), true);

class EarthAppTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    test::StartDotTileSuite();
  }
  static void TearDownTestSuite() {
    CloseEarthApplication();
    test::Settle();
    test::StopCollectingLog();
  }
  void SetUp() override {
    ASSERT_EQ(test::EarthProgram().xvfb_error, "") << "no X server";
    Stop().Reset();
  }
  void TearDown() override {
    if (HasFailure()) test::PrintCollectedLog();
  }
  static Event& Stop() {
    static Event stop;
    return stop;
  }

  // The application, made once per program on a worker.
  static CGoogleEarthApp& App() {
    static std::unique_ptr<CGoogleEarthApp> app;
    if (!app) {
      OnWorker([] {
        try {
          app = std::make_unique<CGoogleEarthApp>(&Stop());
        } catch (const CEarthError& e) {
          ADD_FAILURE() << e.what();
        }
      });
    }
    if (!app) throw std::runtime_error("no earth application");
    return *app;
  }
};

TEST_F(EarthAppTest, StartsWithWebGlAndLoadsOnlyOurAddresses) {
  CGoogleEarthApp& app = App();
  std::shared_ptr<CEarthLink> link = EarthApplication(false);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->Version(), "1.120");
  EXPECT_FALSE(link->Renderer().empty());
  std::printf("earth page: library %s, WebGL renderer %s\n", link->Version().c_str(), link->Renderer().c_str());
  EXPECT_EQ(app.VersionMajor(), 1);
  EXPECT_EQ(app.VersionMinor(), 120);
  int w = 0, h = 0;
  OnWorker([&] { EXPECT_TRUE(app.GetClientSize(&w, &h)); });
  EXPECT_EQ(w, kScreenWidth);
  EXPECT_EQ(h, kScreenHeight);
  for (const std::string& line : test::CollectedLog()) EXPECT_EQ(line.find("blocked request"), std::string::npos) << line;
}

TEST_F(EarthAppTest, CameraSetIsCameraRead) {
  CGoogleEarthApp& app = App();
  OnWorker([&] {
    // Straight down, the focus is exact; tilted, the ray meets the terrain mesh, whose flat
    // triangles lie up to about half a metre under the ellipsoid at these tile sizes.
    app.SetCameraParams(20.25, 100.5, 0.0, 2, 200000.0, 0.0, 0.0, 4.0);
    ASSERT_TRUE(app.WaitPicture());
    EarthCamera c = app.GetCamera();
    EXPECT_NEAR(c.lng, 100.5, kMicroDegree);
    EXPECT_NEAR(c.lat, 20.25, kMicroDegree);
    EXPECT_NEAR(c.range, 200000.0, 1.0);
    EXPECT_NEAR(c.tilt, 0.0, kMicroDegree);
    app.SetCameraParams(20.25, 100.5, 0.0, 2, 200000.0, 30.0, 40.0, 5.0);
    ASSERT_TRUE(app.WaitPicture());
    c = app.GetCamera();
    EXPECT_NEAR(c.lng, 100.5, 1e-5);
    EXPECT_NEAR(c.lat, 20.25, 1e-5);
    EXPECT_NEAR(c.range, 200000.0, 2.0);
    EXPECT_NEAR(c.tilt, 30.0, 1e-3);
    EXPECT_NEAR(c.azimuth, 40.0, 1e-3);
    // Set back what was read: the same camera again.
    app.SetCamera(c, 4.0);
    ASSERT_TRUE(app.WaitPicture());
    EarthCamera again = app.GetCamera();
    EXPECT_NEAR(again.lng, c.lng, kMicroDegree);
    EXPECT_NEAR(again.lat, c.lat, kMicroDegree);
    EXPECT_NEAR(again.tilt, c.tilt, kMicroDegree);
    EXPECT_NEAR(again.azimuth, c.azimuth, kMicroDegree);
    double param[3];
    app.GetCameraParam(param);
    EXPECT_NEAR(param[0], c.lng, kMicroDegree);
    EXPECT_NEAR(param[2], c.range, 1e-3);
  });
}

TEST_F(EarthAppTest, StepCameraFliesAboveOrOverTheTerrain) {
  CGoogleEarthApp& app = App();
  OnWorker([&] {
    // Absolute: the camera 20 km above the sea over the hill's top, 16 km above the terrain.
    ASSERT_TRUE(app.StepCamera(kHillLng, kHillLat, 20000.0, true));
    EarthCamera c = app.GetCamera();
    EXPECT_NEAR(c.lng, kHillLng, kEarthFocusTolerance);
    EXPECT_NEAR(c.lat, kHillLat, kEarthFocusTolerance);
    EXPECT_NEAR(c.alt, kHillTop, kHillTop * 0.01);
    EXPECT_NEAR(c.range, 20000.0 - kHillTop, kHillTop * 0.01);
    EXPECT_GT(app.LngStepPerPixel(), 0);
    EXPECT_GT(app.LatStepPerPixel(), 0);
    // Relative: 20 km above the terrain.
    ASSERT_TRUE(app.StepCamera(kHillLng, kHillLat, 20000.0, false));
    c = app.GetCamera();
    EXPECT_NEAR(c.range, 20000.0, kHillTop * 0.01);
    // The hill's top under the centre, within 1 %.
    double p[3];
    int w = 0, h = 0;
    ASSERT_TRUE(app.GetClientSize(&w, &h));
    app.GetCoordByPos(w / 2, h / 2, p);
    EXPECT_NEAR(p[2], kHillTop, kHillTop * 0.01);
    // Already there: the camera does not move.
    const EarthCamera before = app.GetCamera();
    ASSERT_TRUE(app.StepCamera(kHillLng, kHillLat, 20000.0, false));
    const EarthCamera after = app.GetCamera();
    EXPECT_NEAR(after.lng, before.lng, 1e-9);
    EXPECT_NEAR(after.lat, before.lat, 1e-9);
    EXPECT_NEAR(after.range, before.range, 1e-3);
  });
}

TEST_F(EarthAppTest, CaptureShowsTheDotsWhereHitTestsPutThem) {
  CGoogleEarthApp& app = App();
  std::unique_ptr<CBitmap> shot;
  OnWorker([&] {
    ASSERT_TRUE(app.StepCamera(100.0, 20.0, 550000.0, true));
    shot = app.CaptureRender();
  });
  ASSERT_NE(shot, nullptr);
  EXPECT_EQ(shot->Width(), kScreenWidth - 88);
  EXPECT_EQ(shot->Height(), kScreenHeight - 163);
  QImage picture(reinterpret_cast<const uchar*>(shot->Pixels()), shot->Width(), shot->Height(),
                 QImage::Format_ARGB32_Premultiplied);
  test::SaveArtefact(picture, "earth_capture");
  // The dark blobs of the picture and their centres.
  const int w = shot->Width(), h = shot->Height();
  const std::vector<test::DarkBlob> dots = test::DarkBlobCentres(
      w, h,
      [&](int x, int y) {
        const Argb c = shot->GetPixel(x, y);
        return ArgbR(c) < 96 && ArgbG(c) < 96 && ArgbB(c) < 96;
      },
      200);
  ASSERT_GE(dots.size(), 20u) << "the dots of the tiles are not in the picture";
  // Every dot lies where the hit test of its centre says a grid point is, within a pixel (of the
  // scale there: the view is a perspective of a curved globe).
  OnWorker([&] {
    int w = 0, h = 0;
    ASSERT_TRUE(app.GetClientSize(&w, &h));
    // Through the screen-terrain interface the elevation tools use (render-window pixels).
    IScreenTerrainSource& source = app;
    ASSERT_TRUE(source.PrepareTerrain(nullptr));
    auto pick = [&](double px, double py, double out[3]) {
      ASSERT_TRUE(source.ScreenToTerrain(px, py, &out[0], &out[1], &out[2])) << px << "," << py;
    };
    // The same point through the normalised call.
    double through_interface[3], normalised[3];
    pick(100.5, 200.5, through_interface);
    app.GetTerrainAltitude((100.5 - w / 2.0) / (w / 2.0), (h / 2.0 - 200.5) / (h / 2.0), &normalised[0], &normalised[1],
                           &normalised[2]);
    EXPECT_NEAR(through_interface[0], normalised[0], kMicroDegree);
    EXPECT_NEAR(through_interface[1], normalised[1], kMicroDegree);
    for (size_t i = 0; i < dots.size(); i += 2) {
      const double x = dots[i].x, y = dots[i].y;
      // Pixel i covers [i, i + 1): its centre is i + 0.5.
      const double px = x + 0.5 + kCaptureLeft, py = y + 0.5 + kCaptureTop;
      double p[3], right[3], down[3];
      pick(px, py, p);
      pick(px + 1, py, right);
      pick(px, py + 1, down);
      const double grid_lng = std::round(p[0] / kDotSpacing) * kDotSpacing;
      const double grid_lat = std::round(p[1] / kDotSpacing) * kDotSpacing;
      EXPECT_LE(std::fabs(p[0] - grid_lng) / std::fabs(right[0] - p[0]), 1.0) << "dot at " << x << "," << y << ": " << p[0] - grid_lng << ", " << p[1] - grid_lat;
      EXPECT_LE(std::fabs(p[1] - grid_lat) / std::fabs(down[1] - p[1]), 1.0) << "dot at " << x << "," << y << ": " << p[0] - grid_lng << ", " << p[1] - grid_lat;
    }
    // And the capture's corners are where GetCaptureBounds says.
    double l, t, r, b;
    app.GetCaptureBounds(&l, &t, &r, &b);
    EXPECT_LT(l, 100.0);
    EXPECT_GT(r, 100.0);
    EXPECT_GT(t, 20.0);
    EXPECT_LT(b, 20.0);
    EXPECT_DOUBLE_EQ(app.GetCaptureCornerLon(), r);
    EXPECT_DOUBLE_EQ(app.GetCaptureCornerLat(), b);
  });
}


// Answers every message box with its first button and keeps the texts, as long as it lives.
class BoxAnswerer {
 public:
  BoxAnswerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isVisible()) return;
      texts.push_back(box->text().toStdString());
      box->buttons().front()->click();
    });
    timer_.start(50);
  }
  std::vector<std::string> texts;

 private:
  QTimer timer_;
};

// The dark blobs' centres of a raster read by GDAL (3 bands).
std::vector<test::DarkBlob> DarkBlobs(const std::string& path, int* width, int* height, double geo[6]) {
  std::vector<test::DarkBlob> dots;
  GDALAllRegister();
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  if (!ds) return dots;
  const int w = GDALGetRasterXSize(ds), h = GDALGetRasterYSize(ds);
  *width = w;
  *height = h;
  if (GDALGetGeoTransform(ds, geo) != CE_None) geo[1] = 0;
  std::vector<uint8_t> red(size_t(w) * h);
  const CPLErr read = GDALRasterIO(GDALGetRasterBand(ds, 1), GF_Read, 0, 0, w, h, red.data(), w, h, GDT_Byte, 0, 0);
  GDALClose(ds);
  if (read != CE_None) return dots;
  return test::DarkBlobCentres(w, h, [&](int x, int y) { return red[size_t(y) * w + x] < 96; }, 200);
}

TEST_F(EarthAppTest, MosaicJobsJoinGeoreferencedStopAndResume) {
  App();
  BoxAnswerer boxes;
  // A 600 x 500 screen: the dialog and its render window are 432 x 350, the capture 344 x 187.
  SetGeMosaicScreenSize(600, 500);
  const std::string data = AppOptions().data_dir;
  const std::string out = data + "mosaic.tif";
  auto job = [&](CDlgGEMosaic& dlg) {
    dlg.job.output_path = out;
    dlg.job.coordinates = 1;
    dlg.job.left = 100.1f;
    dlg.job.top = 20.6f;
    dlg.job.right = 101.2f;
    dlg.job.bottom = 19.9f;
    dlg.job.altitude = 100000.0f;
  };
  {
    CDlgGEMosaic dlg;
    job(dlg);
    dlg.DoModal();
    ASSERT_TRUE(dlg.Finished());
    EXPECT_EQ(dlg.WrittenPath(), out);
    EXPECT_GE(dlg.Columns(), 2);
    EXPECT_GE(dlg.Rows(), 2);
  }
  EXPECT_NE(std::find(boxes.texts.begin(), boxes.texts.end(), kGeMosaicDone), boxes.texts.end());
  EXPECT_TRUE(std::filesystem::exists(data + kGeListFile));
  EXPECT_FALSE(std::filesystem::exists(data + kGeResumeFile));
  EXPECT_TRUE(std::filesystem::exists(data + "mosaic.prj"));
  GeMosaicList list;
  ASSERT_TRUE(ReadGeListFile(data + kGeListFile, &list));
  int w = 0, h = 0;
  double geo[6] = {};
  std::vector<test::DarkBlob> dots = DarkBlobs(out, &w, &h, geo);
  // The shots are the capture rectangles of the render window (432 wide, its height less a
  // pixel or so of the holder's frame): 344 wide, its height less 163 high.
  int shot_w = 0, shot_h = 0;
  double unused[6];
  DarkBlobs(MosaicShotPath(data, "ge", 0, 0), &shot_w, &shot_h, unused);
  EXPECT_EQ(shot_w, 344);
  EXPECT_NEAR(shot_h, 187, 2);
  EXPECT_EQ(w, int(list.columns) * shot_w);
  EXPECT_EQ(h, int(list.rows) * shot_h);
  ASSERT_GT(geo[1], 0) << "GDAL found no world file";
  EXPECT_LT(geo[5], 0);
  ASSERT_GE(dots.size(), 4u);
  // Each dot where the world file puts a grid point, within 3 pixels.
  for (const test::DarkBlob& dot : dots) {
    const double x = dot.x, y = dot.y;
    const double mx = geo[0] + (x + 0.5) * geo[1], my = geo[3] + (y + 0.5) * geo[5];
    const double lng = mx / 6378137.0 * 180 / M_PI;
    const double lat = (2 * std::atan(std::exp(my / 6378137.0)) - M_PI / 2) * 180 / M_PI;
    const double gx = std::round(lng / kDotSpacing) * kDotSpacing, gy = std::round(lat / kDotSpacing) * kDotSpacing;
    const double gmx = gx * M_PI / 180 * 6378137.0;
    const double gmy = std::log(std::tan(M_PI / 4 + gy * M_PI / 360)) * 6378137.0;
    EXPECT_LE(std::fabs(gmx - mx) / geo[1], 3.0) << "dot at " << x << "," << y;
    EXPECT_LE(std::fabs(gmy - my) / -geo[5], 3.0) << "dot at " << x << "," << y;
  }

  // Stopped after its first shot: "ge.exp" written, no "ge.lst"; the next dialog resumes there.
  std::filesystem::remove(MosaicShotPath(data, "ge", 1, 1));
  {
    CDlgGEMosaic dlg;
    job(dlg);
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
      if (std::filesystem::exists(MosaicShotPath(data, "ge", 1, 0))) dlg.OnCancel();
    });
    std::filesystem::remove(MosaicShotPath(data, "ge", 1, 0));
    cancel.start(20);
    dlg.DoModal();
    EXPECT_TRUE(dlg.Stopped());
    EXPECT_FALSE(dlg.Finished());
  }
  EXPECT_FALSE(std::filesystem::exists(data + kGeListFile));
  GeMosaicJob stored;
  ASSERT_TRUE(ReadGeResumeFile(data + kGeResumeFile, &stored));
  EXPECT_EQ(stored.output_path, out);
  EXPECT_GE(stored.column + stored.row, 1u);
  {
    CDlgGEMosaic dlg;
    job(dlg);
    dlg.DoModal();
    EXPECT_TRUE(dlg.Finished());
  }
  EXPECT_FALSE(std::filesystem::exists(data + kGeResumeFile));
  int w2 = 0, h2 = 0;
  double geo2[6] = {};
  DarkBlobs(out, &w2, &h2, geo2);
  EXPECT_EQ(w2, w);
  EXPECT_EQ(h2, h);
  EXPECT_NEAR(geo2[0], geo[0], geo[1]);
  EXPECT_NEAR(geo2[3], geo[3], geo[1]);

  // A retake writes the output's type over one shot.
  {
    CDlgGEMosaic dlg;
    job(dlg);
    dlg.retake_column = 0;
    dlg.retake_row = 1;
    dlg.DoModal();
  }
  std::optional<std::vector<uint8_t>> retaken = ReadFileBytes(MosaicShotPath(data, "ge", 0, 1));
  ASSERT_TRUE(retaken);
  EXPECT_EQ(DetectImageType(retaken->data(), retaken->size()), ImageType::kTiff);
  MosaicAssembleOptions join;
  join.folder = data;
  EXPECT_EQ(MosaicAssemble(data + "again.png", "ge", int(list.columns), int(list.rows), join), MosaicResult::kWritten);
  // The page is back in the application window at its own size.
  std::shared_ptr<CEarthLink> link = EarthApplication(false);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(test::PumpUntil([&] { return link->State().width == kScreenWidth; }, 5000));
}

TEST_F(EarthAppTest, TemporaryPlacesHideByDocumentName) {
  CGoogleEarthApp& app = App();
  test::TempDir kml;
  auto document = [&](const std::string& name) {
    const std::string path = kml.File(name + ".kml");
    test::WriteTestFile(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                              "<kml xmlns=\"http://www.opengis.net/kml/2.2\"><Document><name>" + name +
                              "</name><Placemark><name>p</name><Point><coordinates>100,20,0</coordinates></Point>"
                              "</Placemark></Document></kml>\n");
    return path;
  };
  std::shared_ptr<CEarthLink> link = EarthApplication(false);
  ASSERT_NE(link, nullptr);
  OnWorker([&] {
    ASSERT_TRUE(app.OpenKmlFile(document("region_bound_1")));
    ASSERT_TRUE(app.OpenKmlFile(document("other")));
    EXPECT_FALSE(app.OpenKmlFile(kml.File("missing.kml")));
    ASSERT_TRUE(app.WaitPicture());
    auto names = [&] { return link->Call("kmlNames", {}, nullptr, 10000).value_or("?"); };
    EXPECT_EQ(names(), "1region_bound_1\n1other");
    app.HideTemporaryPlaces("region_bound");
    EXPECT_EQ(names(), "0region_bound_1\n1other");
    app.HideTemporaryPlaces(nullptr);
    EXPECT_EQ(names(), "0region_bound_1\n0other");
  });
}

TEST_F(EarthAppTest, StopEndsAWaitAtTheNextPoll) {
  CGoogleEarthApp& app = App();
  OnWorker([&] {
    Event stop;
    CGoogleEarthApp job(app.GetRenderHwnd(), &stop);
    job.SetCameraParams(21.0, 101.0, 0.0, 2, 300000.0, 0.0, 0.0, 4.0);  // a flight: not yet 100
    stop.Set();
    const int polls = job.PollCount();
    EXPECT_FALSE(job.WaitPicture());
    EXPECT_EQ(job.PollCount() - polls, 1);
    EXPECT_FALSE(job.StepCamera(102.0, 22.0, 5000.0, true));
  });
}

TEST_F(EarthAppTest, ZClosedApplicationGivesTheDefaultCamera) {
  CGoogleEarthApp& app = App();
  CloseEarthApplication();
  test::Settle();
  OnWorker([&] {
    double param[3];
    app.GetCameraParam(param);
    EXPECT_EQ(param[0], 120.0);
    EXPECT_EQ(param[1], 36.0);
    EXPECT_EQ(param[2], 100000.0);
    EXPECT_THROW(app.GetCamera(), CEarthError);
    int w, h;
    EXPECT_FALSE(app.GetClientSize(&w, &h));
  });
}

}  // namespace
}  // namespace velmora

// The elevation grid panel with its worker: a region run over real height files painted while the
// user-interface thread paints the panel, then contoured and drawn; a run stopped while the web
// elevation service holds its reply; the million question answered "No"; an import shown in the
// coordinate list and kept through a count refresh; exports that cannot be written. Built and run
// under ThreadSanitizer as well.
#include "velmora_build_paths.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <atomic>
#include <filesystem>

#include "core/format.h"
#include "core/page_options.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "platform/text.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/counting_screen.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/dem_files.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file.h"
#include "terrain/height_file_writer.h"
#include "terrain/ui/dem_grid_ctrl.h"
#include "tiles/screen_terrain_source.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;

// Private settings and data folders, pointed at before the settings are first read.
const test::TempDir& kFolders = test::IsolatedFolders();
constexpr unsigned kWait = 30000;  // upper bound of a wait; the tests end long before

// A hill on 116.0-116.1 E, 39.9-40.0 N.
double Hill(double lon, double lat) { return 400 + 300 * std::exp(-(std::pow((lon - 116.05) * 40, 2) + std::pow((lat - 39.95) * 40, 2))); }

class PanelEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    UpdateAppOptions([](CAppOptions& o) { o.program_dir = kFolders.File("program/"); });
    HeightGridLayout layout = HeightLayout3s(60, 5);
    layout.height = 150;
    ASSERT_TRUE(WriteHeightSamples(
        AppOptions().program_dir + "data/" + CHeightFile::FileName(CHeightFile3s::TileNumber(60, 5), kHeightFileSmh),
        BuildHeightGrid(layout, Hill)));
  }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new PanelEnvironment);

class DemPanelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    ASSERT_TRUE(parent.Create(nullptr, 0, "提取高程", 0));
    parent.MapMessage(CDemGridCtrl::kMsgExtractFinished, [this](WPARAM stopped, LPARAM) {
      finished.push_back(static_cast<int>(stopped));
      return LRESULT{0};
    });
    ASSERT_TRUE(panel.Create(&parent, 1510, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 320, 240}));
  }
  void TearDown() override {
    panel.StopDemData();
    panel.DestroyWindow();
    parent.DestroyWindow();
    SetUiHost(nullptr);
  }
  PageOptions Options(int method, int colour_mode) {
    PageOptions o = GetPageOptions();
    o.dem.contour_method = method;
    o.dem.contour_color_mode = colour_mode;
    return o;
  }

  CHeadlessUiHost host;
  CWnd parent;
  CDemGridCtrl panel;
  std::vector<int> finished;
};

int CountColour(const CBitmap& b, Argb colour) {
  int n = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) n += b.GetPixel(x, y) == colour;
  return n;
}

TEST_F(DemPanelTest, ARegionRunIsPaintedWhileItSamplesThenContouredAndDrawn) {
  ScopedAppOptions srtm([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
  ScopedPageOptions options(Options(0, 2));
  const int before = DemSampleCounter().load();
  ASSERT_TRUE(panel.SetDemData(std::vector<LngLatF>{{116.0f, 40.0f}, {116.1f, 40.0f}, {116.1f, 39.9f}, {116.0f, 39.9f}}, 100));
  ASSERT_TRUE(panel.OnSetDemData());
  EXPECT_TRUE(panel.IsReady());  // a region run is ready from its start
  CBitmap canvas;
  ASSERT_TRUE(canvas.Create(320, 240));
  ASSERT_TRUE(UiDispatcher().PumpUntil(
      [&] {
        panel.OnPaint(canvas);  // painting while the worker samples
        return !finished.empty();
      },
      kWait));
  EXPECT_EQ(finished, std::vector<int>{0});
  EXPECT_FALSE(panel.LastRunStopped());
  const CDemGrid& data = panel.Data();
  const int64_t nodes = static_cast<int64_t>(data.tracer.nx()) * data.tracer.ny();
  EXPECT_EQ(nodes, 112 * 112);
  EXPECT_EQ(static_cast<int64_t>(data.points.size()), nodes);
  EXPECT_GE(DemSampleCounter().load() - before, nodes);
  panel.OnPaint(canvas);
  EXPECT_GT(CountColour(canvas, kDemDotFile), 5000);  // the blue dots of the height files

  ASSERT_EQ(panel.ComputeContours(0, 50), ContourStatus::kOk);
  ASSERT_GE(panel.Pens().size(), 4u);
  EXPECT_EQ(panel.Pens()[0], 0xFFFF0000u);
  EXPECT_FALSE(panel.DrawRecords().empty());
  panel.OnPaint(canvas);
  SaveImageFile(canvas, VELMORA_BUILD_DIR "/test-artifacts/dem_grid_panel.png");  // for a look
  // The 450 m ring in red, the 500 m ring in orange, drawn round the hill's top in the middle.
  EXPECT_GT(CountColour(canvas, 0xFFFF0000u), 100);
  EXPECT_GT(CountColour(canvas, 0xFFFF7A00u), 100);
  for (const DemDrawRecord& record : panel.DrawRecords())
    for (const GfxPoint& p : record.points) {
      EXPECT_GE(p.x, -0.01f);
      EXPECT_LE(p.x, 320.01f);
    }
  // The counter is drawn in black at the top left.
  int dark = 0;
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 80; ++x) dark += (canvas.GetPixel(x, y) & 0xFFFFFFu) < 0x404040u;
  EXPECT_GT(dark, 10);

  // The cache of the extraction and its message-free round trip.
  const std::string cache = kFolders.File("dem_exp.hdt");
  ASSERT_TRUE(panel.SaveDemCache(cache));
  panel.Clear();
  EXPECT_TRUE(panel.Data().points.empty());
  ASSERT_TRUE(panel.LoadDemCache(cache));
  EXPECT_EQ(static_cast<int64_t>(panel.Data().points.size()), nodes);
  EXPECT_TRUE(panel.IsReady());
}

TEST_F(DemPanelTest, AStopEndsARunWhoseWebRequestIsHeldAndKeepsWhatWasSampled) {
  test::HttpTestServer server;
  std::atomic<int> asked{0};
  server.RoutePrefix("/maps/api/elevation/json", [&asked](const HttpRequestRecord&) {
    if (asked++ < 3) {
      return HttpReply::Ok("{\"results\":[{\"elevation\":7.0,\"location\":{\"lat\":1.0,\"lng\":1.0}}],\"status\":\"OK\"}",
                           "application/json");
    }
    return HttpReply::Delayed(600000, HttpReply::Ok("{}"));
  });
  WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
  ScopedAppOptions web([](CAppOptions& o) {
    o.dem_source_mode = kDemSourceGoogle;
    o.http_timeout_ms = 900000;
  });
  ScopedPageOptions options(Options(0, 0));
  ASSERT_TRUE(panel.SetPoints({-20.0f, 10.0f}, {-19.99f, 10.01f}, 200));
  ASSERT_TRUE(panel.OnSetDemData());
  ASSERT_TRUE(server.WaitForRequests(4, kWait));
  // The fourth request is held for ten minutes and the time-out is longer: only the stop ends it.
  EXPECT_TRUE(panel.StopDemData(3000));
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return !finished.empty(); }, kWait));
  EXPECT_EQ(finished, std::vector<int>{1});
  EXPECT_TRUE(panel.LastRunStopped());
  EXPECT_EQ(panel.Data().points.size(), 3u);
  EXPECT_EQ(panel.Data().tracer.Value(0, 0), 7.0f);
  EXPECT_TRUE(std::isnan(panel.Data().tracer.Value(0, 3)));
  WriteProfileString(kElevationProfileSection, kElevationHostKey, "");
}

using test::CountingScreen;

TEST_F(DemPanelTest, AScreenRunSamplesTheViewThatHandedOverThePointsAndIsReadyAtItsEnd) {
  ScopedPageOptions options(Options(0, 0));
  CountingScreen screen;
  ASSERT_TRUE(panel.LoadScreenPoints(std::vector<LngLatF>{{100, 100}, {900, 100}, {900, 700}, {100, 700}}, 20, &screen));
  ASSERT_TRUE(panel.OnSetDemData());
  EXPECT_FALSE(panel.IsReady());  // a screen run is ready only when it ends unstopped
  CBitmap canvas;
  ASSERT_TRUE(canvas.Create(320, 240));
  ASSERT_TRUE(UiDispatcher().PumpUntil(
      [&] {
        panel.OnPaint(canvas);
        return !finished.empty();
      },
      kWait));
  EXPECT_TRUE(panel.IsReady());
  EXPECT_EQ(screen.asked.load(), 41 * 31);
  EXPECT_EQ(screen.prepared.load(), 1);
  EXPECT_EQ(screen.finished.load(), 1);
  EXPECT_EQ(panel.Data().points.size(), 41u * 31u);
  ASSERT_EQ(panel.ComputeContours(0, 100), ContourStatus::kOk);
  // alt = 100 + x: straight lines of constant longitude, north to south across the panel.
  for (const DemDrawRecord& record : panel.DrawRecords()) {
    ASSERT_GE(record.points.size(), 2u);
    EXPECT_NEAR(record.points.front().x, record.points.back().x, 0.01);
    EXPECT_NEAR(std::fabs(record.points.front().y - record.points.back().y), 240, 0.01);
  }
  EXPECT_EQ(panel.DrawRecords().size(), 7u);  // 200, 300, ..., 800 m
}

TEST_F(DemPanelTest, NoToTheMillionQuestionChangesNothing) {
  ScopedPageOptions options(Options(1, 0));
  ASSERT_TRUE(panel.SetDemData(std::vector<LngLatF>{{100, 30}, {101, 30}, {101, 31}, {100, 31}}, 50));
  host.AnswerMessageBox(IDNO);
  EXPECT_EQ(panel.SampleCount(), -1);
  EXPECT_EQ(host.LastMessage(), "提取点数预计会超过百万,计算缓慢\n是否继续?");
  EXPECT_TRUE(panel.Data().positions.empty());
  host.AnswerMessageBox(IDNO);
  EXPECT_FALSE(panel.OnSetDemData());  // a run needs the positions: declined again, nothing starts
  EXPECT_FALSE(panel.IsRunning());
}

TEST_F(DemPanelTest, AGridBeyondMemoryEndsTheRunWithAMessage) {
  ScopedPageOptions options(Options(0, 0));
  // 1 m over a degree: about 1.2e10 nodes.
  ASSERT_TRUE(panel.SetPoints({100, 31}, {101, 30}, 1));
  ASSERT_TRUE(panel.OnSetDemData());
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return !finished.empty(); }, kWait));
  EXPECT_EQ(host.LastMessage(), CDemGridCtrl::kOutOfMemory);
  EXPECT_FALSE(panel.LastRunError().empty());
  EXPECT_TRUE(panel.Data().points.empty());
  EXPECT_EQ(panel.ComputeContours(0, 10), ContourStatus::kBadInterval);
}

TEST_F(DemPanelTest, AnImportIsShownAndACountRefreshKeepsItsPoints) {
  ScopedPageOptions options(Options(1, 0));
  ASSERT_TRUE(panel.SetPoints({116.0f, 40.0f}, {116.01f, 39.99f}, 100));
  test::TempDir dir;
  const std::string path = dir.File("points.txt");
  test::WriteTestFile(path, Utf8ToAnsi(std::string(kDemTextHeader) + "116.001\t39.999\t10\n116.002\t39.998\t20\n116.003\t39.997\t30\n"));
  bool shown = false;
  host.AnswerDialog(272, [&](CDialog&) { shown = true; });
  ASSERT_TRUE(panel.ImportText(path, false));
  EXPECT_TRUE(shown);
  EXPECT_TRUE(panel.IsReady());
  EXPECT_EQ(panel.Data().points.size(), 3u);
  EXPECT_EQ(panel.Data().tracer.z_range.max, 30);
  EXPECT_EQ(panel.Data().positions.size(), 3u);
  // The count builds positions only.
  EXPECT_GT(panel.SampleCount(), 100);
  EXPECT_EQ(panel.Data().points.size(), 3u);
  EXPECT_TRUE(panel.IsReady());

  // A file that cannot be opened says so and changes nothing; quiet imports show no dialog.
  EXPECT_FALSE(panel.ImportText(dir.File("missing.txt"), true));
  EXPECT_EQ(host.LastMessage(), "无法打开文件");
  EXPECT_EQ(panel.Data().points.size(), 3u);
  ASSERT_TRUE(panel.ImportCsv(dir.File("points.txt")));  // no CSV line in it
  EXPECT_TRUE(panel.Data().points.empty());
  EXPECT_FALSE(panel.IsReady());
}

TEST_F(DemPanelTest, AnExportThatCannotBeWrittenSaysSoAndKeepsTheOldFile) {
  test::TempDir dir;
  panel.Data().points = {{116, 40, 1}, {116.5, 40.5, 2}};
  // A folder that is a file.
  test::WriteTestFile(dir.File("plain"), "x");
  EXPECT_FALSE(panel.ExportText(dir.File("plain/out.txt")));
  EXPECT_EQ(host.LastMessage(), "无法创建文件");
  EXPECT_FALSE(panel.ExportSurferGrid(dir.File("out.grd")));  // no grid
  EXPECT_FALSE(std::filesystem::exists(dir.File("out.grd")));

  // A disk that fills up: the new text does not fit, the old file stays as it was.
  const std::string path = dir.File("old.txt");
  test::WriteTestFile(path, "old");
  panel.Data().points.assign(2000, Point3D{116.123456, 40.123456, 1234.5});
  struct sigaction ignore {}, old_action{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old_action);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limited = old_limit;
  limited.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  host.ClearRecords();
  const bool written = panel.ExportText(path);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_FALSE(written);
  EXPECT_EQ(host.LastMessage(), "无法创建文件");
  EXPECT_EQ(test::ReadTestFile(path), "old");
}

}  // namespace
}  // namespace velmora

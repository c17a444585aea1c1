// The elevation download dialog with its worker against the in-test elevation service on
// 127.0.0.1: a region fetched whole (cache rows read back with SQLite, colours read from the
// panel's picture, the region's heights exported and read again), over-quota answers retried
// after a growing pause and counted once, a slow service stopped within a second with the picture
// and the count kept, a closed port, and the refusals before a start. Also run under TSan.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "core/format.h"
#include "core/settings.h"
#include "platform/db.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/dem_files.h"
#include "terrain/elev_cache_db.h"
#include "exchange/ui/dlg_region_set.h"
#include "terrain/ui/dem_download_panel.h"
#include "terrain/ui/dem_tools.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);
constexpr unsigned kWait = 30000;  // upper bound of a wait; the tests end long before

std::string PointReply(double h, double lat, double lng) {
  return FormatC("{\"results\":[{\"elevation\":%.6f,\"location\":{\"lat\":%.8f,\"lng\":%.8f},\"resolution\":9.5}],"
                 "\"status\":\"OK\"}",
                 h, lat, lng);
}

// The service's answer at the location asked ("locations=<lat>,<lng>"): 1000 + latitude.
HttpReply Answer(const HttpRequestRecord& request) {
  const size_t at = request.query.find("locations=");
  const size_t comma = request.query.find(',', at);
  const auto lat = ParseDouble(request.query.substr(at + 10, comma - at - 10));
  const auto lng = ParseDouble(request.query.substr(comma + 1, request.query.find('&', comma) - comma - 1));
  if (at == std::string::npos || !lat || !lng) return HttpReply::Status(400, "bad request");
  return HttpReply::Ok(PointReply(1000 + *lat, *lat, *lng), "application/json");
}

constexpr char kService[] = "/maps/api/elevation/json";

class DemDownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
    server.RoutePrefix(kService, Answer);
    ASSERT_TRUE(dialog.Create());
    DemDownloadOptions& o = dialog.Panel().Options();
    o.cache = &cache;
    o.point_pause_ms = 0;
    o.backoff_first_ms = 20;
    o.backoff_max_ms = 80;
  }
  void TearDown() override {
    dialog.Panel().StopTask();
    dialog.DestroyWindow();
    SetUiHost(nullptr);
  }
  CDemDownloadPanel& Panel() { return dialog.Panel(); }
  bool WaitEnd() {
    return UiDispatcher().PumpUntil([this] { return !Panel().IsRunning(); }, kWait);
  }
  // Cells of the picture by colour.
  int Count(Argb colour) {
    int n = 0;
    for (int64_t x = 0; x < Panel().ProgressWidth(); ++x)
      for (int64_t y = 0; y < Panel().ProgressHeight(); ++y) n += Panel().ProgressAt(x, y) == colour;
    return n;
  }
  int64_t Rows(const char* file) {
    SqliteDb db;
    EXPECT_TRUE(db.Open(dir.File(file)));
    const DbValue v = db.QueryValue("SELECT count(*) FROM tiles");
    return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : -1;
  }

  CHeadlessUiHost host;
  std::atomic<int> asked{0};  // requests counted by a test's handler (the server goes first)
  test::HttpTestServer server;
  test::TempDir dir;
  CElevCacheDb cache{dir.path()};
  CDlgDemDownload dialog;
  // A box of about 1.2 km x 0.9 km near 116.3 E 39.9 N: over a hundred points at 90 m.
  std::vector<LngLatF> box = {{116.3f, 39.908f}, {116.3105f, 39.9f}};
};

TEST_F(DemDownloadTest, RegionFetchedWholeCachedPaintedAndExported) {
  ASSERT_TRUE(Panel().StartDownload(box, 90));
  ASSERT_TRUE(WaitEnd());
  const int64_t points = Panel().ProgressWidth() * Panel().ProgressHeight();
  DemWalkPlan plan;
  ASSERT_TRUE(PlanDemWalk(box, 90, &plan));
  EXPECT_EQ(Panel().ProgressWidth(), plan.columns);
  EXPECT_EQ(Panel().ProgressHeight(), plan.rows);
  EXPECT_GT(points, 100);
  EXPECT_EQ(static_cast<int64_t>(server.RequestCount()), points);
  EXPECT_EQ(Count(kDemColorFetched), points);
  EXPECT_EQ(Panel().done.load(), points);
  EXPECT_EQ(Panel().Status(), FormatC("downloading-90m ok...[%d-0]", static_cast<int>(points)));
  EXPECT_FALSE(Panel().LastResult().stopped);
  // Each answer stored once under its location and once under its key.
  EXPECT_EQ(Rows(kLngLatCacheFileName), points);
  EXPECT_EQ(Rows(kPosCacheFileName), points);

  // The heights inside the region, through the menu, to a text file read back.
  const std::vector<Point3D> inside = dialog.RegionHeights();
  EXPECT_GT(inside.size(), 0u);
  for (const Point3D& p : inside) {
    EXPECT_GE(p.x, 116.3 - 1e-4);
    EXPECT_NEAR(p.z, 1000 + p.y, 1e-3);
  }
  const std::string path = dir.File("region.txt");
  host.AnswerMenu(CDlgDemDownload::kCmdExport);
  host.AnswerFile({path});
  dialog.OnContextMenu(10, 10);
  std::vector<Point3D> read;
  ASSERT_TRUE(ImportText(path, &read));
  ASSERT_EQ(read.size(), inside.size());
  EXPECT_NEAR(read.back().z, inside.back().z, 1e-3);
  EXPECT_EQ(GetProfileString("recent", "demexport", ""), path);
}

TEST_F(DemDownloadTest, QuotaAnswersBackOffAndThePointCountsOnce) {
  server.RoutePrefix(kService, [this](const HttpRequestRecord& request) {
    if (++asked <= 3) return HttpReply::Ok("{\"results\":[],\"status\":\"OVER_QUERY_LIMIT\"}", "application/json");
    return Answer(request);
  });
  const std::vector<LngLatF> one = {box[0]};
  Panel().Options().backoff_first_ms = 60;
  Panel().Options().backoff_max_ms = 120;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Panel().StartDownload(one, 90));
  // The pause is shown beside the status while the point waits.
  bool shown = false;
  ASSERT_TRUE(UiDispatcher().PumpUntil(
      [&] {
        shown |= Panel().Status().find("over quota, retry in") != std::string::npos;
        return !Panel().IsRunning();
      },
      kWait));
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(shown);
  EXPECT_EQ(server.RequestCount(), 4u);
  EXPECT_EQ(Panel().LastResult().quota, 3);
  EXPECT_EQ(Panel().done.load(), 1);
  EXPECT_EQ(Panel().Status(), "downloading-90m ok...[1-0]");
  EXPECT_EQ(Panel().ProgressAt(0, 0), kDemColorFetched);
  // Pauses of 60, 120 and 120 ms (doubled, then held at the ceiling) between the four requests.
  EXPECT_GE(took, std::chrono::milliseconds(300));
}

TEST_F(DemDownloadTest, SlowServiceStoppedWithinASecondKeepsPictureAndCount) {
  server.RoutePrefix(kService, [this](const HttpRequestRecord& request) {
    if (++asked > 30) return HttpReply::Delayed(20000, Answer(request));
    return Answer(request);
  });
  ASSERT_TRUE(Panel().StartDownload(box, 90));
  ASSERT_TRUE(server.WaitForRequests(31, kWait));
  const auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(Panel().StopTask(kWait));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_TRUE(Panel().LastResult().stopped);
  EXPECT_EQ(Panel().done.load(), 30);
  EXPECT_EQ(Count(kDemColorFetched), 30);
  EXPECT_EQ(Panel().Status(), "downloading-90m ok...[30-0]");
  EXPECT_EQ(Rows(kLngLatCacheFileName), 30);
}

TEST_F(DemDownloadTest, ClosedPortPaintsEveryPointRed) {
  uint16_t closed = 0;
  {
    test::HttpTestServer gone;
    closed = gone.Port();
  }
  WriteProfileString(kElevationProfileSection, kElevationHostKey, FormatC("http://127.0.0.1:%u", closed));
  ASSERT_TRUE(Panel().StartDownload(box, 90));
  ASSERT_TRUE(WaitEnd());
  const int64_t points = Panel().ProgressWidth() * Panel().ProgressHeight();
  EXPECT_GT(points, 100);
  EXPECT_EQ(Count(kDemColorFailed), points);
  EXPECT_EQ(Panel().done.load(), points);
  EXPECT_EQ(Rows(kLngLatCacheFileName), 0);
}

TEST_F(DemDownloadTest, NoServiceOrEmptyRegionIsRefusedBeforeStarting) {
  EXPECT_EQ(dialog.GetWindowText(), "高程数据下载");
  EXPECT_EQ(dialog.IconName(), "google_earth.ico");
  WriteProfileString(kElevationProfileSection, kElevationHostKey, "");
  EXPECT_FALSE(Panel().StartDownload(box, 90));
  EXPECT_EQ(host.LastMessage(), kNoElevationService);
  WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
  EXPECT_FALSE(Panel().StartDownload({}, 90));
  EXPECT_EQ(host.LastMessage(), CDemDownloadPanel::kEmptyRegion);
  EXPECT_FALSE(Panel().IsRunning());
  EXPECT_EQ(server.RequestCount(), 0u);

  // While a walk runs the export is greyed: choosing it asks for no file.
  server.RoutePrefix(kService, [](const HttpRequestRecord& r) { return HttpReply::Delayed(20000, Answer(r)); });
  ASSERT_TRUE(Panel().StartDownload(box, 90));
  ASSERT_TRUE(server.WaitForRequests(1, kWait));
  host.AnswerMenu(CDlgDemDownload::kCmdExport);
  dialog.OnContextMenu(0, 0);
  for (const auto& r : host.Records()) EXPECT_NE(r.kind, CHeadlessUiHost::Record::Kind::kFile);
}

TEST_F(DemDownloadTest, TheCommandAsksTheDistanceShowsTheRegionAndReusesItsDialog) {
  // The program's own dialog on the program's cache (the isolated data folder).
  std::string north;
  host.AnswerDialog(CDlgRegionSet::kTemplateId, [&](CDialog& d) {
    north = d.GetDlgItemText(CDlgRegionBase::kIdNorth);
    d.SetDlgItemText(CDlgRegionSet::kIdDistance, "300");
    d.SendMessage(WM_COMMAND, IDOK);
  });
  StartDemDownload(box, nullptr);
  CDlgDemDownload* first = CurrentDemDownload();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(north, FormatCorner(box[0].lat));
  EXPECT_EQ(first->Panel().SampleDistance(), 300);
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return !first->Panel().IsRunning(); }, kWait));
  EXPECT_EQ(first->Panel().Status(), FormatC("downloading-300m ok...[%d-0]", first->Panel().done.load()));
  EXPECT_GT(first->Panel().done.load(), 0);
  EXPECT_EQ(GetProfileInt("region", "dem_distance", 0), 300);

  // Cancelled distance: nothing starts; a later command reuses the same dialog.
  const size_t requests = server.RequestCount();
  host.AnswerDialog(CDlgRegionSet::kTemplateId, [](CDialog& d) { d.SendMessage(WM_COMMAND, IDCANCEL); });
  StartDemDownload(box, nullptr);
  EXPECT_EQ(server.RequestCount(), requests);
  host.AnswerDialog(CDlgRegionSet::kTemplateId, [](CDialog& d) { d.SendMessage(WM_COMMAND, IDOK); });
  StartDemDownload(box, nullptr);
  EXPECT_EQ(CurrentDemDownload(), first);
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return !first->Panel().IsRunning(); }, kWait));
  EXPECT_GT(server.RequestCount(), requests);
  CloseDemTools();
  EXPECT_EQ(CurrentDemDownload(), nullptr);
}

}  // namespace
}  // namespace velmora

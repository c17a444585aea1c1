// The elevation fetch dialog and its point list against the in-test elevation service: a cached
// point without a request, failed and over-quota points kept as rows, a path of five samples in
// the service's order, the imported list fetched again on "VMDemDown" while the list is painted,
// a slow service cancelled within a second, and the checks before a start. Also run under TSan.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>


#include "core/format.h"
#include "core/settings.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/dem_files.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/ui/dem_download_panel.h"
#include "terrain/ui/dlg_dem_fetch.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;

const test::TempDir& kFolders = test::IsolatedFolders();
constexpr unsigned kWait = 30000;
constexpr char kService[] = "/maps/api/elevation/json";

std::string Result(double h, double lat, double lng) {
  return FormatC("{\"elevation\":%.6f,\"location\":{\"lat\":%.8f,\"lng\":%.8f},\"resolution\":9.5}", h, lat, lng);
}

// Points: 1000 + latitude at the location asked. Paths: five samples with heights 5, 4, 3, 2, 1
// from the second point back to the first.
HttpReply Answer(const HttpRequestRecord& request) {
  if (request.query.find("path=") != std::string::npos) {
    std::string body = "{\"results\":[";
    for (int i = 0; i < 5; ++i) {
      if (i) body += ',';
      body += Result(5 - i, 40.0 - i * 0.01, 116.0 + i * 0.01);
    }
    return HttpReply::Ok(body + "],\"status\":\"OK\"}", "application/json");
  }
  const size_t at = request.query.find("locations=");
  const size_t comma = request.query.find(',', at);
  const auto lat = ParseDouble(request.query.substr(at + 10, comma - at - 10));
  const auto lng = ParseDouble(request.query.substr(comma + 1, request.query.find('&', comma) - comma - 1));
  if (at == std::string::npos || !lat || !lng) return HttpReply::Status(400, "bad request");
  return HttpReply::Ok("{\"results\":[" + Result(1000 + *lat, *lat, *lng) + "],\"status\":\"OK\"}",
                       "application/json");
}

class DemFetchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    SetUiHost(&host);
    WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
    server.RoutePrefix(kService, Answer);
    dialog.List().SetCache(&cache);
    dialog.SetPoints(116.0f, 40.0f, 116.04f, 39.96f);
    ASSERT_TRUE(dialog.Create());
  }
  void TearDown() override {
    dialog.List().StopFetch();
    dialog.DestroyWindow();
    SetUiHost(nullptr);
  }
  CDemPointList& List() { return dialog.List(); }
  // Starts as button 1035 does and waits for the end (the button enabled again).
  bool Start() {
    dialog.OnStart();
    return UiDispatcher().PumpUntil(
        [this] { return !List().IsFetching() && dialog.GetDlgItem(CDlgDemFetch::kIdStart)->IsWindowEnabled(); },
        kWait);
  }
  void Type(int id, const std::string& text) { dialog.SetDlgItemText(id, text); }

  CHeadlessUiHost host;
  test::HttpTestServer server;
  test::TempDir dir;
  CElevCacheDb cache{dir.path()};
  CDlgDemFetch dialog;
};

TEST_F(DemFetchTest, SinglePointsCachedFailedAndOverQuotaAllBecomeRows) {
  // Cached, reload off: state 4 and no request.
  float lon = 116.0f, lat = 40.0f;
  ASSERT_EQ(cache.PutByPos(&lon, &lat, 123.0f), kElevFetched);
  Type(CDlgDemFetch::kIdFirstLon, FormatC("%.9g", lon));
  Type(CDlgDemFetch::kIdFirstLat, FormatC("%.9g", lat));
  dialog.CheckDlgButton(CDlgDemFetch::kIdReload, 0);
  ASSERT_TRUE(Start());
  ASSERT_EQ(List().Rows().size(), 1u);
  EXPECT_EQ(List().Rows()[0].state, kDemRowCached);
  EXPECT_EQ(List().Rows()[0].height, 123.0f);
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_EQ(List().ItemText(0, 0), "1");
  EXPECT_EQ(List().ItemText(0, 3), "123.000000");
  EXPECT_EQ(ProgramSettings().GetInt("DemRld", 1), 0);

  // Reload on: the service is asked and the row takes its location.
  dialog.CheckDlgButton(CDlgDemFetch::kIdReload, 1);
  ASSERT_TRUE(Start());
  ASSERT_EQ(List().Rows().size(), 2u);
  EXPECT_EQ(List().Rows()[1].state, kDemRowFetched);
  EXPECT_NEAR(List().Rows()[1].height, 1040.0f, 1e-3);
  EXPECT_EQ(server.RequestCount(), 1u);

  // A garbled answer and an over-quota answer: rows in states 2 and 3 at the position asked.
  server.RoutePrefix(kService, [](const HttpRequestRecord&) { return HttpReply::Ok("<html>busy</html>"); });
  ASSERT_TRUE(Start());
  server.RoutePrefix(kService, [](const HttpRequestRecord&) {
    return HttpReply::Ok("{\"results\":[],\"status\":\"OVER_QUERY_LIMIT\"}");
  });
  ASSERT_TRUE(Start());
  ASSERT_EQ(List().Rows().size(), 4u);
  EXPECT_EQ(List().Rows()[2].state, kDemRowFailed);
  EXPECT_EQ(List().Rows()[3].state, kDemRowOverQuota);
  EXPECT_EQ(List().Rows()[3].lon, lon);
  EXPECT_EQ(dialog.GetDlgItemText(CDlgDemFetch::kIdElapsed).size(), std::string("00:00:00.000").size());
}

TEST_F(DemFetchTest, PathOfFiveSamplesAppendsFiveRowsInTheServicesOrder) {
  Type(CDlgDemFetch::kIdSamples, "5");
  ASSERT_TRUE(Start());
  ASSERT_EQ(List().Rows().size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(List().Rows()[i].height, 5.0f - i);
    EXPECT_EQ(List().Rows()[i].state, kDemRowFetched);
  }
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_NE(server.Requests()[0].query.find("samples=5"), std::string::npos);
  EXPECT_EQ(ProgramSettings().GetInt("DemSmp", 1), 5);

  // With the snap box both ends are snapped to the sample distance before they are asked.
  dialog.CheckDlgButton(CDlgDemFetch::kIdSnap, 1);
  Type(CDlgDemFetch::kIdDistance, "900");
  Type(CDlgDemFetch::kIdFirstLon, "116.00123");
  Type(CDlgDemFetch::kIdFirstLat, "40.00077");
  ASSERT_TRUE(Start());
  float lon = 116.00123f, lat = 40.00077f, lon2 = 116.04f, lat2 = 39.96f;
  CElevationStore::NormalizePosition(&lon, &lat, 900);
  CElevationStore::NormalizePosition(&lon2, &lat2, 900);
  ASSERT_EQ(server.RequestCount(), 2u);
  EXPECT_NE(server.Requests()[1].query.find(FormatC("path=%.14f,%.14f|%.14f,%.14f", static_cast<double>(lat),
                                                    static_cast<double>(lon), static_cast<double>(lat2),
                                                    static_cast<double>(lon2))),
            std::string::npos)
      << server.Requests()[1].query;
  EXPECT_NE(lon, 116.00123f);
  EXPECT_EQ(ProgramSettings().GetInt("DemDist", 90), 900);
}

TEST_F(DemFetchTest, ImportedRowsFetchedAgainOnTheWorkerWhileTheListIsPainted) {
  const std::string path = dir.File("points.txt");
  const std::vector<Point3D> points = {{116.0, 40.0, 0}, {116.1, 40.1, 0}, {116.2, 40.2, 0},
                                       {116.3, 40.3, 0}, {116.4, 40.4, 0}};
  ASSERT_TRUE(ExportText(path, points, 0));
  host.AnswerMenu(CDemPointList::kCmdImport);
  host.AnswerFile({path});
  List().OnContextMenu(0, 0);
  ASSERT_EQ(List().Rows().size(), 5u);
  EXPECT_TRUE(List().IsImported());
  for (int id : {CDlgDemFetch::kIdFirstLon, CDlgDemFetch::kIdSecondLat, CDlgDemFetch::kIdSnap,
                 CDlgDemFetch::kIdDistance, CDlgDemFetch::kIdSamples})
    EXPECT_FALSE(dialog.GetDlgItem(id)->IsWindowEnabled()) << id;
  EXPECT_EQ(ProgramSettings().GetString(CDemPointList::kImportKey, ""), path);

  dialog.CheckDlgButton(CDlgDemFetch::kIdReload, 1);
  ASSERT_TRUE(Start());
  EXPECT_EQ(server.RequestCount(), 5u);
  for (const DemPointRow& row : List().Rows()) EXPECT_EQ(row.state, kDemRowFetched);
  EXPECT_NEAR(List().Rows()[4].height, 1040.4f, 1e-2);

  // Rows in every state: reload off skips only the fetched ones (rows 1 to 4 and the new row 6).
  List().AddPoint(117.0f, 41.0f, 7.0f, kDemRowImported);
  List().AddPoint(117.1f, 41.0f, 7.0f, kDemRowFailed);
  List().AddPoint(117.2f, 41.0f, 7.0f, kDemRowOverQuota);
  List().AddPoint(117.3f, 41.0f, 7.0f, kDemRowCached);
  List().AddPoint(117.4f, 41.0f, 7.0f, kDemRowFetched);
  dialog.CheckDlgButton(CDlgDemFetch::kIdReload, 0);
  ASSERT_TRUE(Start());
  EXPECT_EQ(server.RequestCount(), 5u + 4u);
  for (size_t i = 5; i < 9; ++i) EXPECT_EQ(List().Rows()[i].state, kDemRowFetched) << i;
  EXPECT_EQ(List().Rows()[9].height, 7.0f);
  for (float lng : {117.0f, 117.1f, 117.2f, 117.3f}) {
    bool asked = false;
    for (const auto& r : server.Requests())
      asked |= r.query.find(FormatC(",%.14f", static_cast<double>(lng))) != std::string::npos;
    EXPECT_TRUE(asked) << lng;
  }

  // A slow service: the rows are painted while the worker waits, and cancel ends it at once.
  server.RoutePrefix(kService, [](const HttpRequestRecord& r) { return HttpReply::Delayed(20000, Answer(r)); });
  dialog.CheckDlgButton(CDlgDemFetch::kIdReload, 1);
  dialog.OnStart();
  ASSERT_TRUE(server.WaitForRequests(10, kWait));
  for (int i = 0; i < 200; ++i) {
    for (int row = 0; row < 10; ++row)
      for (int column = 0; column < 4; ++column) EXPECT_FALSE(List().ItemText(row, column).empty());
    UiDispatcher().PumpPending();
  }
  // No menu while the worker runs.
  const size_t records = host.Records().size();
  List().OnContextMenu(0, 0);
  EXPECT_EQ(host.Records().size(), records);
  const auto start = std::chrono::steady_clock::now();
  dialog.OnCancel();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_FALSE(List().IsFetching());
  EXPECT_EQ(List().Rows().size(), 10u);
}

TEST_F(DemFetchTest, BadInputsAndAMissingServiceStopBeforeAnyRequest) {
  Type(CDlgDemFetch::kIdDistance, "0");
  dialog.OnStart();
  EXPECT_EQ(host.LastMessage(), "请输入一个介于 1 和 999999999 之间的整数。");
  Type(CDlgDemFetch::kIdDistance, "90");
  Type(CDlgDemFetch::kIdSamples, "1001");
  dialog.OnStart();
  EXPECT_EQ(host.LastMessage(), "请输入一个介于 1 和 1000 之间的整数。");
  Type(CDlgDemFetch::kIdSamples, "1");
  Type(CDlgDemFetch::kIdFirstLat, "nan");
  dialog.OnStart();
  EXPECT_EQ(host.LastMessage(), CDlgDemFetch::kBadNumber);
  Type(CDlgDemFetch::kIdFirstLat, "40");
  WriteProfileString(kElevationProfileSection, kElevationHostKey, "");
  dialog.OnStart();
  EXPECT_EQ(host.LastMessage(), kNoElevationService);
  EXPECT_TRUE(List().Rows().empty());
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_EQ(dialog.GetDlgItemText(CDlgDemFetch::kIdElapsed), "00:00:00.000");
  EXPECT_EQ(CDlgDemFetch::FormatElapsedMs(3723004), "01:02:03.004");
}

}  // namespace
}  // namespace velmora

// Sampling in the web source modes, on a worker behind the progress dialog, against the test
// server as the elevation service: a profile whose service hangs ends within a second of Cancel
// and leaves the chart as it was; a preview whose service answers fills the grid, with the
// progress shown on the way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "core/settings.h"
#include "platform/ui/controls.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/polyline_shape.h"
#include "shell/dlg_progress.h"
#include "support/headless_ui_test.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/ui/elev_profile_ctrl.h"
#include "terrain/ui/profile_chart.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

constexpr char kReply[] =
    "{\"results\" : [ {\"elevation\" : 123.0, \"location\" : {\"lat\" : 36.0, \"lng\" : 117.0}} ], \"status\" : \"OK\"}";

class WebSamplingTest : public test::HeadlessUiTest {
 protected:
  void SetUp() override {
    HeadlessUiTest::SetUp();
    WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
  }
  test::HttpTestServer server;
  test::TempDir cache_dir, files;
  CElevCacheDb cache{cache_dir.path()};
  CElevationStore store{&cache, files.path()};
  ScopedAppOptions web{[](CAppOptions& o) { o.dem_source_mode = kDemSourceGoogle; }};
};

TEST_F(WebSamplingTest, CancelEndsAHangingProfileWithinASecond) {
  std::atomic<int> asked{0};
  server.RoutePrefix("/maps/api/elevation/json", [&](const test::HttpRequestRecord&) {
    // The first two points answer at once, then the service hangs.
    return ++asked <= 2 ? test::HttpReply::Ok(kReply, "application/json")
                        : test::HttpReply::Delayed(20000, test::HttpReply::Ok(kReply, "application/json"));
  });
  CProfileChart chart;
  ASSERT_TRUE(chart.Create(nullptr, 1, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 300, 150}));
  chart.SetElevationStore(&store);
  chart.SetLine("before", {{1, 1}, {1.01f, 1}}, {5, 6});
  CPolylineShape line;
  for (int i = 0; i < 10; ++i) line.AddPoint(117.0f + i * 0.01f, 36.0f + i * 0.003f);

  std::chrono::steady_clock::time_point cancelled;
  std::string shown_lines;
  float shown_progress = 0;
  host.AnswerDialog(CDlgProgress::kTemplateId, [&](CDialog& d) {
    auto& progress = static_cast<CDlgProgress&>(d);
    ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return server.RequestCount() >= 3; }, 10000));
    UiDispatcher().PumpUntil([&] { return progress.Progress() > 0.15f; }, 2000);
    shown_lines = d.GetDlgItemText(CDlgProgress::kIdLines);
    shown_progress = progress.Progress();
    cancelled = std::chrono::steady_clock::now();
    d.GetDlgItemAs<CButton>(IDCANCEL)->Click();
  });
  EXPECT_FALSE(chart.LoadTrack(line));
  const auto took = std::chrono::steady_clock::now() - cancelled;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 1000);
  EXPECT_FALSE(shown_lines.empty());
  EXPECT_FLOAT_EQ(shown_progress, 0.2f);  // two of ten points
  EXPECT_EQ(chart.LineName(), "before");  // a cancelled sampling changes nothing
  EXPECT_EQ(server.RequestCount(), 3u);
}

TEST_F(WebSamplingTest, PreviewFromTheServiceFillsTheGrid) {
  server.RoutePrefix("/maps/api/elevation/json",
                     [](const test::HttpRequestRecord&) { return test::HttpReply::Ok(kReply, "application/json"); });
  CElevProfileCtrl preview;
  ASSERT_TRUE(preview.Create(nullptr, 1, "", WS_CHILD | WS_VISIBLE, RECT{0, 0, 120, 90}));
  preview.SetElevationStore(&store);
  // 4 x 3 nodes asked of the service (the cache keeps them for the next time; the reply's own
  // location is the corner node, which is then found there).
  ASSERT_TRUE(preview.SampleProfile(117.0f, 36.03f, 117.04f, 36.0f, 4, 3));
  const size_t asked = server.RequestCount();
  EXPECT_GE(asked, 11u);
  ASSERT_EQ(preview.Rows(), 3);
  for (const auto& row : preview.Samples().heights)
    for (float h : row) EXPECT_EQ(h, 123.0f);
  EXPECT_EQ(preview.Grid().lowest(), 123.0f);
  ASSERT_TRUE(preview.SampleProfile(117.0f, 36.03f, 117.04f, 36.0f, 4, 3));
  EXPECT_EQ(server.RequestCount(), asked);
}

}  // namespace
}  // namespace velmora

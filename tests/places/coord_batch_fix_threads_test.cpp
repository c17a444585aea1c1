// Batch coordinate correction against the test web server: the reply codec, good, bad and
// missing replies, a second run that retries only the failed points, 100 workers sharing a long
// list, and a stop while every worker waits in a fetch.
#include "places/coord_batch_fix.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/format.h"
#include "platform/sync.h"
#include "support/coord_fix_replies.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

constexpr double kShiftX = 0.0110, kShiftY = 0.0055;

TEST(CoordFixReply, Base64AndReplies) {
  std::string out;
  ASSERT_TRUE(DecodeBase64("MTIwLjAxMQ==", &out));
  EXPECT_EQ(out, "120.011");
  ASSERT_TRUE(DecodeBase64("MzYuMDA1", &out));
  EXPECT_EQ(out, "36.005");
  ASSERT_TRUE(DecodeBase64("YQ==", &out));
  EXPECT_EQ(out, "a");
  for (const char* bad : {"", "M", "MTI", "MT=w", "====", "M===", "MTIw!A==", "MTIwLjAxMQ=", "YQ==YQ=="})
    EXPECT_FALSE(DecodeBase64(bad, &out)) << bad;

  double x = 0, y = 0;
  ASSERT_TRUE(DecodeCoordFixReply("{\"error\":0,\"x\":\"MTIwLjAxMQ==\",\"y\":\"MzYuMDA1\"}", &x, &y));
  EXPECT_DOUBLE_EQ(x, 120.011);
  EXPECT_DOUBLE_EQ(y, 36.005);
  // Blanks around the colon; a key's text inside another value is not the key.
  ASSERT_TRUE(DecodeCoordFixReply("{\"name\":\"x\", \"x\" : \"MQ==\", \"y\":\"Mg==\"}", &x, &y));
  EXPECT_EQ(x, 1);
  EXPECT_EQ(y, 2);
  const char* bad_replies[] = {
      "",
      "{\"error\":1}",
      "{\"x\":\"MTIwLjAxMQ==\"}",                   // no y
      "{\"x\":\"MTIwLjAxMQ=\",\"y\":\"MzYuMDA1\"}",  // x is not base64
      "{\"x\":\"YWJj\",\"y\":\"MzYuMDA1\"}",         // x is "abc": not a number (it used to read as 0)
      "{\"x\":\"bmFu\",\"y\":\"MzYuMDA1\"}",         // "nan"
      "{\"x\":\"MTIw\",\"y\":\"MzYuMDA1",            // cut short
      "{\"x\":120.011,\"y\":36.005}",                // numbers, not base64 texts
  };
  for (const char* reply : bad_replies) EXPECT_FALSE(DecodeCoordFixReply(reply, &x, &y)) << reply;

  float lng = 0, lat = 0;
  ASSERT_TRUE(CorrectCoordFix(120.0f, 36.0f, 120.011, 36.005, &lng, &lat));
  EXPECT_NEAR(lng, 119.989, 1e-5);
  EXPECT_NEAR(lat, 35.995, 1e-5);
  EXPECT_FALSE(CorrectCoordFix(179.9f, 0, 170.0, 0, &lng, &lat));
  EXPECT_EQ(BuildCoordFixUrl("http://h:1", 120.5f, -36.25f), "http://h:1/ag/coord/convert?from=2&to=4&x=120.500000&y=-36.250000");
}

class CoordBatchFixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fixer.SetFinishedCallback([this] {
      ++finished;
      finished_event.Set();
    });
  }
  test::HttpTestServer server;
  CCoordBatchFixer fixer;
  std::atomic<int> finished{0};
  Event finished_event;
};

TEST_F(CoordBatchFixTest, GoodBadAndMissingReplies) {
  std::atomic<bool> all_good{false};
  server.RoutePrefix("/ag/coord/convert", [&](const test::HttpRequestRecord& r) {
    double x = test::QueryValue(r.query, "x"), y = test::QueryValue(r.query, "y");
    if (all_good.load() || x >= 100) return test::HttpReply::Ok(test::CoordFixReply(x + kShiftX, y + kShiftY), "application/json");
    switch (static_cast<int>(x)) {
      case 1: return test::HttpReply::Ok("{\"error\":0,\"x\":\"MTIw*A==\",\"y\":\"MzYuMDA1\"}");
      case 2: return test::HttpReply::Ok("{\"error\":0,\"x\":\"YWJj\",\"y\":\"MzYuMDA1\"}");
      case 3: return test::HttpReply::ServerError();
      case 4: return test::HttpReply::Drop();
      case 5: return test::HttpReply::Ok(test::CoordFixReply(x, y) + std::string(kCoordFixReplyLimit, ' '));
      default: return test::HttpReply::Ok("{\"error\":0,\"x\":\"MQ==\"}");
    }
  });
  std::vector<PointF> points = {{120.0f, 36.0f}, {1, 1}, {121.5f, -33.25f}, {2, 2}, {3, 3},
                                {4, 4},          {5, 5}, {6, 6},            {179.0f, 89.0f}};
  ASSERT_TRUE(fixer.SetPoints(points));
  ASSERT_TRUE(fixer.Start(5, server.BaseUrl()));
  ASSERT_TRUE(finished_event.Wait(60000));
  EXPECT_FALSE(fixer.IsRunning());
  std::vector<CoordFixRecord> records = fixer.Records();
  ASSERT_EQ(records.size(), points.size());
  for (size_t i = 0; i < records.size(); ++i) {
    if (points[i].x >= 100) {
      EXPECT_EQ(records[i].state, kFixDone) << i;
      EXPECT_FLOAT_EQ(records[i].lng, static_cast<float>(2.0 * points[i].x - (points[i].x + kShiftX)));
      EXPECT_FLOAT_EQ(records[i].lat, static_cast<float>(2.0 * points[i].y - (points[i].y + kShiftY)));
    } else {
      // A failed point keeps its coordinates.
      EXPECT_EQ(records[i].state, kFixFailed) << i;
      EXPECT_EQ(records[i].lng, points[i].x);
      EXPECT_EQ(records[i].lat, points[i].y);
    }
  }
  EXPECT_EQ(fixer.CountState(kFixFailed), 6u);
  EXPECT_FALSE(fixer.AllDone());
  EXPECT_EQ(finished.load(), 1);

  // A second run asks only for the points that are not done.
  finished_event.Reset();
  size_t before = server.RequestCount();
  all_good = true;
  ASSERT_TRUE(fixer.Start(3, server.BaseUrl()));
  ASSERT_TRUE(finished_event.Wait(60000));
  EXPECT_EQ(server.RequestCount() - before, 6u);
  EXPECT_TRUE(fixer.AllDone());
  EXPECT_EQ(fixer.Record(0).lng, records[0].lng);  // a done point is not corrected twice
}

TEST_F(CoordBatchFixTest, HundredWorkersShareTheListOnce) {
  std::mutex seen_mutex;
  std::multiset<std::string> seen;
  Event gate;  // holds the replies until the running pool has been checked
  server.RoutePrefix("/ag/coord/convert", [&](const test::HttpRequestRecord& r) {
    gate.Wait(60000);
    {
      std::lock_guard lock(seen_mutex);
      seen.insert(r.query);
    }
    return test::HttpReply::Ok(test::CoordFixReply(test::QueryValue(r.query, "x") + kShiftX, test::QueryValue(r.query, "y") + kShiftY));
  });
  std::vector<PointF> points;
  for (int i = 0; i < 1000; ++i) points.push_back({100.0f + i * 0.01f, 20.0f + i * 0.005f});
  ASSERT_TRUE(fixer.SetPoints(points));
  EXPECT_FALSE(fixer.Start(101, server.BaseUrl()));
  EXPECT_FALSE(fixer.Start(0, server.BaseUrl()));
  EXPECT_FALSE(fixer.Start(5, ""));
  ASSERT_TRUE(fixer.Start(kMaxFixThreads, server.BaseUrl()));
  EXPECT_EQ(fixer.WorkerCount(), 100);
  EXPECT_FALSE(fixer.Start(5, server.BaseUrl()));  // already running
  EXPECT_FALSE(fixer.SetPoints({}));
  gate.Set();
  ASSERT_TRUE(finished_event.Wait(120000));
  EXPECT_TRUE(fixer.AllDone());
  EXPECT_EQ(finished.load(), 1);
  {
    std::lock_guard lock(seen_mutex);
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_EQ(std::set<std::string>(seen.begin(), seen.end()).size(), 1000u);  // each point asked once
  }

  // Fewer points than workers: the idle workers end at once, and the run still ends once.
  finished_event.Reset();
  ASSERT_TRUE(fixer.SetPoints({{120.0f, 36.0f}, {121.0f, 37.0f}, {122.0f, 38.0f}}));
  ASSERT_TRUE(fixer.Start(5, server.BaseUrl()));
  ASSERT_TRUE(finished_event.Wait(60000));
  EXPECT_EQ(finished.load(), 2);
  EXPECT_TRUE(fixer.AllDone());
}

TEST_F(CoordBatchFixTest, StopEndsEveryFetchAtOnce) {
  server.RoutePrefix("/ag/coord/convert", [](const test::HttpRequestRecord&) {
    return test::HttpReply::Delayed(120000, test::HttpReply::Ok(test::CoordFixReply(1, 1)));
  });
  std::vector<PointF> points;
  for (int i = 0; i < 300; ++i) points.push_back({110.0f + i * 0.01f, 30.0f});
  ASSERT_TRUE(fixer.SetPoints(points));
  ASSERT_TRUE(fixer.Start(kMaxFixThreads, server.BaseUrl()));
  ASSERT_TRUE(server.WaitForRequests(100, 60000));  // every worker waits for its reply
  auto t0 = std::chrono::steady_clock::now();
  fixer.Stop();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  // One stop for all: far less than the HTTP time-out (15 s), let alone 100 stops in turn.
  EXPECT_LT(seconds, 10.0);
  EXPECT_FALSE(fixer.IsRunning());
  EXPECT_EQ(fixer.WorkerCount(), 0);
  // The points whose fetch was cut stay waiting; nothing failed, nothing was finished.
  EXPECT_EQ(fixer.CountState(kFixWaiting), 300u);
  EXPECT_EQ(fixer.CountState(kFixFailed), 0u);
  EXPECT_EQ(finished.load(), 0);
  server.Stop();
}

}  // namespace
}  // namespace velmora

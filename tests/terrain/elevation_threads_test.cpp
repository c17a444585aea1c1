// Many threads asking the elevation store and the elevation cache at once: height files opened
// concurrently on first use, shared mappings, cache look-ups racing with web fetches and stores,
// options changed while workers read them, and a worker stopped in the middle of a fetch. Built
// and run under ThreadSanitizer as well.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "core/format.h"
#include "core/settings.h"
#include "core/work_thread.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;

constexpr int kThreads = 8;
constexpr int kRows = 24;  // rows written of each file: enough for the test, quick to write

int Distinct(double lon, double lat, double per_degree) {
  const long c = std::lround((lon + 180.0) * per_degree);
  const long r = std::lround((lat + 90.0) * per_degree);
  return static_cast<int>((c * 31 + r * 17) % 30000) - 15000;
}

class ThreadsEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    UpdateAppOptions([](CAppOptions& o) { o.program_dir = test::IsolatedFolders().File("program/"); });
    // The first rows of eight 3-arc-second tiles (tile row 5: 40 N) and of eight 1-degree cells.
    for (int i = 0; i < 8; ++i) {
      Write(HeightLayout3s(57 + i, 5), CHeightFile3s::TileNumber(57 + i, 5), kHeightFileSmh, 1200);
      Write(HeightLayout1s(i - 4, 45), CHeightFile1s::TileNumber(i - 4, 45), kHeightFileAmh, 3600);
    }
  }
  static void Write(HeightGridLayout layout, int tile, int kind, double per_degree) {
    layout.height = kRows;
    ASSERT_TRUE(WriteHeightSamples(
        AppOptions().program_dir + "data/" + CHeightFile::FileName(tile, kind),
        BuildHeightGrid(layout, [per_degree](double lon, double lat) { return Distinct(lon, lat, per_degree); })));
  }
};
[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new ThreadsEnvironment);

// A position in the written rows, its expected height and mode, from a counter.
struct Probe {
  float lon, lat;
  int mode;
  int expect;
};
Probe MakeProbe(unsigned n) {
  const unsigned col = (n * 2654435761u) % 6000u, row = (n * 40503u) % kRows;
  if (n % 2 == 0) {
    const int tile = 57 + static_cast<int>(n / 2 % 8);
    const double lon = (tile - 1) * 5.0 - 180.0 + col / 1200.0, lat = 40.0 - row / 1200.0;
    return {static_cast<float>(lon + 0.2 / 1200), static_cast<float>(lat - 0.2 / 1200), kDemSourceSrtm,
            Distinct(lon, lat, 1200)};
  }
  const int cell = -4 + static_cast<int>(n / 2 % 8);
  const double lon = cell + (col % 3600) / 3600.0, lat = 46.0 - (row + 1) / 3600.0;
  return {static_cast<float>(lon + 0.2 / 3600), static_cast<float>(lat + 0.2 / 3600), kDemSourceAstgtm,
          Distinct(lon, lat, 3600)};
}

// The service's reply to "locations=<lat>,<lng>": 1000 + latitude at the location asked.
HttpReply ServiceReply(const HttpRequestRecord& request) {
  const size_t at = request.query.find("locations=");
  if (at == std::string::npos) return HttpReply::Status(400, "bad");
  const size_t comma = request.query.find(',', at);
  const size_t amp = request.query.find('&', comma);
  const auto lat = ParseDouble(request.query.substr(at + 10, comma - at - 10));
  const auto lng = ParseDouble(request.query.substr(comma + 1, amp - comma - 1));
  if (!lat || !lng) return HttpReply::Status(400, "bad");
  return HttpReply::Ok(FormatC("{\"results\" : [ {\"elevation\" : %.6f, \"location\" : {\"lat\" : %.14f, "
                               "\"lng\" : %.14f}} ], \"status\" : \"OK\"}",
                               1000 + *lat, *lat, *lng),
                       "application/json");
}

TEST(ElevationThreads, HeightFilesOpenedAndReadConcurrently) {
  CElevationStore store;
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (unsigned i = 0; i < 4000; ++i) {
        const Probe p = MakeProbe(i * kThreads + t);
        float pos[2] = {p.lon, p.lat};
        float h = 0;
        if (store.GetElevation(pos, &h, 0, p.mode) != kElevFound || h != static_cast<float>(p.expect)) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(store.FileCount(), 16u);  // each file created once
}

TEST(ElevationThreads, CacheLookupsRaceWithFetchesAndStores) {
  test::HttpTestServer server;
  server.RoutePrefix("/maps/api/elevation/json", ServiceReply);
  WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
  test::TempDir dir;
  CElevCacheDb cache(dir.path());
  CElevationStore store(&cache);

  // 8 threads over 60 shared positions, each starting at another one.
  constexpr int kPoints = 60;
  auto run = [&](std::atomic<int>* fetched, std::atomic<int>* wrong) {
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        for (int i = 0; i < kPoints; ++i) {
          const int n = (i + t * 7) % kPoints;
          float pos[2] = {100.0f + n * 0.01f, 30.0f + n * 0.01f};
          const float lat = pos[1];
          float h = 0;
          const int status = store.GetElevation(pos, &h, 1, kDemSourceGoogle);
          if (status == kElevFetched) ++*fetched;
          if ((status != kElevFetched && status != kElevFound) || std::fabs(h - (1000 + lat)) > 1e-3f) ++*wrong;
        }
      });
    }
    for (auto& thread : threads) thread.join();
  };
  std::atomic<int> fetched{0}, wrong{0};
  run(&fetched, &wrong);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GE(fetched.load(), kPoints);
  EXPECT_EQ(server.RequestCount(), static_cast<size_t>(fetched.load()));
  // Everything is cached now: a second round asks nothing.
  const size_t requests = server.RequestCount();
  fetched = 0;
  run(&fetched, &wrong);
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(fetched.load(), 0);
  EXPECT_EQ(server.RequestCount(), requests);
}

TEST(ElevationThreads, OptionsChangeWhileElevationWorkersReadThem) {
  test::HttpTestServer server;
  server.RoutePrefix("/maps/api/elevation/json", ServiceReply);
  WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
  test::TempDir dir;
  CElevCacheDb cache(dir.path());
  CElevationStore store(&cache);
  const ScopedAppOptions start([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });

  // Four workers take the source mode from the options on every look-up (a 3-arc-second probe
  // reads its tile in mode 1 and finds no 1-arc-second cell in mode 2, and the other way round);
  // a fifth asks the web service, whose fetches read the time-out from the options.
  struct Counts {
    std::atomic<int> mode1{0}, mode2{0}, wrong{0}, fetched{0};
  } counts;
  std::vector<std::unique_ptr<CWorkThread>> workers;
  for (int t = 0; t < 4; ++t) {
    workers.push_back(std::make_unique<CWorkThread>());
    CWorkThread* self = workers.back().get();
    ASSERT_TRUE(self->Start("ElevReader", [&, self, t] {
      self->SignalReady();
      for (unsigned i = 0; !self->QuitRequested(); ++i) {
        const Probe p = MakeProbe(i * 4 + t);
        float pos[2] = {p.lon, p.lat};
        float h = 0;
        const int status = store.GetElevation(pos, &h, 0);
        if (status == kElevFound && h == static_cast<float>(p.expect)) {
          ++(p.mode == kDemSourceSrtm ? counts.mode1 : counts.mode2);
        } else if (status != kElevFound || h != kNoElevation) {
          ++counts.wrong;
        }
      }
    }));
  }
  workers.push_back(std::make_unique<CWorkThread>());
  CWorkThread* fetcher = workers.back().get();
  ASSERT_TRUE(fetcher->Start("ElevFetcher", [&] {
    fetcher->SignalReady();
    for (int n = 0; !fetcher->QuitRequested() && n < 200; ++n) {
      float pos[2] = {100.0f + n * 0.01f, 30.0f};
      float h = 0;
      if (store.GetElevation(pos, &h, 1, kDemSourceGoogle) == kElevFetched) ++counts.fetched;
    }
  }));

  // Meanwhile the options page publishes changes, whole snapshots one after another, each after
  // the readers made a few look-ups with the last one, until they have seen both modes often.
  auto looked_up = [&] { return counts.mode1 + counts.mode2 + counts.wrong; };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round) {
    UpdateAppOptions([round](CAppOptions& o) {
      o.dem_source_mode = round % 2 == 0 ? kDemSourceAstgtm : kDemSourceSrtm;
      o.http_timeout_ms = 20000 + round;
      o.work_dir = "/tmp/velmora-work-" + std::to_string(round) + "/";
      o.jpeg_quality = 50 + round % 50;
    });
    if (round >= 200 && counts.mode1 > 1000 && counts.mode2 > 1000 && counts.fetched > 0) break;
    const int before = looked_up();
    while (looked_up() < before + 16 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  }
  for (auto& worker : workers) EXPECT_TRUE(worker->Stop(30000));
  EXPECT_EQ(counts.wrong.load(), 0);
  EXPECT_GT(counts.mode1.load(), 1000);
  EXPECT_GT(counts.mode2.load(), 1000);
  EXPECT_GT(counts.fetched.load(), 0);
}

TEST(ElevationThreads, StoppingWorkerEndsItsFetchWhileTheServiceHoldsTheReply) {
  // The service holds its reply far longer than the test may take, and the time-out is longer
  // still: only the worker's quit request can end the fetch.
  test::HttpTestServer server;
  server.RoutePrefix("/maps/api/elevation/json", [](const HttpRequestRecord& request) {
    return HttpReply::Delayed(600000, ServiceReply(request));
  });
  WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
  const ScopedAppOptions slow([](CAppOptions& o) { o.http_timeout_ms = 900000; });
  test::TempDir dir;
  CElevCacheDb cache(dir.path());
  CElevationStore store(&cache);
  std::atomic<int> net_state{0};
  SetElevationNetStateSink([&](int state) { net_state = state; });

  CWorkThread worker;
  std::atomic<int> status{-1};
  float height = 0;
  ASSERT_TRUE(worker.Start("ElevDownload", [&] {
    worker.SignalReady();
    float pos[2] = {116.25f, 39.5f};
    status = store.GetElevation(pos, &height, 1, kDemSourceGoogle);
  }));
  ASSERT_TRUE(server.WaitForRequests(1, 30000));
  // Stop returns false when the worker has not ended within the limit (it is then still waited
  // for, until the held reply or the time-out, and the test fails).
  EXPECT_TRUE(worker.Stop(20000));
  EXPECT_EQ(status.load(), kElevNoReply);
  EXPECT_EQ(height, kNoElevation);
  // A stop is no network failure: the indicator stays as it was, and nothing is stored.
  EXPECT_EQ(net_state.load(), 0);
  std::vector<std::array<double, 3>> rows;
  cache.QueryBox(-180, 90, 180, -90, rows);
  EXPECT_TRUE(rows.empty());
  SetElevationNetStateSink(nullptr);

  // The same store asked by a thread that is no worker is not cancelled by anything: a normal
  // reply still arrives and is stored.
  server.RoutePrefix("/maps/api/elevation/json", ServiceReply);
  float pos[2] = {116.25f, 39.5f};
  EXPECT_EQ(store.GetElevation(pos, &height, 1, kDemSourceGoogle), kElevFetched);
}

}  // namespace
}  // namespace velmora

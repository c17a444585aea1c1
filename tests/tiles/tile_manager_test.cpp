// The tile manager against a web server on 127.0.0.1: each failure ending in its state (404, HTML
// pages, quota, time-out, refused connection, cut or unusable bytes), retries and their limit,
// offline mode, stamped tiles freed, the cache's size limit, a full disk, and the download list
// across a restart. Tiles that load, with their pictures and stored bytes, are checked by the
// concurrency test (tile_manager_threads_test).
#include "tiles/tile_manager.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "tiles/download_list.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

using test::HttpReply;
constexpr unsigned kWait = 20000;  // upper bound of a wait; tests end long before
constexpr int kSource = 0;         // a map source of the shipped catalogue
constexpr int kZoom = 3;

TileKey Key(int x, int y, int source = kSource) { return MakeTileKey(x, y, source * kZoomsPerSource + kZoom); }
std::string TilePath(int x, int y) { return "/t/3/" + std::to_string(x) + "/" + std::to_string(y) + ".png"; }

std::string Png(Argb colour) {
  CBitmap bitmap;
  EXPECT_TRUE(bitmap.Create(256, 256, colour));
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(EncodeImage(bitmap, ImageType::kPng, &bytes));
  return std::string(bytes.begin(), bytes.end());
}
HttpReply PngReply(Argb colour) { return HttpReply::Ok(Png(colour), "image/png"); }

class TileManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LayerManager().IsLoaded());
    PointSourceAt(server_.BaseUrl());
    ResetTileFailureCounts();
  }
  static void PointSourceAt(const std::string& base) {
    ASSERT_TRUE(WriteProfileString(kUrlTemplatesSection, std::to_string(kSource), base + "/t/{z}/{x}/{y}.png"));
  }
  TileManagerOptions Options(int threads = 2) const {
    TileManagerOptions o;
    o.data_dir = dir_.path();
    o.download_threads = threads;
    o.retry_limit = 3;
    o.offline = false;
    o.http_timeout_ms = 5000;
    return o;
  }
  // Serves the replies in turn to the requests for one tile; the last one answers all others.
  void Script(int x, int y, std::vector<HttpReply> replies) {
    auto count = std::make_shared<std::atomic<size_t>>(0);
    server_.Route(TilePath(x, y), [replies, count](const test::HttpRequestRecord&) {
      return replies[std::min(count->fetch_add(1), replies.size() - 1)];
    });
  }
  size_t RequestsFor(int x, int y) const {
    size_t n = 0;
    for (const auto& r : server_.Requests()) n += r.path == TilePath(x, y) ? 1 : 0;
    return n;
  }
  // Asks for the tile and waits for its final state.
  static int64_t Load(CTileManager& manager, TileKey key, std::shared_ptr<CTile>* out = nullptr) {
    std::shared_ptr<CTile> tile = manager.GetTile(key);
    if (out) *out = tile;
    return manager.WaitForState(*tile, kWait);
  }

  test::HttpTestServer server_;
  test::TempDir dir_;
};

TEST_F(TileManagerTest, DefinitiveFailuresAreAskedOnce) {
  server_.Route(TilePath(0, 0), HttpReply::NotFound());
  server_.Route(TilePath(0, 1), HttpReply::Status(429, "slow down"));
  server_.Route(TilePath(0, 2), HttpReply::Status(509, "bandwidth"));
  server_.Route(TilePath(0, 3), HttpReply::Ok("<html><body>Daily quota exceeded</body></html>", "text/html"));
  server_.Route(TilePath(0, 4), HttpReply::Ok("", "image/png"));
  CTileManager manager(Options());
  ASSERT_TRUE(manager.Start());
  const int64_t expected[] = {DS_NOT_EXIST, DS_LIMIT, DS_LIMIT, DS_LIMIT, DS_NOT_EXIST};
  for (int y = 0; y < 5; ++y) {
    EXPECT_EQ(Load(manager, Key(0, y)), expected[y]) << y;
    EXPECT_EQ(RequestsFor(0, y), 1u) << y;
    // Asked for again, these states stay.
    EXPECT_EQ(manager.GetTile(Key(0, y))->GetState(), expected[y]) << y;
  }
  EXPECT_EQ(TileFailureCount(DS_LIMIT), 3u);

  // Over the quota, a tile is fetched again only with the global switch on.
  server_.Route(TilePath(0, 1), PngReply(0xFFFFFF00));
  manager.SetRetryOverLimit(true);
  manager.GetTile(Key(0, 1));
  EXPECT_EQ(manager.WaitForState(Key(0, 1), kWait), DS_LOADED);

  // A source that the catalogue does not hold is not fetched from any other source, and leaves
  // no store behind.
  ASSERT_EQ(LayerManager().FindSourceStrict(9), nullptr);
  EXPECT_EQ(Load(manager, Key(0, 0, 9)), DS_NOT_EXIST);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("9.img")));
}

TEST_F(TileManagerTest, FailuresAreRetriedUpToTheLimit) {
  Script(1, 0, {HttpReply::ServerError(), HttpReply::ServerError(), PngReply(0xFF00FF00)});
  server_.Route(TilePath(1, 1), HttpReply::ServerError());
  server_.Route(TilePath(1, 2), HttpReply::HtmlErrorPage());
  server_.Route(TilePath(1, 3), HttpReply::Ok("<html><body>oops</body></html>", "image/png"));
  CTileManager manager(Options());
  ASSERT_TRUE(manager.Start());

  std::shared_ptr<CTile> tile;
  EXPECT_EQ(Load(manager, Key(1, 0), &tile), DS_LOADED);
  EXPECT_EQ(tile->Retries(), 2);
  EXPECT_EQ(RequestsFor(1, 0), 3u);
  for (int y : {1, 2, 3}) {
    EXPECT_EQ(Load(manager, Key(1, y), &tile), DS_FAILED) << y;
    EXPECT_EQ(tile->Retries(), 3) << y;
    EXPECT_EQ(RequestsFor(1, y), 3u) << y;
  }
  EXPECT_EQ(TileFailureCount(DS_FAILED), 2u + 9u);

  // Asked for again, a failed tile gets fresh retries.
  server_.Route(TilePath(1, 1), PngReply(0xFF00FF00));
  EXPECT_EQ(Load(manager, Key(1, 1), &tile), DS_LOADED);
  EXPECT_EQ(tile->Retries(), 0);
  EXPECT_EQ(RequestsFor(1, 1), 4u);
}

TEST_F(TileManagerTest, RefusedConnectionFailsAfterTheRetries) {
  {
    test::HttpTestServer gone;  // a port on which nothing listens any more
    PointSourceAt(gone.BaseUrl());
  }
  std::vector<int> net_states;
  std::mutex net_mutex;
  CTileManager manager(Options());
  manager.SetNetStateSink([&](int state) {
    std::lock_guard lock(net_mutex);
    net_states.push_back(state);
  });
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> tile;
  EXPECT_EQ(Load(manager, Key(2, 2), &tile), DS_FAILED);
  EXPECT_EQ(tile->Retries(), 3);
  manager.Stop();
  std::lock_guard lock(net_mutex);
  // The first refusal is news; the retries meet the remembered host and tell nothing new.
  EXPECT_EQ(net_states, std::vector<int>(1, kTileNetFailed));
}

TEST_F(TileManagerTest, AnUnreachableHostFailsItsOtherTilesAtOnceAndNoOtherHost) {
  {
    test::HttpTestServer gone;  // a port on which nothing listens any more
    PointSourceAt(gone.BaseUrl());
  }
  // Another source on a host that answers.
  constexpr int kOther = 7;
  ASSERT_NE(LayerManager().FindSourceStrict(kOther), nullptr);
  ASSERT_TRUE(WriteProfileString(kUrlTemplatesSection, std::to_string(kOther), server_.BaseUrl() + "/s/{z}/{x}/{y}.png"));
  server_.Route("/s/3/1/1.png", PngReply(0xFF00AA00));

  // Each real fetch that fails reports the network as failed: the reports count the waits.
  auto run = [&](unsigned host_failure_ms, std::vector<int>* net_states) {
    std::mutex net_mutex;
    TileManagerOptions options = Options(1);
    options.host_failure_ms = host_failure_ms;
    CTileManager manager(options);
    manager.SetNetStateSink([&](int state) {
      std::lock_guard lock(net_mutex);
      net_states->push_back(state);
    });
    ASSERT_TRUE(manager.Start());
    std::vector<std::shared_ptr<CTile>> tiles;
    for (int x = 0; x < 8; ++x) tiles.push_back(manager.GetTile(Key(x, 6)));
    std::shared_ptr<CTile> other = manager.GetTile(Key(1, 1, kOther));
    for (const auto& tile : tiles) {
      EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_FAILED);
      EXPECT_EQ(tile->Retries(), 3);  // the retries are counted as before
    }
    EXPECT_EQ(manager.WaitForState(*other, kWait), DS_LOADED);
    manager.Stop();
  };
  std::vector<int> remembered, forgotten;
  run(60000, &remembered);
  // One refusal was met; every other tile of that host failed without a connection of its own.
  EXPECT_EQ(std::count(remembered.begin(), remembered.end(), kTileNetFailed), 1);
  EXPECT_EQ(std::count(remembered.begin(), remembered.end(), kTileNetOk), 1);
  // Without the memory every attempt of every tile connects and fails on its own.
  run(0, &forgotten);
  EXPECT_EQ(std::count(forgotten.begin(), forgotten.end(), kTileNetFailed), 8 * 3);
}

TEST_F(TileManagerTest, TimeOutsAndCutRepliesGoBackToTheQueue) {
  // The first answer comes after the fetch gave up; the second at once.
  Script(2, 0, {HttpReply::Delayed(5000, PngReply(0xFF0000FF)), PngReply(0xFF0000FF)});
  HttpReply cut = PngReply(0xFF0000FF);
  cut.drop_mid_body = true;
  Script(2, 1, {cut, PngReply(0xFF0000FF)});
  Script(2, 2, {HttpReply::Ok("GIF89a but not really a picture", "image/gif"), PngReply(0xFF0000FF)});
  TileManagerOptions options = Options(1);
  options.http_timeout_ms = 800;
  CTileManager manager(options);
  ASSERT_TRUE(manager.Start());
  for (int y : {0, 1, 2}) {
    std::shared_ptr<CTile> tile;
    EXPECT_EQ(Load(manager, Key(2, y), &tile), DS_LOADED) << y;
    EXPECT_EQ(tile->Retries(), 0) << y;  // these failures count no retry
    EXPECT_EQ(RequestsFor(2, y), 2u) << y;
  }
  EXPECT_EQ(TileFailureCount(DS_TIMEOUT), 1u);
  EXPECT_EQ(TileFailureCount(DS_SCRAP), 2u);
  manager.Stop();

  // Time-outs long after the first attempt fail for good.
  server_.Route(TilePath(3, 0), HttpReply::Delayed(3000, HttpReply::Ok("late", "image/png")));
  options.http_timeout_ms = 100;
  options.give_up_ms = 0;  // every time-out lies past the limit
  CTileManager impatient(options);
  ASSERT_TRUE(impatient.Start());
  std::shared_ptr<CTile> tile;
  EXPECT_EQ(Load(impatient, Key(3, 0), &tile), DS_FAILED);
  EXPECT_EQ(tile->Retries(), 3);
  EXPECT_EQ(TileFailureCount(DS_TIMEOUT), 1u + 3u);
}

TEST_F(TileManagerTest, OfflineModeFetchesNothing) {
  server_.Route(TilePath(4, 4), PngReply(0xFF123456));
  TileManagerOptions options = Options();
  options.offline = true;
  CTileManager manager(options);
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> tile;
  EXPECT_EQ(Load(manager, Key(4, 4), &tile), DS_OFFLINE);
  EXPECT_EQ(manager.GetTile(Key(4, 4))->GetState(), DS_OFFLINE);
  EXPECT_EQ(server_.RequestCount(), 0u);
  // Back online, the tiles that waited are fetched.
  manager.SetOffline(false);
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED);
  EXPECT_EQ(RequestsFor(4, 4), 1u);
}

TEST_F(TileManagerTest, UnusableStoredBytesAreFetchedAgain) {
  const std::string png = Png(0xFF445566);
  server_.Route(TilePath(5, 5), HttpReply::Ok(png, "image/png"));
  CTileManager manager(Options());
  CTileStore* store = manager.OpenStore(kSource);
  ASSERT_NE(store, nullptr);
  ASSERT_EQ(store->Write(Key(5, 5), "junk", 4, false), TileWriteResult::kWritten);
  ASSERT_TRUE(manager.Start());
  EXPECT_EQ(Load(manager, Key(5, 5)), DS_LOADED);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(manager.ReadTileBytes(Key(5, 5), bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), png);
  // A key the store lacks, and a source without a store, both leave the array empty.
  EXPECT_FALSE(manager.ReadTileBytes(Key(5, 6), bytes));
  EXPECT_TRUE(bytes.empty());
  bytes.assign(3, 1);
  EXPECT_FALSE(manager.ReadTileBytes(Key(5, 5, 9), bytes));
  EXPECT_TRUE(bytes.empty());
}

TEST(TileManagerOptions, DefaultsFollowTheRoadOfATile) {
  // A download thread pauses 200 ms after a time-out; transient failures fail once the first
  // attempt lies 3000 ms back; a tile that left the view is freed 3000 ms later.
  TileManagerOptions o;
  EXPECT_EQ(o.timeout_pause_ms, 200u);
  EXPECT_EQ(o.give_up_ms, 3000u);
  EXPECT_EQ(o.free_delay_ms, 3000u);
}

TEST_F(TileManagerTest, GeocoderRepliesTravelAsTiles) {
  ASSERT_TRUE(WriteProfileString(kUrlTemplatesSection, "8", server_.BaseUrl() + "/geo?lat={lat}&lng={lng}"));
  std::atomic<int> calls{0};
  server_.Route("/geo", [&calls](const test::HttpRequestRecord&) {
    return ++calls == 1 ? HttpReply::Ok("{ \"status\" : \"OVER_QUERY_LIMIT\" }", "application/json")
                        : HttpReply::Ok("{ \"results\" : [], \"status\" : \"OK\" }", "application/json");
  });
  CTileManager manager(Options(1));
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> tile;
  EXPECT_EQ(Load(manager, Key(1, 1, 8), &tile), DS_LIMIT);
  EXPECT_NE(dynamic_cast<CGeocodeReply*>(tile.get()), nullptr);
  EXPECT_FALSE(manager.IsTileStored(Key(1, 1, 8)));
  EXPECT_EQ(Load(manager, Key(1, 2, 8), &tile), DS_LOADED);
  EXPECT_EQ(tile->GetImage(), nullptr);
  EXPECT_TRUE(manager.IsTileStored(Key(1, 2, 8)));
}

TEST_F(TileManagerTest, TilesThatLeftTheViewAreFreedUnlessAskedAgain) {
  server_.Route(TilePath(6, 0), PngReply(0xFF000001));
  server_.Route(TilePath(6, 1), PngReply(0xFF000002));
  TileManagerOptions options = Options();
  options.free_delay_ms = 0;
  CTileManager quick(options);
  ASSERT_TRUE(quick.Start());
  std::shared_ptr<CTile> gone, back;
  ASSERT_EQ(Load(quick, Key(6, 0), &gone), DS_LOADED);
  const CBitmap* image = gone->GetImage();
  quick.MarkInView(gone.get());
  quick.MarkLeftView(gone.get());
  EXPECT_TRUE(quick.WaitForRelease(Key(6, 0), kWait));
  EXPECT_EQ(gone->LoadedImage(), image);  // the holder's tile stays whole
  // Asked for again, it is a new tile read from the store.
  EXPECT_EQ(Load(quick, Key(6, 0), &back), DS_LOADED);
  EXPECT_NE(back, gone);
  EXPECT_EQ(RequestsFor(6, 0), 1u);
  quick.Stop();  // releases the store for the next manager

  options.free_delay_ms = 600000;
  CTileManager slow(options);
  ASSERT_TRUE(slow.Start());
  std::shared_ptr<CTile> kept;
  ASSERT_EQ(Load(slow, Key(6, 1), &kept), DS_LOADED);
  slow.MarkInView(kept.get());
  slow.DiscardTile(kept.get());  // shown: stays
  EXPECT_EQ(slow.FindTile(Key(6, 1)), kept);
  slow.MarkLeftView(kept.get());
  EXPECT_TRUE(IsStampedState(kept->GetState()));
  EXPECT_EQ(slow.GetTile(Key(6, 1)), kept);
  EXPECT_EQ(kept->GetState(), DS_LOADED);
  slow.DiscardTile(kept.get());
  EXPECT_EQ(slow.FindTile(Key(6, 1)), nullptr);
}

TEST_F(TileManagerTest, CacheKeepsItsSizeWithoutDroppingShownTiles) {
  TileManagerOptions options = Options(0);
  options.max_tiles = 4;
  options.offline = true;
  CTileManager manager(options);
  CTileStore* store = manager.OpenStore(kSource);
  ASSERT_NE(store, nullptr);
  const std::string png = Png(0xFF808080);
  for (int x = 0; x < 8; ++x) ASSERT_EQ(store->Write(Key(x, 7), png.data(), png.size(), false), TileWriteResult::kWritten);
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> shown;
  ASSERT_EQ(Load(manager, Key(0, 7), &shown), DS_LOADED);
  manager.MarkInView(shown.get());
  for (int x = 1; x < 8; ++x) ASSERT_EQ(Load(manager, Key(x, 7)), DS_LOADED) << x;
  EXPECT_LE(manager.TileCount(), 4u);
  EXPECT_EQ(manager.FindTile(Key(0, 7)), shown);
  EXPECT_NE(manager.FindTile(Key(7, 7)), nullptr);
  EXPECT_EQ(manager.FindTile(Key(1, 7)), nullptr);
}

TEST_F(TileManagerTest, FullDiskFailsTheTileAndIsReportedOnce) {
  for (int y = 0; y < 2; ++y) server_.Route(TilePath(7, y), PngReply(0xFF0A0B0C));
  std::vector<std::string> reports;
  std::mutex report_mutex;
  CTileManager manager(Options(1));
  manager.SetDiskFullSink([&](const std::string& message) {
    std::lock_guard lock(report_mutex);
    reports.push_back(message);
  });
  ASSERT_NE(manager.OpenStore(kSource), nullptr);
  ASSERT_TRUE(manager.Start());

  // The file size limit stands in for a full disk.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = std::filesystem::file_size(dir_.File("0.img")) + 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::shared_ptr<CTile> a;
  int64_t state_a = Load(manager, Key(7, 0), &a);
  int64_t state_b = Load(manager, Key(7, 1));
  setrlimit(RLIMIT_FSIZE, &old_limit);

  EXPECT_EQ(state_a, DS_FAILED);
  EXPECT_EQ(state_b, DS_FAILED);
  EXPECT_EQ(RequestsFor(7, 0), 1u);  // no retries: the disk will not be emptier in a moment
  {
    std::lock_guard lock(report_mutex);
    EXPECT_EQ(reports.size(), 1u);
  }
  // With room again the program simply goes on, and a tile that failed is stored when asked again.
  EXPECT_EQ(manager.GetTile(Key(7, 0)), a);
  EXPECT_EQ(manager.WaitForState(*a, kWait), DS_LOADED);
  EXPECT_TRUE(manager.IsTileStored(Key(7, 0)));
  EXPECT_EQ(a->LoadedImage()->GetPixel(1, 1), 0xFF0A0B0Cu);
}

TEST_F(TileManagerTest, DownloadListSurvivesARestart) {
  for (int x = 0; x < 3; ++x) server_.Route(TilePath(x, 6), PngReply(0xFF7F7F7F));
  {
    // No download threads: the tiles are still waiting when the program ends.
    CTileManager first(Options(0));
    ASSERT_TRUE(first.Start());
    for (int x = 0; x < 3; ++x) first.GetTile(Key(x, 6));
  }
  std::vector<TileKey> keys;
  ASSERT_EQ(ReadDownloadList(dir_.File(kDownloadListFileName), &keys), ArchiveLoad::kOk);
  EXPECT_EQ(keys, (std::vector<TileKey>{Key(2, 6), Key(1, 6), Key(0, 6)}));
  EXPECT_EQ(server_.RequestCount(), 0u);
  {
    CTileManager second(Options());
    ASSERT_TRUE(second.Start());
    for (int x = 0; x < 3; ++x) EXPECT_EQ(second.WaitForState(Key(x, 6), kWait), DS_LOADED) << x;
  }
  EXPECT_EQ(server_.RequestCount(), 3u);
  ASSERT_EQ(ReadDownloadList(dir_.File(kDownloadListFileName), &keys), ArchiveLoad::kOk);
  EXPECT_TRUE(keys.empty());

  // A damaged list is set aside, not resumed and not overwritten.
  test::WriteTestFile(dir_.File(kDownloadListFileName), "garbage");
  CTileManager third(Options());
  ASSERT_TRUE(third.Start());
  EXPECT_EQ(third.TileCount(), 0u);
  third.Stop();
  EXPECT_EQ(test::ReadTestFile(dir_.File(std::string(kDownloadListFileName) + ".damaged")), "garbage");
}

TEST_F(TileManagerTest, OfflineRunKeepsTheDownloadList) {
  const std::vector<TileKey> wanted = {Key(2, 8), Key(1, 8), Key(0, 8)};
  ASSERT_TRUE(WriteDownloadList(dir_.File(kDownloadListFileName), wanted));
  {
    TileManagerOptions options = Options();
    options.offline = true;
    CTileManager offline(options);
    ASSERT_TRUE(offline.Start());
    for (TileKey key : wanted) EXPECT_EQ(offline.WaitForState(key, kWait), DS_OFFLINE);
  }
  // Nothing could be fetched: every tile is still to be downloaded by the next run.
  std::vector<TileKey> keys;
  ASSERT_EQ(ReadDownloadList(dir_.File(kDownloadListFileName), &keys), ArchiveLoad::kOk);
  EXPECT_EQ(keys, wanted);
  EXPECT_EQ(server_.RequestCount(), 0u);
}

TEST_F(TileManagerTest, StopCancelsAFetchUnderWayAndKeepsItsTile) {
  // The server holds the reply far beyond the stop; the fetch must not hold the stop that long.
  server_.Route(TilePath(4, 7), HttpReply::Delayed(60000, HttpReply::Ok("late", "image/png")));
  TileManagerOptions options = Options(1);
  options.http_timeout_ms = 120000;
  CTileManager manager(options);
  ASSERT_TRUE(manager.Start());
  manager.GetTile(Key(4, 7));
  ASSERT_TRUE(server_.WaitForRequests(1));
  const auto begin = std::chrono::steady_clock::now();
  manager.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
  std::vector<TileKey> keys;
  ASSERT_EQ(ReadDownloadList(dir_.File(kDownloadListFileName), &keys), ArchiveLoad::kOk);
  EXPECT_EQ(keys, std::vector<TileKey>{Key(4, 7)});
}

}  // namespace
}  // namespace velmora

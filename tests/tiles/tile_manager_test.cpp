// The tile manager against a web server on 127.0.0.1: a tile's road from DS_UNLOAD to DS_LOADED
// and into the store, each failure ending in its state (404, HTML pages, quota, time-out, refused
// connection, cut or unusable bytes), retries and their limit, offline mode, stamped tiles freed,
// the cache's size limit, a full disk, and the download list across a restart.
#include "tiles/tile_manager.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "platform/sync.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"
#include "tiles/download_list.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"

namespace velmora {
namespace {

const test::TempDir& ConfigDir() {
  static test::TempDir dir;
  return dir;
}
const bool kConfigured = [] {
  setenv("VELMORA_CONFIG_DIR", ConfigDir().path().c_str(), 1);
  setenv("VELMORA_DATA_DIR", ConfigDir().File("data/").c_str(), 1);
  setenv("VELMORA_PROGRAM_DIR", VELMORA_SOURCE_DIR "/data/", 1);
  return true;
}();

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

// A port on which nothing listens.
int ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

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
  void Script(int x, int y, std::vector<test::HttpReply> replies) {
    auto count = std::make_shared<std::atomic<size_t>>(0);
    server_.Route(TilePath(x, y), [replies, count](const test::HttpRequestRecord&) {
      size_t n = count->fetch_add(1);
      return replies[std::min(n, replies.size() - 1)];
    });
  }
  size_t RequestsFor(int x, int y) const {
    size_t n = 0;
    for (const auto& r : server_.Requests()) n += r.path == TilePath(x, y) ? 1 : 0;
    return n;
  }

  test::HttpTestServer server_;
  test::TempDir dir_;
};

TEST_F(TileManagerTest, TileTravelsFromUnloadToLoadedAndIntoTheStore) {
  const std::string png = Png(0xFF2040C0);
  server_.Route(TilePath(1, 2), test::HttpReply::Ok(png, "image/png"));
  std::atomic<int> net_state{0};
  Event net_reported;
  {
    CTileManager manager(Options());
    manager.SetNetStateSink([&](int state) {
      net_state = state;
      net_reported.Set();
    });
    std::shared_ptr<CTile> tile = manager.GetTile(Key(1, 2));
    EXPECT_EQ(tile->GetState(), DS_UNLOAD);  // nothing runs before Start
    EXPECT_EQ(manager.GetTile(TileKeyLow(Key(1, 2)), TileKeyHigh(Key(1, 2))), tile);
    EXPECT_FALSE(manager.IsTileStored(Key(1, 2)));
    ASSERT_TRUE(manager.Start());
    EXPECT_FALSE(manager.Start());

    ASSERT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED);
    const CBitmap* image = tile->LoadedImage();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->GetPixel(128, 128), 0xFF2040C0u);
    EXPECT_TRUE(net_reported.Wait(kWait));  // the indicator is told after the tile's state
    EXPECT_EQ(net_state.load(), kTileNetOk);
    EXPECT_TRUE(manager.IsTileStored(Key(1, 2)));
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(manager.ReadTileBytes(TileKeyLow(Key(1, 2)), TileKeyHigh(Key(1, 2)), bytes));
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), png);
    EXPECT_EQ(RequestsFor(1, 2), 1u);
    manager.Stop();
  }
  EXPECT_TRUE(std::filesystem::exists(dir_.File("0.img")));
  EXPECT_TRUE(std::filesystem::exists(dir_.File("0.idx")));

  // A later run finds it in the store, offline, without asking the server.
  TileManagerOptions offline = Options();
  offline.offline = true;
  CTileManager again(offline);
  ASSERT_TRUE(again.Start());
  std::shared_ptr<CTile> tile = again.GetTile(Key(1, 2));
  ASSERT_EQ(again.WaitForState(*tile, kWait), DS_LOADED);
  EXPECT_EQ(tile->LoadedImage()->GetPixel(0, 0), 0xFF2040C0u);
  EXPECT_EQ(RequestsFor(1, 2), 1u);
}

TEST_F(TileManagerTest, DefinitiveFailuresAreAskedOnce) {
  server_.Route(TilePath(0, 0), test::HttpReply::NotFound());
  server_.Route(TilePath(0, 1), test::HttpReply::Status(429, "slow down"));
  server_.Route(TilePath(0, 2), test::HttpReply::Status(509, "bandwidth"));
  server_.Route(TilePath(0, 3), test::HttpReply::Ok("<html><body>Daily quota exceeded</body></html>", "text/html"));
  server_.Route(TilePath(0, 4), test::HttpReply::Ok("", "image/png"));
  CTileManager manager(Options());
  ASSERT_TRUE(manager.Start());
  const int64_t expected[] = {DS_NOT_EXIST, DS_LIMIT, DS_LIMIT, DS_LIMIT, DS_NOT_EXIST};
  for (int y = 0; y < 5; ++y) {
    std::shared_ptr<CTile> tile = manager.GetTile(Key(0, y));
    EXPECT_EQ(manager.WaitForState(*tile, kWait), expected[y]) << y;
    EXPECT_EQ(RequestsFor(0, y), 1u) << y;
    EXPECT_FALSE(manager.IsTileStored(Key(0, y))) << y;
    // Asked for again, these states stay.
    EXPECT_EQ(manager.GetTile(Key(0, y))->GetState(), expected[y]) << y;
  }
  EXPECT_EQ(TileFailureCount(DS_NOT_EXIST), 2u);
  EXPECT_EQ(TileFailureCount(DS_LIMIT), 3u);

  // A source that the catalogue does not hold is not fetched from any other source, and leaves
  // no store behind.
  ASSERT_EQ(LayerManager().FindSourceStrict(9), nullptr);
  std::shared_ptr<CTile> unknown = manager.GetTile(Key(0, 0, 9));
  EXPECT_EQ(manager.WaitForState(*unknown, kWait), DS_NOT_EXIST);
  EXPECT_FALSE(std::filesystem::exists(dir_.File("9.img")));
}

TEST_F(TileManagerTest, FailuresAreRetriedUpToTheLimit) {
  const std::string png = Png(0xFF00FF00);
  Script(1, 0, {test::HttpReply::ServerError(), test::HttpReply::ServerError(), test::HttpReply::Ok(png, "image/png")});
  server_.Route(TilePath(1, 1), test::HttpReply::ServerError());
  server_.Route(TilePath(1, 2), test::HttpReply::HtmlErrorPage());
  server_.Route(TilePath(1, 3), test::HttpReply::Ok("<html><body>oops</body></html>", "image/png"));
  CTileManager manager(Options());
  ASSERT_TRUE(manager.Start());

  std::shared_ptr<CTile> recovers = manager.GetTile(Key(1, 0));
  EXPECT_EQ(manager.WaitForState(*recovers, kWait), DS_LOADED);
  EXPECT_EQ(recovers->Retries(), 2);
  EXPECT_EQ(RequestsFor(1, 0), 3u);

  for (int y : {1, 2, 3}) {
    std::shared_ptr<CTile> tile = manager.GetTile(Key(1, y));
    EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_FAILED) << y;
    EXPECT_EQ(tile->Retries(), 3) << y;
    EXPECT_EQ(RequestsFor(1, y), 3u) << y;
    EXPECT_FALSE(manager.IsTileStored(Key(1, y)));
  }
  EXPECT_EQ(TileFailureCount(DS_FAILED), 2u + 9u);

  // Asked for again, a failed tile gets fresh retries.
  server_.Route(TilePath(1, 1), test::HttpReply::Ok(png, "image/png"));
  std::shared_ptr<CTile> tile = manager.GetTile(Key(1, 1));
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED);
  EXPECT_EQ(tile->Retries(), 0);
  EXPECT_EQ(RequestsFor(1, 1), 4u);
}

TEST_F(TileManagerTest, RefusedConnectionFailsAfterTheRetries) {
  PointSourceAt("http://127.0.0.1:" + std::to_string(ClosedPort()));
  std::vector<int> net_states;
  std::mutex net_mutex;
  CTileManager manager(Options());
  manager.SetNetStateSink([&](int state) {
    std::lock_guard lock(net_mutex);
    net_states.push_back(state);
  });
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> tile = manager.GetTile(Key(2, 2));
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_FAILED);
  EXPECT_EQ(tile->Retries(), 3);
  EXPECT_NE(tile->FirstAttemptTick(), 0u);
  manager.Stop();
  std::lock_guard lock(net_mutex);
  EXPECT_EQ(net_states, std::vector<int>(3, kTileNetFailed));
}

TEST_F(TileManagerTest, TimeOutsAndCutRepliesGoBackToTheQueue) {
  const std::string png = Png(0xFF0000FF);
  // The first answer comes after the fetch gave up; the second at once.
  Script(2, 0, {test::HttpReply::Delayed(5000, test::HttpReply::Ok(png, "image/png")),
                test::HttpReply::Ok(png, "image/png")});
  test::HttpReply cut = test::HttpReply::Ok(png, "image/png");
  cut.drop_mid_body = true;
  Script(2, 1, {cut, test::HttpReply::Ok(png, "image/png")});
  Script(2, 2, {test::HttpReply::Ok("GIF89a but not really a picture", "image/gif"),
                test::HttpReply::Ok(png, "image/png")});
  TileManagerOptions options = Options(1);
  options.http_timeout_ms = 800;
  CTileManager manager(options);
  ASSERT_TRUE(manager.Start());
  for (int y : {0, 1, 2}) {
    std::shared_ptr<CTile> tile = manager.GetTile(Key(2, y));
    EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED) << y;
    EXPECT_EQ(tile->Retries(), 0) << y;  // these failures count no retry
    EXPECT_EQ(RequestsFor(2, y), 2u) << y;
  }
  EXPECT_EQ(TileFailureCount(DS_TIMEOUT), 1u);
  EXPECT_EQ(TileFailureCount(DS_SCRAP), 2u);
}

TEST_F(TileManagerTest, TimeOutsLongAfterTheFirstAttemptFail) {
  server_.Route(TilePath(3, 0), test::HttpReply::Delayed(3000, test::HttpReply::Ok("late", "image/png")));
  TileManagerOptions options = Options(1);
  options.http_timeout_ms = 100;
  options.give_up_ms = 0;  // every time-out lies past the limit
  CTileManager manager(options);
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> tile = manager.GetTile(Key(3, 0));
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_FAILED);
  EXPECT_EQ(tile->Retries(), 3);
  EXPECT_EQ(TileFailureCount(DS_TIMEOUT), 3u);
}

TEST_F(TileManagerTest, QuotaIsRetriedOnlyWithTheGlobalSwitch) {
  const std::string png = Png(0xFFFFFF00);
  Script(3, 1, {test::HttpReply::Status(429, "later"), test::HttpReply::Ok(png, "image/png")});
  CTileManager manager(Options());
  manager.SetRetryOverLimit(true);
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> tile = manager.GetTile(Key(3, 1));
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED);
  EXPECT_EQ(RequestsFor(3, 1), 2u);

  // Off, the tile stays over the quota; switched on, asking again fetches it.
  manager.SetRetryOverLimit(false);
  Script(3, 2, {test::HttpReply::Status(429, "later"), test::HttpReply::Ok(png, "image/png")});
  tile = manager.GetTile(Key(3, 2));
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_LIMIT);
  EXPECT_EQ(manager.GetTile(Key(3, 2))->GetState(), DS_LIMIT);
  manager.SetRetryOverLimit(true);
  manager.GetTile(Key(3, 2));
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED);
}

TEST_F(TileManagerTest, OfflineModeFetchesNothing) {
  server_.Route(TilePath(4, 4), test::HttpReply::Ok(Png(0xFF123456), "image/png"));
  TileManagerOptions options = Options();
  options.offline = true;
  CTileManager manager(options);
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> tile = manager.GetTile(Key(4, 4));
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_OFFLINE);
  EXPECT_EQ(manager.GetTile(Key(4, 4))->GetState(), DS_OFFLINE);
  EXPECT_EQ(server_.RequestCount(), 0u);
  // Back online, the tiles that waited are fetched.
  manager.SetOffline(false);
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED);
  EXPECT_EQ(RequestsFor(4, 4), 1u);
}

TEST_F(TileManagerTest, UnusableStoredBytesAreFetchedAgain) {
  const std::string png = Png(0xFF445566);
  server_.Route(TilePath(5, 5), test::HttpReply::Ok(png, "image/png"));
  CTileManager manager(Options());
  CTileStore* store = manager.OpenStore(kSource);
  ASSERT_NE(store, nullptr);
  EXPECT_EQ(manager.OpenStore(kSource), store);
  EXPECT_EQ(manager.OpenStore(-1), nullptr);
  ASSERT_EQ(store->Write(Key(5, 5), "junk", 4, false), TileWriteResult::kWritten);
  ASSERT_TRUE(manager.Start());
  std::shared_ptr<CTile> tile = manager.GetTile(Key(5, 5));
  EXPECT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(manager.ReadTileBytes(Key(5, 5), bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), png);
}

TEST_F(TileManagerTest, GeocoderRepliesTravelAsTiles) {
  ASSERT_TRUE(WriteProfileString(kUrlTemplatesSection, "8", server_.BaseUrl() + "/geo?lat={lat}&lng={lng}"));
  std::atomic<int> calls{0};
  server_.Route("/geo", [&calls](const test::HttpRequestRecord&) {
    return ++calls == 1 ? test::HttpReply::Ok("{ \"status\" : \"OVER_QUERY_LIMIT\" }", "application/json")
                        : test::HttpReply::Ok("{ \"results\" : [], \"status\" : \"OK\" }", "application/json");
  });
  CTileManager manager(Options(1));
  ASSERT_TRUE(manager.Start());
  TileKey over = Key(1, 1, 8), fine = Key(1, 2, 8);
  std::shared_ptr<CTile> first = manager.GetTile(over);
  EXPECT_NE(dynamic_cast<CGeocodeReply*>(first.get()), nullptr);
  EXPECT_EQ(manager.WaitForState(*first, kWait), DS_LIMIT);
  EXPECT_FALSE(manager.IsTileStored(over));
  std::shared_ptr<CTile> second = manager.GetTile(fine);
  EXPECT_EQ(manager.WaitForState(*second, kWait), DS_LOADED);
  EXPECT_EQ(second->GetImage(), nullptr);
  EXPECT_TRUE(manager.IsTileStored(fine));
  EXPECT_TRUE(std::filesystem::exists(dir_.File("8.img")));
}

TEST_F(TileManagerTest, TilesThatLeftTheViewAreFreedUnlessAskedAgain) {
  server_.Route(TilePath(6, 0), test::HttpReply::Ok(Png(0xFF000001), "image/png"));
  server_.Route(TilePath(6, 1), test::HttpReply::Ok(Png(0xFF000002), "image/png"));
  TileManagerOptions options = Options();
  options.free_delay_ms = 0;
  CTileManager quick(options);
  ASSERT_TRUE(quick.Start());
  std::shared_ptr<CTile> gone = quick.GetTile(Key(6, 0));
  ASSERT_EQ(quick.WaitForState(*gone, kWait), DS_LOADED);
  const CBitmap* image = gone->GetImage();
  quick.MarkInView(gone.get());
  quick.MarkLeftView(gone.get());
  EXPECT_TRUE(IsStampedState(gone->GetState()));
  EXPECT_TRUE(quick.WaitForRelease(Key(6, 0), kWait));
  EXPECT_EQ(quick.FindTile(Key(6, 0)), nullptr);
  EXPECT_EQ(gone->LoadedImage(), image);  // the holder's tile stays whole
  // Asked for again, it is a new tile read from the store.
  std::shared_ptr<CTile> back = quick.GetTile(Key(6, 0));
  EXPECT_NE(back, gone);
  EXPECT_EQ(quick.WaitForState(*back, kWait), DS_LOADED);
  EXPECT_EQ(RequestsFor(6, 0), 1u);
  quick.Stop();

  options.free_delay_ms = 600000;
  CTileManager slow(options);
  ASSERT_TRUE(slow.Start());
  std::shared_ptr<CTile> kept = slow.GetTile(Key(6, 1));
  ASSERT_EQ(slow.WaitForState(*kept, kWait), DS_LOADED);
  slow.MarkInView(kept.get());
  slow.DiscardTile(kept.get());  // shown: stays
  EXPECT_EQ(slow.FindTile(Key(6, 1)), kept);
  slow.MarkLeftView(kept.get());
  int64_t stamp = kept->GetState();
  EXPECT_TRUE(IsStampedState(stamp));
  EXPECT_EQ(slow.WaitForState(*kept, 0), stamp);  // a stamped tile is loaded: final
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
  std::shared_ptr<CTile> shown = manager.GetTile(Key(0, 7));
  ASSERT_EQ(manager.WaitForState(*shown, kWait), DS_LOADED);
  manager.MarkInView(shown.get());
  for (int x = 1; x < 8; ++x) {
    std::shared_ptr<CTile> tile = manager.GetTile(Key(x, 7));
    ASSERT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED) << x;
  }
  EXPECT_LE(manager.TileCount(), 4u);
  EXPECT_EQ(manager.FindTile(Key(0, 7)), shown);
  EXPECT_NE(manager.FindTile(Key(7, 7)), nullptr);
  EXPECT_EQ(manager.FindTile(Key(1, 7)), nullptr);
}

TEST_F(TileManagerTest, FullDiskFailsTheTileAndIsReportedOnce) {
  const std::string png = Png(0xFF0A0B0C);
  for (int y = 0; y < 3; ++y) server_.Route(TilePath(7, y), test::HttpReply::Ok(png, "image/png"));
  std::vector<std::string> reports;
  std::mutex report_mutex;
  CTileManager manager(Options(1));
  manager.SetDiskFullSink([&](const std::string& message) {
    std::lock_guard lock(report_mutex);
    reports.push_back(message);
  });
  ASSERT_NE(manager.OpenStore(kSource), nullptr);
  ASSERT_TRUE(manager.Start());

  signal(SIGXFSZ, SIG_IGN);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limit = old_limit;
  limit.rlim_cur = std::filesystem::file_size(dir_.File("0.img")) + 100;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  std::shared_ptr<CTile> a = manager.GetTile(Key(7, 0));
  int64_t state_a = manager.WaitForState(*a, kWait);
  std::shared_ptr<CTile> b = manager.GetTile(Key(7, 1));
  int64_t state_b = manager.WaitForState(*b, kWait);
  setrlimit(RLIMIT_FSIZE, &old_limit);

  EXPECT_EQ(state_a, DS_FAILED);
  EXPECT_EQ(state_b, DS_FAILED);
  EXPECT_EQ(RequestsFor(7, 0), 1u);  // no retries: the disk will not be emptier in a moment
  EXPECT_FALSE(manager.IsTileStored(Key(7, 0)));
  {
    std::lock_guard lock(report_mutex);
    EXPECT_EQ(reports.size(), 1u);
  }
  // With room again the program simply goes on, and a tile that failed is stored when asked again.
  std::shared_ptr<CTile> c = manager.GetTile(Key(7, 2));
  EXPECT_EQ(manager.WaitForState(*c, kWait), DS_LOADED);
  EXPECT_TRUE(manager.IsTileStored(Key(7, 2)));
  EXPECT_EQ(manager.GetTile(Key(7, 0)), a);
  EXPECT_EQ(manager.WaitForState(*a, kWait), DS_LOADED);
  EXPECT_TRUE(manager.IsTileStored(Key(7, 0)));
  EXPECT_EQ(a->LoadedImage()->GetPixel(1, 1), 0xFF0A0B0Cu);
}

TEST_F(TileManagerTest, DownloadListSurvivesARestart) {
  const std::string png = Png(0xFF7F7F7F);
  for (int x = 0; x < 3; ++x) server_.Route(TilePath(x, 6), test::HttpReply::Ok(png, "image/png"));
  {
    // No download threads: the tiles are still waiting when the program ends.
    CTileManager first(Options(0));
    ASSERT_TRUE(first.Start());
    for (int x = 0; x < 3; ++x) first.GetTile(Key(x, 6));
    first.Stop();
  }
  std::vector<TileKey> keys;
  ASSERT_EQ(ReadDownloadList(dir_.File(kDownloadListFileName), &keys), ArchiveLoad::kOk);
  EXPECT_EQ(keys, (std::vector<TileKey>{Key(2, 6), Key(1, 6), Key(0, 6)}));
  EXPECT_EQ(server_.RequestCount(), 0u);

  {
    CTileManager second(Options());
    ASSERT_TRUE(second.Start());
    for (int x = 0; x < 3; ++x) EXPECT_EQ(second.WaitForState(Key(x, 6), kWait), DS_LOADED) << x;
    EXPECT_EQ(second.PendingKeys(), std::vector<TileKey>{});
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

TEST_F(TileManagerTest, StopCancelsAFetchUnderWayAndKeepsItsTile) {
  // The server holds the reply far beyond the stop; the fetch must not hold the stop that long.
  server_.Route(TilePath(4, 7), test::HttpReply::Delayed(60000, test::HttpReply::Ok("late", "image/png")));
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

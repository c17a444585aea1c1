// The tile manager under concurrent use (run under ThreadSanitizer too): requesters, the view's
// marks, discards and store readers racing the load and download threads with a small cache and
// instant freeing; and a stop in the middle of a busy download whose list resumes every tile.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "tiles/download_list.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

constexpr unsigned kWait = 60000;
constexpr int kZoom = 5;
constexpr int kSide = 10;  // tiles kSide x kSide

TileKey Key(int x, int y) { return MakeTileKey(x, y, kZoom); }  // source 0

Argb Colour(int x, int y) { return MakeArgb(255, static_cast<uint8_t>(x * 20), static_cast<uint8_t>(y * 20), 77); }

// Small distinct pictures, one per tile, served under "/t/<z>/<x>/<y>.png".
class TileServer {
 public:
  explicit TileServer(int delay_ms) {
    for (int x = 0; x < kSide; ++x) {
      for (int y = 0; y < kSide; ++y) {
        CBitmap bitmap;
        EXPECT_TRUE(bitmap.Create(16, 16, Colour(x, y)));
        std::vector<uint8_t> bytes;
        EXPECT_TRUE(EncodeImage(bitmap, ImageType::kPng, &bytes));
        tiles_[Path(x, y)] = std::string(bytes.begin(), bytes.end());
      }
    }
    server_.RoutePrefix("/t/", [this, delay_ms](const test::HttpRequestRecord& request) {
      auto it = tiles_.find(request.path);
      if (it == tiles_.end()) return test::HttpReply::NotFound();
      test::HttpReply reply = test::HttpReply::Ok(it->second, "image/png");
      reply.delay_ms = delay_ms;
      return reply;
    });
    EXPECT_TRUE(WriteProfileString(kUrlTemplatesSection, "0", server_.BaseUrl() + "/t/{z}/{x}/{y}.png"));
  }
  static std::string Path(int x, int y) {
    return "/t/" + std::to_string(kZoom) + "/" + std::to_string(x) + "/" + std::to_string(y) + ".png";
  }
  const std::string& Bytes(int x, int y) const { return tiles_.at(Path(x, y)); }
  test::HttpTestServer& Server() { return server_; }
  TileManagerOptions Options(const test::TempDir& dir, int threads) const {
    TileManagerOptions options;
    options.data_dir = dir.path();
    options.download_threads = threads;
    options.offline = false;
    return options;
  }

 private:
  std::map<std::string, std::string> tiles_;  // written before the server answers, then only read
  test::HttpTestServer server_;
};

TEST(TileManagerThreads, RequestersViewAndReadersRaceTheWorkers) {
  ASSERT_TRUE(LayerManager().IsLoaded());
  TileServer tiles(0);
  test::TempDir dir;
  TileManagerOptions options = tiles.Options(dir, 4);
  options.max_tiles = 16;      // far fewer than the tiles: eviction runs all the time
  options.free_delay_ms = 0;   // and so does the freeing of stamped tiles
  CTileManager manager(options);
  std::atomic<int> net_updates{0};
  manager.SetNetStateSink([&](int) { net_updates.fetch_add(1); });
  ASSERT_TRUE(manager.Start());

  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(t);
      for (int round = 0; round < 400; ++round) {
        int x = static_cast<int>(random() % kSide), y = static_cast<int>(random() % kSide);
        std::shared_ptr<CTile> tile = manager.GetTile(Key(x, y));
        const unsigned action = random() % 5;
        if (action == 0) manager.MarkInView(tile.get());
        if (action == 1) manager.MarkLeftView(tile.get());
        if (action == 2) manager.DiscardTile(tile.get());
        const CBitmap* image = tile->LoadedImage();
        EXPECT_TRUE(!image || image->GetPixel(3, 3) == Colour(x, y));
      }
    });
  }
  threads.emplace_back([&] {
    std::vector<uint8_t> bytes;
    while (!done.load()) {
      for (int x = 0; x < kSide; ++x) {
        const bool read = manager.ReadTileBytes(Key(x, x), bytes);
        EXPECT_TRUE(!read || std::string(bytes.begin(), bytes.end()) == tiles.Bytes(x, x));
        manager.IsTileStored(Key(x, 0));
      }
    }
  });
  for (size_t i = 0; i + 1 < threads.size(); ++i) threads[i].join();
  done = true;
  threads.back().join();

  // Every tile ends loaded with its own picture, and lies in the store.
  for (int x = 0; x < kSide; ++x) {
    for (int y = 0; y < kSide; ++y) {
      std::shared_ptr<CTile> tile = manager.GetTile(Key(x, y));
      ASSERT_EQ(manager.WaitForState(*tile, kWait), DS_LOADED) << x << "," << y;
      EXPECT_EQ(tile->LoadedImage()->GetPixel(0, 0), Colour(x, y));
      std::vector<uint8_t> bytes;
      ASSERT_TRUE(manager.ReadTileBytes(Key(x, y), bytes));
      EXPECT_EQ(std::string(bytes.begin(), bytes.end()), tiles.Bytes(x, y));
    }
  }
  EXPECT_GE(tiles.Server().RequestCount(), static_cast<size_t>(kSide * kSide));
  manager.Stop();  // after the threads end, every report has been made
  EXPECT_GT(net_updates.load(), 0);
}

TEST(TileManagerThreads, StopDuringDownloadsResumesEveryTile) {
  ASSERT_TRUE(LayerManager().IsLoaded());
  TileServer tiles(5);
  test::TempDir dir;
  const TileManagerOptions options = tiles.Options(dir, 3);
  {
    CTileManager manager(options);
    ASSERT_TRUE(manager.Start());
    for (int x = 0; x < kSide; ++x) {
      for (int y = 0; y < kSide; ++y) manager.GetTile(Key(x, y));
    }
    ASSERT_TRUE(tiles.Server().WaitForRequests(3));
    // Waiters on other threads see the stop through the tiles' states, never hang on it.
    std::thread waiter([&] { manager.WaitForState(Key(0, 0), kWait); });
    manager.Stop();
    waiter.join();
    EXPECT_FALSE(manager.IsRunning());
  }
  std::vector<TileKey> pending;
  ASSERT_EQ(ReadDownloadList(dir.File(kDownloadListFileName), &pending), ArchiveLoad::kOk);
  EXPECT_FALSE(pending.empty());

  CTileManager resumed(options);
  // A source store opened before the start is shared with the download threads.
  ASSERT_NE(resumed.OpenStore(0), nullptr);
  ASSERT_TRUE(resumed.Start());
  for (TileKey key : pending) EXPECT_EQ(resumed.WaitForState(key, kWait), DS_LOADED);
  for (int x = 0; x < kSide; ++x) {
    for (int y = 0; y < kSide; ++y) EXPECT_TRUE(resumed.IsTileStored(Key(x, y))) << x << "," << y;
  }
}

}  // namespace
}  // namespace velmora

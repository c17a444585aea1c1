// Tile manager speed: ReadTileBytes random reads (what the map server calls) beside the same reads
// straight from the store and from one file per tile (".../z/x/y.jpg") on the same disk in the
// same run, with the ratios printed at the end; GetTile of cached tiles (the view asks for its whole
// grid many times a second); and the two roads of a tile: store -> decoded (load thread) and web
// server on 127.0.0.1 -> store -> decoded (download threads).
//
// Own flags, given before Google Benchmark's:
//   --tiles=N       tiles of 20 KB in each layout for the read benchmarks (default 20000)
//   --dir=FOLDER    where the files go (default: a new folder in the temporary folder)
// Everything the benchmark writes is deleted at the end.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "support/http_test_server.h"
#include "tiles/layer_manager.h"
#include "tiles/map_source.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

struct Config {
  uint64_t tiles = 20000;
  size_t tile_bytes = 20480;
  std::string dir;
} g;

constexpr int kZoom = 17;
constexpr uint32_t kColumns = 200;
constexpr int kPipelineTiles = 500;  // tiles per iteration of the road benchmarks

std::unique_ptr<CTileManager> g_manager;
CTileStore* g_store = nullptr;
std::string g_jpeg;  // a 256 x 256 JPEG tile

// Tile n of the read fixture: source 0, a block of kColumns columns at zoom 17.
int TileX(uint64_t n) { return static_cast<int>(60000 + n % kColumns); }
int TileY(uint64_t n) { return static_cast<int>(40000 + n / kColumns); }
TileKey KeyOf(uint64_t n) { return MakeTileKey(TileX(n), TileY(n), kZoom); }
std::string FilePath(uint64_t n) {
  return g.dir + "files/17/" + std::to_string(TileX(n)) + "/" + std::to_string(TileY(n)) + ".jpg";
}

uint64_t NextRandom(uint64_t& x) {
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return x;
}

bool ReadTileFile(const std::string& path, std::vector<uint8_t>& out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) {
    out.resize(static_cast<size_t>(st.st_size));
    ok = ::read(fd, out.data(), out.size()) == st.st_size;
  }
  ::close(fd);
  return ok;
}

bool BuildFixtures() {
  CBitmap bitmap;
  if (!bitmap.Create(256, 256)) return false;
  std::mt19937 rng(7);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) bitmap.SetPixel(x, y, MakeArgb(255, uint8_t(x), uint8_t(y), uint8_t(rng() & 31)));
  std::vector<uint8_t> jpeg;
  if (!EncodeImage(bitmap, ImageType::kJpeg, &jpeg)) return false;
  g_jpeg.assign(jpeg.begin(), jpeg.end());

  TileManagerOptions options;
  options.data_dir = g.dir + "data/";
  options.download_threads = 5;
  options.offline = false;
  options.use_download_list = false;
  g_manager = std::make_unique<CTileManager>(options);
  g_store = g_manager->OpenStore(0);
  if (g_store == nullptr) return false;
  std::vector<uint8_t> bytes(g.tile_bytes);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  for (uint64_t n = 0; n < g.tiles; ++n) {
    std::memcpy(bytes.data(), &n, sizeof n);
    if (g_store->Write(KeyOf(n), bytes.data(), bytes.size(), false) != TileWriteResult::kWritten) return false;
    std::string path = FilePath(n);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (std::fclose(f) != 0 || !ok) return false;
  }
  return g_store->Flush();
}

void ManagerRead(benchmark::State& state) {
  uint64_t x = 88172645463325252ull + static_cast<uint64_t>(state.thread_index());
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (!g_manager->ReadTileBytes(KeyOf(NextRandom(x) % g.tiles), out)) state.SkipWithError("missing tile");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void StoreRead(benchmark::State& state) {
  uint64_t x = 88172645463325252ull + static_cast<uint64_t>(state.thread_index());
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (!g_store->Read(KeyOf(NextRandom(x) % g.tiles), out)) state.SkipWithError("missing tile");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

void FilesRead(benchmark::State& state) {
  uint64_t x = 88172645463325252ull + static_cast<uint64_t>(state.thread_index());
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (!ReadTileFile(FilePath(NextRandom(x) % g.tiles), out)) state.SkipWithError("missing file");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
}

// The view's grid: 40 tiles asked for again and again, all in the cache.
void GetCachedTile(benchmark::State& state) {
  static std::vector<TileKey> grid = [] {
    std::vector<TileKey> keys;
    for (int i = 0; i < 40; ++i) keys.push_back(MakeTileKey(i, 1, 23 * 1 + 10));
    for (TileKey key : keys) g_manager->GetTile(key);
    return keys;
  }();
  size_t i = static_cast<size_t>(state.thread_index());
  for (auto _ : state) benchmark::DoNotOptimize(g_manager->GetTile(grid[i++ % grid.size()]).get());
  state.SetItemsProcessed(state.iterations());
}

// Store -> decoded picture: the load thread's road for kPipelineTiles stored JPEG tiles.
void LoadFromStore(benchmark::State& state) {
  static std::atomic<int> round{0};
  for (auto _ : state) {
    state.PauseTiming();
    int r = round.fetch_add(1);
    std::vector<TileKey> keys;
    for (int i = 0; i < kPipelineTiles; ++i) {
      TileKey key = MakeTileKey(i, r, 2 * 23 + 16);  // source 2, zoom 16, a row per round
      g_manager->OpenStore(2)->Write(key, g_jpeg.data(), g_jpeg.size(), false);
      keys.push_back(key);
    }
    state.ResumeTiming();
    std::vector<std::shared_ptr<CTile>> tiles;
    for (TileKey key : keys) tiles.push_back(g_manager->GetTile(key));
    for (auto& tile : tiles) {
      if (g_manager->WaitForState(*tile, 60000) != DS_LOADED) state.SkipWithError("not loaded");
    }
    state.PauseTiming();
    for (auto& tile : tiles) g_manager->DiscardTile(tile.get());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kPipelineTiles);
}

// Web server -> store -> decoded picture: the download threads' road.
void DownloadFromServer(benchmark::State& state) {
  static test::HttpTestServer server;
  static bool routed = [] {
    server.RoutePrefix("/t/", [](const test::HttpRequestRecord&) { return test::HttpReply::Ok(g_jpeg, "image/jpeg"); });
    return WriteProfileString(kUrlTemplatesSection, "3", server.BaseUrl() + "/t/{z}/{x}/{y}.jpg");
  }();
  if (!routed) state.SkipWithError("no URL template");
  static std::atomic<int> round{0};
  for (auto _ : state) {
    int r = round.fetch_add(1);
    std::vector<std::shared_ptr<CTile>> tiles;
    for (int i = 0; i < kPipelineTiles; ++i) tiles.push_back(g_manager->GetTile(MakeTileKey(i, r, 3 * 23 + 16)));
    for (auto& tile : tiles) {
      if (g_manager->WaitForState(*tile, 60000) != DS_LOADED) state.SkipWithError("not downloaded");
    }
    state.PauseTiming();
    for (auto& tile : tiles) g_manager->DiscardTile(tile.get());
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kPipelineTiles);
}

using bench::ParseFlag;
using RatioReporter = bench::RateReporter;

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (ParseFlag(argv[i], "--tiles", &v))
      g.tiles = std::strtoull(v.c_str(), nullptr, 10);
    else if (ParseFlag(argv[i], "--dir", &v))
      g.dir = v;
    else
      rest.push_back(argv[i]);
  }
  if (g.tiles == 0) {
    std::fprintf(stderr, "--tiles must be positive\n");
    return 2;
  }
  int rest_count = static_cast<int>(rest.size());
  benchmark::Initialize(&rest_count, rest.data());

  // The catalogue and the URL override live in the shipped data and a profile of our own.
  g.dir = bench::MakeBenchFolder(g.dir, "tile-manager-bench");
  if (g.dir.empty()) return 1;
  SetLogToStderr(false);

  int code = 0;
  if (!LayerManager().IsLoaded() || !BuildFixtures()) {
    std::fprintf(stderr, "fixture could not be built\n");
    code = 1;
  } else if (!g_manager->Start()) {
    std::fprintf(stderr, "the tile manager did not start\n");
    code = 1;
  } else {
    std::printf("fixture: %llu tiles of %zu bytes per layout in %s\n",
                static_cast<unsigned long long>(g.tiles), g.tile_bytes, g.dir.c_str());
    benchmark::RegisterBenchmark("ManagerRead", ManagerRead)->UseRealTime();
    benchmark::RegisterBenchmark("StoreRead", StoreRead)->UseRealTime();
    benchmark::RegisterBenchmark("FilesRead", FilesRead)->UseRealTime();
    benchmark::RegisterBenchmark("ManagerRead", ManagerRead)->Threads(4)->UseRealTime();
    benchmark::RegisterBenchmark("FilesRead", FilesRead)->Threads(4)->UseRealTime();
    benchmark::RegisterBenchmark("GetCachedTile", GetCachedTile)->UseRealTime();
    benchmark::RegisterBenchmark("GetCachedTile", GetCachedTile)->Threads(4)->UseRealTime();
    benchmark::RegisterBenchmark("LoadFromStore", LoadFromStore)->Iterations(6)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("DownloadFromServer", DownloadFromServer)->Iterations(4)->UseRealTime()->Unit(benchmark::kMillisecond);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto ratio = [&](const char* what, const std::string& a, const std::string& b) {
      double ra = reporter.Rate(a), rb = reporter.Rate(b);
      if (ra > 0 && rb > 0) std::printf("%-44s %.2f\n", what, ra / rb);
    };
    std::printf("\nratios (items per second):\n");
    ratio("ReadTileBytes / one file per tile", "ManagerRead/real_time", "FilesRead/real_time");
    ratio("ReadTileBytes / one file per tile, 4 threads", "ManagerRead/real_time/threads:4",
          "FilesRead/real_time/threads:4");
    ratio("ReadTileBytes / CTileStore::Read", "ManagerRead/real_time", "StoreRead/real_time");
    g_manager->Stop();
  }
  g_manager.reset();
  std::error_code ec;
  std::filesystem::remove_all(g.dir, ec);
  benchmark::Shutdown();
  return code;
}

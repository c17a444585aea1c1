// Tile store speed: random reads of 20 KB tiles and appends, beside the layout most tile caches
// use (one file per tile, ".../z/x/y.jpg") on the same disk in the same run; the ratios are
// printed at the end. Also the open time and look-ups of a store of a million small records.
//
// Own flags, given before Google Benchmark's:
//   --tiles=N        tiles of each layout (default 100000; 1000000 is the full goal, 20 GB each)
//   --tile-bytes=N   bytes per tile (default 20480)
//   --appends=N      tiles written by the append benchmarks (default 20000)
//   --million=0      skip the store of a million small records
//   --drop-caches=1  before the cold reads also drop the kernel's inode and folder caches
//                    (root only), as after a reboot; otherwise only the tiles' pages are dropped
//   --dir=FOLDER     where the files go (default: a new folder in the temporary folder)
// Everything the benchmark writes is deleted at the end.
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "core/log.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

struct Config {
  uint64_t tiles = 100000;
  size_t tile_bytes = 20480;
  uint64_t appends = 20000;
  bool million = true;
  bool drop_caches = false;
  std::string dir;
} g;

std::unique_ptr<CTileStore> g_store;
std::unique_ptr<CTileStore> g_million;
constexpr uint64_t kMillion = 1'000'000;
constexpr uint32_t kColumns = 316;  // the tiles form a block of 316 columns at zoom 17

// Tile n: a key for the store and a z/x/y path for the files.
uint64_t KeyOf(uint64_t n) {
  return (uint64_t{17} << 58) | ((n / kColumns + 100000) << 29) | (n % kColumns + 50000);
}
void PathOf(const std::string& root, uint64_t n, char* out, size_t size) {
  std::snprintf(out, size, "%s17/%llu/%llu.jpg", root.c_str(),
                static_cast<unsigned long long>(n / kColumns + 100000),
                static_cast<unsigned long long>(n % kColumns + 50000));
}
std::string FilesRoot() { return g.dir + "files/"; }
std::string AppendRoot() { return g.dir + "append-files/"; }

std::vector<uint8_t> TileContent(uint64_t n) {
  static const std::vector<uint8_t> noise = [] {
    std::vector<uint8_t> v(g.tile_bytes);
    std::mt19937_64 rng(42);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    return v;
  }();
  std::vector<uint8_t> v = noise;
  std::memcpy(v.data(), &n, std::min<size_t>(8, v.size()));
  return v;
}

uint64_t NextRandom(uint64_t& x) {
  x ^= x << 13;
  x ^= x >> 7;
  x ^= x << 17;
  return x;
}

bool WriteTileFile(const std::string& root, uint64_t n, const std::vector<uint8_t>& bytes) {
  char path[512];
  PathOf(root, n, path, sizeof path);
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0 && errno == ENOENT) {  // the column folder comes with its first tile
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  }
  if (fd < 0) return false;
  bool ok = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(fd) == 0 && ok;
}

bool ReadTileFile(const std::string& root, uint64_t n, std::vector<uint8_t>& out) {
  char path[512];
  PathOf(root, n, path, sizeof path);
  int fd = ::open(path, O_RDONLY | O_CLOEXEC);
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

// Drops the cached pages of a file, so that the next reads go to the disk.
void Evict(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// ---- fixtures -------------------------------------------------------------------------------
double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool BuildFixtures() {
  std::printf("fixture: %llu tiles of %zu bytes per layout in %s\n",
              static_cast<unsigned long long>(g.tiles), g.tile_bytes, g.dir.c_str());
  g_store = std::make_unique<CTileStore>(g.dir + "store.");
  std::string error;
  if (!g_store->Open(true, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return false;
  }
  auto start = std::chrono::steady_clock::now();
  for (uint64_t n = 0; n < g.tiles; ++n) {
    auto bytes = TileContent(n);
    if (g_store->Write(KeyOf(n), bytes.data(), bytes.size(), true, &error) !=
        TileWriteResult::kWritten) {
      std::fprintf(stderr, "store: %s\n", error.c_str());
      return false;
    }
  }
  double store_s = Seconds(start);
  start = std::chrono::steady_clock::now();
  for (uint64_t n = 0; n < g.tiles; ++n) {
    if (!WriteTileFile(FilesRoot(), n, TileContent(n))) {
      std::fprintf(stderr, "files: cannot write tile %llu\n", static_cast<unsigned long long>(n));
      return false;
    }
  }
  double files_s = Seconds(start);
  std::printf("fixture writes: store %.0f tiles/s, files %.0f tiles/s\n", g.tiles / store_s,
              g.tiles / files_s);
  if (g.million) {
    g_million = std::make_unique<CTileStore>(g.dir + "million.");
    if (!g_million->Open(true, &error)) return false;
    start = std::chrono::steady_clock::now();
    std::vector<uint8_t> small(100, 7);
    for (uint64_t n = 0; n < kMillion; ++n) {
      std::memcpy(small.data(), &n, 8);
      g_million->Write(KeyOf(n), small.data(), small.size(), false);
    }
    g_million->Close();
    std::printf("fixture: a million records of 100 bytes written in %.2f s\n", Seconds(start));
  }
  ::sync();
  return true;
}

// ---- benchmarks -----------------------------------------------------------------------------
void StoreRead(benchmark::State& state) {
  std::vector<uint8_t> out;
  uint64_t x = 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(state.thread_index()) * 7919;
  for (auto _ : state) {
    if (!g_store->Read(KeyOf(NextRandom(x) % g.tiles), out)) state.SkipWithError("tile missing");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g.tile_bytes));
}

void FilesRead(benchmark::State& state) {
  std::vector<uint8_t> out;
  const std::string root = FilesRoot();
  uint64_t x = 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(state.thread_index()) * 7919;
  for (auto _ : state) {
    if (!ReadTileFile(root, NextRandom(x) % g.tiles, out)) state.SkipWithError("tile missing");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(g.tile_bytes));
}

void DropKernelCaches() {
  ::sync();
  int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
  if (fd < 0 || ::write(fd, "3", 1) != 1) std::fprintf(stderr, "cannot drop the kernel's caches\n");
  if (fd >= 0) ::close(fd);
}

// Cold: the cached pages of the layout are dropped first, so reads go to the disk.
void StoreColdRead(benchmark::State& state) {
  Evict(g_store->DataPath());
  if (g.drop_caches) DropKernelCaches();
  StoreRead(state);
}

void FilesColdRead(benchmark::State& state) {
  char path[512];
  for (uint64_t n = 0; n < g.tiles; ++n) {
    PathOf(FilesRoot(), n, path, sizeof path);
    Evict(path);
  }
  if (g.drop_caches) DropKernelCaches();
  FilesRead(state);
}

void StoreAppend(benchmark::State& state) {
  const std::string base = g.dir + "append.";
  {
    CTileStore store(base);
    store.Open(true);
    auto bytes = TileContent(0);
    uint64_t n = 0;
    for (auto _ : state) {
      std::memcpy(bytes.data(), &n, 8);
      if (store.Write(KeyOf(n++), bytes.data(), bytes.size(), true) != TileWriteResult::kWritten)
        state.SkipWithError("append failed");
    }
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove(base + "img");
  std::filesystem::remove(base + "idx");
}

void FilesWrite(benchmark::State& state) {
  auto bytes = TileContent(0);
  uint64_t n = 0;
  for (auto _ : state) {
    std::memcpy(bytes.data(), &n, 8);
    if (!WriteTileFile(AppendRoot(), n++, bytes)) state.SkipWithError("write failed");
  }
  state.SetItemsProcessed(state.iterations());
  std::filesystem::remove_all(AppendRoot());
}

void MillionOpen(benchmark::State& state) {
  g_million->Close();
  for (auto _ : state) {
    CTileStore store(g.dir + "million.");
    if (!store.Open(false)) state.SkipWithError("open failed");
    if (store.GetCount() != kMillion) state.SkipWithError("records missing");
  }
  state.counters["index_MB"] = static_cast<double>(kMillion * sizeof(TileStoreEntry)) / 1e6;
}

void OpenMillion() {
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (!g_million->IsOpen()) g_million->Open(false);
}

void MillionLookup(benchmark::State& state) {
  OpenMillion();
  uint64_t x = 88172645463325252ull + static_cast<uint64_t>(state.thread_index());
  for (auto _ : state) {
    if (!g_million->IsStored(KeyOf(NextRandom(x) % kMillion))) state.SkipWithError("missing");
  }
  state.SetItemsProcessed(state.iterations());
}

void MillionRead(benchmark::State& state) {
  OpenMillion();
  std::vector<uint8_t> out;
  uint64_t x = 88172645463325252ull + static_cast<uint64_t>(state.thread_index());
  for (auto _ : state) {
    if (!g_million->Read(KeyOf(NextRandom(x) % kMillion), out)) state.SkipWithError("missing");
  }
  state.SetItemsProcessed(state.iterations());
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
    else if (ParseFlag(argv[i], "--tile-bytes", &v))
      g.tile_bytes = std::strtoull(v.c_str(), nullptr, 10);
    else if (ParseFlag(argv[i], "--appends", &v))
      g.appends = std::strtoull(v.c_str(), nullptr, 10);
    else if (ParseFlag(argv[i], "--million", &v))
      g.million = v != "0";
    else if (ParseFlag(argv[i], "--drop-caches", &v))
      g.drop_caches = v != "0";
    else if (ParseFlag(argv[i], "--dir", &v))
      g.dir = v;
    else
      rest.push_back(argv[i]);
  }
  if (g.tiles == 0 || g.tile_bytes < 8 || g.appends == 0) {
    std::fprintf(stderr, "--tiles and --appends must be positive, --tile-bytes at least 8\n");
    return 2;
  }
  int rest_count = static_cast<int>(rest.size());
  benchmark::Initialize(&rest_count, rest.data());

  // A folder of our own inside the chosen one, removed whole at the end.
  std::string parent = g.dir.empty() ? std::filesystem::temp_directory_path().string() : g.dir;
  std::string templ = parent + "/velmora-tile-store-bench-XXXXXX";
  if (!mkdtemp(templ.data())) {
    std::perror(templ.c_str());
    return 1;
  }
  g.dir = templ + "/";
  SetLogToStderr(false);

  int status = 1;
  if (BuildFixtures()) {
    const int threads = 8;
    const auto cold = static_cast<benchmark::IterationCount>(std::min<uint64_t>(g.tiles, 20000));
    benchmark::RegisterBenchmark("StoreRead/warm", StoreRead)->UseRealTime();
    benchmark::RegisterBenchmark("FilesRead/warm", FilesRead)->UseRealTime();
    benchmark::RegisterBenchmark("StoreRead/warm", StoreRead)->Threads(threads)->UseRealTime();
    benchmark::RegisterBenchmark("FilesRead/warm", FilesRead)->Threads(threads)->UseRealTime();
    benchmark::RegisterBenchmark("StoreRead/cold", StoreColdRead)->Iterations(cold)->UseRealTime();
    benchmark::RegisterBenchmark("FilesRead/cold", FilesColdRead)->Iterations(cold)->UseRealTime();
    benchmark::RegisterBenchmark("StoreAppend", StoreAppend)
        ->Iterations(static_cast<benchmark::IterationCount>(g.appends))
        ->UseRealTime();
    benchmark::RegisterBenchmark("FilesWrite", FilesWrite)
        ->Iterations(static_cast<benchmark::IterationCount>(g.appends))
        ->UseRealTime();
    if (g.million) {
      benchmark::RegisterBenchmark("MillionOpen", MillionOpen)->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark("MillionLookup", MillionLookup)->UseRealTime();
      benchmark::RegisterBenchmark("MillionRead", MillionRead)->UseRealTime();
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto ratio = [&](const char* what, const std::string& ours, const std::string& theirs) {
      double a = reporter.Rate(ours), b = reporter.Rate(theirs);
      if (a > 0 && b > 0)
        std::printf("%-34s store %10.0f/s  files %10.0f/s  ratio %.2f\n", what, a, b, a / b);
    };
    std::printf("\nstore : one-file-per-tile (%llu tiles of %zu bytes)\n",
                static_cast<unsigned long long>(g.tiles), g.tile_bytes);
    ratio("random reads, 1 thread, cached", "StoreRead/warm/real_time", "FilesRead/warm/real_time");
    ratio("random reads, 8 threads, cached", "StoreRead/warm/real_time/threads:8",
          "FilesRead/warm/real_time/threads:8");
    ratio("random reads, 1 thread, from disk", "StoreRead/cold", "FilesRead/cold");
    ratio("appends", "StoreAppend", "FilesWrite");
    status = 0;
  }
  g_store.reset();
  g_million.reset();
  std::error_code ec;
  std::filesystem::remove_all(g.dir, ec);
  benchmark::Shutdown();
  return status;
}

// Rebuilding an address library from a store of 100,000 reverse-geocoding replies, beside a
// Python script (bench/address_rebuild_python_peer.py) that reads the same replies with its json
// module and merges them into the same tree; the ratio is printed after the table. Ours reads
// the replies out of the tile store (checksums included), the peer from a plain file.
#include "bench_support.h"

#include <fstream>

#include "core/format.h"
#include "core/settings.h"
#include "places/address_library.h"
#include "tiles/tile_key.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

constexpr int kReplies = 100000;
std::string g_dir;
std::unique_ptr<CTileStore> g_store;
double g_ours = 0, g_peer = 0;

std::string Reply(int i) {
  const char* districts[] = {"市南区", "市北区", "李沧区", "崂山区", "黄岛区", "城阳区"};
  const char* cities[] = {"青岛市", "济南市", "烟台市", "潍坊市"};
  return FormatC(
      "{\"status\":\"OK\",\"result\":{\"location\":{\"lng\":%.6f,\"lat\":%.6f},\"formatted_address\":\"山东省\","
      "\"business\":\"\",\"addressComponent\":{\"city\":\"%s\",\"district\":\"%s\",\"province\":\"山东省\","
      "\"street\":\"路%d\",\"street_number\":\"%d号\"},\"cityCode\":236},\"results\":[{\"name\":\"广场%d\","
      "\"location\":{\"lng\":%.6f,\"lat\":%.6f}},{\"name\":\"公园%d\",\"location\":{\"lng\":%.6f,\"lat\":%.6f}}]}",
      120 + (i % 1000) * 1e-3, 36 + (i / 1000) * 1e-3, cities[i % 4], districts[i % 6], i % 3000, i % 97, i % 5000,
      120.1 + (i % 77) * 1e-3, 36.1, i % 7000, 120.2, 36.2 + (i % 55) * 1e-3);
}

bool Prepare() {
  g_dir = bench::MakeBenchFolder("", "address-rebuild");
  if (g_dir.empty()) return false;
  g_store = std::make_unique<CTileStore>(g_dir + "111.");
  if (!g_store->Open(true)) return false;
  std::ofstream lines(g_dir + "replies.jsonl", std::ios::binary);
  for (int i = 0; i < kReplies; ++i) {
    const std::string reply = Reply(i);
    g_store->Write(MakeTileKey(i % 4096, i / 4096, TileKeyValue(111, 12)), reply.data(), reply.size(), false);
    lines << reply << '\n';
  }
  return static_cast<bool>(lines) && g_store->GetCount() == kReplies;
}

void BM_Rebuild(benchmark::State& state) {
  LibraryScanHooks hooks;
  hooks.work_dir = g_dir + "work/";
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    CAddressRecord root("root");
    LibraryScan scan = RebuildAddressLibrary(*g_store, 111, root, hooks);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!scan.completed || scan.parsed != kReplies) {
      state.SkipWithError("the rebuild did not read every reply");
      return;
    }
    state.SetIterationTime(s);
    if (g_ours == 0 || s < g_ours) g_ours = s;
  }
  state.SetItemsProcessed(state.iterations() * kReplies);
}
BENCHMARK(BM_Rebuild)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_Rebuild_PythonJson(benchmark::State& state) {
  const std::string cmd = "python3 " VELMORA_SOURCE_DIR "/bench/address_rebuild_python_peer.py " + g_dir +
                          "replies.jsonl > /dev/null";
  bench::RunCommandTimed(state, cmd, kReplies, &g_peer);
}
BENCHMARK(BM_Rebuild_PythonJson)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  if (!Prepare()) {
    std::fprintf(stderr, "cannot prepare the store of replies\n");
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_store.reset();
  std::error_code ec;
  std::filesystem::remove_all(g_dir, ec);
  std::printf("rebuild of %d replies: ours %.0f ms, python json %.0f ms, ratio %.1f (goal: above 1)\n", kReplies,
              g_ours * 1000, g_peer * 1000, g_ours > 0 ? g_peer / g_ours : 0.0);
  return 0;
}

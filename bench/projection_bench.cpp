// Points per second of TransformPoints (longitude/latitude to UTM zone 51) on 1e6 points, beside
// PROJ's own cs2cs converting the same points in the same run, and the cost of building a PROJ
// object per call that the per-thread cache avoids. Prints the ratio to cs2cs at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/projection.h"
#include "core/settings.h"

namespace velmora {
namespace {

constexpr int kPoints = 1000000;

const std::vector<double>& InputPoints() {
  static const std::vector<double> pts = [] {
    std::vector<double> p(3 * kPoints);
    std::mt19937_64 rng(51);
    std::uniform_real_distribution<double> lng(117.0, 126.0), lat(20.0, 50.0);
    for (int i = 0; i < kPoints; ++i) {
      p[3 * i] = lng(rng);
      p[3 * i + 1] = lat(rng);
      p[3 * i + 2] = 0;
    }
    return p;
  }();
  return pts;
}

std::string g_input_file;  // removed at the end when it was written

// The same points as cs2cs input text, written once.
const std::string& InputFile() {
  static const std::string path = [] {
    std::string p = "/tmp/velmora_projection_bench_" + std::to_string(getpid()) + ".txt";
    FILE* f = std::fopen(p.c_str(), "w");
    if (!f) return std::string();
    const std::vector<double>& pts = InputPoints();
    for (int i = 0; i < kPoints; ++i) std::fprintf(f, "%.9f %.9f\n", pts[3 * i], pts[3 * i + 1]);
    std::fclose(f);
    g_input_file = p;
    return p;
  }();
  return path;
}

double g_ours_seconds = 0;   // best time of one 1e6-point TransformPoints call
double g_cs2cs_seconds = 0;  // best time of one cs2cs run over the same points

void BM_TransformPoints(benchmark::State& state) {
  ProgramSettings().SetInt("utm84_2", 51);
  const std::vector<double>& input = InputPoints();
  std::vector<double> work(input.size());
  for (auto _ : state) {
    state.PauseTiming();
    work = input;
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    if (!TransformPoints(work.data(), kPoints, kCoordLonLat, kCoordUtm, false)) {
      state.SkipWithError("TransformPoints failed");
      return;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (g_ours_seconds == 0 || s < g_ours_seconds) g_ours_seconds = s;
    benchmark::DoNotOptimize(work.data());
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_TransformPoints)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_Cs2cs(benchmark::State& state) {
  const std::string& file = InputFile();
  if (file.empty() || std::system("command -v cs2cs >/dev/null 2>&1") != 0) {
    state.SkipWithError("cs2cs or the input file is missing");
    return;
  }
  std::string cmd = "cs2cs -f %.6f +proj=lonlat +datum=WGS84 +to +proj=utm +zone=51 +ellps=WGS84 "
                    "+datum=WGS84 < " + file + " > /dev/null";
  bench::RunCommandTimed(state, cmd, kPoints, &g_cs2cs_seconds);
}
BENCHMARK(BM_Cs2cs)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// One point per call with the cache dropped first: what a PROJ object per point would cost.
void BM_UncachedSinglePoint(benchmark::State& state) {
  ProgramSettings().SetInt("utm84_2", 51);
  for (auto _ : state) {
    ReleaseThreadProjCache();
    double p[3] = {120.0, 36.0, 0.0};
    TransformPoints(p, 1, kCoordLonLat, kCoordUtm, false);
    benchmark::DoNotOptimize(p);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_UncachedSinglePoint)->Unit(benchmark::kMicrosecond);

void BM_CachedSinglePoint(benchmark::State& state) {
  ProgramSettings().SetInt("utm84_2", 51);
  for (auto _ : state) {
    double p[3] = {120.0, 36.0, 0.0};
    TransformPoints(p, 1, kCoordLonLat, kCoordUtm, false);
    benchmark::DoNotOptimize(p);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CachedSinglePoint)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  using velmora::g_cs2cs_seconds;
  using velmora::g_ours_seconds;
  if (!velmora::g_input_file.empty()) std::remove(velmora::g_input_file.c_str());
  if (g_ours_seconds > 0 && g_cs2cs_seconds > 0) {
    std::printf("TransformPoints: %.2f Mpoints/s; cs2cs: %.2f Mpoints/s; ratio (ours / cs2cs): %.1f\n",
                velmora::kPoints / g_ours_seconds / 1e6, velmora::kPoints / g_cs2cs_seconds / 1e6,
                g_cs2cs_seconds / g_ours_seconds);
  }
  return 0;
}

// Points per second of TransformPoints (longitude/latitude to UTM zone 51) on 1e6 points, beside
// PROJ's own cs2cs converting the same points in the same run, and the cost of building a PROJ
// object per call that the per-thread cache avoids. Also the coordinate-system converter's whole
// file conversion (read the "x,y" lines, convert, write "x,y,z" lines) beside PROJ's own
// proj_trans_generic on the same points in memory. Prints the ratios at the end: the file
// conversion against proj_trans_generic (goal: at most 1.5 times its time) and against cs2cs.
#include <benchmark/benchmark.h>
#include <proj.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"
#include "core/projection.h"
#include "core/settings.h"
#include "places/coord_sys_convert.h"
#include "platform/fs.h"

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
double g_file_seconds = 0;   // best time of the converter's file-to-file conversion
double g_proj_seconds = 0;   // best time of one proj_trans_generic call over the points
std::string g_text_file, g_output_file;

// The points as the converter's input: "lng,lat" lines.
const std::string& TextFile() {
  static const std::string path = [] {
    std::string p = "/tmp/velmora_projection_bench_" + std::to_string(getpid()) + ".csv";
    FILE* f = std::fopen(p.c_str(), "w");
    if (!f) return std::string();
    const std::vector<double>& pts = InputPoints();
    for (int i = 0; i < kPoints; ++i) std::fprintf(f, "%.9f,%.9f\n", pts[3 * i], pts[3 * i + 1]);
    std::fclose(f);
    g_text_file = p;
    g_output_file = p + ".out";
    return p;
  }();
  return path;
}

// What the converter's "文件转换..." does: the file read whole, converted, the result written.
void BM_ConvertTextFile(benchmark::State& state) {
  ProgramSettings().SetInt(UtmZoneKey(kSlotConverterTarget), 51);
  const std::string& input = TextFile();
  if (input.empty()) {
    state.SkipWithError("the input file cannot be written");
    return;
  }
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(input);
    if (!bytes) {
      state.SkipWithError("the input file cannot be read");
      return;
    }
    CoordSysResult r = ConvertCoordSystemText(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), {kCoordLonLat, kCoordUtm, ",", 0});
    if (r.points != static_cast<size_t>(kPoints) || !WriteFileAtomic(g_output_file, r.output.data(), r.output.size())) {
      state.SkipWithError("the conversion failed");
      return;
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    state.SetIterationTime(s);
    if (g_file_seconds == 0 || s < g_file_seconds) g_file_seconds = s;
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_ConvertTextFile)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// PROJ's own batch call on the same points, its object made once (outside the timing).
void BM_ProjTransGeneric(benchmark::State& state) {
  PJ_CONTEXT* ctx = proj_context_create();
  PJ* raw = proj_create_crs_to_crs(ctx, "+proj=lonlat +datum=WGS84 +type=crs",
                                   "+proj=utm +zone=51 +ellps=WGS84 +datum=WGS84 +type=crs", nullptr);
  PJ* pj = raw ? proj_normalize_for_visualization(ctx, raw) : nullptr;
  if (raw) proj_destroy(raw);
  if (!pj) {
    state.SkipWithError("PROJ refused the definitions");
    proj_context_destroy(ctx);
    return;
  }
  const std::vector<double>& input = InputPoints();
  std::vector<double> x(kPoints), y(kPoints), z(kPoints);
  for (auto _ : state) {
    state.PauseTiming();
    for (int i = 0; i < kPoints; ++i) x[i] = input[3 * i], y[i] = input[3 * i + 1], z[i] = 0;
    state.ResumeTiming();
    auto t0 = std::chrono::steady_clock::now();
    proj_trans_generic(pj, PJ_FWD, x.data(), sizeof(double), kPoints, y.data(), sizeof(double), kPoints, z.data(),
                       sizeof(double), kPoints, nullptr, 0, 0);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (g_proj_seconds == 0 || s < g_proj_seconds) g_proj_seconds = s;
    benchmark::DoNotOptimize(x.data());
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
  proj_destroy(pj);
  proj_context_destroy(ctx);
}
BENCHMARK(BM_ProjTransGeneric)->Unit(benchmark::kMillisecond)->MinTime(2.0);

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
  if (!velmora::g_text_file.empty()) {
    std::remove(velmora::g_text_file.c_str());
    std::remove(velmora::g_output_file.c_str());
  }
  using velmora::g_file_seconds;
  using velmora::g_proj_seconds;
  if (g_file_seconds > 0 && g_proj_seconds > 0) {
    std::printf("file conversion (read, convert, write): %.2f Mpoints/s; proj_trans_generic: %.2f Mpoints/s; "
                "time ratio (ours / proj_trans_generic, goal <= 1.5): %.2f\n",
                velmora::kPoints / g_file_seconds / 1e6, velmora::kPoints / g_proj_seconds / 1e6,
                g_file_seconds / g_proj_seconds);
  }
  if (g_file_seconds > 0 && g_cs2cs_seconds > 0) {
    std::printf("file conversion vs cs2cs (also file to file): %.1f times as fast\n", g_cs2cs_seconds / g_file_seconds);
  }
  if (g_ours_seconds > 0 && g_proj_seconds > 0) {
    std::printf("TransformPoints alone vs proj_trans_generic: time ratio %.2f\n", g_ours_seconds / g_proj_seconds);
  }
  if (g_ours_seconds > 0 && g_cs2cs_seconds > 0) {
    std::printf("TransformPoints: %.2f Mpoints/s; cs2cs: %.2f Mpoints/s; ratio (ours / cs2cs): %.1f\n",
                velmora::kPoints / g_ours_seconds / 1e6, velmora::kPoints / g_cs2cs_seconds / 1e6,
                g_cs2cs_seconds / g_ours_seconds);
  }
  return 0;
}

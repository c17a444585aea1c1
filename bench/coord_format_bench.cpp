// Lines per second of the format converter's file conversion on 1,000,000 coordinate lines,
// beside PROJ's cs2cs reading the same lines in the same run (an identity longitude/latitude
// conversion, which is cs2cs's format conversion): decimal degrees to degrees-minutes-seconds
// and back. Both read a file and write a file. Prints the rates and the ratios at the end.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "bench_support.h"
#include "core/format.h"
#include "places/coord_file.h"
#include "places/coord_format.h"

namespace velmora {
namespace {

constexpr int kLines = 1000000;
const std::string kPrefix = "/tmp/velmora_coord_bench_" + std::to_string(getpid());

// Decimal degrees, "lng lat" per line, as cs2cs reads them.
const std::string& DecimalFile() {
  static const std::string path = [] {
    std::string p = kPrefix + "_dd.txt";
    std::mt19937_64 rng(108);
    std::uniform_real_distribution<double> lng(-180.0, 180.0), lat(-90.0, 90.0);
    std::string text;
    text.reserve(kLines * 28);
    for (int i = 0; i < kLines; ++i) text += FormatC("%.8f %.8f\n", lng(rng), lat(rng));
    WriteCoordFileBytes(p, text);
    return p;
  }();
  return path;
}

// Source settings of the DMS files: marks d ' " and hemisphere letters, as cs2cs writes them.
CoordFormatSettings AsciiDms() {
  CoordFormatSettings s;
  s.source_format = kNotationDms;
  s.source_separator = std::string(" ");
  s.source_degree_mark = std::string("d");
  s.source_minute_mark = std::string("'");
  s.source_second_mark = std::string("\"");
  s.target_format = kNotationDms;
  s.target_separator = std::string(" ");
  s.target_degree_mark = std::string("d");
  s.target_minute_mark = std::string("'");
  s.target_second_mark = std::string("\"");
  s.target_hemisphere = s.source_hemisphere;
  return s;
}

// The same points in degrees-minutes-seconds ("120d23'45.5600\"E 36d12'34.5600\"N").
const std::string& DmsFile() {
  static const std::string path = [] {
    std::string p = kPrefix + "_dms.txt";
    CoordFormatSettings s = AsciiDms();
    s.source_format = kNotationDegrees;
    ConvertCoordFile(DecimalFile(), p, s);
    return p;
  }();
  return path;
}

// The same points with the marks and words of a Chinese GBK file ("120°23′45.5600″东经 ...").
const std::string& GbkDmsFile() {
  static const std::string path = [] {
    std::string p = kPrefix + "_gbk.txt";
    CoordFormatSettings s;
    s.source_format = kNotationDegrees;
    s.source_separator = std::string(" ");
    s.target_format = kNotationDms;
    s.target_separator = std::string(" ");
    ConvertCoordFile(DecimalFile(), p, s);
    return p;
  }();
  return path;
}

double g_ours_to_dms = 0, g_peer_to_dms = 0, g_ours_to_dd = 0, g_peer_to_dd = 0, g_ours_gbk = 0;

void Keep(double* best, double seconds) {
  if (*best == 0 || seconds < *best) *best = seconds;
}

bool HaveCs2cs() { return std::system("command -v cs2cs >/dev/null 2>&1") == 0; }

void RunOurs(benchmark::State& state, const std::string& input, const CoordFormatSettings& settings, double* best) {
  const std::string out = kPrefix + "_out.txt";
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    CoordFileResult r = ConvertCoordFile(input, out, settings);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (r.status != CoordFileStatus::kOk || r.points != static_cast<size_t>(kLines)) {
      state.SkipWithError("conversion failed");
      return;
    }
    state.SetIterationTime(s);
    Keep(best, s);
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}

void RunCs2cs(benchmark::State& state, const std::string& input, const std::string& options, double* best) {
  if (!HaveCs2cs()) {
    state.SkipWithError("cs2cs is not installed");
    return;
  }
  std::string cmd = "cs2cs " + options + " +proj=lonlat +datum=WGS84 +to +proj=lonlat +datum=WGS84 < " + input +
                    " > " + kPrefix + "_peer.txt";
  bench::RunCommandTimed(state, cmd, kLines, best);
}

void BM_DecimalToDms(benchmark::State& state) {
  CoordFormatSettings s = AsciiDms();
  s.source_format = kNotationDegrees;
  RunOurs(state, DecimalFile(), s, &g_ours_to_dms);
}
BENCHMARK(BM_DecimalToDms)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_DecimalToDms_Cs2cs(benchmark::State& state) { RunCs2cs(state, DecimalFile(), "", &g_peer_to_dms); }
BENCHMARK(BM_DecimalToDms_Cs2cs)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_DmsToDecimal(benchmark::State& state) {
  CoordFormatSettings s = AsciiDms();
  s.target_format = kNotationDegrees;
  RunOurs(state, DmsFile(), s, &g_ours_to_dd);
}
BENCHMARK(BM_DmsToDecimal)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void BM_DmsToDecimal_Cs2cs(benchmark::State& state) { RunCs2cs(state, DmsFile(), "-f %.8f", &g_peer_to_dd); }
BENCHMARK(BM_DmsToDecimal_Cs2cs)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

// Ours only: a GBK file with Chinese marks and words, decoded through iconv as a whole.
void BM_GbkDmsToDecimal(benchmark::State& state) {
  CoordFormatSettings s;
  s.source_separator = std::string(" ");
  s.source_hemisphere = {"西经", "东经", "南纬", "北纬"};
  RunOurs(state, GbkDmsFile(), s, &g_ours_gbk);
}
BENCHMARK(BM_GbkDmsToDecimal)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const char* suffix : {"_dd.txt", "_dms.txt", "_gbk.txt", "_out.txt", "_peer.txt"})
    std::remove((kPrefix + suffix).c_str());
  auto rate = [](double seconds) { return seconds > 0 ? kLines / seconds : 0.0; };
  std::printf("decimal -> DMS: ours %.0f lines/s, cs2cs %.0f lines/s, ratio %.1f\n", rate(g_ours_to_dms),
              rate(g_peer_to_dms), g_ours_to_dms > 0 ? g_peer_to_dms / g_ours_to_dms : 0.0);
  std::printf("DMS -> decimal: ours %.0f lines/s, cs2cs %.0f lines/s, ratio %.1f\n", rate(g_ours_to_dd),
              rate(g_peer_to_dd), g_ours_to_dd > 0 ? g_peer_to_dd / g_ours_to_dd : 0.0);
  std::printf("GBK DMS (Chinese marks) -> decimal: ours %.0f lines/s\n", rate(g_ours_gbk));
  return 0;
}

// Orbit model speed: propagations per second over a mix of near-earth and deep-space satellites
// (the verification set of the installed python3-sgp4 package) at the times that
// bench/sat_orbit_vs_python.sh hands to the reference propagator too.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "terrain/sat_orbit.h"

namespace velmora {
namespace {

// Times of the mix: every 10 minutes over the day after each satellite's epoch.
constexpr int kSteps = 145;
constexpr double kStepMinutes = 10.0;

std::string ElementFile() {
  if (const char* env = std::getenv("VELMORA_SGP4_DIR")) return std::string(env) + "/SGP4-VER.TLE";
  return "/usr/lib/python3/dist-packages/sgp4/SGP4-VER.TLE";
}

struct Mix {
  std::vector<CSatOrbit> near_earth, deep_space, all;
};

// Every element set of the file that the model propagates without a failure over the times.
const Mix& LoadMix() {
  static Mix mix = [] {
    Mix m;
    std::ifstream f(ElementFile());
    std::string line, previous;
    while (std::getline(f, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty() && line[0] == '2' && !previous.empty() && previous[0] == '1') {
        CSatOrbit orbit;
        if (orbit.ParseTle(previous + "\n" + line.substr(0, 69) + "\n")) {
          bool ok = true;
          for (int i = 0; i < kSteps && ok; ++i)
            ok = orbit.PropagateMinutes(i * kStepMinutes) == kSatOk;
          if (ok) {
            (orbit.IsDeepSpace() ? m.deep_space : m.near_earth).push_back(orbit);
            m.all.push_back(orbit);
          }
        }
      }
      previous = line;
    }
    if (m.all.empty())
      std::fprintf(stderr, "no element sets read from %s\n", ElementFile().c_str());
    return m;
  }();
  return mix;
}

void Propagate(benchmark::State& state, std::vector<CSatOrbit> orbits) {
  if (orbits.empty()) {
    state.SkipWithError("SGP4-VER.TLE not found (python3-sgp4)");
    return;
  }
  double sum = 0;
  for (auto _ : state) {
    for (CSatOrbit& o : orbits) {
      // Through the Julian date, as the orbit threads call it.
      const double jd0 = o.Elements().epoch_julian;
      for (int i = 0; i < kSteps; ++i) {
        o.Propagate(jd0 + i * kStepMinutes / 1440.0);
        sum += o.Last().x;
      }
    }
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(orbits.size()) * kSteps);
  state.counters["satellites"] = static_cast<double>(orbits.size());
}

void BM_PropagateMix(benchmark::State& state) { Propagate(state, LoadMix().all); }
void BM_PropagateNearEarth(benchmark::State& state) { Propagate(state, LoadMix().near_earth); }
void BM_PropagateDeepSpace(benchmark::State& state) { Propagate(state, LoadMix().deep_space); }

// Propagation plus the sub-satellite point, the orbit threads' call.
void BM_ComputeAt(benchmark::State& state) {
  CSatOrbit iss;
  iss.ParseTle(
      "ISS\n"
      "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927\n"
      "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537\n");
  const double jd0 = iss.Elements().epoch_julian;
  int i = 0;
  for (auto _ : state) {
    iss.ComputeAt(jd0 + (i++ % 1440) / 1440.0);
    benchmark::DoNotOptimize(iss.Last().longitude);
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_ParseTle(benchmark::State& state) {
  const std::string text =
      "ISS (ZARYA)\r\n"
      "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927\r\n"
      "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537\r\n";
  CSatOrbit orbit;
  for (auto _ : state) benchmark::DoNotOptimize(orbit.ParseTle(text));
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_PropagateMix);
BENCHMARK(BM_PropagateNearEarth);
BENCHMARK(BM_PropagateDeepSpace);
BENCHMARK(BM_ComputeAt);
BENCHMARK(BM_ParseTle);

}  // namespace
}  // namespace velmora

BENCHMARK_MAIN();

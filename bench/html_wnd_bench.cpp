// Cost of the hidden script window's coordinate conversion: CoordPixel called directly on the
// user-interface thread, and RequestCoordPixel from a worker served by a pumping user-interface
// thread, beside the same conversion in C++ (the kind-4 transforms) in the same run. Goal: the
// direct call within 20x the C++ conversion. A run of the page with the script's own number
// text (String(x) + "," + String(y)) shows what the engine's number text buys. Each benchmark
// runs several times and the ratios compare the best runs, since other programs on the machine
// slow single runs down at random.
#include "velmora_build_paths.h"
#include <benchmark/benchmark.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>
#include <thread>

#include "bench_support.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "earth/ui/html_wnd.h"
#include "earth/ui/script_page_engine.h"
#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"

namespace velmora {
namespace {

constexpr int kRepetitions = 5;

// A walk over China and its neighbours, so that no call repeats the last one.
struct Walk {
  double lng = 100, lat = 20;
  void Next() {
    lng += 0.000731;
    lat += 0.000417;
    if (lng > 135) lng -= 35;
    if (lat > 50) lat -= 30;
  }
};

bool ReadyWindow(CHtmlWnd& wnd) {
  if (!wnd.CreateHidden(0)) return false;
  return UiDispatcher().PumpUntil([&] { return wnd.IsCoordReady(); }, 10000);
}

void BM_CppKind4(benchmark::State& state) {
  Walk w;
  for (auto _ : state) {
    PixelPoint p = LngLatToPixel(w.lng, w.lat, kKindEllipsoidalMercator, kScriptPixelZoom);
    benchmark::DoNotOptimize(p);
    w.Next();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_CppKind4)->Repetitions(kRepetitions);

void DirectCalls(benchmark::State& state, bool plain_number_text) {
  UiDispatcher().AttachToCurrentThread();
  CHtmlWnd wnd;
  if (!ReadyWindow(wnd)) {
    state.SkipWithError("the coordinate page did not load (is data/bdcd.kmp built?)");
    return;
  }
  if (plain_number_text &&
      !dynamic_cast<CScriptPageEngine&>(wnd.Engine())
           .Script()
           .RunScript("pairText = function (a, b) { return a + ',' + b; };", "plain")) {
    state.SkipWithError("the page's number text could not be replaced");
    return;
  }
  Walk w;
  double a = 0, b = 0;
  for (auto _ : state) {
    if (!wnd.CoordPixel(w.lng, w.lat, &a, &b)) {
      state.SkipWithError("CoordPixel failed");
      break;
    }
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(b);
    w.Next();
  }
  state.SetItemsProcessed(state.iterations());
  wnd.DestroyHidden();
}

void BM_CoordPixelDirect(benchmark::State& state) { DirectCalls(state, false); }
BENCHMARK(BM_CoordPixelDirect)->Repetitions(kRepetitions);

void BM_CoordPixelScriptNumberText(benchmark::State& state) { DirectCalls(state, true); }
BENCHMARK(BM_CoordPixelScriptNumberText)->Repetitions(kRepetitions);

// The benchmark's thread is the worker; a thread of its own serves as the user-interface thread.
void BM_RequestCoordPixelFromWorker(benchmark::State& state) {
  CHtmlWnd wnd;
  Event ready;
  bool loaded = false;
  std::thread ui([&] {
    UiDispatcher().AttachToCurrentThread();
    loaded = ReadyWindow(wnd);
    ready.Set();
    if (loaded) UiDispatcher().Run();
    wnd.DestroyHidden();
  });
  ready.Wait(kInfinite);
  if (!loaded) {
    ui.join();
    state.SkipWithError("the coordinate page did not load");
    return;
  }
  Walk w;
  for (auto _ : state) {
    double x = w.lng, y = w.lat;
    if (!wnd.RequestCoordPixel(x, y)) {
      state.SkipWithError("RequestCoordPixel failed");
      break;
    }
    benchmark::DoNotOptimize(x);
    w.Next();
  }
  UiDispatcher().PostQuitMessage(0);
  ui.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RequestCoordPixelFromWorker)->UseRealTime()->Repetitions(kRepetitions);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  // The pages are packed into the build tree's data folder (the source tree's has only their
  // plain text).
  setenv("VELMORA_PROGRAM_DIR", VELMORA_BUILD_DIR "/data/", 0);
  // Repetitions of the different benchmarks take turns, so that a busy spell of the machine does
  // not fall on one of them only (a flag given on the command line still wins).
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  velmora::SetLogToStderr(false);
  velmora::bench::BestRateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  const double cpp = reporter.Rate("BM_CppKind4");
  const double direct = reporter.Rate("BM_CoordPixelDirect");
  const double plain = reporter.Rate("BM_CoordPixelScriptNumberText");
  const double worker = reporter.Rate("BM_RequestCoordPixelFromWorker");
  std::printf("\nconversions per second (best of %d runs): C++ %.0f, CoordPixel %.0f, with the script's own "
              "number text %.0f, RequestCoordPixel from a worker %.0f\n",
              velmora::kRepetitions,
              cpp, direct, plain, worker);
  if (cpp > 0 && direct > 0) {
    std::printf("CoordPixel / C++ time ratio: %.1f (goal: at most 20)\n", cpp / direct);
    if (plain > 0) std::printf("script number text / engine number text time ratio: %.1f\n", direct / plain);
    if (worker > 0) std::printf("RequestCoordPixel / C++ time ratio: %.1f\n", cpp / worker);
  }
  return 0;
}

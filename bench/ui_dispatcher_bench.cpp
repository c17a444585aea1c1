// Cost of the cross-thread call that the earth and script controllers make for every operation:
// a worker's SendMessage served by a pumping UI thread, and a post served by PumpPending.
#include <benchmark/benchmark.h>

#include <thread>

#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/window.h"

namespace velmora {
namespace {

class EchoWnd : public CWnd {
 public:
  EchoWnd() {
    MapMessage(WM_UI_REQUEST, [](WPARAM op, LPARAM lparam) {
      *reinterpret_cast<int*>(lparam) = static_cast<int>(op) + 1;
      return LRESULT{0};
    });
  }
};

void BM_SendMessageRoundTrip(benchmark::State& state) {
  EchoWnd wnd;
  Event ready;
  HWND hwnd = 0;
  std::thread ui([&] {
    UiDispatcher().AttachToCurrentThread();
    wnd.Create(nullptr, 1, "echo", 0);
    hwnd = wnd.GetSafeHwnd();
    ready.Set();
    UiDispatcher().Run();
    wnd.DestroyWindow();
  });
  ready.Wait(kInfinite);
  int answer = 0;
  for (auto _ : state) {
    UiDispatcher().SendMessage(hwnd, WM_UI_REQUEST, 41, reinterpret_cast<LPARAM>(&answer));
    benchmark::DoNotOptimize(answer);
  }
  UiDispatcher().PostQuitMessage(0);
  ui.join();
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendMessageRoundTrip)->UseRealTime();

void BM_PostThenPump(benchmark::State& state) {
  UiDispatcher().AttachToCurrentThread();
  EchoWnd wnd;
  wnd.Create(nullptr, 1, "echo", 0);
  int answer = 0;
  const int batch = static_cast<int>(state.range(0));
  for (auto _ : state) {
    for (int i = 0; i < batch; ++i) wnd.PostMessage(WM_UI_REQUEST, 1, reinterpret_cast<LPARAM>(&answer));
    UiDispatcher().PumpPending();
  }
  state.SetItemsProcessed(state.iterations() * batch);
  wnd.DestroyWindow();
}
BENCHMARK(BM_PostThenPump)->Arg(1)->Arg(100);

}  // namespace
}  // namespace velmora
BENCHMARK_MAIN();

// The 3D globe view's orbit thread with 200 satellites: it moves them while the user-interface
// thread draws frames and shows and hides satellites under the same lock, and closing the view
// stops it well within 3 seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/ui/ui_dispatcher.h"
#include "support/isolated_folders.h"
#include "terrain/d3d_context.h"
#include "terrain/ui/3d_view_wnd.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();
const char kIss[] =
    "ISS\n1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927\n"
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537\n";
constexpr double kClock = 2454734.0;

TEST(GlobeViewThreads, TheOrbitThreadMovesTwoHundredSatellitesAndStopsWhenTheViewCloses) {
  UiDispatcher().AttachToCurrentThread();
  ASSERT_TRUE(g_D3DContext.CreateD3DDevice(1)) << Direct3DLastError();
  ASSERT_TRUE(AppOptions().satellite_switch);
  const std::thread::id ui = std::this_thread::get_id();
  std::atomic<int> passes{0};
  auto view = std::make_unique<C3DViewWnd>();
  // Each pass of the orbit thread reads the clock once; a pass is a minute later than the last.
  view->SetClock([&] {
    if (std::this_thread::get_id() == ui) return kClock;
    return kClock + passes.fetch_add(1) / 1440.0;
  });
  ASSERT_TRUE(view->CreateView(0, nullptr));
  view->SendMessage(WM_SIZE, 0, MAKELPARAM(64, 48));
  EXPECT_TRUE(view->OrbitThreadRunning());

  CSatOrbit orbit;
  ASSERT_EQ(orbit.ParseTle(kIss), 1);
  for (uint32_t i = 0; i < 200; ++i) {
    SatElements e = orbit.Elements();
    e.satellite_number = 1000 + i;
    e.mean_anomaly += i * 0.03;
    e.icon_path.clear();
    view->ShowSatellites(e, true);
  }
  ASSERT_EQ(view->SatelliteCount(), 200u);
  const auto before = view->SatellitePositions();

  // Frames and changes on this thread while the worker moves the objects.
  CBitmap canvas;
  ASSERT_TRUE(canvas.Create(64, 48));
  const int start = passes.load();
  ASSERT_TRUE(UiDispatcher().PumpUntil(
      [&] {
        view->OnPaint(canvas);
        SatElements e = orbit.Elements();
        e.satellite_number = 1000 + static_cast<uint32_t>(passes.load() % 200);
        view->ShowSatellites(e, false);
        view->ShowSatellites(e, true);
        return passes.load() >= start + 2;
      },
      10000));
  const auto after = view->SatellitePositions();
  ASSERT_EQ(after.size(), 200u);
  int moved = 0;
  for (const auto& [number, position] : after)
    for (const auto& [n, p] : before)
      if (n == number && (p.x != position.x || p.y != position.y || p.z != position.z)) ++moved;
  EXPECT_GT(moved, 100);

  const auto t0 = std::chrono::steady_clock::now();
  view->DestroyWindow();
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  EXPECT_FALSE(view->OrbitThreadRunning());
  EXPECT_LT(elapsed, std::chrono::seconds(3));
  EXPECT_EQ(view->SatelliteCount(), 0u);
  view.reset();
  UiDispatcher().PumpPending();  // the last repaint posted to the closed view goes nowhere
}

}  // namespace
}  // namespace velmora

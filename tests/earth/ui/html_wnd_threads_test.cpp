// The hidden script window's conversion from worker threads: many workers served at once while
// the user-interface thread pumps, and the ways a send ends without an answer (no page, the
// window destroyed, the worker's quit request while the UI thread waits for it, the dispatcher
// shut down) without a deadlock and with the caller's values unchanged.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "core/geodesy.h"
#include "core/settings.h"
#include "core/work_thread.h"
#include "earth/ui/html_wnd.h"
#include "platform/ui/ui_dispatcher.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

class HtmlWndThreadsTest : public ::testing::Test {
 protected:
  void SetUp() override { UiDispatcher().AttachToCurrentThread(); }
  void TearDown() override { UiDispatcher().AttachToCurrentThread(); }  // after a shut-down test
  static bool Pump(const std::function<bool()>& done) { return UiDispatcher().PumpUntil(done, 60000); }
  // Waits (without pumping) until a worker's send is queued.
  static bool WaitForQueuedSend() {
    uint64_t start = TickCount64();
    while (UiDispatcher().QueueLength() == 0) {
      if (TickCount64() - start > 20000) return false;
      std::this_thread::yield();
    }
    return true;
  }
};

TEST_F(HtmlWndThreadsTest, ManyWorkersConvertAtOnceWhileTheUiThreadPumps) {
  CHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));
  constexpr int kWorkers = 8, kRequests = 150;
  std::atomic<int> finished{0}, wrong{0}, failed{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kRequests; ++i) {
        const double lng = -179.0 + (w * kRequests + i) * (358.0 / (kWorkers * kRequests));
        const double lat = -80.0 + i * (160.0 / kRequests);
        double x = lng, y = lat;
        if (!wnd.RequestCoordPixel(x, y)) {
          ++failed;
          continue;
        }
        PixelPoint want = LngLatToPixel(lng, lat, kKindEllipsoidalMercator, kScriptPixelZoom);
        if (std::fabs(x - want.x) > 1e-6 || std::fabs(y - want.y) > 1e-6) ++wrong;
      }
      ++finished;
    });
  }
  ASSERT_TRUE(Pump([&] { return finished.load() == kWorkers; }));
  for (auto& t : workers) t.join();
  EXPECT_EQ(failed.load(), 0);
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(HtmlWndThreadsTest, WithoutAPageWorkersGetNoValueAndKeepTheirOwn) {
  test::TempDir empty;
  ScopedAppOptions options([&](CAppOptions& o) { o.program_dir = empty.path(); });
  CHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(0));
  std::atomic<int> finished{0}, wrong{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 4; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        double x = 1.5 + i, y = -2.5;
        if (wnd.RequestCoordPixel(x, y) || x != 1.5 + i || y != -2.5) ++wrong;
      }
      ++finished;
    });
  }
  ASSERT_TRUE(Pump([&] { return finished.load() == 4; }));
  for (auto& t : workers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(HtmlWndThreadsTest, DestroyingTheWindowWhileWorkersAskEndsEveryRequest) {
  CHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));
  std::atomic<int> finished{0}, answered{0}, wrong{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < 6; ++w) {
    workers.emplace_back([&] {
      // Ask until the window is gone.
      for (;;) {
        double x = 100, y = 30;
        if (!wnd.RequestCoordPixel(x, y)) {
          if (x != 100 || y != 30) ++wrong;
          break;
        }
        ++answered;
      }
      ++finished;
    });
  }
  ASSERT_TRUE(Pump([&] { return answered.load() >= 200; }));
  wnd.DestroyHidden();
  ASSERT_TRUE(Pump([&] { return finished.load() == 6; }));
  for (auto& t : workers) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST_F(HtmlWndThreadsTest, AWorkersQuitRequestEndsItsSendWhileTheUiThreadWaitsForIt) {
  CHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));
  CWorkThread worker;
  std::atomic<bool> result{true};
  double x = 120, y = 36;
  ASSERT_TRUE(worker.Start("Mosaic", [&] {
    worker.SignalReady();
    result = wnd.RequestCoordPixel(x, y, &worker.QuitRequest());
  }));
  ASSERT_TRUE(WaitForQueuedSend());
  // The UI thread stops the worker without serving its queue: the worker's own quit request
  // takes its request back.
  EXPECT_TRUE(worker.Stop(20000));
  EXPECT_FALSE(result.load());
  EXPECT_EQ(x, 120);
  EXPECT_EQ(y, 36);
  EXPECT_EQ(UiDispatcher().QueueLength(), 0u);
}

TEST_F(HtmlWndThreadsTest, AUiThreadThatStopsServingEndsTheSends) {
  CHtmlWnd wnd;
  ASSERT_TRUE(wnd.CreateHidden(0));
  ASSERT_TRUE(Pump([&] { return wnd.IsCoordReady(); }));
  std::atomic<bool> done{false}, result{true};
  double x = 10, y = 20;
  std::thread worker([&] {
    result = wnd.RequestCoordPixel(x, y);
    done = true;
  });
  ASSERT_TRUE(WaitForQueuedSend());
  UiDispatcher().Shutdown();
  worker.join();
  EXPECT_TRUE(done.load());
  EXPECT_FALSE(result.load());
  EXPECT_EQ(x, 10);
  EXPECT_EQ(y, 20);
}

}  // namespace
}  // namespace velmora

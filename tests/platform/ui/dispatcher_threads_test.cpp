// The UI dispatcher: sends from workers served in order on the UI thread, cancelled sends, sends
// to windows that are gone, timers, quit and shut-down. (The shell's worker dialogs cover sends
// served while a modal dialog pumps.)
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/window.h"

namespace velmora {
namespace {

constexpr UINT kMsgRecord = WM_UI_REQUEST;

// The argument record of a cross-thread call: the handler writes the answer into it.
struct Request {
  int worker = 0;
  int sequence = 0;
  int answer = 0;
  std::thread::id served_on;
};

class RecordingWnd : public CWnd {
 public:
  RecordingWnd() {
    MapMessage(kMsgRecord, [this](WPARAM op, LPARAM lparam) {
      auto* request = reinterpret_cast<Request*>(lparam);
      request->answer = static_cast<int>(op) * 1000 + request->sequence;
      request->served_on = std::this_thread::get_id();
      order.emplace_back(request->worker, request->sequence);
      return LRESULT{request->sequence + 1};
    });
  }
  std::vector<std::pair<int, int>> order;  // UI thread only
};

class DispatcherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UiDispatcher().AttachToCurrentThread();
    ASSERT_TRUE(wnd_.Create(nullptr, 1, "recorder", 0));
    hwnd_ = wnd_.GetSafeHwnd();
  }
  void TearDown() override { UiDispatcher().SetClock({}); }
  // Waits (without pumping) until a worker's send is queued.
  static void WaitForQueuedSend() {
    uint64_t start = TickCount64();
    while (UiDispatcher().QueueLength() == 0 && TickCount64() - start < 5000) std::this_thread::yield();
    ASSERT_EQ(UiDispatcher().QueueLength(), 1u);
  }
  RecordingWnd wnd_;
  HWND hwnd_ = 0;
};

TEST_F(DispatcherTest, SendsFromSeveralWorkersAreServedInOrderOnTheUiThread) {
  constexpr int kWorkers = 4, kSends = 40;
  std::atomic<int> finished{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int s = 0; s < kSends; ++s) {
        Request request{w, s, 0, {}};
        auto result = UiDispatcher().SendMessage(hwnd_, kMsgRecord, 7, reinterpret_cast<LPARAM>(&request));
        // The handler ran before the send returned and wrote its results into the record.
        if (!result || *result != s + 1 || request.answer != 7000 + s) ++wrong;
        if (request.served_on == std::this_thread::get_id()) ++wrong;
      }
      ++finished;
    });
  }
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return finished.load() == kWorkers; }, 20000));
  for (auto& t : workers) t.join();
  EXPECT_EQ(wrong.load(), 0);
  ASSERT_EQ(wnd_.order.size(), static_cast<size_t>(kWorkers * kSends));
  std::vector<int> next(kWorkers, 0);
  for (auto [worker, sequence] : wnd_.order) EXPECT_EQ(sequence, next[worker]++);
}

TEST_F(DispatcherTest, CancelledSendIsTakenBackAndNeverRuns) {
  Event quit;
  std::optional<LRESULT> result = LRESULT{42};
  std::thread worker([&] {
    auto request = std::make_unique<Request>();
    result = UiDispatcher().SendMessage(hwnd_, kMsgRecord, 1, reinterpret_cast<LPARAM>(request.get()), &quit);
    // The record goes away here: a handler that ran later would write into freed memory.
  });
  WaitForQueuedSend();
  quit.Set();
  worker.join();
  EXPECT_FALSE(result.has_value());
  EXPECT_EQ(UiDispatcher().PumpPending(), 0);
  EXPECT_TRUE(wnd_.order.empty());
}

TEST_F(DispatcherTest, MessagesToAWindowThatIsGoneAreDropped) {
  auto wnd = std::make_unique<RecordingWnd>();
  ASSERT_TRUE(wnd->Create(nullptr, 1, "recorder", 0));
  HWND hwnd = wnd->GetSafeHwnd();
  EXPECT_TRUE(PostMessage(hwnd, kMsgRecord, 0, 0));
  wnd.reset();  // destroyed with a message still queued
  EXPECT_FALSE(UiDispatcher().IsWindow(hwnd));
  EXPECT_EQ(UiDispatcher().PumpPending(), 1);  // taken from the queue, delivered to nobody
  EXPECT_FALSE(PostMessage(hwnd, kMsgRecord, 0, 0));
  std::optional<LRESULT> sent = LRESULT{1};
  std::thread worker([&] { sent = UiDispatcher().SendMessage(hwnd, kMsgRecord, 0, 0); });
  worker.join();  // returns at once instead of waiting for a window that will never answer
  EXPECT_FALSE(sent.has_value());
}

TEST_F(DispatcherTest, TimersFireWhilePumpingAndCoalesceWhenLate) {
  std::atomic<uint64_t> now{1000};
  UiDispatcher().SetClock([&] { return now.load(); });
  int fired1 = 0, fired2 = 0;
  wnd_.MapTimer(1, [&] { ++fired1; });
  wnd_.MapTimer(2, [&] { ++fired2; });
  ASSERT_TRUE(wnd_.SetTimer(1, 100));
  ASSERT_TRUE(wnd_.SetTimer(2, 30));
  UiDispatcher().PumpPending();
  EXPECT_EQ(fired1, 0);
  now += 350;  // three periods of timer 1 missed: it fires once
  UiDispatcher().PumpPending();
  EXPECT_EQ(fired1, 1);
  EXPECT_EQ(fired2, 1);
  now += 100;
  UiDispatcher().PumpPending();
  EXPECT_EQ(fired1, 2);
  EXPECT_TRUE(wnd_.KillTimer(1));
  now += 1000;
  UiDispatcher().PumpPending();
  EXPECT_EQ(fired1, 2);
  EXPECT_EQ(fired2, 3);
  wnd_.DestroyWindow();  // a destroyed window's timers go with it
  EXPECT_EQ(UiDispatcher().TimerCount(), 0u);
}

TEST_F(DispatcherTest, RealTimeTimerDrivesPumpUntil) {
  int ticks = 0;
  wnd_.MapTimer(7, [&] { ++ticks; });
  wnd_.SetTimer(7, 5);
  EXPECT_TRUE(UiDispatcher().PumpUntil([&] { return ticks >= 3; }, 10000));
  wnd_.KillTimer(7);
}

TEST_F(DispatcherTest, QuitFromAnotherThreadEndsRunAndNestedPumps) {
  std::thread quitter([] { UiDispatcher().PostQuitMessage(3); });
  EXPECT_EQ(UiDispatcher().Run(), 3);
  quitter.join();
  EXPECT_FALSE(UiDispatcher().QuitRequested());  // the loop consumed it

  bool nested_result = true;
  UiDispatcher().PostCall([&] {
    UiDispatcher().PostQuitMessage(0);
    nested_result = UiDispatcher().PumpUntil([] { return false; });
  });
  EXPECT_EQ(UiDispatcher().Run(), 0);
  EXPECT_FALSE(nested_result);
}

TEST_F(DispatcherTest, ShutdownReleasesWaitingSenders) {
  std::optional<LRESULT> result = LRESULT{1};
  std::thread worker([&] {
    Request request;
    result = UiDispatcher().SendMessage(hwnd_, kMsgRecord, 0, reinterpret_cast<LPARAM>(&request));
  });
  WaitForQueuedSend();
  UiDispatcher().Shutdown();
  worker.join();
  EXPECT_FALSE(result.has_value());
  EXPECT_TRUE(wnd_.order.empty());
  UiDispatcher().AttachToCurrentThread();  // serve again for the tests after this one
}

TEST_F(DispatcherTest, CallsRunOnTheUiThreadInQueueOrder) {
  std::vector<int> order;
  std::thread::id ui = std::this_thread::get_id();
  std::atomic<bool> wrong_thread{false};
  std::thread worker([&] {
    UiDispatcher().PostCall([&] { order.push_back(1); });
    bool ran = UiDispatcher().SendCall([&] {
      order.push_back(2);
      wrong_thread = std::this_thread::get_id() != ui;
    });
    if (!ran) wrong_thread = true;
  });
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return order.size() == 2; }, 10000));
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_FALSE(wrong_thread.load());
}

}  // namespace
}  // namespace velmora

// CWorkThread: start and ready signal, quit requests, cooperative stop (also late, concurrent
// and from the worker itself), restarts and the end of the owning object.
#include "core/work_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/log.h"

namespace velmora {
namespace {

// Starts `t` with a procedure that signals ready and waits for the quit request.
bool StartWaiting(CWorkThread& t, const char* name) {
  return t.Start(name, [&t] {
    t.SignalReady();
    t.WaitQuit(kInfinite);
  });
}

TEST(WorkThread, StartReturnsAfterTheReadySignalOrTheEnd) {
  CWorkThread t;
  int prepared = 0;  // written by the worker before SignalReady, read by the starter after Start
  ASSERT_TRUE(t.Start("Prepare", [&] {
    prepared = 42;
    t.SignalReady();
    t.WaitQuit(kInfinite);
  }));
  EXPECT_EQ(prepared, 42);
  EXPECT_TRUE(t.IsRunning());
  EXPECT_FALSE(t.Start("Second", [] {}));  // one thread per object
  EXPECT_TRUE(t.Stop(kInfinite));
  EXPECT_FALSE(t.IsRunning());

  std::atomic<bool> ran{false};
  ASSERT_TRUE(t.Start("NoReady", [&] { ran = true; }));
  EXPECT_TRUE(ran);  // Start waited for the end of a procedure that never signals
  EXPECT_TRUE(t.Stop(0));
  // An exception ends the thread; it is logged and the thread counts as ended.
  std::vector<std::string> lines;
  SetLogSink([&](const std::string& line) { lines.push_back(line); });
  ASSERT_TRUE(t.Start("Throws", [] { throw std::runtime_error("broken reply"); }));
  EXPECT_TRUE(t.Stop(kInfinite));
  SetLogSink(nullptr);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("broken reply"), std::string::npos);
}

TEST(WorkThread, StopWakesAWaitingWorker) {
  CWorkThread t;
  std::atomic<bool> saw_quit{false};
  ASSERT_TRUE(t.Start("Units", [&] {
    t.SignalReady();
    while (!t.WaitQuit(1000)) std::this_thread::yield();  // one unit of work per second at most
    saw_quit = t.QuitRequested();
  }));
  EXPECT_TRUE(t.Stop(60000));  // returns as soon as the worker sees the request
  EXPECT_TRUE(saw_quit);
  // The quit request is an event other waits can use; it stays set until the next Start.
  EXPECT_TRUE(t.QuitRequest().Wait(0));
  ASSERT_TRUE(StartWaiting(t, "Again"));
  EXPECT_FALSE(t.QuitRequested());
  EXPECT_TRUE(t.Stop(kInfinite));
}

TEST(WorkThread, LateThreadIsReportedAndWaitedForNeverKilled) {
  CWorkThread t;
  // An atomic, not an Event: the sink that sets it runs under the log's lock.
  std::atomic<bool> release{false}, finished{false};
  ASSERT_TRUE(t.Start("Stubborn", [&] {
    t.SignalReady();
    release.wait(false);  // ignores the quit request
    finished = true;
  }));
  int reports = 0;
  // The report of the late stop is what lets the worker go.
  SetLogSink([&](const std::string&) {
    ++reports;
    release = true;
    release.notify_all();
  });
  EXPECT_FALSE(t.Stop(20));
  SetLogSink(nullptr);
  EXPECT_TRUE(finished);  // Stop returned only after the thread ended on its own
  EXPECT_FALSE(t.IsRunning());
  EXPECT_EQ(reports, 1);
}

TEST(WorkThread, StopFromSeveralThreadsOrFromTheWorkerItself) {
  for (int round = 0; round < 20; ++round) {
    CWorkThread t;
    ASSERT_TRUE(StartWaiting(t, "Shared"));
    std::vector<std::thread> stoppers;
    std::atomic<int> in_time{0};
    for (int i = 0; i < 4; ++i)
      stoppers.emplace_back([&] {
        if (t.Stop(kInfinite)) ++in_time;
      });
    for (auto& s : stoppers) s.join();
    EXPECT_EQ(in_time.load(), 4);
    EXPECT_FALSE(t.IsRunning());
  }
  CWorkThread t;
  std::atomic<bool> own_stop{true};
  ASSERT_TRUE(t.Start("SelfStop", [&] {
    t.SignalReady();
    own_stop = t.Stop(kInfinite);  // would deadlock if it waited for itself
    t.WaitQuit(kInfinite);
  }));
  EXPECT_TRUE(t.Stop(kInfinite));
  EXPECT_FALSE(own_stop);
}

unsigned LegacyWorker(void* parameter) {
  ++*static_cast<std::atomic<int>*>(parameter);
  return 0;
}

TEST(WorkThread, LegacyProcedureRestartsAndOnExit) {
  CWorkThread t;
  std::atomic<int> calls{0};
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(t.Start("Legacy", &LegacyWorker, &calls, -1));
    t.OnExit();  // joins the ended run; harmless when repeated
    t.OnExit();
    EXPECT_FALSE(t.IsRunning());
  }
  EXPECT_EQ(calls.load(), 3);
  ASSERT_TRUE(StartWaiting(t, "Running"));
  t.OnExit();  // while the thread runs: nothing
  EXPECT_TRUE(t.IsRunning());
  EXPECT_TRUE(t.Stop(kInfinite));
}

TEST(WorkThread, DestructionStopsTheThread) {
  std::atomic<bool> ended{false};
  {
    CWorkThread t;
    ASSERT_TRUE(t.Start("Scoped", [&] {
      t.SignalReady();
      t.WaitQuit(kInfinite);
      ended = true;
    }));
  }
  EXPECT_TRUE(ended);
  // A worker that destroys its own object ends cleanly.
  Event done(true, false);
  auto* owner = new CWorkThread;
  ASSERT_TRUE(owner->Start("SelfDelete", [owner, &done] {
    owner->SignalReady();
    delete owner;
    done.Set();
  }));
  EXPECT_TRUE(done.Wait(kInfinite));
}

TEST(WorkThread, ManyWorkersLogConcurrently) {
  std::atomic<int> lines{0};
  SetLogSink([&](const std::string&) { ++lines; });
  std::vector<std::unique_ptr<CWorkThread>> workers;
  for (int i = 0; i < 8; ++i) {
    workers.push_back(std::make_unique<CWorkThread>());
    CWorkThread* w = workers.back().get();
    ASSERT_TRUE(w->Start("BDCrdCvt" + std::to_string(i), [w, i] {
      w->SignalReady();
      for (int n = 0; n < 100 && !w->QuitRequested(); ++n) AppLog("worker %d line %d", i, n);
    }));
  }
  for (auto& w : workers) EXPECT_TRUE(w->Stop(kInfinite));
  SetLogSink(nullptr);
  EXPECT_GT(lines.load(), 0);
  EXPECT_LE(lines.load(), 800);
}

}  // namespace
}  // namespace velmora

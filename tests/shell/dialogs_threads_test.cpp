// Dialog bases with worker threads: the progress dialog filled and closed by its worker (also
// before its window is up), cancel while the worker waits in a send to the UI thread, the
// worker-ended message, and the status bar's network state set from many threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "core/work_thread.h"
#include "platform/ui/controls.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/dlg_progress.h"
#include "shell/dlg_worker_base.h"
#include "shell/map_status_bar.h"
#include "support/headless_ui_test.h"

namespace velmora {
namespace {

using DialogThreadsTest = test::HeadlessUiTest;

TEST_F(DialogThreadsTest, WorkerThatFinishesBeforeTheWindowIsUpStillClosesIt) {
  CDlgProgress dlg("重构地址库...");
  Event done;
  ASSERT_TRUE(dlg.StartThread("RebuildAddressThread", [&] { done.Set(); }));
  ASSERT_TRUE(done.Wait(10000));
  dlg.Thread().Stop(kInfinite);  // ended, and its close request was made with no window
  EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST_F(DialogThreadsTest, ProgressWorkerSendsToTheUiThreadWhileTheDialogIsModal) {
  CWnd owner;
  ASSERT_TRUE(owner.Create(nullptr, 0, "view", 0));
  std::vector<int> served;
  owner.MapMessage(WM_UI_REQUEST, [&](WPARAM op, LPARAM lparam) {
    served.push_back(static_cast<int>(op));
    *reinterpret_cast<int*>(lparam) = static_cast<int>(op) * 2;
    return LRESULT{1};
  });
  CDlgProgress dlg("导出", &owner);
  HWND target = owner.GetSafeHwnd();
  std::atomic<int> bad{0};
  ASSERT_TRUE(dlg.StartThread("ThreadExport", [&] {
    for (int op = 1; op <= 20; ++op) {
      int answer = 0;
      auto r = UiDispatcher().SendMessage(target, WM_UI_REQUEST, static_cast<WPARAM>(op),
                                          reinterpret_cast<LPARAM>(&answer), &dlg.Thread().QuitRequest());
      if (!r || answer != op * 2) ++bad;
      dlg.AddLine("%d: %s", op, "行政区");
      dlg.SetProgress(static_cast<float>(op) / 20.0f);
    }
  }));
  EXPECT_EQ(dlg.DoModal(), IDOK);  // the modal pump served every send, then the worker closed it
  // The close is the worker's last act: it ends right after, without needing a quit request.
  EXPECT_TRUE(dlg.Thread().Stop(10000));
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(served.size(), 20u);
  ASSERT_EQ(dlg.Lines().size(), 20u);
  EXPECT_EQ(dlg.Lines().back(), "20: 行政区");
  EXPECT_FLOAT_EQ(dlg.Progress(), 1.0f);
}

TEST_F(DialogThreadsTest, CancelStopsAWorkerWhileServingItsSends) {
  CWnd owner;
  ASSERT_TRUE(owner.Create(nullptr, 0, "view", 0));
  std::atomic<int> served{0};
  owner.MapMessage(WM_UI_REQUEST, [&](WPARAM, LPARAM) {
    ++served;
    return LRESULT{0};
  });
  CDlgProgress dlg("拼图");
  HWND target = owner.GetSafeHwnd();
  ASSERT_TRUE(dlg.StartThread("GEAppExport", [&] {
    // Keeps asking the UI thread until told to quit: a cancel that waited without serving
    // would never see it end.
    while (!dlg.Thread().QuitRequested()) UiDispatcher().SendMessage(target, WM_UI_REQUEST, 0, 0);
  }));
  host.AnswerDialog(CDlgProgress::kTemplateId, [&](CDialog& d) {
    UiDispatcher().PumpUntil([&] { return served.load() >= 3; }, 10000);
    d.GetDlgItemAs<CButton>(IDCANCEL)->Click();
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_FALSE(dlg.Thread().IsRunning());
  EXPECT_GE(served.load(), 3);
}

// A worker dialog in the shape of the elevation dialogs: the worker reports back through the
// UI thread, tells the dialog with 0x404 that it ended, and Cancel stops it.
class WorkerDialog : public CDlgWorkerBase {
 public:
  static constexpr int kIdStart = 1035;
  WorkerDialog() : CDlgWorkerBase(DialogTemplate{4242, "高程提取", 200, 100, {{ControlKind::kButton, kIdStart, "开始", 0, 0, 50, 14, 0}}}) {
    MapCommand(kIdStart, [this] { Start(); });
    MapMessage(WM_WORKER_ENDED, [this](WPARAM, LPARAM) {
      ++ended_messages;
      GetDlgItem(kIdStart)->EnableWindow(true);
      return LRESULT{0};
    });
    MapMessage(WM_UI_REQUEST, [this](WPARAM, LPARAM lparam) {
      ++requests;
      *reinterpret_cast<int*>(lparam) += 1;
      return LRESULT{0};
    });
  }
  CWorkThread* GetWorker() override { return &worker_; }
  void Start() {
    GetDlgItem(kIdStart)->EnableWindow(false);
    HWND self = GetSafeHwnd();
    worker_.Start("ThreadSetDEMData", [this, self] {
      worker_.SignalReady();
      for (int i = 0; i < steps && !worker_.QuitRequested(); ++i) {
        int value = 0;
        UiDispatcher().SendMessage(self, WM_UI_REQUEST, 0, reinterpret_cast<LPARAM>(&value), &worker_.QuitRequest());
      }
      if (!worker_.QuitRequested()) UiDispatcher().PostMessage(self, WM_WORKER_ENDED, 0, 0);
    });
  }
  int steps = 0;
  int ended_messages = 0;
  int requests = 0;

 private:
  CWorkThread worker_;
};

TEST_F(DialogThreadsTest, WorkerEndedMessageReachesTheDialog) {
  WorkerDialog dlg;
  dlg.steps = 5;
  ShowModelessDialog(&dlg);
  ASSERT_TRUE(dlg.IsWindowVisible());
  dlg.GetDlgItemAs<CButton>(WorkerDialog::kIdStart)->Click();
  EXPECT_FALSE(dlg.GetDlgItem(WorkerDialog::kIdStart)->IsWindowEnabled());
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return dlg.ended_messages == 1; }, 10000));
  EXPECT_EQ(dlg.requests, 5);
  EXPECT_TRUE(dlg.GetDlgItem(WorkerDialog::kIdStart)->IsWindowEnabled());
  dlg.OnCancel();
  EXPECT_FALSE(dlg.IsWindow());
}

TEST_F(DialogThreadsTest, WorkerDialogCancelDoesNotDeadlockWithASendingWorker) {
  WorkerDialog dlg;
  dlg.steps = 1 << 30;  // runs until cancelled
  ASSERT_TRUE(dlg.Create());
  dlg.GetDlgItemAs<CButton>(WorkerDialog::kIdStart)->Click();
  ASSERT_TRUE(UiDispatcher().PumpUntil([&] { return dlg.requests >= 10; }, 10000));
  // The worker is at a send to this thread (or about to be); cancel must keep serving it.
  dlg.OnCancel();
  EXPECT_FALSE(dlg.GetWorker()->IsRunning());
  EXPECT_FALSE(dlg.IsWindow());
  EXPECT_EQ(dlg.ended_messages, 0);
}

TEST_F(DialogThreadsTest, StopWorkerPumpingGivesUpAfterItsTimeOut) {
  CWorkThread worker;
  Event release;
  ASSERT_TRUE(worker.Start("Stubborn", [&] {
    worker.SignalReady();
    release.Wait(kInfinite);  // ignores the quit request until released
  }));
  EXPECT_FALSE(StopWorkerPumping(worker, 30));
  EXPECT_TRUE(worker.QuitRequested());
  release.Set();
  EXPECT_TRUE(StopWorkerPumping(worker));
}

TEST_F(DialogThreadsTest, NetStateIsStoredFromManyThreads) {
  CMapStatusBar& bar = MapStatusBar();
  bar.Reset();
  constexpr int kThreads = 8, kEach = 500;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&bar, t] {
      for (int i = 0; i < kEach; ++i) {
        bar.SetNetState(1 + (t + i) % 3);
        if (bar.NetState() < 1) std::abort();
        bar.SetCursorPos(120.5f, 36.25f, 0);
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(bar.NetStateUpdates(), static_cast<uint64_t>(kThreads * kEach));
  EXPECT_GE(bar.NetState(), 1);
  EXPECT_LE(bar.NetState(), 3);
  EXPECT_EQ(bar.PaneText(CMapStatusBar::kPaneCursor), "120.50*, 36.25*");
}

}  // namespace
}  // namespace velmora

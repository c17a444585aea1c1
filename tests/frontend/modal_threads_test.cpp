// Workers and the Qt loop: a worker's SendMessage answered while a modal dialog runs (nobody pumps
// by hand), timers firing on Qt's loop, a worker that ends while its dialog closes (no hang, no
// freed window touched), a progress dialog closed by the window manager, and a quit from another
// thread ending the nested and the main loop.
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <memory>
#include <random>
#include <thread>

#include "core/work_thread.h"
#include "frontend/dialog_window.h"
#include "frontend_env.h"
#include "platform/ui/dialog.h"
#include "platform/ui/ui_host.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/dlg_progress.h"

namespace velmora {
namespace {

using test::PumpUntil;

constexpr int kOpSquare = 7;

struct SquareRequest {
  int in = 0;
  int out = 0;
  std::thread::id answered_on;
};

// A dialog whose worker asks the UI thread to compute, then closes it.
class CAskingDialog : public CDialog {
 public:
  explicit CAskingDialog(int asks)
      : CDialog(DialogTemplate{9401, "计算", 120, 40, {{ControlKind::kButton, IDCANCEL, "取消", 60, 20, 50, 14, 0}}}),
        asks_(asks) {
    MapMessage(WM_UI_REQUEST, [this](WPARAM op, LPARAM lparam) {
      auto* request = reinterpret_cast<SquareRequest*>(lparam);
      if (op == kOpSquare) {
        request->out = request->in * request->in;
        request->answered_on = std::this_thread::get_id();
        ++answered;
      }
      return LRESULT{1};
    });
  }
  ~CAskingDialog() override { worker.Stop(kInfinite); }
  bool OnInitDialog() override {
    HWND hwnd = GetSafeHwnd();
    worker.Start("AskingWorker", [this, hwnd] {
      worker.SignalReady();
      for (int i = 1; i <= asks_ && !worker.QuitRequested(); ++i) {
        SquareRequest request;
        request.in = i;
        auto result = UiDispatcher().SendMessage(hwnd, WM_UI_REQUEST, kOpSquare, reinterpret_cast<LPARAM>(&request),
                                                 &worker.QuitRequest());
        if (!result) return;
        if (request.out != i * i || request.answered_on != ui_thread) ++wrong;
      }
      UiDispatcher().PostMessage(hwnd, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    });
    return true;
  }

  CWorkThread worker;
  std::thread::id ui_thread = std::this_thread::get_id();
  std::atomic<int> wrong{0};
  int answered = 0;

 private:
  int asks_;
};

class FrontendThreadsTest : public ::testing::Test {};

TEST_F(FrontendThreadsTest, WorkersSendsAreAnsweredWhileAModalDialogRuns) {
  CAskingDialog dlg(200);
  EXPECT_EQ(dlg.DoModal(), IDOK);  // only Qt's nested loop served the sends
  EXPECT_EQ(dlg.answered, 200);
  EXPECT_EQ(dlg.wrong.load(), 0);
}

TEST_F(FrontendThreadsTest, TimersFireOnQtsLoop) {
  CDialog dlg(DialogTemplate{9402, "计时", 100, 40, {}});
  int ticks = 0;
  dlg.MapTimer(1, [&] {
    if (++ticks == 5) dlg.EndDialog(IDOK);
  });
  QTimer::singleShot(0, [&] { dlg.SetTimer(1, 15); });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(ticks, 5);
}

TEST_F(FrontendThreadsTest, WorkerEndingWhileItsDialogClosesNeitherHangsNorTouchesAFreedWindow) {
  std::mt19937 random(12345);
  for (int round = 0; round < 25; ++round) {
    auto progress = std::make_unique<CDlgProgress>("下载地址");
    int work_ms = static_cast<int>(random() % 12);
    int cancel_ms = static_cast<int>(random() % 12);
    std::atomic<int> lines{0};
    CDlgProgress* p = progress.get();
    ASSERT_TRUE(p->StartThread("ClosingWorker", [p, work_ms, &lines] {
      auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(work_ms);
      while (std::chrono::steady_clock::now() < end && !p->Thread().QuitRequested()) {
        p->AddLine("第 %d 行", ++lines);
        p->SetProgress(0.5f);
      }
    }));
    {
      // The person clicks Cancel at about the moment the worker ends and closes the dialog.
      QTimer cancel;
      cancel.setSingleShot(true);
      QObject::connect(&cancel, &QTimer::timeout, [p] {
        if (QWidget* button = test::ControlWidget(*p, IDCANCEL)) QTest::mouseClick(button, Qt::LeftButton);
      });
      cancel.start(cancel_ms);
      INT_PTR result = p->DoModal();
      EXPECT_TRUE(result == IDOK || result == IDCANCEL) << result;
      EXPECT_FALSE(p->IsWindow());
    }
    // The dialog object goes at once (its worker may still be returning: the destructor waits,
    // serving the queue); the worker's late posts to it are dropped.
    progress.reset();
    test::Settle();
    EXPECT_EQ(CDialogWindow::Of(*p), nullptr);
  }
}

TEST_F(FrontendThreadsTest, ProgressDialogClosedByTheWindowManagerStopsItsWorker) {
  CDlgProgress progress("导出高程");
  std::atomic<bool> stopped{false};
  ASSERT_TRUE(progress.StartThread("WaitingWorker", [&] {
    progress.AddLine("正在等待");
    progress.Thread().WaitQuit(kInfinite);
    stopped = true;
  }));
  QTimer::singleShot(0, [] {
    PumpUntil([] { return QApplication::activeModalWidget() != nullptr; });
    if (QWidget* w = QApplication::activeModalWidget()) w->close();
  });
  EXPECT_EQ(progress.DoModal(), IDCANCEL);
  EXPECT_TRUE(stopped);
}

TEST_F(FrontendThreadsTest, MessageBoxAskedByAWorkerIsShownOnTheUiThread) {
  std::atomic<int> answer{0};
  std::thread::id shown_on;
  // The box runs its own loop inside the serve pass: a timer of that loop answers it.
  QTimer answerer;
  QObject::connect(&answerer, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    shown_on = std::this_thread::get_id();
    answerer.stop();
    QTest::keyClick(box, Qt::Key_Escape);
  });
  answerer.start(5);
  std::thread worker([&] { answer = ShowMessageBox("硬盘空间不足,请重新设置数据目录!", MB_OKCANCEL); });
  EXPECT_TRUE(PumpUntil([&] { return answer.load() != 0; }));
  worker.join();
  EXPECT_EQ(answer.load(), IDCANCEL);
  EXPECT_EQ(shown_on, std::this_thread::get_id());
}

TEST_F(FrontendThreadsTest, QuitFromAnotherThreadEndsTheNestedAndTheMainLoop) {
  INT_PTR modal_result = 0;
  Event modal_shown;
  QTimer::singleShot(0, [&] {
    CDialog dlg(DialogTemplate{9403, "等待", 100, 40, {}});
    QTimer::singleShot(0, [&] {
      PumpUntil([] { return QApplication::activeModalWidget() != nullptr; });
      modal_shown.Set();
    });
    modal_result = dlg.DoModal();
  });
  std::thread quitter([&] {
    EXPECT_TRUE(modal_shown.Wait(20000));
    UiDispatcher().PostQuitMessage(3);
  });
  int code = test::FrontendEnvironment::Session().Bridge().Exec();
  quitter.join();
  EXPECT_EQ(code, 3);
  EXPECT_EQ(modal_result, IDCANCEL);  // ended by the quit, not by a person
  EXPECT_FALSE(UiDispatcher().QuitRequested());  // consumed
}

}  // namespace
}  // namespace velmora

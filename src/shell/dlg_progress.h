// CDlgProgress: the shared modal progress dialog. It owns a worker thread, a progress bar and
// status lines. The worker appends lines and sets the progress from its own thread; the dialog
// closes when the worker calls Close or its procedure returns, even when that happens before the
// dialog's window is up. Cancel stops the worker (serving its sends meanwhile) and closes.
#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/work_thread.h"
#include "platform/ui/controls.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CDlgProgress : public CDialogEx {
 public:
  static constexpr int kTemplateId = 0x7F10;
  static constexpr int kIdLines = 1001;
  static constexpr int kIdProgress = 1002;

  explicit CDlgProgress(const std::string& title, CWnd* parent = nullptr);
  ~CDlgProgress() override;  // stops a worker that still runs

  // Starts the worker; the dialog is closed when the procedure returns. The procedure may wait
  // for the quit request with Thread().WaitQuit.
  bool StartThread(const std::string& name, CWorkThread::LegacyProcedure procedure, void* parameter);
  bool StartThread(const std::string& name, std::function<void()> procedure);
  CWorkThread& Thread() { return thread_; }

  // Any thread.
  void AddLine(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void SetProgress(float value);  // 0 to 1; repaints
  float Progress() const;
  std::vector<std::string> Lines() const;
  // The worker's close: posts IDOK to the dialog (remembered when the window is not up yet).
  void Close();

  bool ClosesItself() const override { return true; }
  void OnCancel() override;

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  void ShowState();  // copies lines and progress into the controls (UI thread)

  CWorkThread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  float progress_ = 0;
  bool close_requested_ = false;
  bool window_up_ = false;
  HWND hwnd_copy_ = 0;  // the window as workers may use it, under mutex_
  bool refresh_posted_ = false;
  CStatic lines_ctrl_;
  CProgressCtrl progress_ctrl_;
};

}  // namespace velmora

// CDlgWorkerBase: a dialog with a worker thread. Cancel stops the worker cooperatively, serving
// the UI queue while it waits (the worker may be blocked in a SendMessage to this very thread),
// then closes. ShowModelessDialog creates such dialogs on first use and shows them.
#pragma once
#include "core/work_thread.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CDlgWorkerBase : public CDialogEx {
 public:
  using CDialogEx::CDialogEx;

  // The thread that does the dialog's work (owned by the dialog or by one of its panels), or
  // null.
  virtual CWorkThread* GetWorker() { return nullptr; }
  void OnCancel() override;
};

// Creates the dialog from its template when it has no window yet, and shows it.
void ShowModelessDialog(CDialog* dialog);

// Stops a worker from the user-interface thread: sets its quit request and pumps the UI queue
// until it ended (at most `ms`, kInfinite without limit), then joins it. From another thread it
// is CWorkThread::Stop. True when the thread ended within the time.
bool StopWorkerPumping(CWorkThread& thread, unsigned ms = kInfinite);

}  // namespace velmora

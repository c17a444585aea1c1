// Worker dialogs and modeless dialogs.
#include "shell/dlg_worker_base.h"

#include "core/log.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"

namespace velmora {

void CDlgWorkerBase::OnCancel() {
  if (CWorkThread* worker = GetWorker()) StopWorkerPumping(*worker);
  EndDialog(IDCANCEL);
}

void ShowModelessDialog(CDialog* dialog) {
  if (!dialog) return;
  if (!dialog->IsWindow() && !dialog->Create()) return;
  dialog->ShowWindow(SW_SHOW);
  GetUiHost().ShowModeless(*dialog);
}

bool StopWorkerPumping(CWorkThread& thread, unsigned ms) {
  if (!UiDispatcher().IsUiThread()) return thread.Stop(ms);
  thread.QuitRequest().Set();
  // The worker may be waiting in a SendMessage to this thread: keep serving until it ended.
  bool ended = UiDispatcher().PumpUntil([&thread] { return !thread.IsRunning(); }, ms, false);
  if (!ended) {
    AppLog("Thread: %s did not stop within %u ms", thread.Name().c_str(), ms);
    return false;  // it will end on its own; its owner joins it later
  }
  thread.Stop(kInfinite);  // joins a thread that has already ended
  return true;
}

}  // namespace velmora

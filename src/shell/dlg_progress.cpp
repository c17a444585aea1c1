// The shared progress dialog.
#include "shell/dlg_progress.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include "platform/ui/ui_dispatcher.h"
#include "shell/dlg_worker_base.h"

namespace velmora {
namespace {

constexpr UINT kMsgRefresh = WM_USER + 0x60;  // the worker changed lines or progress

DialogTemplate ProgressTemplate(const std::string& title) {
  DialogTemplate t;
  t.id = CDlgProgress::kTemplateId;
  t.caption = title;
  t.cx = 240;
  t.cy = 110;
  t.controls = {
      {ControlKind::kStatic, CDlgProgress::kIdLines, "", 7, 7, 226, 60, 0},
      {ControlKind::kProgress, CDlgProgress::kIdProgress, "", 7, 72, 226, 10, 0},
      {ControlKind::kButton, IDCANCEL, "取消", 183, 89, 50, 14, 0},
  };
  return t;
}

}  // namespace

CDlgProgress::CDlgProgress(const std::string& title, CWnd* parent) : CDialogEx(ProgressTemplate(title), parent) {
  BindControl(kIdLines, lines_ctrl_);
  BindControl(kIdProgress, progress_ctrl_);
  MapMessage(kMsgRefresh, [this](WPARAM, LPARAM) {
    {
      std::lock_guard lock(mutex_);
      refresh_posted_ = false;
    }
    ShowState();
    return LRESULT{0};
  });
}

CDlgProgress::~CDlgProgress() {
  if (thread_.IsRunning()) StopWorkerPumping(thread_);
  thread_.OnExit();
  DestroyWindow();
}

bool CDlgProgress::StartThread(const std::string& name, CWorkThread::LegacyProcedure procedure, void* parameter) {
  return StartThread(name, [procedure, parameter] { procedure(parameter); });
}

bool CDlgProgress::StartThread(const std::string& name, std::function<void()> procedure) {
  {
    std::lock_guard lock(mutex_);
    close_requested_ = false;
  }
  return thread_.Start(name, [this, procedure = std::move(procedure)] {
    thread_.SignalReady();
    procedure();
    Close();  // a procedure that returns has finished the dialog's work
  });
}

void CDlgProgress::AddLine(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  HWND post_to = 0;
  {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(buffer);
    if (window_up_ && !refresh_posted_) {
      refresh_posted_ = true;
      post_to = hwnd_copy_;
    }
  }
  if (post_to) UiDispatcher().PostMessage(post_to, kMsgRefresh, 0, 0);
}

void CDlgProgress::SetProgress(float value) {
  if (!(value >= 0)) value = 0;  // NaN too
  if (value > 1) value = 1;
  HWND post_to = 0;
  {
    std::lock_guard lock(mutex_);
    progress_ = value;
    if (window_up_ && !refresh_posted_) {
      refresh_posted_ = true;
      post_to = hwnd_copy_;
    }
  }
  if (post_to) UiDispatcher().PostMessage(post_to, kMsgRefresh, 0, 0);
}

float CDlgProgress::Progress() const {
  std::lock_guard lock(mutex_);
  return progress_;
}

std::vector<std::string> CDlgProgress::Lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

void CDlgProgress::Close() {
  HWND post_to = 0;
  {
    std::lock_guard lock(mutex_);
    close_requested_ = true;
    if (window_up_) post_to = hwnd_copy_;
  }
  // Before the window is up the request is kept, and OnInitDialog ends the dialog at once.
  if (post_to) UiDispatcher().PostMessage(post_to, WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
}

bool CDlgProgress::OnInitDialog() {
  progress_ctrl_.SetRange32(0, 1000);
  bool close_now;
  {
    // Up first, then the state is copied: a line the worker adds in between is posted, not lost.
    std::lock_guard lock(mutex_);
    window_up_ = true;
    hwnd_copy_ = GetSafeHwnd();
    close_now = close_requested_;
  }
  ShowState();
  if (close_now) EndDialog(IDOK);
  return true;
}

void CDlgProgress::OnDestroy() {
  std::lock_guard lock(mutex_);
  window_up_ = false;
  hwnd_copy_ = 0;
  refresh_posted_ = false;
}

void CDlgProgress::OnCancel() {
  // The end code first, so that the worker's closing IDOK, arriving while we wait, changes nothing.
  EndDialog(IDCANCEL);
  StopWorkerPumping(thread_);
}

void CDlgProgress::ShowState() {
  std::string text;
  float progress;
  {
    std::lock_guard lock(mutex_);
    // The last lines are what fits in the box; long jobs write thousands.
    size_t first = lines_.size() > 100 ? lines_.size() - 100 : 0;
    for (size_t i = first; i < lines_.size(); ++i) {
      const std::string& line = lines_[i];
      if (!text.empty()) text += "\n";
      text += line;
    }
    progress = progress_;
  }
  lines_ctrl_.SetWindowText(text);
  progress_ctrl_.SetPos(static_cast<int>(std::lround(progress * 1000.0f)));
}

}  // namespace velmora

// The splash window's model: shown during start-up, its status line names each step. Any thread
// may set the line; the texts also go to the log so that a run without a display shows them.
#pragma once
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

class CSplashWnd {
 public:
  void Show();
  void Hide();
  bool IsShown() const;
  void SetText(const std::string& text);
  std::string Text() const;
  // Every line shown since the last Reset, in order.
  std::vector<std::string> History() const;
  void Reset();

  // Called after Show, Hide and SetText on the calling thread, outside the lock (a front end
  // repaints its splash window at once when that is the UI thread, as start-up runs there).
  using ChangeHook = void (*)();
  void SetChangeHook(ChangeHook hook) { hook_.store(hook); }

 private:
  mutable std::mutex mutex_;
  bool shown_ = false;
  std::string text_;
  std::vector<std::string> history_;
  std::atomic<ChangeHook> hook_{nullptr};
  void Changed() const {
    if (ChangeHook hook = hook_.load()) hook();
  }
};

CSplashWnd& SplashWnd();
// Sets the splash window's status line under its lock and repaints it.
void SetSplashText(const std::string& text);

}  // namespace velmora

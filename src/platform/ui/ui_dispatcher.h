// CUiDispatcher: the user-interface thread's message queue. Any thread posts messages or calls;
// workers send and wait until the UI thread has run the handler; timers fire while the UI thread
// pumps. Windows register here under their handle, so a message to a window that is gone is
// dropped instead of reaching a dead object.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/sync.h"
#include "platform/ui/ui_types.h"

namespace velmora {

class CWnd;

class CUiDispatcher {
 public:
  using Clock = std::function<uint64_t()>;  // milliseconds; TickCount64 unless replaced

  CUiDispatcher();
  ~CUiDispatcher();
  CUiDispatcher(const CUiDispatcher&) = delete;
  CUiDispatcher& operator=(const CUiDispatcher&) = delete;

  // The calling thread becomes the user-interface thread: the one that runs handlers. Clears a
  // quit request left from an earlier run.
  void AttachToCurrentThread();
  bool IsUiThread() const;
  std::thread::id UiThreadId() const;

  // ---- windows (UI thread) ----
  HWND Register(CWnd* window);
  void Unregister(HWND hwnd);
  CWnd* FromHandle(HWND hwnd) const;  // null when the window is gone
  bool IsWindow(HWND hwnd) const;

  // ---- messages (any thread) ----
  // Queues the message; false when the window does not exist (the message is dropped).
  bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  // Runs `call` on the UI thread, in queue order with the messages.
  void PostCall(std::function<void()> call);

  // On the UI thread: calls the window's handler at once. From another thread: queues the
  // message and waits until the UI thread ran the handler, so the handler may write results
  // into the record that LPARAM points at. The wait ends early when `cancel` becomes set or the
  // dispatcher shuts down: a message that has not started yet is then taken out of the queue
  // (its handler never runs), one that is running is waited for. nullopt when the handler did
  // not run (window gone, cancelled, shut down).
  std::optional<LRESULT> SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                     const Event* cancel = nullptr);
  // Same for a call; true when it ran.
  bool SendCall(std::function<void()> call, const Event* cancel = nullptr);

  // ---- timers (UI thread) ----
  // WM_TIMER(id) reaches the window every `elapse_ms` while the UI thread pumps; a timer that
  // fell behind fires once, not once per missed period. Setting an existing id restarts it.
  bool SetTimer(HWND hwnd, UINT_PTR id, unsigned elapse_ms);
  bool KillTimer(HWND hwnd, UINT_PTR id);
  size_t TimerCount() const;

  // ---- pumping (UI thread) ----
  // Runs everything queued before the call and the timers that are due; returns the count.
  int PumpPending();
  // Pumps until done() is true (checked between messages and at least every 10 ms), a quit was
  // requested (false; unless `stop_on_quit` is false) or the time-out passed (false).
  bool PumpUntil(const std::function<bool()>& done, unsigned timeout_ms = kInfinite,
                 bool stop_on_quit = true);
  // The message loop: pumps until PostQuitMessage; returns its exit code.
  int Run();
  // Any thread (also from a signal watcher): ends Run and every PumpUntil.
  void PostQuitMessage(int exit_code);
  bool QuitRequested() const;
  // The quit request and its exit code; ClearQuit consumes it, as Run does when it returns.
  bool QuitRequested(int* exit_code) const;
  void ClearQuit();
  // Wakes a pump that waits, so that it checks its condition again.
  void Wake();

  // ---- another event loop serving the queue (a desktop toolkit's) ----
  // `hook` is called on the posting thread, after the dispatcher's lock is released, whenever
  // work arrives (a posted or sent message or call, a timer set, a wake, a quit). The loop then
  // calls PumpPending on the UI thread and arms its own timer for NextTimerDelay. The hook must be
  // cheap and thread-safe. Null removes it.
  using WakeHook = void (*)();
  void SetWakeHook(WakeHook hook);
  // Milliseconds until the next timer is due (0 when one is due now); nullopt without timers.
  std::optional<uint64_t> NextTimerDelay() const;

  // Completes every waiting sender with "not run", drops the queue and the timers, and refuses
  // later sends. Called when the user-interface thread stops serving.
  void Shutdown();

  // Tests replace the clock to drive timers without waiting.
  void SetClock(Clock clock);

  // Counters for tests and diagnostics.
  size_t QueueLength() const;

 private:
  struct Item;
  bool RunOne();  // one queued item or one due timer; false when there was none
  bool FireDueTimer(uint64_t now);
  uint64_t Now() const;
  uint64_t NextTimerDue() const;  // UINT64_MAX when no timer
  void WaitForWork(uint64_t max_ms, bool wake_on_quit = true);
  LRESULT Deliver(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
  // Queues a sent item and waits (lock held on entry and exit) until the UI thread ran it, or takes
  // it back when `cancel` is set before it started. True when it ran.
  bool QueueAndWait(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Item>& item,
                    const Event* cancel);

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Item>> queue_;
  std::map<HWND, CWnd*> windows_;
  struct Timer {
    unsigned elapse = 0;
    uint64_t due = 0;
  };
  std::map<std::pair<HWND, UINT_PTR>, Timer> timers_;
  HWND next_handle_ = 1;
  std::thread::id ui_thread_;
  bool quit_ = false;
  int exit_code_ = 0;
  bool shut_down_ = false;
  Clock clock_;
  std::atomic<WakeHook> wake_hook_{nullptr};
  void CallWakeHook() const {
    if (WakeHook hook = wake_hook_.load(std::memory_order_acquire)) hook();
  }
};

// The process's dispatcher. The UI thread is the one that called AttachToCurrentThread, else the
// first thread that created a window or pumped.
CUiDispatcher& UiDispatcher();

// Shorthands on UiDispatcher().
inline bool PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return UiDispatcher().PostMessage(hwnd, msg, wparam, lparam);
}
// LRESULT of the handler, 0 when it did not run.
LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
inline bool IsUiThread() { return UiDispatcher().IsUiThread(); }

}  // namespace velmora

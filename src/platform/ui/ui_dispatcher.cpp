// The user-interface thread's queue, sends, timers and pumps.
#include "platform/ui/ui_dispatcher.h"

#include <algorithm>
#include <chrono>
#include <limits>

#include "platform/ui/window.h"

namespace velmora {

struct CUiDispatcher::Item {
  HWND hwnd = 0;
  UINT msg = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
  std::function<void()> call;  // set for calls, empty for messages
  enum class State { kQueued, kRunning, kDone } state = State::kQueued;
  bool ran = false;
  LRESULT result = 0;
  std::condition_variable done;  // waited on with the dispatcher's mutex
};

namespace {
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();
constexpr unsigned kRecheckMs = 10;  // conditions that change without a message are checked this often
}  // namespace

CUiDispatcher::CUiDispatcher() = default;
CUiDispatcher::~CUiDispatcher() { Shutdown(); }

void CUiDispatcher::AttachToCurrentThread() {
  std::lock_guard lock(mutex_);
  ui_thread_ = std::this_thread::get_id();
  quit_ = false;
  exit_code_ = 0;
  shut_down_ = false;
}

bool CUiDispatcher::IsUiThread() const {
  std::lock_guard lock(mutex_);
  return ui_thread_ == std::this_thread::get_id();
}

std::thread::id CUiDispatcher::UiThreadId() const {
  std::lock_guard lock(mutex_);
  return ui_thread_;
}

// The thread that first creates a window or pumps becomes the UI thread when none was chosen.
static void AttachIfNone(CUiDispatcher& d) {
  if (d.UiThreadId() == std::thread::id()) d.AttachToCurrentThread();
}

HWND CUiDispatcher::Register(CWnd* window) {
  AttachIfNone(*this);
  std::lock_guard lock(mutex_);
  HWND h = next_handle_++;
  windows_[h] = window;
  return h;
}

void CUiDispatcher::Unregister(HWND hwnd) {
  std::lock_guard lock(mutex_);
  windows_.erase(hwnd);
  for (auto it = timers_.begin(); it != timers_.end();) {
    if (it->first.first == hwnd)
      it = timers_.erase(it);
    else
      ++it;
  }
}

CWnd* CUiDispatcher::FromHandle(HWND hwnd) const {
  std::lock_guard lock(mutex_);
  auto it = windows_.find(hwnd);
  return it == windows_.end() ? nullptr : it->second;
}

bool CUiDispatcher::IsWindow(HWND hwnd) const { return FromHandle(hwnd) != nullptr; }

bool CUiDispatcher::PostMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  auto item = std::make_shared<Item>();
  item->hwnd = hwnd;
  item->msg = msg;
  item->wparam = wparam;
  item->lparam = lparam;
  {
    std::lock_guard lock(mutex_);
    if (shut_down_ || windows_.count(hwnd) == 0) return false;
    queue_.push_back(std::move(item));
  }
  cv_.notify_all();
  CallWakeHook();
  return true;
}

void CUiDispatcher::PostCall(std::function<void()> call) {
  auto item = std::make_shared<Item>();
  item->call = std::move(call);
  {
    std::lock_guard lock(mutex_);
    if (shut_down_) return;
    queue_.push_back(std::move(item));
  }
  cv_.notify_all();
  CallWakeHook();
}

std::optional<LRESULT> CUiDispatcher::SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                                  const Event* cancel) {
  if (IsUiThread()) {
    if (!IsWindow(hwnd)) return std::nullopt;
    return Deliver(hwnd, msg, wparam, lparam);
  }
  auto item = std::make_shared<Item>();
  item->hwnd = hwnd;
  item->msg = msg;
  item->wparam = wparam;
  item->lparam = lparam;
  std::unique_lock lock(mutex_);
  if (shut_down_ || windows_.count(hwnd) == 0) return std::nullopt;
  if (!QueueAndWait(lock, item, cancel)) return std::nullopt;
  return item->result;
}

bool CUiDispatcher::SendCall(std::function<void()> call, const Event* cancel) {
  if (IsUiThread()) {
    call();
    return true;
  }
  auto item = std::make_shared<Item>();
  item->call = std::move(call);
  std::unique_lock lock(mutex_);
  if (shut_down_) return false;
  return QueueAndWait(lock, item, cancel);
}

bool CUiDispatcher::QueueAndWait(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Item>& item,
                                 const Event* cancel) {
  queue_.push_back(item);
  cv_.notify_all();
  // The hook must not run under the lock: it may take the toolkit's own locks.
  lock.unlock();
  CallWakeHook();
  lock.lock();
  while (item->state != Item::State::kDone) {
    if (cancel == nullptr) {
      item->done.wait(lock);
      continue;
    }
    if (item->state == Item::State::kQueued && cancel->IsSet()) {
      // Not started: take it back, so the handler never writes into a record that is going away.
      auto it = std::find(queue_.begin(), queue_.end(), item);
      if (it != queue_.end()) queue_.erase(it);
      return false;
    }
    item->done.wait_for(lock, std::chrono::milliseconds(kRecheckMs));
  }
  return item->ran;
}

LRESULT CUiDispatcher::Deliver(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  CWnd* window = FromHandle(hwnd);
  return window ? window->WindowProc(msg, wparam, lparam) : 0;
}

bool CUiDispatcher::SetTimer(HWND hwnd, UINT_PTR id, unsigned elapse_ms) {
  uint64_t now = Now();
  {
    std::lock_guard lock(mutex_);
    if (windows_.count(hwnd) == 0) return false;
    Timer& t = timers_[{hwnd, id}];
    t.elapse = std::max(1u, elapse_ms);
    t.due = now + t.elapse;
  }
  cv_.notify_all();
  CallWakeHook();
  return true;
}

bool CUiDispatcher::KillTimer(HWND hwnd, UINT_PTR id) {
  std::lock_guard lock(mutex_);
  return timers_.erase({hwnd, id}) != 0;
}

size_t CUiDispatcher::TimerCount() const {
  std::lock_guard lock(mutex_);
  return timers_.size();
}

uint64_t CUiDispatcher::Now() const {
  Clock clock;
  {
    std::lock_guard lock(mutex_);
    clock = clock_;
  }
  return clock ? clock() : TickCount64();
}

void CUiDispatcher::SetClock(Clock clock) {
  std::lock_guard lock(mutex_);
  clock_ = std::move(clock);
}

uint64_t CUiDispatcher::NextTimerDue() const {
  std::lock_guard lock(mutex_);
  uint64_t next = kNever;
  for (const auto& [key, t] : timers_) next = std::min(next, t.due);
  return next;
}

bool CUiDispatcher::FireDueTimer(uint64_t now) {
  HWND hwnd = 0;
  UINT_PTR id = 0;
  {
    std::lock_guard lock(mutex_);
    auto best = timers_.end();
    for (auto it = timers_.begin(); it != timers_.end(); ++it)
      if (it->second.due <= now && (best == timers_.end() || it->second.due < best->second.due)) best = it;
    if (best == timers_.end()) return false;
    // A timer that fell behind fires once and starts its next period from now.
    best->second.due = now + best->second.elapse;
    hwnd = best->first.first;
    id = best->first.second;
  }
  Deliver(hwnd, WM_TIMER, id, 0);
  return true;
}

bool CUiDispatcher::RunOne() {
  std::shared_ptr<Item> item;
  {
    std::lock_guard lock(mutex_);
    if (!queue_.empty()) {
      item = std::move(queue_.front());
      queue_.pop_front();
      item->state = Item::State::kRunning;
    }
  }
  if (!item) return FireDueTimer(Now());
  // Marks the item done even when the handler throws, so that its sender never waits forever.
  struct Finish {
    CUiDispatcher* d;
    Item* item;
    ~Finish() {
      std::lock_guard lock(d->mutex_);
      item->state = Item::State::kDone;
      item->done.notify_all();
    }
  } finish{this, item.get()};
  if (item->call) {
    item->call();
    item->ran = true;
  } else if (IsWindow(item->hwnd)) {
    item->result = Deliver(item->hwnd, item->msg, item->wparam, item->lparam);
    item->ran = true;
  }
  return true;
}

void CUiDispatcher::WaitForWork(uint64_t max_ms, bool wake_on_quit) {
  std::unique_lock lock(mutex_);
  auto ready = [&] { return !queue_.empty() || (wake_on_quit && quit_); };
  if (ready() || max_ms == 0) return;
  cv_.wait_for(lock, std::chrono::milliseconds(max_ms), ready);
}

void CUiDispatcher::Wake() {
  cv_.notify_all();
  CallWakeHook();
}

void CUiDispatcher::SetWakeHook(WakeHook hook) { wake_hook_.store(hook, std::memory_order_release); }

std::optional<uint64_t> CUiDispatcher::NextTimerDelay() const {
  uint64_t next = NextTimerDue();
  if (next == kNever) return std::nullopt;
  uint64_t now = Now();
  return next > now ? next - now : 0;
}

int CUiDispatcher::PumpPending() {
  AttachIfNone(*this);
  size_t queued;
  {
    std::lock_guard lock(mutex_);
    queued = queue_.size();
  }
  int count = 0;
  for (size_t i = 0; i < queued; ++i) {
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) break;
    }
    if (RunOne()) ++count;
  }
  // Each due timer once.
  uint64_t now = Now();
  std::vector<std::pair<HWND, UINT_PTR>> due;
  {
    std::lock_guard lock(mutex_);
    for (const auto& [key, t] : timers_)
      if (t.due <= now) due.push_back(key);
  }
  for (size_t i = 0; i < due.size(); ++i)
    if (FireDueTimer(now)) ++count;
  return count;
}

bool CUiDispatcher::PumpUntil(const std::function<bool()>& done, unsigned timeout_ms,
                              bool stop_on_quit) {
  AttachIfNone(*this);
  uint64_t start = TickCount64();
  for (;;) {
    if (done()) return true;
    if (stop_on_quit && QuitRequested()) return false;
    if (RunOne()) continue;
    uint64_t elapsed = TickCount64() - start;
    if (timeout_ms != kInfinite && elapsed >= timeout_ms) return done();
    uint64_t wait = kRecheckMs;
    uint64_t next = NextTimerDue();
    uint64_t now = Now();
    if (next != kNever) wait = std::min(wait, next > now ? next - now : 0);
    if (timeout_ms != kInfinite) wait = std::min<uint64_t>(wait, timeout_ms - elapsed);
    WaitForWork(wait, stop_on_quit);
  }
}

int CUiDispatcher::Run() {
  AttachIfNone(*this);
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (quit_) {
        quit_ = false;  // the loop consumes the quit, as the message loop does with WM_QUIT
        return exit_code_;
      }
    }
    if (RunOne()) continue;
    uint64_t wait = 100;
    uint64_t next = NextTimerDue();
    uint64_t now = Now();
    if (next != kNever) wait = std::min(wait, next > now ? next - now : 0);
    WaitForWork(wait);
  }
}

void CUiDispatcher::PostQuitMessage(int exit_code) {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    exit_code_ = exit_code;
  }
  cv_.notify_all();
  CallWakeHook();
}

bool CUiDispatcher::QuitRequested() const {
  std::lock_guard lock(mutex_);
  return quit_;
}

bool CUiDispatcher::QuitRequested(int* exit_code) const {
  std::lock_guard lock(mutex_);
  if (quit_ && exit_code) *exit_code = exit_code_;
  return quit_;
}

void CUiDispatcher::ClearQuit() {
  std::lock_guard lock(mutex_);
  quit_ = false;
}

void CUiDispatcher::Shutdown() {
  std::lock_guard lock(mutex_);
  shut_down_ = true;
  for (auto& item : queue_) {
    item->state = Item::State::kDone;
    item->done.notify_all();
  }
  queue_.clear();
  timers_.clear();
  cv_.notify_all();
}

size_t CUiDispatcher::QueueLength() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

CUiDispatcher& UiDispatcher() {
  // Never destroyed: windows and workers may still reach it while static objects go away.
  static CUiDispatcher* dispatcher = new CUiDispatcher();
  return *dispatcher;
}

LRESULT SendMessage(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  return UiDispatcher().SendMessage(hwnd, msg, wparam, lparam).value_or(0);
}

}  // namespace velmora

// Events and a millisecond tick, in place of the Windows event objects and GetTickCount.
#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace velmora {

inline constexpr unsigned kInfinite = 0xFFFFFFFFu;

// Milliseconds from a fixed point of the steady clock; 64 bits so that it never wraps in a run.
uint64_t TickCount64();

// A Windows-style event: manual reset stays set until Reset; auto reset releases one waiter.
class Event {
 public:
  explicit Event(bool manual_reset = true, bool initially_set = false)
      : manual_(manual_reset), set_(initially_set) {}
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // True when the event was set within `ms` milliseconds (kInfinite waits without limit).
  bool Wait(unsigned ms);
  // The state as a flag that may be polled without the lock, e.g. as HttpOptions::cancel. Meant
  // for manual-reset events: an auto-reset event clears it again as soon as a waiter wakes.
  const std::atomic<bool>& Flag() const { return set_; }

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool manual_;
  std::atomic<bool> set_;  // written under mutex_, so that waiters never miss a change
};

}  // namespace velmora

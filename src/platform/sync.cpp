// Event and tick implementation on the standard library.
#include "platform/sync.h"

namespace velmora {

uint64_t TickCount64() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void Event::Set() {
  // Notified under the lock: a waiter that wakes may destroy the event at once, and by then this
  // call must no longer touch the condition variable.
  std::lock_guard lock(mutex_);
  set_ = true;
  if (manual_)
    cv_.notify_all();
  else
    cv_.notify_one();
}

void Event::Reset() {
  std::lock_guard lock(mutex_);
  set_ = false;
}

bool Event::IsSet() const { return set_.load(); }

bool Event::Wait(unsigned ms) {
  std::unique_lock lock(mutex_);
  if (ms == kInfinite) {
    cv_.wait(lock, [this] { return set_.load(); });
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return set_.load(); })) {
    return false;
  }
  if (!manual_) set_ = false;
  return true;
}

}  // namespace velmora

// CInstanceLock: one running instance per data folder. An exclusive flock on a lock file stands in
// for the named mutex; the kernel drops the lock when the process ends, however it ends.
#pragma once
#include <string>

namespace velmora {

class CInstanceLock {
 public:
  enum class Result { kAcquired, kHeldElsewhere, kError };

  CInstanceLock() = default;
  ~CInstanceLock() { Release(); }
  CInstanceLock(const CInstanceLock&) = delete;
  CInstanceLock& operator=(const CInstanceLock&) = delete;

  // Creates the file (and its folder) when missing and locks it without waiting.
  Result Acquire(const std::string& path, std::string* error = nullptr);
  void Release();
  bool IsHeld() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace velmora

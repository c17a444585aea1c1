// Single instance through flock.
#include "shell/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

namespace velmora {

CInstanceLock::Result CInstanceLock::Acquire(const std::string& path, std::string* error) {
  Release();
  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent, ec);
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return Result::kError;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int e = errno;
    ::close(fd);
    if (e == EWOULDBLOCK) return Result::kHeldElsewhere;
    if (error) *error = path + ": " + std::strerror(e);
    return Result::kError;
  }
  // The holder's process id, for whoever wonders which process holds the lock.
  std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) {
    ssize_t written = ::pwrite(fd, pid.data(), pid.size(), 0);
    (void)written;
  }
  fd_ = fd;
  return Result::kAcquired;
}

void CInstanceLock::Release() {
  if (fd_ < 0) return;
  // The file stays: removing it would let a third process lock a new file while a second still
  // holds the old one.
  ::flock(fd_, LOCK_UN);
  ::close(fd_);
  fd_ = -1;
}

}  // namespace velmora

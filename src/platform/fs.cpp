// File helpers on POSIX and std::filesystem.
#include "platform/fs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string_view>

namespace velmora {
namespace fs = std::filesystem;

std::optional<std::vector<uint8_t>> ReadFileBytes(const std::string& path, std::string* error) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  std::vector<uint8_t> bytes;
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (error) *error = path + ": " + std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    bytes.insert(bytes.end(), buf, buf + n);
  }
  ::close(fd);
  return bytes;
}

void IgnoreFileSizeSignal() {
  struct sigaction current {};
  if (::sigaction(SIGXFSZ, nullptr, &current) != 0) return;
  // Only the default (ending the process) is replaced: a handler installed on purpose stays.
  if ((current.sa_flags & SA_SIGINFO) || current.sa_handler != SIG_DFL) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, nullptr);
}

long AtomicTemporaryOwner(std::string_view name) {
  const size_t tmp = name.rfind(".tmp");
  if (tmp == std::string_view::npos || tmp == 0) return 0;
  const std::string_view rest = name.substr(tmp + 4);
  const size_t dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size() || dash > 9) return 0;
  auto digits = [](std::string_view d) {
    for (char c : d)
      if (c < '0' || c > '9') return false;
    return true;
  };
  if (!digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1))) return 0;
  return std::stol(std::string(rest.substr(0, dash)));
}

size_t RemoveDeadTemporaries(const std::string& folder) {
  std::error_code ec;
  std::vector<fs::path> dead;
  const pid_t self = ::getpid();
  for (fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    const long pid = AtomicTemporaryOwner(it->path().filename().string());
    if (pid <= 0 || pid == self) continue;
    // A process that still runs (or that we may not signal) may be writing it.
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code type_ec;
    if (it->is_regular_file(type_ec)) dead.push_back(it->path());
  }
  size_t removed = 0;
  for (const fs::path& p : dead)
    if (::unlink(p.c_str()) == 0) ++removed;
  return removed;
}

bool WriteFileAtomic(const std::string& path, const void* data, size_t size, std::string* error) {
  auto fail = [&](const std::string& what) {
    if (error) *error = path + ": " + what + ": " + std::strerror(errno);
    return false;
  };
  // A file-size limit makes the write fail (EFBIG) like a full disk instead of ending the
  // program.
  static std::once_flag signal_once;
  std::call_once(signal_once, IgnoreFileSizeSignal);
  std::error_code ec;
  fs::path parent = fs::path(path).parent_path();
  if (!parent.empty()) fs::create_directories(parent, ec);
  {
    // The temporaries that killed processes left in this folder go the first time this process
    // writes there. The record is never destroyed: stores still save from the destructors of
    // static objects at exit, after function-local statics may be gone.
    static std::mutex* const folders_lock = new std::mutex;
    static std::set<std::string>* const cleaned = new std::set<std::string>;
    const std::string folder = parent.string();
    bool first = false;
    {
      std::lock_guard<std::mutex> lock(*folders_lock);
      first = cleaned->insert(folder).second;
    }
    if (first) RemoveDeadTemporaries(folder);
  }
  // The temporary name is unique per process and call, so that two threads replacing the same
  // file never write into one temporary file; O_EXCL skips a leftover of a crashed run.
  static std::atomic<unsigned> serial{0};
  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    tmp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return fail("cannot create temporary file");
  const char* p = static_cast<const char*>(data);
  size_t left = size;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      int saved = errno;
      ::close(fd);
      ::unlink(tmp.c_str());
      errno = saved;
      return fail("write failed");
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  // Close even when the flush failed, and report the first error.
  int flush_error = ::fsync(fd) == 0 ? 0 : errno;
  if (::close(fd) != 0 && flush_error == 0) flush_error = errno;
  if (flush_error != 0) {
    ::unlink(tmp.c_str());
    errno = flush_error;
    return fail("flush failed");
  }
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    int saved = errno;
    ::unlink(tmp.c_str());
    errno = saved;
    return fail("rename failed");
  }
  // Make the rename itself durable; a failure here leaves a correct file, so it is not an error.
  std::string folder = parent.empty() ? std::string(".") : parent.string();
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

std::optional<uint64_t> FreeDiskSpace(const std::string& folder) {
  struct statvfs st {};
  if (::statvfs(folder.c_str(), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

bool EnsureFolder(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

std::string WithTrailingSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder.back() != '/') folder.push_back('/');
  return folder;
}

}  // namespace velmora

// CWritableMapping on POSIX: fallocate reserves the blocks, mmap(MAP_SHARED) maps them.
#include "platform/writable_mapping.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "platform/fs.h"

namespace velmora {
namespace {

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

std::string Errno(const std::string& what, int err) { return what + ": " + std::strerror(err); }

}  // namespace

CWritableMapping::~CWritableMapping() { Close(); }

bool CWritableMapping::Create(const std::string& path, uint64_t size, std::string* error) {
  Close();
  if (size == 0) {
    SetError(error, "cannot map an empty file");
    return false;
  }
  if (size > uint64_t(SIZE_MAX / 2)) {
    SetError(error, "file too large to map");
    return false;
  }
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetError(error, Errno("cannot create " + path, errno));
    return false;
  }
  auto fail = [&](const std::string& why) {
    ::close(fd);
    ::unlink(path.c_str());
    SetError(error, why);
    return false;
  };
  // Writing into a hole of a mapped file on a full disk kills the process with SIGBUS; reserving
  // the blocks turns that into this error.
  int rc = ::posix_fallocate(fd, 0, off_t(size));
  if (rc == EOPNOTSUPP || rc == EINVAL) {
    // The file system cannot reserve: at least check the room, then make a sparse file.
    size_t slash = path.find_last_of('/');
    auto free_bytes = FreeDiskSpace(slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1));
    if (free_bytes && *free_bytes < size) return fail("not enough disk space for " + path);
    if (::ftruncate(fd, off_t(size)) != 0) return fail(Errno("cannot size " + path, errno));
  } else if (rc != 0) {
    return fail(Errno("cannot reserve " + std::to_string(size) + " bytes for " + path, rc));
  }
  void* p = ::mmap(nullptr, size_t(size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (p == MAP_FAILED) return fail(Errno("cannot map " + path, errno));
  data_ = static_cast<uint8_t*>(p);
  size_ = size;
  fd_ = fd;
  path_ = path;
  return true;
}

void CWritableMapping::Release(uint64_t offset, uint64_t length) {
  if (!data_ || offset >= size_) return;
  if (length > size_ - offset) length = size_ - offset;
  uint64_t page = uint64_t(::sysconf(_SC_PAGESIZE));
  uint64_t begin = offset / page * page;
  uint64_t end = offset + length;
  // Only whole pages inside the range are let go; a page shared with the next band stays.
  end = end == size_ ? size_ : end / page * page;
  if (end <= begin) return;
  // Starts write-back now, so that dirty pages do not pile up until the kernel's limits stall us.
  ::sync_file_range(fd_, off_t(begin), off_t(end - begin), SYNC_FILE_RANGE_WRITE);
  // For a shared file mapping this drops the pages from our resident set; their data stays in
  // the page cache and the file.
  ::madvise(data_ + begin, size_t(end - begin), MADV_DONTNEED);
}

bool CWritableMapping::Close(std::string* error) {
  if (!data_) return true;
  bool ok = true;
  if (::msync(data_, size_t(size_), MS_SYNC) != 0) {
    SetError(error, Errno("cannot write " + path_, errno));
    ok = false;
  }
  ::munmap(data_, size_t(size_));
  if (ok && ::fsync(fd_) != 0) {
    SetError(error, Errno("cannot write " + path_, errno));
    ok = false;
  }
  if (::close(fd_) != 0 && ok) {
    SetError(error, Errno("cannot close " + path_, errno));
    ok = false;
  }
  data_ = nullptr;
  size_ = 0;
  fd_ = -1;
  path_.clear();
  return ok;
}

}  // namespace velmora

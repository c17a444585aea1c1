// Read-only whole-file mappings.
#include "platform/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace velmora {

CMappedFile::~CMappedFile() { Close(); }

CMappedFile::CMappedFile(CMappedFile&& other) noexcept
    : path_(std::move(other.path_)),
      data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      open_(std::exchange(other.open_, false)) {}

CMappedFile& CMappedFile::operator=(CMappedFile&& other) noexcept {
  if (this != &other) {
    Close();
    path_ = std::move(other.path_);
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    open_ = std::exchange(other.open_, false);
  }
  return *this;
}

bool CMappedFile::Open(const std::string& path, std::string* error) {
  Close();
  auto fail = [&](const char* what) {
    if (error) *error = path + ": " + what + ": " + std::strerror(errno);
    return false;
  };
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return fail("cannot open");
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return fail("cannot examine");
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return fail("not a regular file");
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  void* p = nullptr;
  if (size > 0) {
    p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      int e = errno;
      ::close(fd);
      errno = e;
      return fail("cannot map");
    }
  }
  // The mapping keeps the file; the descriptor is not needed any more.
  ::close(fd);
  path_ = path;
  data_ = static_cast<const uint8_t*>(p);
  size_ = size;
  open_ = true;
  return true;
}

void CMappedFile::Close() {
  if (data_) ::munmap(const_cast<uint8_t*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
  open_ = false;
  path_.clear();
}

std::span<const uint8_t> CMappedFile::Bytes(uint64_t offset, size_t size) const {
  if (size == 0 || !data_ || !Contains(offset, size)) return {};
  return {data_ + offset, size};
}

bool CMappedFile::Read(uint64_t offset, void* out, size_t size) const {
  if (!Contains(offset, size)) return false;
  if (size > 0) std::memcpy(out, data_ + offset, size);
  return true;
}

std::optional<int16_t> CMappedFile::ReadI16(uint64_t offset) const {
  auto v = ReadU16(offset);
  if (!v) return std::nullopt;
  return static_cast<int16_t>(*v);
}

std::optional<uint16_t> CMappedFile::ReadU16(uint64_t offset) const {
  if (!data_ || !Contains(offset, 2)) return std::nullopt;
  const uint8_t* p = data_ + offset;
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

std::optional<uint32_t> CMappedFile::ReadU32(uint64_t offset) const {
  if (!data_ || !Contains(offset, 4)) return std::nullopt;
  const uint8_t* p = data_ + offset;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void CMappedFile::Advise(Access access) const {
  if (!data_) return;
  int advice = access == Access::kRandom ? MADV_RANDOM
               : access == Access::kSequential ? MADV_SEQUENTIAL
                                               : MADV_NORMAL;
  ::madvise(const_cast<uint8_t*>(data_), size_, advice);
}

}  // namespace velmora

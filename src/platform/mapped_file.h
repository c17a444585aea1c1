// CMappedFile: a whole file mapped read-only into memory, with reads that check their bounds.
// The descriptor is closed as soon as the mapping exists, so thousands of open height files cost
// address space but no file descriptors.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace velmora {

class CMappedFile {
 public:
  CMappedFile() = default;
  ~CMappedFile();
  CMappedFile(CMappedFile&& other) noexcept;
  CMappedFile& operator=(CMappedFile&& other) noexcept;
  CMappedFile(const CMappedFile&) = delete;
  CMappedFile& operator=(const CMappedFile&) = delete;

  // Maps the file (closing any earlier one). A missing, unreadable or non-regular file: false,
  // with the reason in *error. An empty file opens (true) with Size() 0 and no mapping.
  bool Open(const std::string& path, std::string* error = nullptr);
  void Close();

  bool IsOpen() const { return open_; }
  uint64_t Size() const { return size_; }
  // The mapped bytes; null when the file is empty or not open.
  const uint8_t* Data() const { return data_; }
  const std::string& Path() const { return path_; }

  // True when [offset, offset + size) lies inside the file.
  bool Contains(uint64_t offset, uint64_t size) const {
    return offset <= size_ && size <= size_ - offset;
  }
  // The bytes at [offset, offset + size), or an empty span when they do not all lie inside.
  std::span<const uint8_t> Bytes(uint64_t offset, size_t size) const;
  // Copies the bytes at [offset, offset + size) to `out`; false (nothing copied) when they do
  // not all lie inside the file.
  bool Read(uint64_t offset, void* out, size_t size) const;
  // Little-endian values at a byte offset; nothing when the value does not lie wholly inside.
  std::optional<int16_t> ReadI16(uint64_t offset) const;
  std::optional<uint16_t> ReadU16(uint64_t offset) const;
  std::optional<uint32_t> ReadU32(uint64_t offset) const;

  // Access pattern hints for the kernel's read-ahead (no effect on results).
  enum class Access { kNormal, kRandom, kSequential };
  void Advise(Access access) const;

 private:
  std::string path_;
  const uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  bool open_ = false;
};

}  // namespace velmora

// CWritableMapping: a file mapped into memory for writing, for outputs larger than memory (very
// large mosaic pictures written band by band).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

class CWritableMapping {
 public:
  CWritableMapping() = default;
  ~CWritableMapping();
  CWritableMapping(const CWritableMapping&) = delete;
  CWritableMapping& operator=(const CWritableMapping&) = delete;

  // Creates (or replaces) the file with `size` bytes of zeros and maps it for writing. The disk
  // blocks are reserved here, so that a full disk is an error of Create rather than a fault while
  // writing through the mapping later. False (reason in *error) when the file cannot be made or
  // the disk has too little room; no file is left behind then.
  bool Create(const std::string& path, uint64_t size, std::string* error = nullptr);

  bool IsOpen() const { return data_ != nullptr; }
  uint8_t* Data() { return data_; }
  uint64_t Size() const { return size_; }
  const std::string& Path() const { return path_; }

  // Starts writing the range to disk and lets the process's memory go of its pages (the data
  // stays in the file); call it after each finished band to keep the resident size small.
  void Release(uint64_t offset, uint64_t length);

  // Writes every page to disk, unmaps and closes. False (reason in *error) when the data could not
  // be written; the mapping is closed either way.
  bool Close(std::string* error = nullptr);

 private:
  uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  int fd_ = -1;
  std::string path_;
};

}  // namespace velmora

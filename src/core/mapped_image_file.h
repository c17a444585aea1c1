// CMappedImageFile: a 24-bit BMP of any size whose pixel rows are written through a memory
// mapping, for mosaics larger than memory.
#pragma once
#include <cstdint>
#include <string>

#include "platform/gfx/bitmap.h"
#include "platform/writable_mapping.h"

namespace velmora {

class CMappedImageFile {
 public:
  // A BMP file's size field is 32 bits: no BMP may be larger than this.
  static constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;

  CMappedImageFile() = default;
  ~CMappedImageFile();  // closes
  CMappedImageFile(const CMappedImageFile&) = delete;
  CMappedImageFile& operator=(const CMappedImageFile&) = delete;

  // The file size of a width x height 24-bit BMP (headers and padded rows), in 64 bits.
  static uint64_t FileSizeFor(int64_t width, int64_t height);

  // Creates the file of the needed size (every pixel black until written)
  // and maps it. False, with the reason in *error, for a side below 1, a file over the BMP limit,
  // too little disk or a file that cannot be made.
  bool Create(const std::string& path, int64_t width, int64_t height, std::string* error = nullptr);

  // Copies the bitmap's rows into the picture with its top-left at (x, y) (the part outside the
  // picture is cut off; translucent pixels are laid on white, as a BMP has no alpha), then lets
  // go of the memory those rows used. False when nothing is open.
  bool WriteRows(const CBitmap& bitmap, int64_t x, int64_t y);

  // Flushes the rows to disk and closes. False (reason in *error) when the data could not be
  // written.
  bool Close(std::string* error = nullptr);

  bool IsOpen() const { return mapping_.IsOpen(); }
  int64_t Width() const { return width_; }
  int64_t Height() const { return height_; }

 private:
  CWritableMapping mapping_;
  int64_t width_ = 0;
  int64_t height_ = 0;
  uint64_t row_bytes_ = 0;
  uint64_t pixel_offset_ = 0;
};

}  // namespace velmora

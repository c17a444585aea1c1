// CMappedImageFile: BMP headers written once, pixel rows (bottom-up, 24-bit) through the mapping.
#include "core/mapped_image_file.h"

#include <algorithm>
#include <cstring>

namespace velmora {
namespace {

void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

constexpr uint64_t kHeaderBytes = 14 + 40;

}  // namespace

CMappedImageFile::~CMappedImageFile() { Close(); }

uint64_t CMappedImageFile::FileSizeFor(int64_t width, int64_t height) {
  if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return 0;
  uint64_t row = (uint64_t(width) * 3 + 3) & ~uint64_t(3);
  return kHeaderBytes + row * uint64_t(height);
}

bool CMappedImageFile::Create(const std::string& path, int64_t width, int64_t height, std::string* error) {
  Close();
  if (width < 1 || height < 1) {
    if (error) *error = "image size must be at least 1 x 1";
    return false;
  }
  uint64_t size = FileSizeFor(width, height);
  if (size == 0 || size > kMaxFileSize) {
    if (error)
      *error = "a " + std::to_string(width) + " x " + std::to_string(height) +
               " picture exceeds the 4 GiB size limit of a BMP file";
    return false;
  }
  if (!mapping_.Create(path, size, error)) return false;
  uint8_t* h = mapping_.Data();
  uint64_t row = (uint64_t(width) * 3 + 3) & ~uint64_t(3);
  h[0] = 'B';
  h[1] = 'M';
  Put32(h + 2, uint32_t(size));
  Put32(h + 10, uint32_t(kHeaderBytes));
  Put32(h + 14, 40);
  Put32(h + 18, uint32_t(width));
  Put32(h + 22, uint32_t(height));
  Put16(h + 26, 1);
  Put16(h + 28, 24);
  Put32(h + 30, 0);  // uncompressed
  Put32(h + 34, uint32_t(row * uint64_t(height)));
  Put32(h + 38, 3780);  // 96 dots per inch
  Put32(h + 42, 3780);
  width_ = width;
  height_ = height;
  row_bytes_ = row;
  pixel_offset_ = kHeaderBytes;
  return true;
}

bool CMappedImageFile::WriteRows(const CBitmap& bitmap, int64_t x, int64_t y) {
  if (!mapping_.IsOpen()) return false;
  if (bitmap.IsEmpty()) return true;
  int64_t x0 = std::max<int64_t>(x, 0), x1 = std::min<int64_t>(x + bitmap.Width(), width_);
  int64_t y0 = std::max<int64_t>(y, 0), y1 = std::min<int64_t>(y + bitmap.Height(), height_);
  if (x0 >= x1 || y0 >= y1) return true;
  uint8_t* base = mapping_.Data() + pixel_offset_;
  for (int64_t fy = y0; fy < y1; ++fy) {
    const Argb* src = bitmap.Row(int(fy - y)) + (x0 - x);
    uint8_t* dst = base + uint64_t(height_ - 1 - fy) * row_bytes_ + uint64_t(x0) * 3;
    for (int64_t i = 0; i < x1 - x0; ++i, dst += 3) {
      Argb c = src[i];
      uint32_t a = c >> 24;
      if (a != 255) {
        // No alpha in a 24-bit BMP: lay the premultiplied colour on white.
        uint32_t inv = 255 - a;
        c = 0xFF000000u | (std::min<uint32_t>(255, ArgbR(c) + inv) << 16) |
            (std::min<uint32_t>(255, ArgbG(c) + inv) << 8) | std::min<uint32_t>(255, ArgbB(c) + inv);
      }
      dst[0] = ArgbB(c);
      dst[1] = ArgbG(c);
      dst[2] = ArgbR(c);
    }
  }
  // Rows are stored bottom-up: the band's last row comes first in the file.
  uint64_t first = pixel_offset_ + uint64_t(height_ - y1) * row_bytes_;
  mapping_.Release(first, uint64_t(y1 - y0) * row_bytes_);
  return true;
}

bool CMappedImageFile::Close(std::string* error) {
  width_ = height_ = 0;
  row_bytes_ = pixel_offset_ = 0;
  return mapping_.Close(error);
}

}  // namespace velmora

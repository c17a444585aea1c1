// CBitmap: a 32-bit ARGB picture in memory, the pixel format every drawing, tile and codec of the
// program shares, and the ARGB colour helpers.
//
// Pixel format: one native-endian 32-bit word per pixel, 0xAARRGGBB, colour channels PREMULTIPLIED
// by alpha (cairo's CAIRO_FORMAT_ARGB32, so a graphics object draws straight into the pixels
// without conversion). Rows are contiguous, top row first, stride exactly width * 4 bytes.
// Colours passed to the API (SetPixel, Clear, pens, brushes) are straight (not premultiplied)
// ARGB, as a caller writes them: 0xFF0000FF is opaque blue.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

using Argb = uint32_t;

constexpr Argb MakeArgb(uint8_t a, uint8_t r, uint8_t g, uint8_t b) {
  return (Argb(a) << 24) | (Argb(r) << 16) | (Argb(g) << 8) | Argb(b);
}
constexpr uint8_t ArgbA(Argb c) { return uint8_t(c >> 24); }
constexpr uint8_t ArgbR(Argb c) { return uint8_t(c >> 16); }
constexpr uint8_t ArgbG(Argb c) { return uint8_t(c >> 8); }
constexpr uint8_t ArgbB(Argb c) { return uint8_t(c); }

// Straight <-> premultiplied. Unpremultiply(Premultiply(c)) == c for opaque colours; for
// translucent ones the colour channels round to what the alpha can hold.
Argb Premultiply(Argb straight);
Argb Unpremultiply(Argb premultiplied);

// One text property of a picture (EXIF/TIFF tag id and its ASCII value, UTF-8 in memory), written
// by the JPEG and TIFF encoders and read back by their decoders.
struct ImageProperty {
  uint16_t id = 0;
  std::string value;
};

class CBitmap {
 public:
  // cairo's image surfaces stop at 32767 pixels a side; larger pictures (mosaics) go through
  // CMappedImageFile instead.
  static constexpr int kMaxSide = 32767;

  CBitmap() = default;
  CBitmap(CBitmap&&) noexcept = default;
  CBitmap& operator=(CBitmap&&) noexcept = default;
  CBitmap(const CBitmap&) = delete;             // pictures are large: copies are explicit (Clone)
  CBitmap& operator=(const CBitmap&) = delete;

  // Allocates width x height pixels, all transparent black (0). False, leaving the bitmap empty,
  // when a side is not in 1..kMaxSide or the memory cannot be had.
  bool Create(int width, int height);
  // The same, filled with a straight ARGB colour.
  bool Create(int width, int height, Argb fill);
  // Allocates without clearing, for a writer that sets every pixel before anything reads them
  // (a decoder that fails resets the bitmap). Saves a pass over the memory per picture.
  bool CreateForOverwrite(int width, int height);
  void Reset();

  bool IsEmpty() const { return !pixels_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  size_t Stride() const { return size_t(width_) * 4; }  // bytes per row
  size_t ByteSize() const { return Stride() * size_t(height_); }

  // Premultiplied pixels of row y (0 = top); no bounds check.
  Argb* Row(int y) { return pixels_.get() + size_t(y) * size_t(width_); }
  const Argb* Row(int y) const { return pixels_.get() + size_t(y) * size_t(width_); }
  Argb* Pixels() { return pixels_.get(); }
  const Argb* Pixels() const { return pixels_.get(); }

  // Straight ARGB access with bounds checks: outside the picture GetPixel gives 0 and SetPixel
  // does nothing.
  Argb GetPixel(int x, int y) const;
  void SetPixel(int x, int y, Argb straight);

  void Clear(Argb straight);
  // True when every pixel has alpha 255 (the encoders then drop the alpha channel).
  bool IsOpaque() const;

  // A deep copy with the properties; empty when the memory cannot be had.
  CBitmap Clone() const;
  // The part (x, y, width, height) clipped to the picture, as a new bitmap; empty when nothing
  // of it lies inside or the memory cannot be had.
  CBitmap Crop(int x, int y, int width, int height) const;

  // Text properties, kept in the order they were first set.
  void SetProperty(uint16_t id, std::string value);
  const std::string* GetProperty(uint16_t id) const;
  const std::vector<ImageProperty>& Properties() const { return properties_; }
  void ClearProperties() { properties_.clear(); }

 private:
  struct FreeDeleter {
    void operator()(Argb* p) const;
  };
  std::unique_ptr<Argb[], FreeDeleter> pixels_;
  int width_ = 0;
  int height_ = 0;
  std::vector<ImageProperty> properties_;
};

}  // namespace velmora

// CBitmap storage, premultiplication and pixel access.
#include "platform/gfx/bitmap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace velmora {
namespace {

// c * a / 255 rounded, exact for all 8-bit inputs.
inline uint32_t MulDiv255(uint32_t c, uint32_t a) {
  uint32_t t = c * a + 128;
  return (t + (t >> 8)) >> 8;
}

}  // namespace

Argb Premultiply(Argb c) {
  uint32_t a = c >> 24;
  if (a == 255) return c;
  if (a == 0) return 0;
  return (a << 24) | (MulDiv255(ArgbR(c), a) << 16) | (MulDiv255(ArgbG(c), a) << 8) |
         MulDiv255(ArgbB(c), a);
}

Argb Unpremultiply(Argb c) {
  uint32_t a = c >> 24;
  if (a == 255) return c;
  if (a == 0) return 0;
  auto un = [a](uint32_t v) { return std::min<uint32_t>(255, (v * 255 + a / 2) / a); };
  return (a << 24) | (un(ArgbR(c)) << 16) | (un(ArgbG(c)) << 8) | un(ArgbB(c));
}

void CBitmap::FreeDeleter::operator()(Argb* p) const { std::free(p); }

bool CBitmap::Create(int width, int height) {
  Reset();
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
  // calloc: large pictures come zeroed from fresh pages without a pass over the memory.
  void* p = std::calloc(size_t(width) * size_t(height), sizeof(Argb));
  if (!p) return false;
  pixels_.reset(static_cast<Argb*>(p));
  width_ = width;
  height_ = height;
  return true;
}

bool CBitmap::CreateForOverwrite(int width, int height) {
  Reset();
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) return false;
  void* p = std::malloc(size_t(width) * size_t(height) * sizeof(Argb));
  if (!p) return false;
  pixels_.reset(static_cast<Argb*>(p));
  width_ = width;
  height_ = height;
  return true;
}

bool CBitmap::Create(int width, int height, Argb fill) {
  if (!Create(width, height)) return false;
  if (fill != 0) Clear(fill);
  return true;
}

void CBitmap::Reset() {
  pixels_.reset();
  width_ = height_ = 0;
  properties_.clear();
}

Argb CBitmap::GetPixel(int x, int y) const {
  if (!pixels_ || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return Unpremultiply(Row(y)[x]);
}

void CBitmap::SetPixel(int x, int y, Argb straight) {
  if (!pixels_ || x < 0 || y < 0 || x >= width_ || y >= height_) return;
  Row(y)[x] = Premultiply(straight);
}

void CBitmap::Clear(Argb straight) {
  if (!pixels_) return;
  std::fill_n(pixels_.get(), size_t(width_) * size_t(height_), Premultiply(straight));
}

bool CBitmap::IsOpaque() const {
  if (!pixels_) return true;
  const Argb* p = pixels_.get();
  size_t n = size_t(width_) * size_t(height_);
  Argb all = 0xFF000000u;
  for (size_t i = 0; i < n; ++i) all &= p[i];
  return (all & 0xFF000000u) == 0xFF000000u;
}

CBitmap CBitmap::Clone() const {
  CBitmap copy;
  if (pixels_ && copy.Create(width_, height_)) {
    std::memcpy(copy.pixels_.get(), pixels_.get(), ByteSize());
    copy.properties_ = properties_;
  }
  return copy;
}

CBitmap CBitmap::Crop(int x, int y, int width, int height) const {
  CBitmap part;
  if (!pixels_) return part;
  int x0 = std::max(x, 0), y0 = std::max(y, 0);
  int x1 = int(std::min<int64_t>(int64_t(x) + width, width_));
  int y1 = int(std::min<int64_t>(int64_t(y) + height, height_));
  if (x1 <= x0 || y1 <= y0 || !part.Create(x1 - x0, y1 - y0)) return part;
  for (int r = y0; r < y1; ++r)
    std::memcpy(part.Row(r - y0), Row(r) + x0, size_t(x1 - x0) * sizeof(Argb));
  return part;
}

void CBitmap::SetProperty(uint16_t id, std::string value) {
  for (auto& p : properties_) {
    if (p.id == id) {
      p.value = std::move(value);
      return;
    }
  }
  properties_.push_back({id, std::move(value)});
}

const std::string* CBitmap::GetProperty(uint16_t id) const {
  for (const auto& p : properties_)
    if (p.id == id) return &p.value;
  return nullptr;
}

}  // namespace velmora

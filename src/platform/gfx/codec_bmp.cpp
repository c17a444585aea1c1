// BMP reading and writing (own code): 1/4/8-bit palettes with RLE4/RLE8, 16/24/32-bit with
// channel masks, bottom-up and top-down rows. Written with the plain 40-byte header that every
// reader knows: 24-bit, or 32-bit with straight alpha in each pixel's fourth byte for pictures
// with transparency.
#include <bit>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/gfx/codecs_internal.h"

namespace velmora::gfx_internal {
namespace {

void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(uint8_t(x >> (8 * i)));
}

// A channel mask turned into shift and width, with the value scaled to 8 bits.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t max = 0;
  explicit Channel(uint32_t m) : mask(m) {
    if (!m) return;
    shift = std::countr_zero(m);
    int bits = std::countr_one(m >> shift);
    if (bits > 31) bits = 31;
    max = (1u << bits) - 1;
  }
  uint32_t Get(uint32_t px) const {
    if (!max) return 0;
    uint32_t v = ((px & mask) >> shift) & max;
    return (v * 255 + max / 2) / max;
  }
};

enum Compression : uint32_t { kRgb = 0, kRle8 = 1, kRle4 = 2, kBitfields = 3, kAlphaBitfields = 6 };

// Runs of palette indexes; pixels the stream skips stay transparent.
bool DecodeRle(const uint8_t* p, const uint8_t* end, bool four_bit, const std::vector<Argb>& palette,
               CBitmap* out, std::string* error) {
  int w = out->Width(), h = out->Height();
  int64_t x = 0, y = h - 1;  // bottom-up
  auto put = [&](uint32_t index) {
    if (x < w && y >= 0) out->Row(int(y))[x] = index < palette.size() ? palette[index] : 0xFF000000u;
    ++x;
  };
  while (p + 2 <= end) {
    uint8_t n = p[0], v = p[1];
    p += 2;
    if (n > 0) {
      for (int i = 0; i < n; ++i) put(four_bit ? ((i & 1) ? (v & 0x0F) : (v >> 4)) : v);
      continue;
    }
    if (v == 0) {  // end of line
      x = 0;
      --y;
    } else if (v == 1) {  // end of picture
      return true;
    } else if (v == 2) {  // move right and up
      if (p + 2 > end) break;
      x += p[0];
      y -= p[1];
      p += 2;
    } else {  // v literal indexes, padded to a 16-bit boundary
      size_t bytes = four_bit ? (size_t(v) + 1) / 2 : v;
      size_t padded = (bytes + 1) & ~size_t(1);
      if (size_t(end - p) < bytes) break;
      for (int i = 0; i < v; ++i) put(four_bit ? ((i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4)) : p[i]);
      p += std::min(padded, size_t(end - p));
    }
    if (y < 0) return true;
  }
  SetError(error, "BMP: truncated run-length data");
  return false;
}

}  // namespace

bool DecodeBmp(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options) {
  if (size < 14 + 12) {
    SetError(error, "BMP: truncated header");
    return false;
  }
  uint32_t off_bits = ReadLe32(data + 10);
  uint32_t hsize = ReadLe32(data + 14);
  if (hsize != 12 && (hsize < 40 || hsize > 124)) {
    SetError(error, "BMP: unknown header size " + std::to_string(hsize));
    return false;
  }
  if (size < 14 + size_t(hsize)) {
    SetError(error, "BMP: truncated header");
    return false;
  }
  const uint8_t* ih = data + 14;
  int64_t width, height;
  int bpp;
  uint32_t compression = kRgb, colors_used = 0;
  size_t palette_entry = 4;
  if (hsize == 12) {
    width = ReadLe16(ih + 4);
    height = ReadLe16(ih + 6);
    bpp = ReadLe16(ih + 10);
    palette_entry = 3;
  } else {
    width = int32_t(ReadLe32(ih + 4));
    height = int32_t(ReadLe32(ih + 8));
    bpp = ReadLe16(ih + 14);
    compression = ReadLe32(ih + 16);
    colors_used = ReadLe32(ih + 32);
  }
  bool top_down = height < 0;
  if (top_down) height = -height;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    SetError(error, "BMP: unsupported bit count " + std::to_string(bpp));
    return false;
  }
  bool rle = compression == kRle8 || compression == kRle4;
  if ((compression == kRle8 && bpp != 8) || (compression == kRle4 && bpp != 4) ||
      ((compression == kBitfields || compression == kAlphaBitfields) && bpp != 16 && bpp != 32) ||
      (compression != kRgb && !rle && compression != kBitfields && compression != kAlphaBitfields)) {
    SetError(error, "BMP: unsupported compression " + std::to_string(compression));
    return false;
  }
  if (rle && top_down) {
    SetError(error, "BMP: run-length data cannot be top-down");
    return false;
  }

  // Channel masks: in the header from version 2 on, else just after a 40-byte header.
  size_t table = 14 + size_t(hsize);
  uint32_t rmask = 0, gmask = 0, bmask = 0, amask = 0;
  if (compression == kBitfields || compression == kAlphaBitfields) {
    const uint8_t* m;
    if (hsize >= 52) {
      m = ih + 40;
    } else {
      size_t n = compression == kAlphaBitfields ? 16 : 12;
      if (size < table + n) {
        SetError(error, "BMP: truncated channel masks");
        return false;
      }
      m = data + table;
      table += n;
    }
    rmask = ReadLe32(m);
    gmask = ReadLe32(m + 4);
    bmask = ReadLe32(m + 8);
    if (compression == kAlphaBitfields || hsize >= 56) amask = ReadLe32(m + 12);
  } else if (bpp == 16) {
    rmask = 0x7C00, gmask = 0x03E0, bmask = 0x001F;
  } else if (bpp >= 24) {
    rmask = 0xFF0000, gmask = 0xFF00, bmask = 0xFF;  // 32-bit without masks has no alpha
  }

  std::vector<Argb> palette;
  if (bpp <= 8) {
    size_t count = size_t(1) << bpp;
    if (colors_used > 0 && colors_used < count) count = colors_used;
    if (size < table + count * palette_entry) {
      SetError(error, "BMP: truncated palette");
      return false;
    }
    palette.resize(count);
    for (size_t i = 0; i < count; ++i) {
      const uint8_t* e = data + table + i * palette_entry;
      palette[i] = MakeArgb(255, e[2], e[1], e[0]);
    }
  }

  if (off_bits >= size) {
    SetError(error, "BMP: pixel data missing");
    return false;
  }
  if (!MakeDecodeTarget(width, height, options, out, error)) return false;
  const uint8_t* pixels = data + off_bits;
  size_t avail = size - off_bits;
  if (rle) return DecodeRle(pixels, pixels + avail, compression == kRle4, palette, out, error);

  size_t stride = ((size_t(width) * size_t(bpp) + 31) / 32) * 4;
  size_t last_row = (size_t(width) * size_t(bpp) + 7) / 8;  // the final row may lack its padding
  if (avail < stride * (size_t(height) - 1) + last_row) {
    SetError(error, "BMP: truncated pixel data");
    return false;
  }
  Channel cr(rmask), cg(gmask), cb(bmask);
  bool fast24 = bpp == 24, fast32 = bpp == 32 && rmask == 0xFF0000 && gmask == 0xFF00 && bmask == 0xFF;
  if (bpp == 32 && compression == kRgb) {
    // The fourth byte of a plain 32-bit pixel is alpha when the writer filled it in (ours and
    // others do for transparent pictures); files whose fourth bytes are all zero are opaque.
    for (int64_t r = 0; r < height && !amask; ++r) {
      const uint8_t* src = pixels + size_t(r) * stride;
      for (int64_t x = 0; x < width; ++x)
        if (src[x * 4 + 3]) {
          amask = 0xFF000000u;
          break;
        }
    }
  }
  Channel ca(amask);
  for (int64_t r = 0; r < height; ++r) {
    const uint8_t* src = pixels + size_t(r) * stride;
    Argb* dst = out->Row(int(top_down ? r : height - 1 - r));
    if (fast24) {
      for (int64_t x = 0; x < width; ++x, src += 3) dst[x] = MakeArgb(255, src[2], src[1], src[0]);
    } else if (fast32 && !amask) {
      for (int64_t x = 0; x < width; ++x, src += 4) dst[x] = MakeArgb(255, src[2], src[1], src[0]);
    } else if (fast32 && amask == 0xFF000000u) {
      for (int64_t x = 0; x < width; ++x, src += 4) dst[x] = Premultiply(MakeArgb(src[3], src[2], src[1], src[0]));
    } else if (bpp >= 16) {
      size_t bytes = size_t(bpp) / 8;
      for (int64_t x = 0; x < width; ++x, src += bytes) {
        uint32_t px = bytes == 2 ? ReadLe16(src) : ReadLe32(src);
        uint32_t a = amask ? ca.Get(px) : 255;
        dst[x] = Premultiply(MakeArgb(uint8_t(a), uint8_t(cr.Get(px)), uint8_t(cg.Get(px)), uint8_t(cb.Get(px))));
      }
    } else {
      int per_byte = 8 / bpp;
      uint32_t mask = (1u << bpp) - 1;
      for (int64_t x = 0; x < width; ++x) {
        int shift = 8 - bpp * int(x % per_byte + 1);
        uint32_t index = (src[x / per_byte] >> shift) & mask;
        dst[x] = index < palette.size() ? palette[index] : 0xFF000000u;
      }
    }
  }
  return true;
}

bool EncodeBmp(const CBitmap& image, std::vector<uint8_t>* out, std::string* error) {
  bool alpha = !image.IsOpaque();
  int w = image.Width(), h = image.Height();
  uint32_t header = 40;
  size_t stride = alpha ? size_t(w) * 4 : ((size_t(w) * 3 + 3) & ~size_t(3));
  uint64_t pixel_bytes = uint64_t(stride) * uint64_t(h);
  uint64_t total = 14 + header + pixel_bytes;
  if (total > 0xFFFFFFFFull) {
    SetError(error, "BMP: image too large for the format");
    return false;
  }
  std::vector<uint8_t>& v = *out;
  v.clear();
  v.reserve(size_t(total));
  v.push_back('B');
  v.push_back('M');
  Put32(v, uint32_t(total));
  Put32(v, 0);
  Put32(v, 14 + header);
  Put32(v, header);
  Put32(v, uint32_t(w));
  Put32(v, uint32_t(h));  // bottom-up, as most readers expect
  Put16(v, 1);
  Put16(v, alpha ? 32 : 24);
  Put32(v, kRgb);
  Put32(v, uint32_t(pixel_bytes));
  Put32(v, 3780);  // 96 dots per inch in pixels per metre
  Put32(v, 3780);
  Put32(v, 0);
  Put32(v, 0);
  size_t base = v.size();
  v.resize(base + size_t(pixel_bytes));
  for (int r = 0; r < h; ++r) {
    const Argb* src = image.Row(h - 1 - r);
    uint8_t* dst = v.data() + base + size_t(r) * stride;
    if (alpha) {
      for (int x = 0; x < w; ++x) {
        Argb c = Unpremultiply(src[x]);
        std::memcpy(dst + size_t(x) * 4, &c, 4);
      }
    } else {
      for (int x = 0; x < w; ++x, dst += 3) {
        Argb c = src[x];
        dst[0] = ArgbB(c);
        dst[1] = ArgbG(c);
        dst[2] = ArgbR(c);
      }
    }
  }
  return true;
}

}  // namespace velmora::gfx_internal

// The per-format codecs behind image_codec.h, and the EXIF block helpers of the JPEG codec.
// Not part of the public gfx API.
#pragma once
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"

namespace velmora::gfx_internal {

// The codecs hand pixel rows to the libraries as B, G, R, A bytes, which is a 0xAARRGGBB word
// only on a little-endian machine.
static_assert(std::endian::native == std::endian::little, "ARGB words are stored as BGRA bytes");

// Checks the size a file claims against the limits (before a library sizes its buffers by it).
bool CheckDecodeSize(int64_t width, int64_t height, const DecodeOptions& options, std::string* error);
// Creates the output bitmap after checking the size against the limits. `overwrite`: the
// decoder writes every pixel, so the memory is not cleared first.
bool MakeDecodeTarget(int64_t width, int64_t height, const DecodeOptions& options, CBitmap* out,
                      std::string* error, bool overwrite = false);
void SetError(std::string* error, const std::string& text);

bool DecodeBmp(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options);
bool DecodeJpeg(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options);
bool DecodePng(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options);
bool DecodeGif(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options);
bool DecodeTiff(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options);

bool EncodeBmp(const CBitmap& image, std::vector<uint8_t>* out, std::string* error);
bool EncodeJpeg(const CBitmap& image, int quality, std::vector<uint8_t>* out, std::string* error);
bool EncodePng(const CBitmap& image, std::vector<uint8_t>* out, std::string* error);
bool EncodeGif(const CBitmap& image, std::vector<uint8_t>* out, std::string* error);
bool EncodeTiff(const CBitmap& image, std::vector<uint8_t>* out, std::string* error);

// The APP1 payload ("Exif\0\0" and a TIFF structure) holding the bitmap's text properties;
// empty when it has none.
std::vector<uint8_t> BuildExifBlock(const std::vector<ImageProperty>& properties);
// Adds the ASCII entries of an APP1 payload to the bitmap's properties; bad data is ignored.
void ReadExifBlock(const uint8_t* data, size_t size, CBitmap* image);

// Property text as stored in a file: kept when it is UTF-8, else read as GBK (what Chinese
// desktop programs write into these tags).
std::string PropertyText(const char* bytes, size_t length);

// The straight colour of a premultiplied pixel laid on opaque white (for formats without alpha).
inline uint32_t OnWhite(uint32_t premultiplied) {
  uint32_t a = premultiplied >> 24;
  if (a == 255) return premultiplied;
  uint32_t inv = 255 - a;  // white's share: 255 * (255 - a) / 255
  auto ch = [&](int shift) { return std::min<uint32_t>(255, ((premultiplied >> shift) & 0xFF) + inv); };
  return 0xFF000000u | (ch(16) << 16) | (ch(8) << 8) | ch(0);
}

}  // namespace velmora::gfx_internal

// Image files: BMP, JPEG, GIF, TIFF and PNG read by their content (never by the extension) into
// a CBitmap, and written from one by type, extension or MIME type. Text properties of the bitmap
// (ImageProperty) go into JPEG files as an EXIF block and into TIFF files as tags, and come back
// when those files are read.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/bitmap.h"

namespace velmora {

// The encoders in their table order (the index is what GetEncoderClsid returns).
enum class ImageType { kUnknown = -1, kBmp = 0, kJpeg = 1, kGif = 2, kTiff = 3, kPng = 4 };

// The type the bytes start like (signature check only), kUnknown for anything else.
ImageType DetectImageType(const uint8_t* data, size_t size);
// "bmp"/"dib", "jpg"/"jpeg"/"jpe"/"jfif", "gif", "tif"/"tiff", "png"; any case, with or without
// the dot. kUnknown for anything else.
ImageType ImageTypeFromExtension(std::string_view extension);
// "image/bmp", "image/jpeg", "image/gif", "image/tiff", "image/png" (case-insensitive).
ImageType ImageTypeFromMime(std::string_view mime);
const char* ImageTypeMime(ImageType type);       // "" for kUnknown
const char* ImageTypeExtension(ImageType type);  // "bmp", "jpg", "gif", "tif", "png"; ""

struct DecodeOptions {
  // Pictures of more pixels are refused before any pixel memory is taken (a small hostile file
  // can claim a huge size). 2^28 pixels = 1 GiB of bitmap.
  uint64_t max_pixels = uint64_t(1) << 28;
};

// Decodes the first picture of the bytes. False, with the reason in *error and *out left empty,
// for unknown, corrupt or truncated data, a size over the limits, or memory that cannot be had.
bool DecodeImage(const uint8_t* data, size_t size, CBitmap* out, std::string* error = nullptr,
                 const DecodeOptions& options = {});
inline bool DecodeImage(const std::vector<uint8_t>& bytes, CBitmap* out,
                        std::string* error = nullptr, const DecodeOptions& options = {}) {
  return DecodeImage(bytes.data(), bytes.size(), out, error, options);
}
// Reads and decodes a picture file (by its content).
bool LoadImageFile(const std::string& path, CBitmap* out, std::string* error = nullptr,
                   const DecodeOptions& options = {});

struct EncodeOptions {
  int jpeg_quality = 90;  // 1..100, clamped
};

// Encodes the picture. JPEG and BMP of an opaque picture are 24-bit; transparency is kept by PNG,
// TIFF, 32-bit BMP and GIF (one transparent index). GIF keeps up to 256 colours exactly and
// quantises pictures with more. False (reason in *error) for kUnknown or an empty bitmap.
bool EncodeImage(const CBitmap& image, ImageType type, std::vector<uint8_t>* out,
                 const EncodeOptions& options = {}, std::string* error = nullptr);
// Encodes and writes the file atomically. kUnknown takes the type from the path's extension;
// a path whose extension names no type is refused.
bool SaveImageFile(const CBitmap& image, const std::string& path, ImageType type = ImageType::kUnknown,
                   const EncodeOptions& options = {}, std::string* error = nullptr);

// EXIF and TIFF tag ids of the properties the program writes.
constexpr uint16_t kPropertyMake = 271;
constexpr uint16_t kPropertyModel = 272;
constexpr uint16_t kPropertyDateTime = 306;
constexpr uint16_t kPropertyArtist = 315;
constexpr uint16_t kPropertyCopyright = 33432;
constexpr uint16_t kPropertyDateTimeOriginal = 36867;

}  // namespace velmora

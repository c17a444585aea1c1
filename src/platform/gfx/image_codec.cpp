// Image type detection by content, the type tables, and dispatch to the per-format codecs.
#include "platform/gfx/image_codec.h"

#include <cstring>

#include "platform/fs.h"
#include "platform/gfx/codecs_internal.h"
#include "platform/text.h"

namespace velmora {
namespace gfx_internal {

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

bool CheckDecodeSize(int64_t width, int64_t height, const DecodeOptions& options, std::string* error) {
  if (width < 1 || height < 1) {
    SetError(error, "image has no pixels");
    return false;
  }
  if (width > CBitmap::kMaxSide || height > CBitmap::kMaxSide ||
      uint64_t(width) * uint64_t(height) > options.max_pixels) {
    SetError(error, "image too large: " + std::to_string(width) + " x " + std::to_string(height));
    return false;
  }
  return true;
}

bool MakeDecodeTarget(int64_t width, int64_t height, const DecodeOptions& options, CBitmap* out,
                      std::string* error, bool overwrite) {
  if (!CheckDecodeSize(width, height, options, error)) return false;
  if (!(overwrite ? out->CreateForOverwrite(int(width), int(height)) : out->Create(int(width), int(height)))) {
    SetError(error, "out of memory for a " + std::to_string(width) + " x " + std::to_string(height) + " image");
    return false;
  }
  return true;
}

std::string PropertyText(const char* bytes, size_t length) {
  while (length > 0 && bytes[length - 1] == '\0') --length;  // ASCII values end with NULs
  std::string_view v(bytes, length);
  if (IsValidUtf8(v)) return std::string(v);
  return AnsiToUtf8(v);
}

}  // namespace gfx_internal

using namespace gfx_internal;

namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return r;
}

}  // namespace

ImageType DetectImageType(const uint8_t* d, size_t n) {
  if (!d) return ImageType::kUnknown;
  if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return ImageType::kJpeg;
  if (n >= 8 && std::memcmp(d, "\x89PNG\r\n\x1a\n", 8) == 0) return ImageType::kPng;
  if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) return ImageType::kGif;
  if (n >= 4 && (std::memcmp(d, "II*\0", 4) == 0 || std::memcmp(d, "MM\0*", 4) == 0 ||
                 std::memcmp(d, "II+\0", 4) == 0 || std::memcmp(d, "MM\0+", 4) == 0))
    return ImageType::kTiff;
  if (n >= 14 && d[0] == 'B' && d[1] == 'M') return ImageType::kBmp;
  return ImageType::kUnknown;
}

ImageType ImageTypeFromExtension(std::string_view ext) {
  if (!ext.empty() && ext.front() == '.') ext.remove_prefix(1);
  std::string e = Lower(ext);
  if (e == "bmp" || e == "dib") return ImageType::kBmp;
  if (e == "jpg" || e == "jpeg" || e == "jpe" || e == "jfif") return ImageType::kJpeg;
  if (e == "gif") return ImageType::kGif;
  if (e == "tif" || e == "tiff") return ImageType::kTiff;
  if (e == "png") return ImageType::kPng;
  return ImageType::kUnknown;
}

ImageType ImageTypeFromMime(std::string_view mime) {
  std::string m = Lower(mime);
  if (m == "image/bmp") return ImageType::kBmp;
  if (m == "image/jpeg") return ImageType::kJpeg;
  if (m == "image/gif") return ImageType::kGif;
  if (m == "image/tiff") return ImageType::kTiff;
  if (m == "image/png") return ImageType::kPng;
  return ImageType::kUnknown;
}

const char* ImageTypeMime(ImageType type) {
  switch (type) {
    case ImageType::kBmp: return "image/bmp";
    case ImageType::kJpeg: return "image/jpeg";
    case ImageType::kGif: return "image/gif";
    case ImageType::kTiff: return "image/tiff";
    case ImageType::kPng: return "image/png";
    default: return "";
  }
}

const char* ImageTypeExtension(ImageType type) {
  switch (type) {
    case ImageType::kBmp: return "bmp";
    case ImageType::kJpeg: return "jpg";
    case ImageType::kGif: return "gif";
    case ImageType::kTiff: return "tif";
    case ImageType::kPng: return "png";
    default: return "";
  }
}

bool DecodeImage(const uint8_t* data, size_t size, CBitmap* out, std::string* error,
                 const DecodeOptions& options) {
  out->Reset();
  bool ok = false;
  switch (DetectImageType(data, size)) {
    case ImageType::kBmp: ok = DecodeBmp(data, size, out, error, options); break;
    case ImageType::kJpeg: ok = DecodeJpeg(data, size, out, error, options); break;
    case ImageType::kPng: ok = DecodePng(data, size, out, error, options); break;
    case ImageType::kGif: ok = DecodeGif(data, size, out, error, options); break;
    case ImageType::kTiff: ok = DecodeTiff(data, size, out, error, options); break;
    default: SetError(error, size == 0 ? "no image data" : "not an image of a known type"); break;
  }
  if (!ok) out->Reset();
  return ok;
}

bool LoadImageFile(const std::string& path, CBitmap* out, std::string* error,
                   const DecodeOptions& options) {
  out->Reset();
  std::string why;
  auto bytes = ReadFileBytes(path, &why);
  if (!bytes) {
    SetError(error, why.empty() ? "cannot read " + path : why);
    return false;
  }
  if (!DecodeImage(bytes->data(), bytes->size(), out, &why, options)) {
    SetError(error, path + ": " + why);
    return false;
  }
  return true;
}

bool EncodeImage(const CBitmap& image, ImageType type, std::vector<uint8_t>* out,
                 const EncodeOptions& options, std::string* error) {
  out->clear();
  if (image.IsEmpty()) {
    SetError(error, "empty image");
    return false;
  }
  bool ok = false;
  switch (type) {
    case ImageType::kBmp: ok = EncodeBmp(image, out, error); break;
    case ImageType::kJpeg: ok = EncodeJpeg(image, options.jpeg_quality, out, error); break;
    case ImageType::kGif: ok = EncodeGif(image, out, error); break;
    case ImageType::kTiff: ok = EncodeTiff(image, out, error); break;
    case ImageType::kPng: ok = EncodePng(image, out, error); break;
    default: SetError(error, "no encoder for this image type"); break;
  }
  if (!ok) out->clear();
  return ok;
}

bool SaveImageFile(const CBitmap& image, const std::string& path, ImageType type,
                   const EncodeOptions& options, std::string* error) {
  if (type == ImageType::kUnknown) {
    size_t slash = path.find_last_of('/');
    size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash))
      type = ImageTypeFromExtension(std::string_view(path).substr(dot + 1));
    if (type == ImageType::kUnknown) {
      SetError(error, "no image encoder for the extension of " + path);
      return false;
    }
  }
  std::vector<uint8_t> bytes;
  if (!EncodeImage(image, type, &bytes, options, error)) return false;
  return WriteFileAtomic(path, bytes, error);
}

}  // namespace velmora

// PNG through libpng: every colour type read as 8-bit BGRA into the bitmap's rows; written as
// RGB (opaque pictures) or RGBA with straight alpha.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/gfx/codecs_internal.h"

namespace velmora::gfx_internal {
namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

struct ErrorText {
  char text[200];
};

void ReadFn(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (n > r->size - r->pos) png_error(png, "truncated data");
  std::memcpy(out, r->data + r->pos, n);
  r->pos += n;
}

void WriteFn(png_structp png, png_bytep in, png_size_t n) {
  auto* v = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  bool full = false;
  try {
    v->insert(v->end(), in, in + n);
  } catch (const std::bad_alloc&) {
    full = true;  // no C++ exception may cross libpng: report it as a libpng error
  }
  if (full) png_error(png, "out of memory");
}

void FlushFn(png_structp) {}

void OnError(png_structp png, png_const_charp message) {
  auto* e = static_cast<ErrorText*>(png_get_error_ptr(png));
  std::snprintf(e->text, sizeof e->text, "%s", message);
  png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

// The part of decoding that may jump out; only trivially destructible locals.
bool DecodeInto(png_structp png, png_infop info, const DecodeOptions* options, CBitmap* out,
                std::string* error, bool* size_error) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  int bit_depth = png_get_bit_depth(png, info);
  int color_type = png_get_color_type(png, info);
  if (bit_depth == 16) png_set_strip_16(png);
  if (color_type == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (color_type == PNG_COLOR_TYPE_GRAY || color_type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);  // no effect when alpha is present
  int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(w) * 4) png_error(png, "unexpected row layout");
  if (!MakeDecodeTarget(w, h, *options, out, error)) {
    *size_error = true;
    return false;
  }
  for (int pass = 0; pass < passes; ++pass)
    for (png_uint_32 y = 0; y < h; ++y) png_read_row(png, reinterpret_cast<png_bytep>(out->Row(int(y))), nullptr);
  png_read_end(png, nullptr);
  return true;
}

bool EncodeFrom(png_structp png, png_infop info, const CBitmap* image, bool opaque, Argb* straight) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_set_IHDR(png, info, png_uint_32(image->Width()), png_uint_32(image->Height()), 8,
               opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // Level 6 with the fast filter set: tiles are written often and read by everything.
  png_set_compression_level(png, 6);
  png_write_info(png, info);
  png_set_bgr(png);
  if (opaque) png_set_filler(png, 0, PNG_FILLER_AFTER);  // drops the alpha byte of each pixel
  for (int y = 0; y < image->Height(); ++y) {
    const Argb* src = image->Row(y);
    if (!opaque) {
      for (int x = 0; x < image->Width(); ++x) straight[x] = Unpremultiply(src[x]);
      src = straight;
    }
    png_write_row(png, const_cast<png_bytep>(reinterpret_cast<const uint8_t*>(src)));
  }
  png_write_end(png, info);
  return true;
}

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options) {
  ErrorText et{};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &et, OnError, OnWarning);
  if (!png) {
    SetError(error, "PNG: out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  Reader reader{data, size, 0};
  bool ok = false, size_error = false;
  if (info) {
    png_set_read_fn(png, &reader, ReadFn);
    png_set_user_limits(png, CBitmap::kMaxSide, CBitmap::kMaxSide);
    png_set_crc_action(png, PNG_CRC_DEFAULT, PNG_CRC_DEFAULT);
    ok = DecodeInto(png, info, &options, out, error, &size_error);
  }
  png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  if (!ok) {
    if (!size_error) SetError(error, std::string("PNG: ") + (et.text[0] ? et.text : "cannot decode"));
    out->Reset();
    return false;
  }
  for (int y = 0; y < out->Height(); ++y) {
    Argb* row = out->Row(y);
    for (int x = 0; x < out->Width(); ++x) row[x] = Premultiply(row[x]);
  }
  return true;
}

bool EncodePng(const CBitmap& image, std::vector<uint8_t>* out, std::string* error) {
  ErrorText et{};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &et, OnError, OnWarning);
  if (!png) {
    SetError(error, "PNG: out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  bool ok = false;
  bool opaque = image.IsOpaque();
  std::vector<Argb> straight(opaque ? 0 : size_t(image.Width()));
  out->clear();
  out->reserve(image.ByteSize() / 4 + 1024);
  if (info) {
    png_set_write_fn(png, out, WriteFn, FlushFn);
    ok = EncodeFrom(png, info, &image, opaque, straight.data());
  }
  png_destroy_write_struct(&png, info ? &info : nullptr);
  if (!ok) SetError(error, std::string("PNG: ") + (et.text[0] ? et.text : "cannot encode"));
  return ok;
}

}  // namespace velmora::gfx_internal

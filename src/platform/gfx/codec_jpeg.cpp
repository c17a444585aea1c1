// JPEG through libjpeg-turbo: decoded straight into the bitmap's rows (BGRA output), encoded from
// them, with the picture's text properties as an EXIF block.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <jerror.h>

#include "platform/gfx/codecs_internal.h"

namespace velmora::gfx_internal {
namespace {

// libjpeg reports fatal errors through error_exit, which must not return: it jumps back to the
// setjmp of the codec function. Those functions keep only trivially destructible locals between
// setjmp and the jump.
struct ErrorManager {
  jpeg_error_mgr pub;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, err->message);
  longjmp(err->jump, 1);
}

void NoOutput(j_common_ptr) {}  // warnings (corrupt data that was recovered) stay quiet

// A file that ends early would decode with grey rows in place of the missing data: for a tile
// that is a broken download, so it is an error here, not a warning.
void EmitMessage(j_common_ptr cinfo, int level) {
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) ErrorExit(cinfo);
}

void InitErrors(ErrorManager* err) {
  jpeg_std_error(&err->pub);
  err->pub.error_exit = ErrorExit;
  err->pub.output_message = NoOutput;
  err->pub.emit_message = EmitMessage;
  err->message[0] = '\0';
}

// The part of decoding that may jump out; false with the message in err->message.
bool DecodeInto(jpeg_decompress_struct* cinfo, ErrorManager* err, const uint8_t* data, size_t size,
                CBitmap* out, const DecodeOptions* options, std::string* error, bool* size_error) {
  if (setjmp(err->jump)) return false;
  jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size));
  jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(cinfo, TRUE);
  bool cmyk = cinfo->jpeg_color_space == JCS_CMYK || cinfo->jpeg_color_space == JCS_YCCK;
  cinfo->out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  // A progressive file makes libjpeg buffer the whole picture at start: check the size first.
  if (!CheckDecodeSize(cinfo->image_width, cinfo->image_height, *options, error)) {
    *size_error = true;
    return false;
  }
  jpeg_start_decompress(cinfo);
  // Every scanline is written below (corrupt data decodes as grey, an early end is an error and
  // the bitmap is then reset), so the memory needs no clearing first.
  if (!MakeDecodeTarget(cinfo->output_width, cinfo->output_height, *options, out, error, true)) {
    *size_error = true;
    return false;
  }
  while (cinfo->output_scanline < cinfo->output_height) {
    JSAMPROW row = reinterpret_cast<JSAMPROW>(out->Row(int(cinfo->output_scanline)));
    jpeg_read_scanlines(cinfo, &row, 1);
  }
  if (cmyk) {
    // Adobe writes inverted CMYK: the samples are already 255 - ink.
    bool inverted = cinfo->saw_Adobe_marker;
    for (int y = 0; y < out->Height(); ++y) {
      uint8_t* p = reinterpret_cast<uint8_t*>(out->Row(y));
      for (int x = 0; x < out->Width(); ++x, p += 4) {
        uint32_t c = p[0], m = p[1], yy = p[2], k = p[3];
        if (!inverted) c = 255 - c, m = 255 - m, yy = 255 - yy, k = 255 - k;
        Argb v = MakeArgb(255, uint8_t(c * k / 255), uint8_t(m * k / 255), uint8_t(yy * k / 255));
        std::memcpy(p, &v, 4);
      }
    }
  }
  for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
      ReadExifBlock(m->data, m->data_length, out);
  jpeg_finish_decompress(cinfo);
  return true;
}

bool EncodeFrom(jpeg_compress_struct* cinfo, ErrorManager* err, const CBitmap* image, int quality,
                const std::vector<uint8_t>* exif, Argb* flat, uint8_t** buffer, unsigned long* length) {
  if (setjmp(err->jump)) return false;
  jpeg_mem_dest(cinfo, buffer, length);
  cinfo->image_width = JDIMENSION(image->Width());
  cinfo->image_height = JDIMENSION(image->Height());
  cinfo->input_components = 4;
  cinfo->in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(cinfo);
  jpeg_set_quality(cinfo, quality, TRUE);
  jpeg_start_compress(cinfo, TRUE);
  if (!exif->empty()) jpeg_write_marker(cinfo, JPEG_APP0 + 1, exif->data(), unsigned(exif->size()));
  while (cinfo->next_scanline < cinfo->image_height) {
    const Argb* src = image->Row(int(cinfo->next_scanline));
    if (flat) {
      for (int x = 0; x < image->Width(); ++x) flat[x] = OnWhite(src[x]);
      src = flat;
    }
    JSAMPROW row = const_cast<JSAMPROW>(reinterpret_cast<const uint8_t*>(src));
    jpeg_write_scanlines(cinfo, &row, 1);
  }
  jpeg_finish_compress(cinfo);
  return true;
}

}  // namespace

bool DecodeJpeg(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  InitErrors(&err);
  cinfo.err = &err.pub;
  jpeg_create_decompress(&cinfo);
  bool size_error = false;
  bool ok = DecodeInto(&cinfo, &err, data, size, out, &options, error, &size_error);
  jpeg_destroy_decompress(&cinfo);
  if (!ok) {
    if (!size_error) SetError(error, std::string("JPEG: ") + err.message);
    out->Reset();
  }
  return ok;
}

bool EncodeJpeg(const CBitmap& image, int quality, std::vector<uint8_t>* out, std::string* error) {
  if (quality < 1) quality = 1;
  if (quality > 100) quality = 100;
  std::vector<uint8_t> exif = BuildExifBlock(image.Properties());
  if (exif.size() > 65533) exif.clear();  // one marker segment holds at most that much
  jpeg_compress_struct cinfo;
  ErrorManager err;
  InitErrors(&err);
  cinfo.err = &err.pub;
  jpeg_create_compress(&cinfo);
  uint8_t* buffer = nullptr;
  unsigned long length = 0;
  // JPEG has no alpha: rows of a picture with transparency are laid on white in this buffer.
  std::vector<Argb> flat(image.IsOpaque() ? 0 : size_t(image.Width()));
  bool ok = EncodeFrom(&cinfo, &err, &image, quality, &exif, flat.empty() ? nullptr : flat.data(),
                       &buffer, &length);
  jpeg_destroy_compress(&cinfo);
  if (ok && buffer) out->assign(buffer, buffer + length);
  std::free(buffer);
  if (!ok) SetError(error, err.message[0] ? std::string("JPEG: ") + err.message : "JPEG: out of memory");
  return ok;
}

}  // namespace velmora::gfx_internal

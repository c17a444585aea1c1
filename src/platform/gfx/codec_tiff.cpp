// TIFF through libtiff on memory buffers: any layout libtiff's RGBA reader knows is read (the
// first directory); written as LZW-compressed RGB or RGBA (straight alpha) strips. Text properties
// become ASCII tags, those of the EXIF directory (date taken) in an EXIF directory of their own.
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/gfx/codecs_internal.h"

namespace velmora::gfx_internal {
namespace {

// A TIFF "file" in memory: read from `data`, or written into `buffer` (which libtiff also reads
// back when it rewrites a directory).
struct MemFile {
  const uint8_t* data = nullptr;
  size_t size = 0;
  std::vector<uint8_t>* buffer = nullptr;
  uint64_t pos = 0;
  const uint8_t* Bytes() const { return buffer ? buffer->data() : data; }
  uint64_t Size() const { return buffer ? buffer->size() : size; }
};

tmsize_t ReadProc(thandle_t h, void* out, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  if (n <= 0 || f->pos >= f->Size()) return 0;
  uint64_t k = std::min<uint64_t>(uint64_t(n), f->Size() - f->pos);
  std::memcpy(out, f->Bytes() + f->pos, size_t(k));
  f->pos += k;
  return tmsize_t(k);
}

tmsize_t WriteProc(thandle_t h, void* in, tmsize_t n) {
  auto* f = static_cast<MemFile*>(h);
  if (!f->buffer || n < 0) return -1;
  uint64_t end = f->pos + uint64_t(n);
  try {
    if (end > f->buffer->size()) f->buffer->resize(size_t(end));
  } catch (const std::bad_alloc&) {
    return -1;
  }
  std::memcpy(f->buffer->data() + f->pos, in, size_t(n));
  f->pos = end;
  return n;
}

toff_t SeekProc(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemFile*>(h);
  uint64_t base = whence == SEEK_CUR ? f->pos : whence == SEEK_END ? f->Size() : 0;
  uint64_t target = base + off;  // libtiff passes negative offsets as wrapped unsigned values
  if (!f->buffer && target > f->size) return toff_t(-1);
  f->pos = target;
  return target;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<MemFile*>(h)->Size(); }

int MapProc(thandle_t h, void** base, toff_t* size) {
  auto* f = static_cast<MemFile*>(h);
  if (f->buffer) return 0;  // a growing buffer cannot be handed out
  *base = const_cast<uint8_t*>(f->data);
  *size = f->size;
  return 1;
}
void UnmapProc(thandle_t, void*, toff_t) {}

// The first error of a handle, kept for the caller instead of going to stderr.
struct Messages {
  std::string first;
};

int OnError(TIFF*, void* user, const char* module, const char* format, va_list args) {
  auto* m = static_cast<Messages*>(user);
  if (m->first.empty()) {
    char text[300];
    std::vsnprintf(text, sizeof text, format, args);
    m->first = std::string(module ? module : "TIFF") + ": " + text;
  }
  return 1;
}

int OnWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

TIFF* Open(MemFile* file, const char* mode, Messages* messages) {
  TIFFOpenOptions* opts = TIFFOpenOptionsAlloc();
  TIFFOpenOptionsSetErrorHandlerExtR(opts, OnError, messages);
  TIFFOpenOptionsSetWarningHandlerExtR(opts, OnWarning, nullptr);
  // A hostile file cannot make libtiff take more than the largest picture we accept.
  TIFFOpenOptionsSetMaxSingleMemAlloc(opts, tmsize_t(uint64_t(CBitmap::kMaxSide) * CBitmap::kMaxSide * 4));
  TIFF* tif = TIFFClientOpenExt("memory", mode, file, ReadProc, WriteProc, SeekProc, CloseProc,
                                SizeProc, MapProc, UnmapProc, opts);
  TIFFOpenOptionsFree(opts);
  return tif;
}

bool IsExifTag(uint16_t tag) { return tag >= 0x9000; }

// Text tags of the first directory that libtiff knows by number.
bool IsTiffTextTag(uint16_t tag) {
  switch (tag) {
    case TIFFTAG_DOCUMENTNAME: case TIFFTAG_IMAGEDESCRIPTION: case TIFFTAG_MAKE:
    case TIFFTAG_MODEL: case TIFFTAG_PAGENAME: case TIFFTAG_SOFTWARE: case TIFFTAG_DATETIME:
    case TIFFTAG_ARTIST: case TIFFTAG_HOSTCOMPUTER: case TIFFTAG_COPYRIGHT:
      return true;
    default:
      return false;
  }
}

void ReadTextTag(TIFF* tif, uint32_t tag, CBitmap* out) {
  const char* value = nullptr;
  if (TIFFGetField(tif, tag, &value) == 1 && value)
    out->SetProperty(uint16_t(tag), PropertyText(value, std::strlen(value)));
}

}  // namespace

bool DecodeTiff(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options) {
  MemFile file;
  file.data = data;
  file.size = size;
  Messages messages;
  TIFF* tif = Open(&file, "rm", &messages);
  if (!tif) {
    SetError(error, "TIFF: " + (messages.first.empty() ? std::string("cannot open") : messages.first));
    return false;
  }
  uint32_t w = 0, h = 0;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  char why[1024] = "";
  bool ok = false;
  if (!TIFFRGBAImageOK(tif, why)) {
    SetError(error, std::string("TIFF: ") + why);
  } else if (MakeDecodeTarget(w, h, options, out, error)) {
    // The RGBA reader gives R, G, B, A bytes with alpha already premultiplied.
    if (TIFFReadRGBAImageOriented(tif, w, h, out->Pixels(), ORIENTATION_TOPLEFT, 1) == 1) {
      Argb* p = out->Pixels();
      size_t n = size_t(w) * size_t(h);
      for (size_t i = 0; i < n; ++i) {
        uint32_t v = p[i];
        p[i] = (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
      }
      ok = true;
    } else {
      SetError(error, "TIFF: " + (messages.first.empty() ? std::string("cannot read the pixels") : messages.first));
    }
  }
  if (ok) {
    for (uint32_t tag : {TIFFTAG_MAKE, TIFFTAG_MODEL, TIFFTAG_DATETIME, TIFFTAG_ARTIST, TIFFTAG_COPYRIGHT,
                         TIFFTAG_IMAGEDESCRIPTION, TIFFTAG_SOFTWARE})
      ReadTextTag(tif, tag, out);
    toff_t exif = 0;
    if (TIFFGetField(tif, TIFFTAG_EXIFIFD, &exif) == 1 && exif && TIFFReadEXIFDirectory(tif, exif))
      ReadTextTag(tif, EXIFTAG_DATETIMEORIGINAL, out);
  }
  TIFFClose(tif);
  if (!ok) out->Reset();
  return ok;
}

bool EncodeTiff(const CBitmap& image, std::vector<uint8_t>* out, std::string* error) {
  out->clear();
  MemFile file;
  file.buffer = out;
  Messages messages;
  TIFF* tif = Open(&file, "w", &messages);
  if (!tif) {
    SetError(error, "TIFF: " + (messages.first.empty() ? std::string("cannot create") : messages.first));
    return false;
  }
  int w = image.Width(), h = image.Height();
  bool alpha = !image.IsOpaque();
  int spp = alpha ? 4 : 3;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(w));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(h));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
  TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
  TIFFSetField(tif, TIFFTAG_XRESOLUTION, 96.0);
  TIFFSetField(tif, TIFFTAG_YRESOLUTION, 96.0);
  TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  if (alpha) {
    uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  }
  bool has_exif = false;
  for (const ImageProperty& p : image.Properties()) {
    if (IsExifTag(p.id)) has_exif = true;
    else if (IsTiffTextTag(p.id)) TIFFSetField(tif, p.id, p.value.c_str());
  }
  // Room for the EXIF directory's offset, filled in once that directory is written.
  if (has_exif) TIFFSetField(tif, TIFFTAG_EXIFIFD, uint64_t(0));

  bool ok = true;
  std::vector<uint8_t> row(size_t(w) * size_t(spp));
  for (int y = 0; ok && y < h; ++y) {
    const Argb* src = image.Row(y);
    uint8_t* d = row.data();
    for (int x = 0; x < w; ++x) {
      Argb c = alpha ? Unpremultiply(src[x]) : src[x];
      *d++ = ArgbR(c);
      *d++ = ArgbG(c);
      *d++ = ArgbB(c);
      if (alpha) *d++ = ArgbA(c);
    }
    ok = TIFFWriteScanline(tif, row.data(), uint32_t(y), 0) == 1;
  }
  ok = ok && TIFFWriteDirectory(tif) == 1;
  if (ok && has_exif) {
    uint64_t exif_offset = 0;
    ok = TIFFCreateEXIFDirectory(tif) == 0;
    for (const ImageProperty& p : image.Properties())
      if (ok && IsExifTag(p.id)) TIFFSetField(tif, p.id, p.value.c_str());
    ok = ok && TIFFWriteCustomDirectory(tif, &exif_offset) == 1;
    ok = ok && TIFFSetDirectory(tif, 0) == 1;
    ok = ok && TIFFSetField(tif, TIFFTAG_EXIFIFD, exif_offset) == 1;
    ok = ok && TIFFRewriteDirectory(tif) == 1;
  }
  TIFFClose(tif);
  if (!messages.first.empty()) ok = false;  // e.g. a strip that failed to flush at close
  if (!ok) {
    SetError(error, "TIFF: " + (messages.first.empty() ? std::string("cannot write") : messages.first));
    out->clear();
  }
  return ok;
}

}  // namespace velmora::gfx_internal

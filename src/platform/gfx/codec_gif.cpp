// GIF through giflib: the first frame read onto a transparent canvas of the logical screen's size;
// written with an exact palette when the picture has at most 256 colours, else a median-cut one,
// with one transparent index for pixels under half alpha.
#include <gif_lib.h>

#include <cstring>
#include <unordered_map>

#include "platform/gfx/codecs_internal.h"

namespace velmora::gfx_internal {
namespace {

struct Reader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int ReadFn(GifFileType* gif, GifByteType* out, int n) {
  auto* r = static_cast<Reader*>(gif->UserData);
  size_t k = std::min(size_t(n < 0 ? 0 : n), r->size - r->pos);
  std::memcpy(out, r->data + r->pos, k);
  r->pos += k;
  return int(k);
}

int WriteFn(GifFileType* gif, const GifByteType* in, int n) {
  auto* v = static_cast<std::vector<uint8_t>*>(gif->UserData);
  try {
    v->insert(v->end(), in, in + n);
  } catch (const std::bad_alloc&) {
    return 0;  // giflib reports a write failure
  }
  return n;
}

std::string GifError(int code) {
  const char* s = GifErrorString(code);
  return std::string("GIF: ") + (s ? s : "cannot decode");
}

}  // namespace

bool DecodeGif(const uint8_t* data, size_t size, CBitmap* out, std::string* error, const DecodeOptions& options) {
  Reader reader{data, size, 0};
  int err = 0;
  GifFileType* gif = DGifOpen(&reader, ReadFn, &err);
  if (!gif) {
    SetError(error, GifError(err));
    return false;
  }
  int transparent = NO_TRANSPARENT_COLOR;
  bool done = false, ok = false;
  std::vector<GifByteType> line;
  while (!done) {
    GifRecordType type;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) break;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* ext = nullptr;
      if (DGifGetExtension(gif, &code, &ext) == GIF_ERROR) break;
      if (code == GRAPHICS_EXT_FUNC_CODE && ext && ext[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(ext[0], ext + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      bool bad = false;
      while (ext) {
        if (DGifGetExtensionNext(gif, &ext) == GIF_ERROR) {
          bad = true;
          break;
        }
      }
      if (bad) break;
    } else if (type == IMAGE_DESC_RECORD_TYPE) {
      if (DGifGetImageDesc(gif) == GIF_ERROR) break;
      const GifImageDesc& d = gif->Image;
      const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
      if (!map || d.Width < 1 || d.Height < 1) {
        SetError(error, "GIF: frame without colours or pixels");
        done = true;
        break;
      }
      int64_t cw = gif->SWidth > 0 ? gif->SWidth : int64_t(d.Left) + d.Width;
      int64_t ch = gif->SHeight > 0 ? gif->SHeight : int64_t(d.Top) + d.Height;
      if (!MakeDecodeTarget(cw, ch, options, out, error)) {
        done = true;
        break;
      }
      line.resize(size_t(d.Width));
      static const int kOffsets[] = {0, 4, 2, 1}, kJumps[] = {8, 8, 4, 2};
      int passes = d.Interlace ? 4 : 1;
      bool read_ok = true;
      for (int pass = 0; pass < passes && read_ok; ++pass) {
        int start = d.Interlace ? kOffsets[pass] : 0, step = d.Interlace ? kJumps[pass] : 1;
        for (int r = start; r < d.Height; r += step) {
          if (DGifGetLine(gif, line.data(), d.Width) == GIF_ERROR) {
            read_ok = false;
            break;
          }
          int64_t y = int64_t(d.Top) + r;
          if (y >= ch) continue;
          Argb* row = out->Row(int(y));
          for (int x = 0; x < d.Width; ++x) {
            int64_t cx = int64_t(d.Left) + x;
            if (cx >= cw) break;
            int index = line[size_t(x)];
            if (index == transparent) continue;
            if (index >= map->ColorCount) {
              row[cx] = 0xFF000000u;
              continue;
            }
            const GifColorType& c = map->Colors[index];
            row[cx] = MakeArgb(255, c.Red, c.Green, c.Blue);
          }
        }
      }
      if (!read_ok) break;
      ok = true;  // the first frame is the picture
      done = true;
    } else if (type == TERMINATE_RECORD_TYPE) {
      SetError(error, "GIF: no frame");
      done = true;
    }
  }
  if (!ok && !done) SetError(error, GifError(gif->Error));
  DGifCloseFile(gif, &err);
  if (!ok) out->Reset();
  return ok;
}

bool EncodeGif(const CBitmap& image, std::vector<uint8_t>* out, std::string* error) {
  int w = image.Width(), h = image.Height();
  size_t n = size_t(w) * size_t(h);
  std::vector<GifByteType> indexes(n);
  std::vector<GifColorType> colors;
  bool has_transparent = false;

  // Exact palette when the picture has few enough colours.
  std::unordered_map<uint32_t, uint8_t> lookup;
  bool exact = true;
  for (int y = 0; y < h && exact; ++y) {
    const Argb* row = image.Row(y);
    for (int x = 0; x < w; ++x) {
      Argb c = Unpremultiply(row[x]);
      if (ArgbA(c) < 128) {
        has_transparent = true;
        continue;
      }
      uint32_t rgb = c & 0xFFFFFFu;
      auto it = lookup.find(rgb);
      if (it == lookup.end()) {
        if (lookup.size() + (has_transparent ? 1 : 0) >= 256) {
          exact = false;
          break;
        }
        it = lookup.emplace(rgb, uint8_t(colors.size())).first;
        colors.push_back(GifColorType{ArgbR(c), ArgbG(c), ArgbB(c)});
      }
      indexes[size_t(y) * size_t(w) + size_t(x)] = it->second;
    }
  }
  if (exact && has_transparent && colors.size() >= 256) exact = false;
  if (!exact) {
    std::vector<GifByteType> r(n), g(n), b(n);
    has_transparent = false;
    for (int y = 0; y < h; ++y) {
      const Argb* row = image.Row(y);
      for (int x = 0; x < w; ++x) {
        Argb c = Unpremultiply(row[x]);
        size_t i = size_t(y) * size_t(w) + size_t(x);
        r[i] = ArgbR(c), g[i] = ArgbG(c), b[i] = ArgbB(c);
        if (ArgbA(c) < 128) has_transparent = true;
      }
    }
    int count = has_transparent ? 255 : 256;
    colors.assign(256, GifColorType{0, 0, 0});
    if (GifQuantizeBuffer(unsigned(w), unsigned(h), &count, r.data(), g.data(), b.data(), indexes.data(),
                          colors.data()) == GIF_ERROR) {
      SetError(error, "GIF: cannot reduce the colours");
      return false;
    }
    colors.resize(size_t(count));
  }
  int transparent = -1;
  if (has_transparent) {
    transparent = int(colors.size());
    colors.push_back(GifColorType{0, 0, 0});
    for (int y = 0; y < h; ++y) {
      const Argb* row = image.Row(y);
      for (int x = 0; x < w; ++x)
        if (ArgbA(row[x]) < 128) indexes[size_t(y) * size_t(w) + size_t(x)] = GifByteType(transparent);
    }
  }
  int bits = 1;
  while ((1 << bits) < int(colors.size())) ++bits;
  colors.resize(size_t(1) << bits, GifColorType{0, 0, 0});
  ColorMapObject* map = GifMakeMapObject(1 << bits, colors.data());
  if (!map) {
    SetError(error, "GIF: out of memory");
    return false;
  }
  out->clear();
  int err = 0;
  GifFileType* gif = EGifOpen(out, WriteFn, &err);
  if (!gif) {
    GifFreeMapObject(map);
    SetError(error, GifError(err));
    return false;
  }
  EGifSetGifVersion(gif, true);
  bool ok = EGifPutScreenDesc(gif, w, h, bits, 0, map) == GIF_OK;
  if (ok && transparent >= 0) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.UserInputFlag = false;
    gcb.DelayTime = 0;
    gcb.TransparentColor = transparent;
    GifByteType ext[4];
    size_t len = EGifGCBToExtension(&gcb, ext);
    ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(len), ext) == GIF_OK;
  }
  ok = ok && EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
  for (int y = 0; ok && y < h; ++y) ok = EGifPutLine(gif, indexes.data() + size_t(y) * size_t(w), w) == GIF_OK;
  int close_err = 0;
  std::string why = GifError(gif->Error);
  if (EGifCloseFile(gif, &close_err) == GIF_ERROR && ok) {
    ok = false;
    why = GifError(close_err);
  }
  GifFreeMapObject(map);
  if (!ok) SetError(error, why);
  return ok;
}

}  // namespace velmora::gfx_internal

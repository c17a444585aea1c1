// Font resolution through fontconfig into cairo font faces, cached for the life of the process.
#include "platform/gfx/font.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <array>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/gfx/font_internal.h"
#include "platform/text.h"

// AddressSanitizer builds (GCC names them with __SANITIZE_ADDRESS__, clang with a feature test).
#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_LEAK_CHECKS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_LEAK_CHECKS 1
#endif
#endif
#if defined(VELMORA_LEAK_CHECKS)
#include <sanitizer/lsan_interface.h>
#endif

namespace velmora {
namespace {

constexpr const char* kCjkFamily = "WenQuanYi Zen Hei";

// Face names that the program's text styles and settings carry: Chinese faces and common user
// interface faces that show Chinese through a Chinese font. They all become the installed CJK
// font, which also has Latin glyphs, so mixed text keeps one look.
constexpr std::array<const char*, 24> kCjkFaces = {
    "黑体", "SimHei", "宋体", "SimSun", "新宋体", "NSimSun", "微软雅黑", "Microsoft YaHei",
    "楷体", "KaiTi", "楷体_GB2312", "仿宋", "FangSong", "仿宋_GB2312", "隶书", "幼圆",
    "Microsoft Sans Serif", "MS Sans Serif", "MS Shell Dlg", "MS Shell Dlg 2", "Tahoma",
    "System", "Arial Unicode MS", "宋体-PUA"};

// Decodes one well-formed UTF-8 sequence at text[i]; returns its length (0 when malformed).
size_t DecodeUtf8(std::string_view text, size_t i, uint32_t* cp) {
  auto b = [&](size_t k) { return uint8_t(text[i + k]); };
  uint8_t c = b(0);
  size_t left = text.size() - i;
  if (c < 0x80) {
    *cp = c;
    return 1;
  }
  auto cont = [&](size_t k) { return k < left && (b(k) & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF && cont(1)) {
    *cp = (uint32_t(c & 0x1F) << 6) | (b(1) & 0x3F);
    return 2;
  }
  if (c >= 0xE0 && c <= 0xEF && cont(1) && cont(2)) {
    uint32_t v = (uint32_t(c & 0x0F) << 12) | (uint32_t(b(1) & 0x3F) << 6) | (b(2) & 0x3F);
    if (v < 0x800 || (v >= 0xD800 && v <= 0xDFFF)) return 0;
    *cp = v;
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4 && cont(1) && cont(2) && cont(3)) {
    uint32_t v = (uint32_t(c & 0x07) << 18) | (uint32_t(b(1) & 0x3F) << 12) |
                 (uint32_t(b(2) & 0x3F) << 6) | (b(3) & 0x3F);
    if (v < 0x10000 || v > 0x10FFFF) return 0;
    *cp = v;
    return 4;
  }
  return 0;
}

struct Resolved {
  cairo_font_face_t* face = nullptr;
  FcCharSet* charset = nullptr;  // owned by `pattern`
  FcPattern* pattern = nullptr;
  std::string file;
  bool synthetic_italic = false;
};

class FontCache {
 public:
  static FontCache& Get() {
    static FontCache* cache = new FontCache;  // lives as long as the process: faces are shared
    return *cache;
  }

  Resolved Lookup(const std::string& family, uint32_t style) {
    std::lock_guard lock(mutex_);
    auto key = std::make_tuple(family, style & (CFont::kBold | CFont::kItalic));
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    Resolved r = Resolve(family, style);
    cache_.emplace(key, r);
    return r;
  }

  Resolved Cjk(uint32_t style) {
    Resolved r = Lookup(kCjkFamily, style);
    if (r.charset && FcCharSetHasChar(r.charset, 0x4E2D)) return r;
    // The usual CJK font is missing: ask fontconfig for any font for Chinese.
    std::lock_guard lock(mutex_);
    auto key = std::make_tuple(std::string("\x01zh"), style & (CFont::kBold | CFont::kItalic));
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    Resolved z = Resolve("", style, "zh-cn");
    cache_.emplace(key, z);
    return z;
  }

 private:
  FontCache() {
#if defined(VELMORA_LEAK_CHECKS)
    __lsan::ScopedDisabler keep;  // the configuration lives as long as the process
#endif
    FcInit();
  }

  static Resolved Resolve(const std::string& family, uint32_t style, const char* lang = nullptr) {
#if defined(VELMORA_LEAK_CHECKS)
    // Resolved fonts live as long as the process, and fontconfig links a pattern's parts by
    // offsets that the leak checker cannot follow: it would report them as lost.
    __lsan::ScopedDisabler keep;
#endif
    Resolved r;
    FcPattern* pat = FcPatternCreate();
    if (!family.empty()) FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    if (lang) FcPatternAddString(pat, FC_LANG, reinterpret_cast<const FcChar8*>(lang));
    bool bold = style & CFont::kBold, italic = style & CFont::kItalic;
    FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pat, FcMatchPattern);
    FcDefaultSubstitute(pat);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pat, &result);
    FcPatternDestroy(pat);
    if (match) {
      FcChar8* file = nullptr;
      if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file)
        r.file = reinterpret_cast<const char*>(file);
      FcPatternGetCharSet(match, FC_CHARSET, 0, &r.charset);
      int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
      FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
      FcPatternGetInteger(match, FC_SLANT, 0, &slant);
      r.face = cairo_ft_font_face_create_for_pattern(match);
      if (bold && weight < FC_WEIGHT_DEMIBOLD)
        cairo_ft_font_face_set_synthesize(r.face, CAIRO_FT_SYNTHESIZE_BOLD);
      // fontconfig marks a face it would slant itself with a shear matrix (and calls it oblique),
      // but cairo does not apply that matrix: the drawing code shears instead.
      FcMatrix* shear = nullptr;
      bool config_slant = FcPatternGetMatrix(match, FC_MATRIX, 0, &shear) == FcResultMatch && shear &&
                          shear->xy != 0;
      r.synthetic_italic = italic && (slant == FC_SLANT_ROMAN || config_slant);
      r.pattern = match;  // keeps the charset alive; cairo holds its own reference
    } else {
      // No font at all: cairo's built-in fallback still draws boxes rather than failing.
      r.face = cairo_toy_font_face_create("sans-serif", CAIRO_FONT_SLANT_NORMAL,
                                          bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
      r.synthetic_italic = italic;
    }
    return r;
  }

  std::mutex mutex_;
  std::map<std::tuple<std::string, uint32_t>, Resolved> cache_;
};

}  // namespace

std::string MapFaceName(const std::string& face) {
  for (const char* f : kCjkFaces)
    if (EqualsNoCaseAscii(face, f)) return kCjkFamily;
  return face;
}

std::string ResolveFontFile(const std::string& face, bool for_cjk) {
  if (for_cjk) return FontCache::Get().Cjk(0).file;
  return FontCache::Get().Lookup(MapFaceName(face), 0).file;
}

namespace gfx_internal {

std::string SanitizeUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    size_t n = DecodeUtf8(text, i, &cp);
    if (n == 0 || cp == 0) {
      if (n == 0) out += "\xEF\xBF\xBD";
      i += n == 0 ? 1 : n;  // a NUL would end the text early for cairo: dropped
      continue;
    }
    out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

FontChoice ChooseFont(const CFont& font, std::string_view text) {
  FontCache& cache = FontCache::Get();
  Resolved r = cache.Lookup(MapFaceName(font.Face()), font.Style());
  bool covered = r.charset != nullptr;
  for (size_t i = 0; covered && i < text.size();) {
    uint32_t cp = 0;
    size_t n = DecodeUtf8(text, i, &cp);
    if (n == 0) break;
    if (cp >= 0x20 && !FcCharSetHasChar(r.charset, cp)) covered = false;
    i += n;
  }
  if (!covered) {
    Resolved cjk = cache.Cjk(font.Style());
    if (cjk.face) r = cjk;
  }
  return FontChoice{r.face, r.synthetic_italic};
}

}  // namespace gfx_internal
}  // namespace velmora

// Font resolution shared by CGraphics: a CFont and a text -> a cairo font face that has the
// text's glyphs, with the synthetic styles the face lacks. Not part of the public gfx API.
#pragma once
#include <string>
#include <string_view>

#include "platform/gfx/font.h"

typedef struct _cairo_font_face cairo_font_face_t;

namespace velmora::gfx_internal {

struct FontChoice {
  cairo_font_face_t* face = nullptr;  // owned by the process-wide cache; never null
  bool synthetic_italic = false;      // the face has no italic: the caller shears the glyphs
};

// The face for drawing `text` (valid UTF-8) in `font`: the face the font's name resolves to when
// it has every glyph of the text, else the CJK font.
FontChoice ChooseFont(const CFont& font, std::string_view text);

// `text` with every byte that does not start a well-formed UTF-8 sequence replaced by U+FFFD
// (cairo refuses malformed text and would fail every later call on the same context).
std::string SanitizeUtf8(std::string_view text);

}  // namespace velmora::gfx_internal

// CGdipTextRenderer: formatting under the 512-character limit and drawing with the shared state.
#include "core/gdip_text_renderer.h"

#include <cstdio>
#include <string>

namespace velmora {
namespace {

constexpr size_t kMaxChars = 512;

// Cuts a UTF-8 text to its first `limit` characters.
void CutUtf8(std::string& s, size_t limit) {
  size_t chars = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    if ((uint8_t(s[i]) & 0xC0) == 0x80) continue;  // continuation byte
    if (++chars > limit) {
      s.resize(i);
      return;
    }
  }
  // A character cut short by the format buffer's end is dropped.
  size_t n = s.size();
  size_t start = n;
  while (start > 0 && (uint8_t(s[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0) {
    uint8_t lead = uint8_t(s[start - 1]);
    size_t need = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (n - (start - 1) < need) s.resize(start - 1);
  }
}

}  // namespace

void CGdipTextRenderer::SelectColor(Argb color) {
  std::lock_guard lock(mutex_);
  color_ = color;
}

void CGdipTextRenderer::SelectFont(const CFont& font) {
  std::lock_guard lock(mutex_);
  font_ = font;
}

Argb CGdipTextRenderer::Color() const {
  std::lock_guard lock(mutex_);
  return color_;
}

CFont CGdipTextRenderer::Font() const {
  std::lock_guard lock(mutex_);
  return font_;
}

void CGdipTextRenderer::DrawFormatted(CGraphics& graphics, float x, float y, const char* format, va_list args) {
  char buf[kMaxChars * 4 + 1];
  int n = std::vsnprintf(buf, sizeof buf, format, args);
  if (n < 0) return;
  std::string text(buf, std::min(size_t(n), sizeof buf - 1));
  CutUtf8(text, kMaxChars);
  CFont font;
  Argb color;
  {
    std::lock_guard lock(mutex_);
    font = font_;
    color = color_;
  }
  graphics.DrawString(text, font, color, x, y);
}

void CGdipTextRenderer::DrawTextF(CGraphics& graphics, float x, float y, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DrawFormatted(graphics, x, y, format, args);
  va_end(args);
}

void CGdipTextRenderer::DrawTextW(CGraphics& graphics, float x, float y, const char* format, ...) {
  va_list args;
  va_start(args, format);
  DrawFormatted(graphics, x, y, format, args);
  va_end(args);
}

TextExtent CGdipTextRenderer::Measure(const char* text) const {
  return MeasureText(text ? text : "", Font());
}

CGdipTextRenderer& SharedTextRenderer() {
  static CGdipTextRenderer renderer;
  return renderer;
}

}  // namespace velmora

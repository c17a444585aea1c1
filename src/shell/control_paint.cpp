// Drawing helpers of the self-painting controls.
#include "shell/control_paint.h"

#include <algorithm>
#include <cmath>

#include "shell/kovra_home_ex_app.h"

namespace velmora {
namespace {

// Length of the UTF-8 character starting with byte `lead` (1 for a stray continuation byte).
size_t CharLength(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

}  // namespace

CFont ControlFont() {
  AppFontDesc desc;
  if (CKovraHomeExApp* app = GetApp()) desc = app->AppFont();
  float pixels = static_cast<float>(desc.height < 0 ? -desc.height : desc.height);
  if (pixels < 9) pixels = 9;
  return CFont(desc.face, pixels, desc.weight >= 700 ? CFont::kBold : 0);
}

void DrawControlFrame(CGraphics& g, bool enabled) {
  Pen pen{enabled ? 0xFF707070u : 0xFFB8B8B8u, 1.0f};
  g.DrawRectangle(pen, GfxRect{0.5f, 0.5f, static_cast<float>(g.Width()) - 1.0f, static_cast<float>(g.Height()) - 1.0f});
}

void FillChequer(CGraphics& g, const GfxRect& rect, float cell) {
  g.FillRectangle(0xFFFFFFFFu, rect);
  for (float y = rect.y; y < rect.y + rect.height; y += cell)
    for (float x = rect.x; x < rect.x + rect.width; x += cell) {
      int ix = static_cast<int>(std::lround((x - rect.x) / cell)), iy = static_cast<int>(std::lround((y - rect.y) / cell));
      if ((ix + iy) % 2 == 0) continue;
      g.FillRectangle(0xFFC8C8C8u, GfxRect{x, y, std::min(cell, rect.x + rect.width - x), std::min(cell, rect.y + rect.height - y)});
    }
}

std::string ElideText(CGraphics& g, std::string_view text, const CFont& font, float width) {
  if (g.MeasureString(text, font).width <= width) return std::string(text);
  static constexpr std::string_view kEllipsis = "…";
  // Whole characters are added while the beginning and the ellipsis still fit.
  std::string fitted;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t n = std::min(CharLength(static_cast<unsigned char>(text[pos])), text.size() - pos);
    std::string next = fitted;
    next.append(text.substr(pos, n));
    if (g.MeasureString(next + std::string(kEllipsis), font).width > width) break;
    fitted = std::move(next);
    pos += n;
  }
  return fitted + std::string(kEllipsis);
}

Argb DisabledColor(Argb argb) {
  auto mix = [](uint32_t c) { return (c + 2u * 0xC0u) / 3u; };
  uint32_t r = mix((argb >> 16) & 0xFF), gr = mix((argb >> 8) & 0xFF), b = mix(argb & 0xFF);
  return (argb & 0xFF000000u) | (r << 16) | (gr << 8) | b;
}

}  // namespace velmora

// The font sample.
#include "shell/font_sample_static.h"

#include <cmath>

#include "platform/gfx/graphics.h"
#include "shell/control_paint.h"

namespace velmora {

void CFontSampleStatic::SetTextStyle(const CTextStyle& style) {
  if (style_ == style) return;
  style_ = style;
  Invalidate();
}

bool CFontSampleStatic::OnPaint(CBitmap& canvas) {
  CGraphics g(canvas);
  if (!g.IsValid()) return true;
  const bool enabled = IsWindowEnabled();
  // A halo is white: it shows on a darker ground.
  const bool halo = (style_.flags & CTextStyle::kHalo) != 0;
  g.Clear(!enabled ? 0xFFF0F0F0u : halo ? 0xFFB8C4D0u : 0xFFFFFFFFu);
  DrawControlFrame(g, enabled);

  // Sizes are points at 96 dots per inch; a nonsense size (NaN, zero, huge) draws at 12 points.
  float points = std::isfinite(style_.size) && style_.size >= 1.0f && style_.size <= 512.0f ? style_.size : 12.0f;
  uint32_t style_bits = style_.flags & (CFont::kBold | CFont::kItalic | CFont::kUnderline | CFont::kHalo);
  CFont font(style_.face.empty() ? std::string("黑体") : style_.face, CFont::PointsToPixels(points), style_bits);

  std::string text = GetWindowText();
  if (text.empty()) text = kDefaultSample;
  const float margin = 4.0f;
  const float room = static_cast<float>(canvas.Width()) - 2 * margin;
  if (room <= 0) return true;
  text = ElideText(g, text, font, room);
  TextExtent extent = g.MeasureString(text, font);
  float x = margin;
  if (style_.alignment == 1) x = (static_cast<float>(canvas.Width()) - extent.width) / 2.0f;
  if (style_.alignment == 2) x = static_cast<float>(canvas.Width()) - margin - extent.width;
  float y = (static_cast<float>(canvas.Height()) - extent.height) / 2.0f;
  g.Save();
  g.SetClip(GfxRect{1, 1, static_cast<float>(canvas.Width()) - 2, static_cast<float>(canvas.Height()) - 2});
  Argb color = enabled ? style_.color : DisabledColor(style_.color);
  g.DrawString(text, font, color, x, y, 0xFFFFFFFFu);
  g.Restore();
  return true;
}

}  // namespace velmora

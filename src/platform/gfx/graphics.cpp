// CGraphics on cairo: the bitmap's pixels are a cairo ARGB32 image surface as they stand.
#include "platform/gfx/graphics.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>

#include "platform/gfx/font_internal.h"

namespace velmora {
namespace {

cairo_surface_t* SurfaceFor(const CBitmap& image) {
  // cairo only reads a source surface; the cast lets a const picture be drawn.
  return cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(const_cast<Argb*>(image.Pixels())), CAIRO_FORMAT_ARGB32,
      image.Width(), image.Height(), int(image.Stride()));
}

bool InKey(Argb straight, const ColorKey& key) {
  auto in = [](uint8_t v, uint8_t lo, uint8_t hi) { return v >= lo && v <= hi; };
  return in(ArgbR(straight), ArgbR(key.low), ArgbR(key.high)) &&
         in(ArgbG(straight), ArgbG(key.low), ArgbG(key.high)) &&
         in(ArgbB(straight), ArgbB(key.low), ArgbB(key.high));
}

void SetFont(cairo_t* cr, const gfx_internal::FontChoice& choice, float pixel_size) {
  cairo_set_font_face(cr, choice.face);
  cairo_matrix_t m;
  cairo_matrix_init_scale(&m, pixel_size, pixel_size);
  if (choice.synthetic_italic) m.xy = -0.2 * pixel_size;  // slant the glyphs' tops to the right
  cairo_set_font_matrix(cr, &m);
}

// Box, advance and baseline of a text on a context whose font is set.
TextExtent Extent(cairo_t* cr, const std::string& text) {
  cairo_font_extents_t fe;
  cairo_font_extents(cr, &fe);
  cairo_text_extents_t te;
  cairo_text_extents(cr, text.c_str(), &te);
  TextExtent e;
  double right = std::max(te.x_advance, te.x_bearing + te.width);
  e.width = float(std::max(0.0, std::ceil(right)));
  e.ascent = float(fe.ascent);
  e.height = float(std::ceil(fe.ascent + fe.descent));
  return e;
}

}  // namespace

CGraphics::CGraphics(CBitmap& target) {
  if (target.IsEmpty()) return;
  surface_ = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(target.Pixels()),
                                                 CAIRO_FORMAT_ARGB32, target.Width(),
                                                 target.Height(), int(target.Stride()));
  if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface_);
    surface_ = nullptr;
    return;
  }
  cr_ = cairo_create(surface_);
  if (cairo_status(cr_) != CAIRO_STATUS_SUCCESS) {
    cairo_destroy(cr_);
    cr_ = nullptr;
    cairo_surface_destroy(surface_);
    surface_ = nullptr;
    return;
  }
  width_ = target.Width();
  height_ = target.Height();
}

CGraphics::~CGraphics() {
  if (cr_) cairo_destroy(cr_);
  if (surface_) {
    cairo_surface_flush(surface_);
    cairo_surface_destroy(surface_);
  }
}

void CGraphics::Flush() {
  if (surface_) cairo_surface_flush(surface_);
}

void CGraphics::SetAntialias(bool on) {
  antialias_ = on;
  if (cr_) cairo_set_antialias(cr_, on ? CAIRO_ANTIALIAS_DEFAULT : CAIRO_ANTIALIAS_NONE);
}

void CGraphics::SetInterpolation(Interpolation mode) { interpolation_ = mode; }

void CGraphics::SetCompositing(Compositing mode) {
  if (cr_)
    cairo_set_operator(cr_, mode == Compositing::kSourceCopy ? CAIRO_OPERATOR_SOURCE : CAIRO_OPERATOR_OVER);
}

void CGraphics::SetColor(Argb c) {
  cairo_set_source_rgba(cr_, ArgbR(c) / 255.0, ArgbG(c) / 255.0, ArgbB(c) / 255.0, ArgbA(c) / 255.0);
}

void CGraphics::ApplyPen(const Pen& pen) {
  SetColor(pen.color);
  double w = pen.width > 0 ? pen.width : 1.0;
  cairo_set_line_width(cr_, w);
  switch (pen.dash) {
    case LineDash::kSolid:
      cairo_set_dash(cr_, nullptr, 0, 0);
      break;
    case LineDash::kDash: {
      double d[] = {3 * w, w};
      cairo_set_dash(cr_, d, 2, 0);
      break;
    }
    case LineDash::kDot: {
      double d[] = {w, w};
      cairo_set_dash(cr_, d, 2, 0);
      break;
    }
    case LineDash::kDashDot: {
      double d[] = {3 * w, w, w, w};
      cairo_set_dash(cr_, d, 4, 0);
      break;
    }
  }
}

void CGraphics::PolyPath(const GfxPoint* points, size_t count, bool close) {
  cairo_new_path(cr_);
  for (size_t i = 0; i < count; ++i) {
    if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y)) continue;  // NaN poisons cairo
    cairo_line_to(cr_, points[i].x, points[i].y);
  }
  if (close) cairo_close_path(cr_);
}

void CGraphics::Stroke(const Pen& pen) {
  ApplyPen(pen);
  cairo_stroke(cr_);
}

void CGraphics::Clear(Argb color) {
  if (!cr_) return;
  cairo_save(cr_);
  cairo_set_operator(cr_, CAIRO_OPERATOR_SOURCE);
  SetColor(color);
  cairo_paint(cr_);
  cairo_restore(cr_);
}

void CGraphics::DrawLine(const Pen& pen, float x1, float y1, float x2, float y2) {
  GfxPoint p[2] = {{x1, y1}, {x2, y2}};
  DrawLines(pen, p, 2);
}

void CGraphics::DrawLines(const Pen& pen, const GfxPoint* points, size_t count) {
  if (!cr_ || count < 2) return;
  PolyPath(points, count, false);
  Stroke(pen);
}

void CGraphics::DrawPolygon(const Pen& pen, const GfxPoint* points, size_t count) {
  if (!cr_ || count < 2) return;
  PolyPath(points, count, true);
  Stroke(pen);
}

void CGraphics::FillPolygon(Argb color, const GfxPoint* points, size_t count, FillMode mode) {
  if (!cr_ || count < 3) return;
  PolyPath(points, count, true);
  SetColor(color);
  cairo_set_fill_rule(cr_, mode == FillMode::kAlternate ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  cairo_fill(cr_);
}

void CGraphics::DrawRectangle(const Pen& pen, const GfxRect& r) {
  if (!cr_) return;
  cairo_new_path(cr_);
  cairo_rectangle(cr_, r.x, r.y, r.width, r.height);
  Stroke(pen);
}

void CGraphics::FillRectangle(Argb color, const GfxRect& r) {
  if (!cr_) return;
  cairo_new_path(cr_);
  cairo_rectangle(cr_, r.x, r.y, r.width, r.height);
  SetColor(color);
  cairo_fill(cr_);
}

namespace {
void EllipsePath(cairo_t* cr, const GfxRect& b) {
  cairo_new_path(cr);
  if (b.width <= 0 || b.height <= 0) return;
  cairo_save(cr);
  cairo_translate(cr, b.x + b.width / 2.0, b.y + b.height / 2.0);
  cairo_scale(cr, b.width / 2.0, b.height / 2.0);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_restore(cr);  // the path stays; the pen keeps an unscaled width
}
}  // namespace

void CGraphics::DrawEllipse(const Pen& pen, const GfxRect& bounds) {
  if (!cr_) return;
  EllipsePath(cr_, bounds);
  Stroke(pen);
}

void CGraphics::FillEllipse(Argb color, const GfxRect& bounds) {
  if (!cr_) return;
  EllipsePath(cr_, bounds);
  SetColor(color);
  cairo_fill(cr_);
}

void CGraphics::DrawImage(const CBitmap& image, float x, float y) {
  DrawImage(image, GfxRect{x, y, float(image.Width()), float(image.Height())},
            GfxRect{0, 0, float(image.Width()), float(image.Height())});
}

void CGraphics::DrawImage(const CBitmap& image, const GfxRect& dest) {
  DrawImage(image, dest, GfxRect{0, 0, float(image.Width()), float(image.Height())});
}

void CGraphics::DrawImage(const CBitmap& image, const GfxRect& dest, const GfxRect& source,
                          const ColorKey* key, float opacity) {
  if (!cr_ || image.IsEmpty() || source.width <= 0 || source.height <= 0 || dest.width == 0 ||
      dest.height == 0)
    return;
  const CBitmap* src = &image;
  CBitmap keyed;
  GfxRect s = source;
  if (key) {
    // Only the part that is drawn is copied and keyed.
    int x0 = int(std::floor(s.x)), y0 = int(std::floor(s.y));
    int x1 = int(std::ceil(s.x + s.width)), y1 = int(std::ceil(s.y + s.height));
    keyed = image.Crop(x0, y0, x1 - x0, y1 - y0);
    if (keyed.IsEmpty()) return;
    for (int r = 0; r < keyed.Height(); ++r) {
      Argb* row = keyed.Row(r);
      for (int c = 0; c < keyed.Width(); ++c)
        if (InKey(Unpremultiply(row[c]), *key)) row[c] = 0;
    }
    src = &keyed;
    s.x -= float(std::max(x0, 0));
    s.y -= float(std::max(y0, 0));
  }
  cairo_surface_t* surf = SurfaceFor(*src);
  cairo_save(cr_);
  cairo_translate(cr_, dest.x, dest.y);
  cairo_scale(cr_, dest.width / s.width, dest.height / s.height);
  // Source pixel (s.x, s.y) lands on the destination's top-left corner.
  cairo_set_source_surface(cr_, surf, -s.x, -s.y);
  cairo_pattern_t* pat = cairo_get_source(cr_);
  // Pixel for pixel (no scale, no rotation) needs no filtering: tiles are copied exactly.
  cairo_matrix_t m;
  cairo_get_matrix(cr_, &m);
  bool one_to_one = m.xx == 1 && m.yy == 1 && m.xy == 0 && m.yx == 0;
  cairo_pattern_set_filter(pat, interpolation_ == Interpolation::kNearest || one_to_one
                                    ? CAIRO_FILTER_NEAREST
                                    : CAIRO_FILTER_BILINEAR);
  // Edge pixels are repeated outward, so a scaled picture keeps hard, opaque borders.
  cairo_pattern_set_extend(pat, CAIRO_EXTEND_PAD);
  cairo_new_path(cr_);
  cairo_rectangle(cr_, 0, 0, s.width, s.height);
  if (opacity >= 1.0f) {
    cairo_fill(cr_);
  } else if (opacity > 0.0f) {
    cairo_clip(cr_);
    cairo_paint_with_alpha(cr_, opacity);
  }
  cairo_restore(cr_);
  cairo_surface_destroy(surf);
}

void CGraphics::SetClip(const GfxRect& rect) {
  if (!cr_) return;
  cairo_reset_clip(cr_);
  IntersectClip(rect);
}

void CGraphics::SetClip(const GfxPoint* points, size_t count, FillMode mode) {
  if (!cr_) return;
  cairo_reset_clip(cr_);
  PolyPath(points, count, true);
  cairo_set_fill_rule(cr_, mode == FillMode::kAlternate ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  cairo_clip(cr_);
}

void CGraphics::IntersectClip(const GfxRect& rect) {
  if (!cr_) return;
  cairo_new_path(cr_);
  cairo_rectangle(cr_, rect.x, rect.y, rect.width, rect.height);
  cairo_clip(cr_);
}

void CGraphics::ResetClip() {
  if (cr_) cairo_reset_clip(cr_);
}

void CGraphics::TranslateTransform(float dx, float dy) {
  if (cr_) cairo_translate(cr_, dx, dy);
}

void CGraphics::ScaleTransform(float sx, float sy) {
  if (cr_ && sx != 0 && sy != 0) cairo_scale(cr_, sx, sy);  // a zero scale would break the context
}

void CGraphics::RotateTransform(float degrees) {
  if (cr_) cairo_rotate(cr_, degrees * M_PI / 180.0);
}

void CGraphics::ResetTransform() {
  if (cr_) cairo_identity_matrix(cr_);
}

void CGraphics::Save() {
  if (!cr_) return;
  cairo_save(cr_);
  saved_.emplace_back(antialias_, interpolation_);
}

void CGraphics::Restore() {
  if (!cr_ || saved_.empty()) return;
  cairo_restore(cr_);
  antialias_ = saved_.back().first;
  interpolation_ = saved_.back().second;
  saved_.pop_back();
}

void CGraphics::DrawString(std::string_view text, const CFont& font, Argb color, float x, float y,
                           Argb halo) {
  if (!cr_ || text.empty() || !(font.PixelSize() > 0)) return;
  std::string clean = gfx_internal::SanitizeUtf8(text);
  if (clean.empty()) return;
  cairo_save(cr_);
  SetFont(cr_, gfx_internal::ChooseFont(font, clean), font.PixelSize());
  TextExtent e = Extent(cr_, clean);
  double baseline = y + e.ascent;
  if (font.Style() & CFont::kHalo) {
    // The text drawn in the halo colour at every offset within 2 pixels; an order of magnitude
    // faster than stroking the glyph outlines, which are intricate for Chinese characters.
    SetColor(halo);
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        if ((dx == 0 && dy == 0) || dx * dx + dy * dy > 5) continue;
        cairo_move_to(cr_, x + dx, baseline + dy);
        cairo_show_text(cr_, clean.c_str());
      }
  }
  SetColor(color);
  cairo_move_to(cr_, x, baseline);
  cairo_show_text(cr_, clean.c_str());
  if (font.Style() & CFont::kUnderline) {
    double thick = std::max(1.0, font.PixelSize() / 14.0);
    double uy = baseline + std::max(1.0, font.PixelSize() / 10.0);
    cairo_new_path(cr_);
    cairo_rectangle(cr_, x, uy, e.width, thick);
    cairo_fill(cr_);
  }
  cairo_restore(cr_);
}

TextExtent CGraphics::MeasureString(std::string_view text, const CFont& font) {
  return MeasureText(text, font);
}

TextExtent MeasureText(std::string_view text, const CFont& font) {
  TextExtent e;
  if (!(font.PixelSize() > 0)) return e;
  std::string clean = gfx_internal::SanitizeUtf8(text);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
  cairo_t* cr = cairo_create(s);
  SetFont(cr, gfx_internal::ChooseFont(font, clean), font.PixelSize());
  e = Extent(cr, clean);
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  return e;
}

}  // namespace velmora

// The tile engine's painting: the map image placed (and scaled) for the camera, then the object
// layers, the selected region, the scale bar, the navigation control, the attributions and the
// weather text.
#include <algorithm>
#include <cmath>

#include "core/format.h"
#include "platform/gfx/font.h"
#include "platform/gfx/graphics.h"
#include "view/tile_engine.h"
#include "view/tile_engine_internal.h"

namespace velmora {
namespace {

// The navigation control: a pan disc and two zoom buttons below it.
constexpr float kNavX = 40, kNavY = 40, kNavRadius = 26, kNavDead = 7;
constexpr GfxRect kZoomInRect{28, 76, 24, 22};
constexpr GfxRect kZoomOutRect{28, 100, 24, 22};

bool InRect(const GfxRect& r, double x, double y) {
  return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
}

// Fills the canvas outside [x0, x1) x [y0, y1) with the background.
void FillOutside(CBitmap& canvas, int x0, int y0, int x1, int y1, bool fast, CGraphics* g) {
  const int w = canvas.Width(), h = canvas.Height();
  x0 = std::clamp(x0, 0, w), x1 = std::clamp(x1, 0, w);
  y0 = std::clamp(y0, 0, h), y1 = std::clamp(y1, 0, h);
  if (x1 <= x0 || y1 <= y0) x0 = x1 = y0 = y1 = 0;
  const GfxRect bands[4] = {{0, 0, float(w), float(y0)},
                            {0, float(y1), float(w), float(h - y1)},
                            {0, float(y0), float(x0), float(y1 - y0)},
                            {float(x1), float(y0), float(w - x1), float(y1 - y0)}};
  for (const GfxRect& b : bands) {
    if (b.width <= 0 || b.height <= 0) continue;
    if (fast) {
      map_image::FillBlock(canvas, int(b.x), int(b.y), int(b.width), int(b.height), kMapBackground);
    } else {
      g->SetCompositing(Compositing::kSourceCopy);
      g->FillRectangle(kMapBackground, b);
      g->SetCompositing(Compositing::kSourceOver);
    }
  }
}

// A length of 1, 2 or 5 times a power of ten no longer than `metres`.
double NiceLength(double metres) {
  double p = std::pow(10.0, std::floor(std::log10(metres)));
  for (double f : {5.0, 2.0, 1.0})
    if (f * p <= metres) return f * p;
  return p;
}

std::string LengthText(double metres) {
  if (metres >= 1000) return FormatC("%g km", metres / 1000);
  return FormatC("%g m", metres);
}

}  // namespace

void CTileEngine::PaintMap(CBitmap& canvas, const Camera& cam, double* shift_x, double* shift_y) {
  *shift_x = *shift_y = 0;
  const bool fast = options_.fast_blit;
  std::unique_ptr<CGraphics> g;
  if (!fast) g = std::make_unique<CGraphics>(canvas);
  int kind;
  {
    std::lock_guard cam_lock(mutex_);
    const Layer* base = BaseLocked();
    kind = base ? base->layer.kind : 1;
  }
  std::lock_guard lock(image_mutex_);
  if (!image_ || image_->pixels.IsEmpty() || image_->plan.kind != kind) {
    if (!g) g = std::make_unique<CGraphics>(canvas);
    g->Clear(kMapBackground);
    return;
  }
  const Plan& plan = image_->plan;
  const KindTransforms& t = TransformsOfKind(plan.kind);
  const double world_w = plan.WorldWidth();
  const double s = std::exp2(cam.zoom - plan.z);
  double cx = std::fmod(t.lng_to_x(cam.lng, plan.z), world_w);
  if (cx < 0) cx += world_w;
  double cy = t.lat_to_y(cam.lat, plan.z);
  double x0 = double(plan.tx0) * kTileSize;
  const double img_w = double(plan.cols) * kTileSize, img_h = double(plan.rows) * kTileSize;
  // The copy of the image (whole worlds east or west) nearest to the camera.
  x0 += std::round((cx - (x0 + img_w / 2)) / world_w) * world_w;
  const double ox = (x0 - cx) * s + cam.width * 0.5;
  const double oy = (double(plan.ty0) * kTileSize - cy) * s + cam.height * 0.5;
  // The picture lands on whole pixels; shapes follow the same rounding.
  const int X = static_cast<int>(std::floor(ox + 0.5)), Y = static_cast<int>(std::floor(oy + 0.5));
  *shift_x = X - ox;
  *shift_y = Y - oy;
  if (std::fabs(s - 1.0) < 1e-9) {
    const int W = image_->pixels.Width(), H = image_->pixels.Height();
    FillOutside(canvas, X, Y, X + W, Y + H, fast, g.get());
    if (fast) {
      map_image::CopyBlock(canvas, X, Y, image_->pixels, 0, 0, W, H);
    } else {
      g->SetCompositing(Compositing::kSourceCopy);
      g->DrawImage(image_->pixels, float(X), float(Y));
      g->SetCompositing(Compositing::kSourceOver);
    }
    return;
  }
  // A fractional zoom: the whole pixels the filtered picture covers completely.
  const int W = static_cast<int>(img_w * s), H = static_cast<int>(img_h * s);
  if (fast && !image_->display.IsEmpty() && image_->display_scale == s && image_->display.Width() == W &&
      image_->display.Height() == H) {
    // The composer filtered the picture for this zoom already: a pan copies it.
    FillOutside(canvas, X, Y, X + W, Y + H, true, nullptr);
    map_image::CopyBlock(canvas, X, Y, image_->display, 0, 0, W, H);
    return;
  }
  if (!g) g = std::make_unique<CGraphics>(canvas);
  FillOutside(canvas, X, Y, X + W, Y + H, false, g.get());
  g->Save();
  g->SetClip(GfxRect{float(X), float(Y), float(W), float(H)});
  // The map image is opaque, so copying it (pixman's bilinear source path) gives what blending
  // would, at about half the cost.
  g->SetCompositing(Compositing::kSourceCopy);
  g->DrawImage(image_->pixels, GfxRect{float(X), float(Y), float(img_w * s), float(img_h * s)});
  g->Restore();
}

void CTileEngine::Paint(CBitmap& canvas) {
  if (canvas.IsEmpty()) return;
  Camera cam;
  {
    std::lock_guard lock(mutex_);
    cam = camera_;
  }
  double sx, sy;
  PaintMap(canvas, cam, &sx, &sy);
  CMapProjector p;
  {
    std::lock_guard lock(mutex_);
    const Layer* base = BaseLocked();
    p = CMapProjector(base ? base->layer.kind : 1, cam.zoom, cam.lng, cam.lat, cam.width, cam.height, sx, sy);
  }
  CGraphics g(canvas);
  boundaries_.Draw(g, p);
  tracks_.Draw(g, p);
  objects_.Draw(g, p);
  std::map<std::string, OverlayPainter> painters;
  {
    std::lock_guard lock(mutex_);
    painters = painters_;
  }
  for (const auto& [key, paint] : painters) paint(g, p);
  PaintOverlays(g, p);
}

void CTileEngine::PaintOverlays(CGraphics& g, const CMapProjector& p) {
  bool has_region, nav, scale, weather;
  float region[4];
  std::vector<std::string> lines;
  std::shared_ptr<const CBitmap> icon;
  WeatherStyle style;
  {
    std::lock_guard lock(mutex_);
    style = weather_style_;
    has_region = has_region_;
    std::copy(region_, region_ + 4, region);
    nav = nav_shown_;
    scale = scale_shown_;
    weather = weather_shown_;
    if (weather) lines = weather_lines_, icon = style.show_icon ? weather_icon_ : nullptr;
  }
  const CFont font("Microsoft Sans Serif", 12.0f);
  if (has_region) {
    PixelPoint a = p.ToScreen(region[0], region[1]);
    // The east corner on the same world copy as the west one.
    double b_x = a.x + (double(region[2]) - region[0]) / 360.0 * p.WorldWidth();
    PixelPoint b = p.ToScreen(region[2], region[3]);
    ClipRect clip{-16, -16, p.Width() + 16.0, p.Height() + 16.0};
    double l = std::clamp(a.x, clip.x0, clip.x1), r = std::clamp(b_x, clip.x0, clip.x1);
    double t = std::clamp(a.y, clip.y0, clip.y1), btm = std::clamp(b.y, clip.y0, clip.y1);
    if (r > l && btm > t) {
      GfxRect rect{float(l), float(t), float(r - l), float(btm - t)};
      g.FillRectangle(0x203060FFu, rect);
      g.DrawRectangle(Pen{0xFF3060FFu, 2.0f, LineDash::kDash}, rect);
    }
  }
  if (scale) {
    double mpp = p.MetresPerPixel();
    if (std::isfinite(mpp) && mpp > 0) {
      double length = NiceLength(mpp * 100);
      float px = float(length / mpp);
      float x = 12, y = float(p.Height()) - 14;
      Pen halo{0xC0FFFFFFu, 5.0f}, pen{0xFF202020u, 2.0f};
      GfxPoint bar[4] = {{x, y - 6}, {x, y}, {x + px, y}, {x + px, y - 6}};
      g.DrawLines(halo, bar, 4);
      g.DrawLines(pen, bar, 4);
      g.DrawString(LengthText(length), CFont(font.Face(), font.PixelSize(), CFont::kHalo), 0xFF202020u, x + 4,
                   y - 6 - font.PixelSize() - 4);
    }
  }
  if (nav) {
    g.FillEllipse(0xC0FFFFFFu, GfxRect{kNavX - kNavRadius, kNavY - kNavRadius, 2 * kNavRadius, 2 * kNavRadius});
    g.DrawEllipse(Pen{0xFF808080u, 1.0f}, GfxRect{kNavX - kNavRadius, kNavY - kNavRadius, 2 * kNavRadius, 2 * kNavRadius});
    const Argb arrow = 0xFF505050u;
    const float a = 7, d = kNavRadius - 6;
    GfxPoint n[3] = {{kNavX, kNavY - d}, {kNavX - a, kNavY - d + a}, {kNavX + a, kNavY - d + a}};
    GfxPoint s[3] = {{kNavX, kNavY + d}, {kNavX - a, kNavY + d - a}, {kNavX + a, kNavY + d - a}};
    GfxPoint w[3] = {{kNavX - d, kNavY}, {kNavX - d + a, kNavY - a}, {kNavX - d + a, kNavY + a}};
    GfxPoint e[3] = {{kNavX + d, kNavY}, {kNavX + d - a, kNavY - a}, {kNavX + d - a, kNavY + a}};
    for (GfxPoint* tri : {n, s, w, e}) g.FillPolygon(arrow, tri, 3);
    for (const GfxRect& r : {kZoomInRect, kZoomOutRect}) {
      g.FillRectangle(0xE0FFFFFFu, r);
      g.DrawRectangle(Pen{0xFF808080u, 1.0f}, r);
    }
    Pen sign{arrow, 2.0f};
    float mx = kZoomInRect.x + kZoomInRect.width / 2;
    g.DrawLine(sign, mx - 6, kZoomInRect.y + 11, mx + 6, kZoomInRect.y + 11);
    g.DrawLine(sign, mx, kZoomInRect.y + 5, mx, kZoomInRect.y + 17);
    g.DrawLine(sign, mx - 6, kZoomOutRect.y + 11, mx + 6, kZoomOutRect.y + 11);
  }
  std::vector<std::string> credits = Attributions();
  if (!credits.empty()) {
    std::string text;
    for (const std::string& c : credits) text += (text.empty() ? "" : " | ") + c;
    const CFont small("Microsoft Sans Serif", 11.0f);
    TextExtent e = g.MeasureString(text, small);
    float x = float(p.Width()) - e.width - 6, y = float(p.Height()) - e.height - 3;
    g.FillRectangle(0xB0FFFFFFu, GfxRect{x - 4, y - 1, e.width + 8, e.height + 2});
    g.DrawString(text, small, 0xFF303030u, x, y);
  }
  if (weather && (!lines.empty() || icon)) {
    float x = float(p.Width()) - 10, y = 10;
    if (icon && !icon->IsEmpty()) {
      float iw = float(std::min(icon->Width(), 64)), ih = float(std::min(icon->Height(), 64));
      g.DrawImage(*icon, GfxRect{x - iw, y, iw, ih});
      y += ih + 4;
    }
    const CFont wf(style.face, style.size, (style.background >> 24) ? 0 : CFont::kHalo);
    for (const std::string& line : lines) {
      TextExtent e = g.MeasureString(line, wf);
      if (style.background >> 24) g.FillRectangle(style.background, GfxRect{x - e.width - 2, y - 1, e.width + 4, e.height + 2});
      g.DrawString(line, wf, style.text, x - e.width, y);
      y += e.height + 2;
    }
  }
}

NavHit CTileEngine::HitNavigation(double x, double y) const {
  {
    std::lock_guard lock(mutex_);
    if (!nav_shown_) return NavHit::kNone;
  }
  if (InRect(kZoomInRect, x, y)) return NavHit::kZoomIn;
  if (InRect(kZoomOutRect, x, y)) return NavHit::kZoomOut;
  double dx = x - kNavX, dy = y - kNavY;
  double r = std::hypot(dx, dy);
  if (r > kNavRadius || r < kNavDead) return NavHit::kNone;
  if (std::fabs(dx) > std::fabs(dy)) return dx > 0 ? NavHit::kPanEast : NavHit::kPanWest;
  return dy > 0 ? NavHit::kPanSouth : NavHit::kPanNorth;
}

std::string CTileEngine::ScaleBarText() const {
  double mpp = Projector().MetresPerPixel();
  if (!std::isfinite(mpp) || mpp <= 0) return {};
  return LengthText(NiceLength(mpp * 100));
}

}  // namespace velmora

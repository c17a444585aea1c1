// Polygons and free regions: fills of the ring clipped to the window, even-odd hit tests and
// KML Polygon placemarks.
#include "shapes/polygon_shape.h"

#include <algorithm>
#include <cmath>

#include "core/format.h"

namespace velmora {
namespace {

constexpr double kRingPad = 64;

double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  double dx = bx - ax, dy = by - ay;
  double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? std::clamp(((px - ax) * dx + (py - ay) * dy) / len2, 0.0, 1.0) : 0.0;
  return std::hypot(ax + t * dx - px, ay + t * dy - py);
}

}  // namespace

CPolygonShape::CPolygonShape() : CPolygonShape(kShapePolygon) {}

CPolygonShape::CPolygonShape(int type) : CMapShape(type) {
  line_color = 0xFF0000FFu;
  fill_color = 0x400000FFu;
  filled = true;
}

void CPolygonShape::Draw(CGraphics& g, const CMapProjector& p) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.size() < 2) return;
  double pad = kRingPad + line_width;
  for (double copy : Copies(p, pad)) {
    std::vector<ScreenPoint> ring = ScreenRing(p, copy, pad);
    if (ring.size() < 2) continue;
    std::vector<GfxPoint> pts(ring.size());
    for (size_t i = 0; i < ring.size(); ++i) pts[i] = {float(ring[i].x), float(ring[i].y)};
    if (filled && pts.size() >= 3) g.FillPolygon(fill_color, pts.data(), pts.size());
    // The clipped ring's edges along the clip rectangle lie outside the window, beyond the pen.
    if (line_width > 0) g.DrawPolygon(Pen{line_color, line_width}, pts.data(), pts.size());
  }
}

bool CPolygonShape::HitTest(const CMapProjector& p, double x, double y, double tolerance) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.size() < 2 || !std::isfinite(x) || !std::isfinite(y)) return false;
  const std::vector<double>& n = Normalised(p);
  const size_t count = points_.size();
  double reach = tolerance + line_width / 2;
  for (double copy : Copies(p, reach)) {
    bool inside = false;
    double ax = p.ScreenX(n[2 * (count - 1)], copy), ay = p.ScreenY(n[2 * (count - 1) + 1]);
    for (size_t i = 0; i < count; ++i) {
      double bx = p.ScreenX(n[2 * i], copy), by = p.ScreenY(n[2 * i + 1]);
      if ((ay > y) != (by > y) && x < ax + (y - ay) * (bx - ax) / (by - ay)) inside = !inside;
      if (SegmentDistance(x, y, ax, ay, bx, by) <= reach) return true;
      ax = bx, ay = by;
    }
    if (filled && inside && count >= 3) return true;
  }
  return false;
}

bool CPolygonShape::ExportKml(FILE* file) const {
  if (!file || points_.size() < 3) return false;
  std::string text = "<Placemark><name>" + KmlEscape(Name()) + "</name><Style><LineStyle><color>" +
                     KmlColor(line_color) + "</color><width>" + FormatFixed(line_width, 1) +
                     "</width></LineStyle><PolyStyle><color>" + KmlColor(fill_color) + "</color><fill>" +
                     (filled ? "1" : "0") +
                     "</fill></PolyStyle></Style><Polygon><tessellate>1</tessellate><outerBoundaryIs><LinearRing>"
                     "<coordinates>" +
                     KmlCoordinates(points_, true) +
                     "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark>\n";
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

CRegionShape::CRegionShape() : CPolygonShape(kShapeRegion) {
  SetName(kDefaultName);
  line_color = 0xFFFF6000u;
  fill_color = 0x30FF6000u;
}

void CRegionShape::AddPixelPoint(float x, float y) {
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  pixels_.push_back({x, y});
  closed_ = false;
}

const std::vector<ShapePoint>& CRegionShape::ClosePixelRing() {
  if (pixels_.size() > 1 && (pixels_.front().x != pixels_.back().x || pixels_.front().y != pixels_.back().y))
    pixels_.push_back(pixels_.front());
  if (points_.size() > 1 && !(points_.front() == points_.back())) AddPoint(points_.front());
  closed_ = true;
  return points_;
}

void CRegionShape::DrawPixelRing(CGraphics& g) const {
  if (pixels_.size() < 2) return;
  g.DrawLines(Pen{line_color, 2.0f, LineDash::kDash}, pixels_.data(), pixels_.size());
}

}  // namespace velmora

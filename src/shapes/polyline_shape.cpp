// Polylines: drawing along the clipped screen runs, hit testing by distance to the segments,
// KML LineString placemarks and the stored per-point values.
#include "shapes/polyline_shape.h"

#include <algorithm>
#include <cmath>

#include "core/format.h"
#include "platform/gfx/font.h"
#include "platform/gfx/graphics.h"

namespace velmora {
namespace {

// Lines extend this far beyond the window so that wide pens end outside it.
constexpr double kLinePad = 64;

double SegmentDistance(double px, double py, const ScreenPoint& a, const ScreenPoint& b) {
  double dx = b.x - a.x, dy = b.y - a.y;
  double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? std::clamp(((px - a.x) * dx + (py - a.y) * dy) / len2, 0.0, 1.0) : 0.0;
  double ex = a.x + t * dx - px, ey = a.y + t * dy - py;
  return std::sqrt(ex * ex + ey * ey);
}

std::vector<GfxPoint> ToGfx(const std::vector<ScreenPoint>& run) {
  std::vector<GfxPoint> out(run.size());
  for (size_t i = 0; i < run.size(); ++i) out[i] = {float(run[i].x), float(run[i].y)};
  return out;
}

}  // namespace

void CPolylineShape::InitFromContour(const std::string& name, const std::vector<ShapePoint>& points, float level) {
  SetName(name);
  SetPoints(points);
  level_ = level;
  values_.assign(points_.size(), level);
  editable = false;
}

std::vector<std::vector<ScreenPoint>> CPolylineShape::VisibleRuns(const CMapProjector& p) const {
  std::vector<std::vector<ScreenPoint>> all;
  if (!IsShownAtZoom(p.Zoom()) || points_.size() < 2) return all;
  double pad = kLinePad + line_width;
  for (double copy : Copies(p, pad)) {
    auto runs = ScreenRuns(p, copy, pad);
    for (auto& r : runs) all.push_back(std::move(r));
  }
  return all;
}

void CPolylineShape::Draw(CGraphics& g, const CMapProjector& p) const {
  Pen pen{line_color, line_width > 0 ? line_width : 1.0f};
  for (const auto& run : VisibleRuns(p)) {
    std::vector<GfxPoint> pts = ToGfx(run);
    g.DrawLines(pen, pts.data(), pts.size());
  }
}

bool CPolylineShape::HitTest(const CMapProjector& p, double x, double y, double tolerance) const {
  if (!IsShownAtZoom(p.Zoom()) || points_.size() < 2 || !std::isfinite(x) || !std::isfinite(y)) return false;
  double reach = tolerance + line_width / 2;
  const std::vector<double>& n = Normalised(p);
  for (double copy : Copies(p, reach)) {
    ScreenPoint prev{p.ScreenX(n[0], copy), p.ScreenY(n[1])};
    for (size_t i = 1; i < points_.size(); ++i) {
      ScreenPoint cur{p.ScreenX(n[2 * i], copy), p.ScreenY(n[2 * i + 1])};
      // Quick rejection by the segment's box before the distance.
      if (x >= std::min(prev.x, cur.x) - reach && x <= std::max(prev.x, cur.x) + reach &&
          y >= std::min(prev.y, cur.y) - reach && y <= std::max(prev.y, cur.y) + reach &&
          SegmentDistance(x, y, prev, cur) <= reach)
        return true;
      prev = cur;
    }
  }
  return false;
}

bool CPolylineShape::ExportKml(FILE* file) const {
  if (!file || points_.size() < 2) return false;
  std::string text = "<Placemark><name>" + KmlEscape(Name()) + "</name><Style><LineStyle><color>" +
                     KmlColor(line_color) + "</color><width>" + FormatFixed(line_width, 1) +
                     "</width></LineStyle></Style><LineString><tessellate>1</tessellate><coordinates>" +
                     KmlCoordinates(points_, false) + "</coordinates></LineString></Placemark>\n";
  return std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

void CPolylineShape::StoreFields(ArchiveWriter& ar) const {
  ar.F32(level_);
  ar.U32(static_cast<uint32_t>(values_.size()));
  for (float v : values_) ar.F32(v);
}

void CPolylineShape::LoadFields(ArchiveReader& ar, int) {
  level_ = ar.F32();
  uint32_t count = ar.Count(4);
  if (count > kMaxPoints) throw ArchiveError("too many point values");
  values_.resize(count);
  for (float& v : values_) v = ar.F32();
}

void CLabelPolylineShape::Draw(CGraphics& g, const CMapProjector& p) const {
  auto runs = VisibleRuns(p);
  Pen pen{line_color, line_width > 0 ? line_width : 1.0f};
  const std::vector<ScreenPoint>* longest = nullptr;
  double longest_len = 0;
  for (const auto& run : runs) {
    std::vector<GfxPoint> pts = ToGfx(run);
    g.DrawLines(pen, pts.data(), pts.size());
    double len = 0;
    for (size_t i = 1; i < run.size(); ++i) len += std::hypot(run[i].x - run[i - 1].x, run[i].y - run[i - 1].y);
    if (len > longest_len) longest_len = len, longest = &run;
  }
  const std::string& text = label.empty() ? Name() : label;
  if (!longest || text.empty()) return;
  // The label sits at the middle of the longest run, measured along it.
  double half = longest_len / 2, walked = 0;
  ScreenPoint at = longest->front();
  for (size_t i = 1; i < longest->size(); ++i) {
    const ScreenPoint& a = (*longest)[i - 1];
    const ScreenPoint& b = (*longest)[i];
    double len = std::hypot(b.x - a.x, b.y - a.y);
    if (walked + len >= half && len > 0) {
      double t = (half - walked) / len;
      at = {a.x + t * (b.x - a.x), a.y + t * (b.y - a.y)};
      break;
    }
    walked += len;
  }
  CFont font = FontOfStyle(label_style);
  TextExtent e = g.MeasureString(text, font);
  g.DrawString(text, font, label_style.color, float(at.x - e.width / 2), float(at.y - e.height / 2));
}

void CLabelPolylineShape::StoreFields(ArchiveWriter& ar) const {
  CPolylineShape::StoreFields(ar);
  ar.RawString(label);
  label_style.Serialize(ar);
}

void CLabelPolylineShape::LoadFields(ArchiveReader& ar, int schema) {
  CPolylineShape::LoadFields(ar, schema);
  label = ar.RawString();
  label_style.Serialize(ar);
}

}  // namespace velmora

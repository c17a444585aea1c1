// The shape base: points, the stored form, the projection cache, clipping into screen runs,
// the factory and the KML helpers.
#include "shapes/map_shape.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "core/format.h"
#include "platform/gfx/font.h"
#include "shapes/mark_shape.h"
#include "shapes/polygon_shape.h"
#include "shapes/polyline_shape.h"
#include "shapes/sound_shape.h"
#include "shapes/text_shape.h"

namespace velmora {
namespace {

constexpr int32_t kStoredSchema = 1;
// Points closer than this (pixels) to the previous drawn one are skipped.
constexpr double kMinStep = 0.5;

}  // namespace

bool CMapShape::IsValidPoint(float lng, float lat) {
  return std::isfinite(lng) && std::isfinite(lat) && lat >= -90.0f && lat <= 90.0f && lng >= -540.0f &&
         lng <= 540.0f;
}

bool CMapShape::AddPoint(float lng, float lat) {
  if (!IsValidPoint(lng, lat) || points_.size() >= kMaxPoints) return false;
  points_.push_back({lng, lat});
  Touch();
  return true;
}

size_t CMapShape::SetPoints(const std::vector<ShapePoint>& points) {
  std::vector<ShapePoint> kept;
  kept.reserve(std::min(points.size(), kMaxPoints));
  for (const ShapePoint& p : points)
    if (IsValidPoint(p.lng, p.lat) && kept.size() < kMaxPoints) kept.push_back(p);
  size_t refused = points.size() - kept.size();
  points_ = std::move(kept);
  Touch();
  return refused;
}

void CMapShape::GetPoints(std::vector<ShapePoint>& out) const { out.insert(out.end(), points_.begin(), points_.end()); }

void CMapShape::ClearPoints() {
  points_.clear();
  Touch();
}

GeoBox CMapShape::Bounds() const {
  if (bounds_revision_ != revision_) {
    GeoBox box;
    for (const ShapePoint& p : points_) box.Add(p.lng, p.lat);
    bounds_ = box;
    bounds_revision_ = revision_;
  }
  return bounds_;
}

// ---- stored form ------------------------------------------------------------------------------

std::vector<uint8_t> CMapShape::Store() const {
  ArchiveWriter ar;
  ar.Schema(kStoredSchema);
  ar.I32(type_);
  ar.RawString(name_);  // UTF-8 as it is: the database stores UTF-8
  ar.U32(static_cast<uint32_t>(points_.size()));
  for (const ShapePoint& p : points_) {
    ar.F32(p.lng);
    ar.F32(p.lat);
  }
  ar.U32(line_color);
  ar.F32(line_width);
  ar.U32(fill_color);
  ar.U8(filled ? 1 : 0);
  ar.F32(min_zoom);
  ar.F32(max_zoom);
  ar.U8(visible ? 1 : 0);
  ar.U8(editable ? 1 : 0);
  StoreFields(ar);
  return std::move(ar.Bytes());
}

std::unique_ptr<CMapShape> CMapShape::FromStored(int type, const std::vector<uint8_t>& bytes,
                                                 std::string* error, size_t* dropped_points) {
  auto fail = [&](std::string why) -> std::unique_ptr<CMapShape> {
    if (error) *error = std::move(why);
    return nullptr;
  };
  std::unique_ptr<CMapShape> shape = CreateShape(type);
  if (!shape) return fail("no shape has the type " + std::to_string(type));
  try {
    ArchiveReader ar(bytes);
    int schema = ar.Schema(kStoredSchema, kStoredSchema);
    int stored_type = ar.I32();
    if (stored_type != type)
      return fail("the record holds type " + std::to_string(stored_type) + ", the row says " + std::to_string(type));
    shape->name_ = ar.RawString();
    uint32_t count = ar.Count(8);
    if (count > kMaxPoints) return fail("the record holds " + std::to_string(count) + " points");
    shape->points_.reserve(count);
    size_t dropped = 0;
    for (uint32_t i = 0; i < count; ++i) {
      float lng = ar.F32();
      float lat = ar.F32();
      if (IsValidPoint(lng, lat)) {
        shape->points_.push_back({lng, lat});
      } else {
        ++dropped;
      }
    }
    shape->line_color = ar.U32();
    shape->line_width = ar.F32();
    shape->fill_color = ar.U32();
    shape->filled = ar.U8() != 0;
    shape->min_zoom = ar.F32();
    shape->max_zoom = ar.F32();
    shape->visible = ar.U8() != 0;
    shape->editable = ar.U8() != 0;
    if (!std::isfinite(shape->line_width) || shape->line_width < 0 || shape->line_width > 100) shape->line_width = 2.0f;
    if (!std::isfinite(shape->min_zoom)) shape->min_zoom = 0;
    if (!std::isfinite(shape->max_zoom)) shape->max_zoom = 30;
    shape->LoadFields(ar, schema);
    if (dropped_points) *dropped_points = dropped;
  } catch (const ArchiveError& e) {
    return fail(e.what());
  }
  shape->Touch();
  return shape;
}

// ---- projection -------------------------------------------------------------------------------

const std::vector<double>& CMapShape::Normalised(const CMapProjector& p) const {
  if (normalised_kind_ != p.Kind() || normalised_revision_ != revision_ ||
      normalised_.size() != points_.size() * 2) {
    normalised_.resize(points_.size() * 2);
    for (size_t i = 0; i < points_.size(); ++i)
      p.Normalise(points_[i].lng, points_[i].lat, &normalised_[2 * i], &normalised_[2 * i + 1]);
    normalised_kind_ = p.Kind();
    normalised_revision_ = revision_;
  }
  return normalised_;
}

std::vector<double> CMapShape::Copies(const CMapProjector& p, double pad) const {
  std::vector<double> copies;
  GeoBox box = Bounds();
  if (box.Empty() || p.WorldWidth() <= 0) return copies;
  const double u0 = (box.west + 180.0) / 360.0, u1 = (box.east + 180.0) / 360.0;
  const double near = p.NearestCopy((u0 + u1) / 2);
  // A window wider than the world shows it several times; beyond 16 copies nothing is legible.
  for (int k = -8; k <= 8; ++k) {
    double copy = near + k;
    double left = p.ScreenX(u0, copy), right = p.ScreenX(u1, copy);
    if (right >= -pad && left <= p.Width() + pad) copies.push_back(copy);
  }
  return copies;
}

std::vector<std::vector<ScreenPoint>> CMapShape::ScreenRuns(const CMapProjector& p, double copy, double pad) const {
  std::vector<std::vector<ScreenPoint>> runs;
  const std::vector<double>& n = Normalised(p);
  const size_t count = points_.size();
  if (count < 2) return runs;
  const ClipRect rect{-pad, -pad, p.Width() + pad, p.Height() + pad};
  std::vector<ScreenPoint> run;
  bool have_skipped = false;
  ScreenPoint skipped{};
  auto close_run = [&] {
    if (have_skipped) run.push_back(skipped);
    have_skipped = false;
    if (run.size() >= 2) runs.push_back(std::move(run));
    run.clear();
  };
  ScreenPoint prev{p.ScreenX(n[0], copy), p.ScreenY(n[1])};
  for (size_t i = 1; i < count; ++i) {
    ScreenPoint cur{p.ScreenX(n[2 * i], copy), p.ScreenY(n[2 * i + 1])};
    ScreenPoint a = prev, b = cur;
    prev = cur;
    if (!ClipSegment(rect, &a, &b)) {
      close_run();
      continue;
    }
    if (run.empty()) {
      run.push_back(a);
    } else {
      const ScreenPoint& last = have_skipped ? skipped : run.back();
      if (std::fabs(last.x - a.x) > 1e-6 || std::fabs(last.y - a.y) > 1e-6) {
        close_run();  // the segment re-enters the window elsewhere
        run.push_back(a);
      }
    }
    const ScreenPoint& drawn = run.back();
    if (std::fabs(b.x - drawn.x) >= kMinStep || std::fabs(b.y - drawn.y) >= kMinStep) {
      run.push_back(b);
      have_skipped = false;
    } else {
      skipped = b;
      have_skipped = true;
    }
  }
  close_run();
  return runs;
}

std::vector<ScreenPoint> CMapShape::ScreenRing(const CMapProjector& p, double copy, double pad) const {
  const std::vector<double>& n = Normalised(p);
  std::vector<ScreenPoint> ring;
  ring.reserve(std::min<size_t>(points_.size(), 1 << 16));
  for (size_t i = 0; i < points_.size(); ++i) {
    ScreenPoint s{p.ScreenX(n[2 * i], copy), p.ScreenY(n[2 * i + 1])};
    if (!ring.empty() && std::fabs(s.x - ring.back().x) < kMinStep && std::fabs(s.y - ring.back().y) < kMinStep) continue;
    ring.push_back(s);
  }
  if (ring.size() < 3) return {};
  return ClipRing({-pad, -pad, p.Width() + pad, p.Height() + pad}, ring);
}

// ---- factory and helpers ------------------------------------------------------------------------

std::unique_ptr<CMapShape> CreateShape(int type) {
  switch (type) {
    case kShapePolyline: return std::make_unique<CPolylineShape>();
    case kShapeLabelPolyline: return std::make_unique<CLabelPolylineShape>();
    case kShapePolygon: return std::make_unique<CPolygonShape>();
    case kShapeRegion: return std::make_unique<CRegionShape>();
    case kShapeText: return std::make_unique<CTextShape>();
    case kShapeMark: return std::make_unique<CMarkShape>();
    case kShapeSound: return std::make_unique<CSoundShape>();
    default: return nullptr;
  }
}

CFont FontOfStyle(const CTextStyle& style) {
  float size = std::isfinite(style.size) && style.size > 0 ? std::min(style.size, 200.0f) : 12.0f;
  return CFont(style.face, CFont::PointsToPixels(size), style.flags & 0xF);
}

std::string KmlEscape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&apos;"; break;
      default:
        // Control characters other than tab and line ends are not allowed in XML 1.0.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') continue;
        out.push_back(c);
    }
  }
  return out;
}

std::string KmlColor(Argb argb) {
  return FormatC("%02x%02x%02x%02x", ArgbA(argb), ArgbB(argb), ArgbG(argb), ArgbR(argb));
}

std::string KmlCoordinates(const std::vector<ShapePoint>& points, bool close_ring) {
  std::string out;
  out.reserve(points.size() * 24);
  // The shortest decimal that reads back as the same float: 120.1f is "120.1", not "120.099998".
  auto number = [&](float v) {
    char buf[64];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    out.append(buf, ec == std::errc() ? end : buf);
  };
  auto add = [&](const ShapePoint& p) {
    if (!out.empty()) out.push_back(' ');
    number(p.lng);
    out.push_back(',');
    number(p.lat);
    out += ",0";
  };
  for (const ShapePoint& p : points) add(p);
  if (close_ring && points.size() > 1 && !(points.front() == points.back())) add(points.front());
  return out;
}

}  // namespace velmora

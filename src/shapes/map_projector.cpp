// The screen mapping of a map window and the double-precision clipping of shapes.
#include "shapes/map_projector.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora {

void GeoBox::Add(double lng, double lat) {
  if (Empty()) {
    west = east = lng;
    south = north = lat;
    return;
  }
  west = std::min(west, lng);
  east = std::max(east, lng);
  south = std::min(south, lat);
  north = std::max(north, lat);
}

CMapProjector::CMapProjector(int kind, double zoom, double lng, double lat, int width, int height,
                             double shift_x, double shift_y)
    : kind_(kind), zoom_(std::isfinite(zoom) ? zoom : kDefaultMinZoom), width_(std::max(width, 0)),
      height_(std::max(height, 0)), shift_x_(shift_x), shift_y_(shift_y), t_(&TransformsOfKind(kind)) {
  world_w_ = WorldPixels(zoom_);
  world_h_ = world_w_ * t_->height_ratio;
  if (!std::isfinite(lng)) lng = 0;
  if (!std::isfinite(lat)) lat = 0;
  cx_ = t_->lng_to_x(lng, zoom_);
  cx_ = std::fmod(cx_, world_w_);
  if (cx_ < 0) cx_ += world_w_;
  cy_ = std::clamp(t_->lat_to_y(lat, zoom_), 0.0, world_h_);
  centre_lat_ = t_->y_to_lat(cy_, zoom_);
}

void CMapProjector::Normalise(double lng, double lat, double* u, double* v) const {
  *u = (lng + 180.0) / 360.0;
  // lat_to_y is linear in the world size, so zoom 0 (256 pixels) gives the normalised value.
  *v = t_->lat_to_y(lat, 0.0) / kTileSize;
}

double CMapProjector::NearestCopy(double u) const {
  if (!std::isfinite(u) || world_w_ <= 0) return 0;
  return std::round(cx_ / world_w_ - u);
}

PixelPoint CMapProjector::ToScreen(double lng, double lat) const {
  double u, v;
  Normalise(lng, lat, &u, &v);
  return {ScreenX(u, NearestCopy(u)), ScreenY(v)};
}

LngLat CMapProjector::ToLngLat(double x, double y) const {
  double wx = cx_ + (x - shift_x_ - width_ * 0.5);
  double wy = cy_ + (y - shift_y_ - height_ * 0.5);
  if (!std::isfinite(wx)) wx = cx_;
  if (!std::isfinite(wy)) wy = cy_;
  return {t_->x_to_lng(wx, zoom_), t_->y_to_lat(std::clamp(wy, 0.0, world_h_), zoom_)};
}

double CMapProjector::MetresPerPixel() const {
  const double circumference = 2 * std::numbers::pi * kEarthRadiusM;
  return circumference * std::cos(centre_lat_ * std::numbers::pi / 180.0) / world_w_;
}

bool ClipSegment(const ClipRect& r, ScreenPoint* a, ScreenPoint* b) {
  double t0 = 0, t1 = 1;
  double dx = b->x - a->x, dy = b->y - a->y;
  auto edge = [&](double p, double q) {
    if (p == 0) return q >= 0;
    double t = q / p;
    if (p < 0) {
      if (t > t1) return false;
      if (t > t0) t0 = t;
    } else {
      if (t < t0) return false;
      if (t < t1) t1 = t;
    }
    return true;
  };
  if (!edge(-dx, a->x - r.x0) || !edge(dx, r.x1 - a->x) || !edge(-dy, a->y - r.y0) ||
      !edge(dy, r.y1 - a->y))
    return false;
  ScreenPoint start = *a;
  if (t1 < 1) *b = {start.x + t1 * dx, start.y + t1 * dy};
  if (t0 > 0) *a = {start.x + t0 * dx, start.y + t0 * dy};
  return true;
}

std::vector<ScreenPoint> ClipRing(const ClipRect& r, const std::vector<ScreenPoint>& ring) {
  std::vector<ScreenPoint> out = ring, in;
  // One pass per edge: inside(p) and the crossing with the edge's line.
  for (int edge = 0; edge < 4 && !out.empty(); ++edge) {
    in.swap(out);
    out.clear();
    auto inside = [&](const ScreenPoint& p) {
      switch (edge) {
        case 0: return p.x >= r.x0;
        case 1: return p.x <= r.x1;
        case 2: return p.y >= r.y0;
        default: return p.y <= r.y1;
      }
    };
    auto cross = [&](const ScreenPoint& p, const ScreenPoint& q) {
      double t;
      switch (edge) {
        case 0: t = (r.x0 - p.x) / (q.x - p.x); break;
        case 1: t = (r.x1 - p.x) / (q.x - p.x); break;
        case 2: t = (r.y0 - p.y) / (q.y - p.y); break;
        default: t = (r.y1 - p.y) / (q.y - p.y); break;
      }
      return ScreenPoint{p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)};
    };
    for (size_t i = 0; i < in.size(); ++i) {
      const ScreenPoint& p = in[i];
      const ScreenPoint& q = in[(i + 1) % in.size()];
      bool pin = inside(p), qin = inside(q);
      if (pin) out.push_back(p);
      if (pin != qin) out.push_back(cross(p, q));
    }
  }
  return out;
}

}  // namespace velmora

// The 3D tile view's camera, its rays and the tiles in its sight.
#include "terrain/tile_view_camera.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_set>
#include <utility>

#include "core/geodesy.h"
#include "terrain/frustum.h"

namespace velmora {
namespace {

constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
constexpr float kFov = 3.14159265358979323846f / 4;
// Below this length the up vector is taken to lie along the view.
constexpr double kDegenerateUp = 1e-6;

struct V3 {
  double x = 0, y = 0, z = 0;
};
V3 operator-(const V3& a, const V3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
V3 operator+(const V3& a, const V3& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
V3 operator*(const V3& a, double s) { return {a.x * s, a.y * s, a.z * s}; }
double Dot(const V3& a, const V3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
V3 Cross(const V3& a, const V3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Length(const V3& a) { return std::sqrt(Dot(a, a)); }

// LngLatToXYZ in double precision.
V3 Xyz(double lng, double lat, double height_km) {
  const double r = kEarthRadiusKm + height_km;
  const double lo = lng * kDegToRad, la = lat * kDegToRad;
  return {r * std::cos(la) * std::cos(lo), r * std::sin(la), r * std::cos(la) * std::sin(lo)};
}

void SetView(D3DXMATRIX* m, const V3& x, const V3& y, const V3& f, const V3& eye) {
  D3DXMatrixIdentity(m);
  (*m)(0, 0) = float(x.x), (*m)(0, 1) = float(y.x), (*m)(0, 2) = float(f.x);
  (*m)(1, 0) = float(x.y), (*m)(1, 1) = float(y.y), (*m)(1, 2) = float(f.y);
  (*m)(2, 0) = float(x.z), (*m)(2, 1) = float(y.z), (*m)(2, 2) = float(f.z);
  (*m)(3, 0) = float(-Dot(x, eye)), (*m)(3, 1) = float(-Dot(y, eye)), (*m)(3, 2) = float(-Dot(f, eye));
}

double LatLimit(int kind) {
  if (kind == kKindEquirect) return 90.0;
  if (kind == kKindEllipsoidalMercator) return kEllipsoidalMercatorMaxLat;
  return kMercatorMaxLat;
}

}  // namespace

void ClampTileViewCamera(int kind, double* lng, double* lat, double* level) {
  const double raw_lat = *lat;
  const double raw_level = *level;
  if (!std::isfinite(*lng)) *lng = 0;
  // The longitude's wrap into [-180, 180); one already inside keeps its exact value (the wrap's
  // arithmetic would move it by a rounding, and the 2D view's camera comes back unchanged).
  if (*lng < -180.0 || *lng >= 180.0) {
    double unused_lat = 0, unused_level = raw_level;
    ClampViewMercator(*lng, unused_lat, unused_level);
  }
  // Latitudes beyond the map's edge stay at the edge instead of wrapping onto the other
  // hemisphere, and the level stays below 23, the last zoom that tile keys hold.
  if (std::isnan(raw_level) || raw_level < kTileViewMinLevel)
    *level = kTileViewMinLevel;
  else if (raw_level >= 23.0)
    *level = kTileViewMaxLevel;
  else
    *level = raw_level;
  const double limit = LatLimit(kind);
  *lat = std::isnan(raw_lat) ? 0.0 : std::clamp(raw_lat, -limit, limit);
}

double TileViewDistance(double level) {
  return kEarthRadiusKm / std::pow(2.0, level - 4.0) * 0.9587628865979382;
}

TileViewFrame BuildTileViewFrame(const TileViewCamera& camera, float aspect) {
  TileViewFrame frame;
  const double d = TileViewDistance(camera.level);
  const V3 target = Xyz(camera.lng, camera.lat, 0);
  const V3 offset = Xyz(camera.lng + camera.pitch, camera.lat + camera.yaw, 0) * (d / kEarthRadiusKm);
  const V3 eye = target + offset;
  V3 f = target - eye;
  f = f * (1.0 / Length(f));
  // North up; the local north, then the local east, where the view runs along the axis.
  const double lo = camera.lng * kDegToRad, la = camera.lat * kDegToRad;
  const V3 ups[3] = {{0, 1, 0},
                     {-std::sin(la) * std::cos(lo), std::cos(la), -std::sin(la) * std::sin(lo)},
                     {-std::sin(lo), 0, std::cos(lo)}};
  V3 x;
  for (const V3& up : ups) {
    x = Cross(up, f);
    if (Length(x) > kDegenerateUp) break;
  }
  x = x * (1.0 / Length(x));
  const V3 y = Cross(f, x);
  SetView(&frame.view, x, y, f, eye);
  SetView(&frame.view_local, x, y, f, eye - target);
  frame.target[0] = target.x, frame.target[1] = target.y, frame.target[2] = target.z;
  frame.eye[0] = eye.x, frame.eye[1] = eye.y, frame.eye[2] = eye.z;
  frame.right[0] = x.x, frame.right[1] = x.y, frame.right[2] = x.z;
  frame.up[0] = y.x, frame.up[1] = y.y, frame.up[2] = y.z;
  frame.forward[0] = f.x, frame.forward[1] = f.y, frame.forward[2] = f.z;

  const double eye_radius = Length(eye);
  const double height = std::max(0.0, eye_radius - kEarthRadiusKm);
  frame.near_plane = static_cast<float>(std::max(0.001, 0.01 * height));
  frame.far_plane = static_cast<float>(std::max<double>(kTileViewFarKm, eye_radius + kEarthRadiusKm));
  if (!(aspect > 0) || !std::isfinite(aspect)) aspect = 1.0f;
  D3DXMatrixPerspectiveFovLH(&frame.projection, kFov, aspect, frame.near_plane, frame.far_plane);
  return frame;
}

namespace {

// The ray through a window pixel in double precision.
V3 RayDirection(const TileViewFrame& frame, int x, int y, int width, int height) {
  const double w = std::max(1, width), h = std::max(1, height);
  const double vx = (2.0 * x / w - 1.0) / frame.projection(0, 0);
  const double vy = -(2.0 * y / h - 1.0) / frame.projection(1, 1);
  const V3 r{frame.right[0], frame.right[1], frame.right[2]}, u{frame.up[0], frame.up[1], frame.up[2]},
      f{frame.forward[0], frame.forward[1], frame.forward[2]};
  const V3 dir = r * vx + u * vy + f;
  return dir * (1.0 / Length(dir));
}

}  // namespace

void TileViewScreenToRay(const TileViewFrame& frame, int x, int y, int width, int height, D3DXVECTOR3* origin,
                         D3DXVECTOR3* direction) {
  const V3 dir = RayDirection(frame, x, y, width, height);
  *origin = D3DXVECTOR3(float(frame.eye[0]), float(frame.eye[1]), float(frame.eye[2]));
  *direction = D3DXVECTOR3(float(dir.x), float(dir.y), float(dir.z));
}

bool TileViewPickEarth(const TileViewFrame& frame, int x, int y, int width, int height, double* lng, double* lat) {
  const V3 dir = RayDirection(frame, x, y, width, height);
  const V3 o{frame.eye[0], frame.eye[1], frame.eye[2]};
  // |o + t·dir| = R: t² + 2 (o·dir) t + |o|² - R² = 0, the nearer root in front of the eye.
  const double b = Dot(o, dir);
  const double c = Dot(o, o) - kEarthRadiusKm * kEarthRadiusKm;
  const double disc = b * b - c;
  if (!(disc >= 0)) return false;
  const double root = std::sqrt(disc);
  double t = -b - root;
  if (t < 0) t = -b + root;
  if (!(t >= 0)) return false;
  const V3 p = o + dir * t;
  *lng = std::atan2(p.z, p.x) / kDegToRad;
  *lat = std::asin(std::clamp(p.y / Length(p), -1.0, 1.0)) / kDegToRad;
  return std::isfinite(*lng) && std::isfinite(*lat);
}

std::vector<TileKey> ChooseTilesInSight(const TileViewCamera& camera, int width, int height, int kind,
                                        int source_id, size_t max_tiles) {
  std::vector<TileKey> keys;
  if (!(camera.level > kTileViewGlobeLevel) || width <= 0 || height <= 0 || max_tiles == 0) return keys;
  const TileViewFrame frame = BuildTileViewFrame(camera, float(width) / float(height));
  CFrustum frustum;
  frustum.Build(&frame.projection, &frame.view_local);

  const int zoom = std::min(static_cast<int>(camera.level), kMaxKeyZoom);
  const KindTransforms& t = TransformsOfKind(kind);
  const int cx = static_cast<int>(t.lng_to_x(camera.lng, zoom) / kTileSize);
  const int cy = static_cast<int>(t.lat_to_y(camera.lat, zoom) / kTileSize);
  const int64_t n = int64_t(1) << zoom;
  int64_t columns = 0, rows = 0;
  KindTileCount(kind, zoom, &columns, &rows);
  const int hx = static_cast<int>(std::min<int64_t>(width / kTileSize, n) / 2 + 15);
  const int hy = static_cast<int>(std::min<int64_t>(height / kTileSize, n) / 2 + 15);
  const float s = static_cast<float>(kEarthRadiusKm / double(n));
  const V3 target{frame.target[0], frame.target[1], frame.target[2]};
  auto corner_in_sight = [&](double lng, double lat) {
    const V3 p = Xyz(lng, lat, 0) - target;
    return frustum.CubeInFrustum(float(p.x), float(p.y), float(p.z), s);
  };

  std::vector<std::pair<int, TileKey>> found;  // ring about the centre tile, key
  std::unordered_set<TileKey> seen;
  for (int tx = cx - hx; tx <= cx + hx; ++tx) {
    for (int ty = cy - hy; ty <= cy + hy; ++ty) {
      // Rows beyond the world's top or bottom hold no tiles (columns wrap around it).
      if (ty < 0 || ty >= rows) continue;
      const double lon0 = t.x_to_lng(double(kTileSize) * tx, zoom), lat0 = t.y_to_lat(double(kTileSize) * ty, zoom);
      const double lon1 = t.x_to_lng(double(kTileSize) * (tx + 1), zoom),
                   lat1 = t.y_to_lat(double(kTileSize) * (ty + 1), zoom);
      if (!corner_in_sight(lon0, lat0) && !corner_in_sight(lon1, lat0) && !corner_in_sight(lon1, lat1) &&
          !corner_in_sight(lon0, lat1))
        continue;
      const TileKey key = MakeTileKey(tx, ty, TileKeyValue(source_id, zoom));
      if (!seen.insert(key).second) continue;
      found.emplace_back(std::max(std::abs(tx - cx), std::abs(ty - cy)), key);
    }
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  keys.reserve(std::min(found.size(), max_tiles));
  for (size_t i = 0; i < found.size() && i < max_tiles; ++i) keys.push_back(found[i].second);
  return keys;
}

}  // namespace velmora

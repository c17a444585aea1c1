// Sphere geodesy, the projection kinds' pixel transforms, equirectangular metres and the
// zoom/altitude table.
#include "core/geodesy.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace velmora {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegToRad = kPi / 180.0;
constexpr double kRadToDeg = 180.0 / kPi;

// WGS84 first eccentricity.
constexpr double kWgs84Flattening = 1.0 / 298.257223563;
const double kWgs84E = std::sqrt(kWgs84Flattening * (2.0 - kWgs84Flattening));

// Wraps a finite value into [-half, half); NaN and infinities become 0.
double WrapSymmetric(double v, double half) {
  if (!std::isfinite(v)) return 0.0;
  double period = 2.0 * half;
  double r = std::fmod(v + half, period);
  if (r < 0) r += period;
  if (r >= period) r -= period;  // a tiny negative remainder plus the period rounds to it
  return r - half;
}

// x wrapped into [0, world).
double WrapX(double x, double world) {
  double r = std::fmod(x, world);
  if (r < 0) r += world;
  if (r >= world) r -= world;
  return r;
}

double ClampY(double y, double height) {
  if (std::isnan(y)) return y;
  return std::clamp(y, 0.0, height);
}

// Altitude table: T[i] = floor + span·r^i.
constexpr double kAltitudeFloor = 600.0;
constexpr double kAltitudeTop = 20246000.0;
constexpr double kAltitudeSecond = 10123000.0;

constexpr std::array<double, kAltitudeTableSize> MakeAltitudeTable() {
  std::array<double, kAltitudeTableSize> t{};
  const double span = kAltitudeTop - kAltitudeFloor;
  const double r = (kAltitudeSecond - kAltitudeFloor) / span;
  double power = 1.0;
  for (int i = 0; i < kAltitudeTableSize; ++i) {
    t[i] = kAltitudeFloor + span * power;
    power *= r;
  }
  return t;
}
constexpr std::array<double, kAltitudeTableSize> kAltitudeTable = MakeAltitudeTable();

}  // namespace

bool IsValidProjectionKind(int kind) {
  return kind >= kMinProjectionKind && kind <= kMaxProjectionKind;
}

bool IsSphericalMercatorKind(int kind) {
  return kind == 1 || kind == 6 || kind == 8 || kind == 9;
}

double WorldPixels(double zoom) { return kTileSize * std::exp2(zoom); }

// ---- spherical Mercator ---------------------------------------------------------------------

double MercatorLngToX(double lng, double zoom) {
  return WorldPixels(zoom) * (lng + 180.0) / 360.0;
}

double MercatorLatToY(double lat, double zoom) {
  double world = WorldPixels(zoom);
  if (std::isnan(lat)) return lat;
  if (lat >= kMercatorMaxLat) return 0.0;
  if (lat <= -kMercatorMaxLat) return world;
  double s = std::sin(lat * kDegToRad);
  // ln((1 + s)/(1 - s)) = 2·atanh(s)
  double y = (0.5 - std::atanh(s) / (2.0 * kPi)) * world;
  return ClampY(y, world);
}

double MercatorXToLng(double x, double zoom) {
  double world = WorldPixels(zoom);
  return WrapX(x, world) / world * 360.0 - 180.0;
}

double MercatorYToLat(double y, double zoom) {
  double world = WorldPixels(zoom);
  double t = kPi * (1.0 - 2.0 * ClampY(y, world) / world);
  return std::atan(std::sinh(t)) * kRadToDeg;
}

// ---- ellipsoidal Mercator (kind 4) ----------------------------------------------------------

double EllipsoidalMercatorLatToY(double lat, double zoom) {
  double world = WorldPixels(zoom);
  if (std::isnan(lat)) return lat;
  if (lat >= kEllipsoidalMercatorMaxLat) return 0.0;
  if (lat <= -kEllipsoidalMercatorMaxLat) return world;
  double s = std::sin(lat * kDegToRad);
  double psi = std::atanh(s) - kWgs84E * std::atanh(kWgs84E * s);  // isometric latitude
  double y = (0.5 - psi / (2.0 * kPi)) * world;
  return ClampY(y, world);
}

double EllipsoidalMercatorYToLat(double y, double zoom) {
  double world = WorldPixels(zoom);
  double psi = kPi * (1.0 - 2.0 * ClampY(y, world) / world);
  if (std::isnan(psi)) return psi;
  // sin φ = tanh(ψ + e·atanh(e·sin φ)): a contraction by e², converging in a few steps.
  double s = std::tanh(psi);
  for (int i = 0; i < 30; ++i) {
    double next = std::tanh(psi + kWgs84E * std::atanh(kWgs84E * s));
    if (std::fabs(next - s) < 1e-16) {
      s = next;
      break;
    }
    s = next;
  }
  return std::asin(s) * kRadToDeg;
}

// ---- equirectangular (kind 5) ---------------------------------------------------------------

double EquirectLngToX(double lng, double zoom) { return MercatorLngToX(lng, zoom); }

double EquirectLatToY(double lat, double zoom) {
  double height = WorldPixels(zoom) / 2.0;
  if (std::isnan(lat)) return lat;
  return (90.0 - std::clamp(lat, -90.0, 90.0)) / 180.0 * height;
}

double EquirectXToLng(double x, double zoom) { return MercatorXToLng(x, zoom); }

double EquirectYToLat(double y, double zoom) {
  double height = WorldPixels(zoom) / 2.0;
  return 90.0 - ClampY(y, height) / height * 180.0;
}

// ---- kinds ----------------------------------------------------------------------------------

const KindTransforms& TransformsOfKind(int kind) {
  static const KindTransforms mercator{MercatorLngToX, MercatorLatToY,  MercatorXToLng,
                                       MercatorYToLat, 1.0,             kDefaultMinZoom,
                                       kDefaultMaxZoom};
  static const KindTransforms ellipsoidal{MercatorLngToX, EllipsoidalMercatorLatToY,
                                          MercatorXToLng, EllipsoidalMercatorYToLat,
                                          1.0,            kDefaultMinZoom,
                                          kDefaultMaxZoom};
  static const KindTransforms equirect{EquirectLngToX, EquirectLatToY,  EquirectXToLng,
                                       EquirectYToLat, 0.5,             kDefaultMinZoom,
                                       kDefaultMaxZoom};
  switch (kind) {
    case kKindEllipsoidalMercator: return ellipsoidal;
    case kKindEquirect: return equirect;
    default: return mercator;
  }
}

PixelPoint LngLatToPixel(double lng, double lat, int kind, double zoom) {
  const KindTransforms& t = TransformsOfKind(kind);
  return {t.lng_to_x(lng, zoom), t.lat_to_y(lat, zoom)};
}

LngLat PixelToLngLat(double x, double y, int kind, double zoom) {
  const KindTransforms& t = TransformsOfKind(kind);
  return {t.x_to_lng(x, zoom), t.y_to_lat(y, zoom)};
}

PixelPoint KindWorldPixels(int kind, double zoom) {
  double w = WorldPixels(zoom);
  return {w, w * TransformsOfKind(kind).height_ratio};
}

void KindTileCount(int kind, int zoom, int64_t* columns, int64_t* rows) {
  zoom = std::clamp(zoom, 0, 30);
  int64_t n = int64_t{1} << zoom;
  if (columns) *columns = n;
  if (rows) *rows = kind == kKindEquirect ? std::max<int64_t>(1, n / 2) : n;
}

void ClampViewMercator(double& lng, double& lat, double& zoom) {
  lng = WrapSymmetric(lng, 180.0);
  lat = WrapSymmetric(lat, 90.0);
  if (std::isnan(zoom) || zoom < 2.0) zoom = 2.0;
  else if (zoom > 23.0) zoom = 22.9;
}

// ---- distances ------------------------------------------------------------------------------

double GreatCircleDistance(double lng1, double lat1, double lng2, double lat2, double radius) {
  double p1 = lat1 * kDegToRad, p2 = lat2 * kDegToRad;
  double dp = p2 - p1, dl = (lng2 - lng1) * kDegToRad;
  double sp = std::sin(dp / 2), sl = std::sin(dl / 2);
  double a = sp * sp + std::cos(p1) * std::cos(p2) * sl * sl;
  a = std::clamp(a, 0.0, 1.0);
  return 2.0 * std::atan2(std::sqrt(a), std::sqrt(1.0 - a)) * radius;
}

double PolylineLength(std::span<const LngLat> points) {
  double total = 0;
  for (size_t i = 1; i < points.size(); ++i)
    total += GreatCircleDistance(points[i - 1].lng, points[i - 1].lat, points[i].lng, points[i].lat);
  return total;
}

double PolylineLength(const float* lnglat_pairs, size_t count) {
  double total = 0;
  for (size_t i = 1; i < count; ++i) {
    const float* a = lnglat_pairs + 2 * (i - 1);
    const float* b = lnglat_pairs + 2 * i;
    total += GreatCircleDistance(a[0], a[1], b[0], b[1]);
  }
  return total;
}

// ---- 3D frame -------------------------------------------------------------------------------

void LngLatToXYZ(float lng, float lat, float height_km, float* x, float* y, float* z) {
  double r = kEarthRadiusKm + height_km;
  double lo = lng * kDegToRad, la = lat * kDegToRad;
  *x = static_cast<float>(r * std::cos(la) * std::cos(lo));
  *y = static_cast<float>(r * std::sin(la));
  *z = static_cast<float>(r * std::cos(la) * std::sin(lo));
}

void XYZToLngLat(float x, float y, float z, float* lng, float* lat) {
  double h = std::sqrt(double(x) * x + double(z) * z);
  *lng = static_cast<float>(std::atan2(double(z), double(x)) / kDegToRad);
  *lat = static_cast<float>(std::atan2(double(y), h) / kDegToRad);
}

// ---- equirectangular metres -----------------------------------------------------------------

int LngToEquirectMeters(double lng) {
  return static_cast<int>((WrapSymmetric(lng, 180.0) + 180.0) * kMetresPerDegree);
}

int LatToEquirectMeters(double lat) {
  return static_cast<int>((WrapSymmetric(lat, 90.0) + 90.0) * kMetresPerDegree);
}

double LngFromEquirectMeters(int metres) { return metres * kDegreesPerMetre - 180.0; }

double LatFromEquirectMeters(int metres) { return metres * kDegreesPerMetre - 90.0; }

// ---- zoom <-> altitude ----------------------------------------------------------------------

std::span<const double, kAltitudeTableSize> AltitudeTable() { return kAltitudeTable; }

double ZoomToAltitude(float level) {
  constexpr int last = kAltitudeTableSize - 1;
  if (!(level >= kAltitudeTableFirstLevel)) return kAltitudeTop;  // NaN included
  double p = double(level) - kAltitudeTableFirstLevel;
  if (p > last) return kAltitudeFloor;
  int i = static_cast<int>(p);
  if (i >= last) return kAltitudeTable[last];
  double f = p - i;
  double e0 = kAltitudeTable[i] - kAltitudeFloor, e1 = kAltitudeTable[i + 1] - kAltitudeFloor;
  return kAltitudeFloor + e0 * std::pow(e1 / e0, f);
}

double AltitudeToZoom(double altitude) {
  constexpr int last = kAltitudeTableSize - 1;
  if (!(altitude <= kAltitudeTable[1])) return kAltitudeTableFirstLevel;  // NaN included
  if (altitude < kAltitudeTable[last]) return kAltitudeTableFirstLevel + last;
  int i = 1;
  while (i < last - 1 && altitude < kAltitudeTable[i + 1]) ++i;
  double e0 = kAltitudeTable[i] - kAltitudeFloor, e1 = kAltitudeTable[i + 1] - kAltitudeFloor;
  double f = std::log(e0 / (altitude - kAltitudeFloor)) / std::log(e0 / e1);
  return kAltitudeTableFirstLevel + i + f;
}

}  // namespace velmora

// Sphere geodesy.
#include "core/geodesy.h"

#include <cmath>

namespace velmora {

namespace {
constexpr double kDegToRad = 3.14159265358979323846 / 180.0;
}

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

}  // namespace velmora

// Geodesy on the sphere and the projection kinds of the map sources.
#pragma once

namespace velmora {

inline constexpr double kEarthRadiusKm = 6378.137;

// Point on a sphere of radius 6378.137 km (+ height in km): x = (R+h)·cos(lat)·cos(lon),
// y = (R+h)·sin(lat), z = (R+h)·cos(lat)·sin(lon).
void LngLatToXYZ(float lng, float lat, float height_km, float* x, float* y, float* z);
// Longitude and latitude in degrees of the direction of (x, y, z), at any height.
void XYZToLngLat(float x, float y, float z, float* lng, float* lat);

}  // namespace velmora

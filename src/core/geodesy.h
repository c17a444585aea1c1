// Geodesy on the sphere, the 256-pixel tile grids of the map sources' projection kinds, the
// equirectangular metre grid and the zoom <-> eye-altitude table of the earth views.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>

namespace velmora {

inline constexpr double kEarthRadiusKm = 6378.137;
inline constexpr double kEarthRadiusM = 6378137.0;
inline constexpr int kTileSize = 256;
// Latitude at which the spherical Mercator world is square (|y| = pi·R).
inline constexpr double kMercatorMaxLat = 85.05112877980659;
// The same for the ellipsoidal (WGS84) Mercator of kind 4.
inline constexpr double kEllipsoidalMercatorMaxLat = 85.08405905011041;
// Metres per degree along the equator (2·pi·6378137 / 360) and its inverse.
inline constexpr double kMetresPerDegree = 111319.49079327358;
inline constexpr double kDegreesPerMetre = 8.983152841195214e-6;

struct LngLat {
  double lng = 0, lat = 0;
};
struct PixelPoint {
  double x = 0, y = 0;
};

// ---- projection kinds -----------------------------------------------------------------------
// Every map source has a projection kind 1 to 10 that fixes how longitude/latitude map to world
// pixels at a zoom on 256-pixel tiles (pixel x grows east, y grows south, origin at the
// north-west corner of the world):
//   4  ellipsoidal Mercator on the WGS84 ellipsoid (EPSG:3395 grids): the world is square,
//      256·2^zoom pixels, x as in spherical Mercator, y from the ellipsoid's isometric latitude.
//   5  equirectangular (plate carrée, EPSG:4326 grids): 256·2^zoom pixels wide and half as
//      high, so that zoom z has 2^z × 2^(z-1) tiles and the equator's scale matches Mercator's.
//   any other kind (1, 6, 8 and 9 by definition; 2, 3, 7 and 10 as well, since nothing gives
//      them transforms of their own): spherical Web Mercator (EPSG:3857 grids).
enum ProjectionKind : int {
  kKindMercator = 1,
  kKindEllipsoidalMercator = 4,
  kKindEquirect = 5,
};
inline constexpr int kMinProjectionKind = 1;
inline constexpr int kMaxProjectionKind = 10;
inline constexpr double kDefaultMinZoom = 2.0;
inline constexpr double kDefaultMaxZoom = 22.9;

bool IsValidProjectionKind(int kind);
bool IsSphericalMercatorKind(int kind);  // true for 1, 6, 8 and 9

// World width in pixels at a zoom: 256 × 2^zoom (the zoom may be fractional).
double WorldPixels(double zoom);

// Spherical Web Mercator. x = 256·2^zoom·(lng + 180)/360;
// y = (1 - ln((1 + sin φ)/(1 - sin φ))/(2π))·128·2^zoom. Latitudes beyond ±kMercatorMaxLat
// (the poles included) give the world's top or bottom edge, never an infinity.
double MercatorLngToX(double lng, double zoom);
double MercatorLatToY(double lat, double zoom);
// Inverses: x is wrapped into the world first (the map repeats east-west); y beyond the top or
// bottom edge stands for that edge.
double MercatorXToLng(double x, double zoom);
double MercatorYToLat(double y, double zoom);

// Kind 4: ellipsoidal Mercator (x as MercatorLngToX / MercatorXToLng).
double EllipsoidalMercatorLatToY(double lat, double zoom);
double EllipsoidalMercatorYToLat(double y, double zoom);

// Kind 5: equirectangular; y = (90 - lat)/180 · 128·2^zoom.
double EquirectLngToX(double lng, double zoom);
double EquirectLatToY(double lat, double zoom);
double EquirectXToLng(double x, double zoom);
double EquirectYToLat(double y, double zoom);

// The four transforms of a kind and its zoom range, so that a caller can pick them once.
struct KindTransforms {
  double (*lng_to_x)(double lng, double zoom);
  double (*lat_to_y)(double lat, double zoom);
  double (*x_to_lng)(double x, double zoom);
  double (*y_to_lat)(double y, double zoom);
  double height_ratio;  // world height / world width
  double min_zoom;
  double max_zoom;
};
// Unknown kinds get the spherical Mercator transforms.
const KindTransforms& TransformsOfKind(int kind);

// World pixel of a point for a projection kind at a zoom, and back.
PixelPoint LngLatToPixel(double lng, double lat, int kind, double zoom);
LngLat PixelToLngLat(double x, double y, int kind, double zoom);
// World width and height in pixels of a kind at a zoom.
PixelPoint KindWorldPixels(int kind, double zoom);
// Tile columns and rows of a kind at an integer zoom (0 to 30).
void KindTileCount(int kind, int zoom, int64_t* columns, int64_t* rows);

// The view clamp of the Web Mercator kinds, in place: longitude wrapped into [-180, 180) by
// ±360, latitude into [-90, 90) by ±180, a zoom below 2 becomes 2 and one above 23 becomes 22.9.
// A NaN longitude or latitude becomes 0 and a NaN zoom 2, so that a view never takes NaN.
void ClampViewMercator(double& lng, double& lat, double& zoom);

// ---- distances ------------------------------------------------------------------------------
// Great-circle distance between two points on a sphere of the given radius, in the radius's
// unit (kilometres by default; pass kEarthRadiusM for metres). Haversine form, exact for short
// distances and never NaN for antipodes.
double GreatCircleDistance(double lng1, double lat1, double lng2, double lat2,
                           double radius = kEarthRadiusKm);
// Length in kilometres of the polyline through the points.
double PolylineLength(std::span<const LngLat> points);
// The same for `count` points stored as float longitude/latitude pairs (shape point lists).
double PolylineLength(const float* lnglat_pairs, size_t count);

// ---- 3D frame -------------------------------------------------------------------------------
// Point on a sphere of radius 6378.137 km (+ height in km): x = (R+h)·cos(lat)·cos(lon),
// y = (R+h)·sin(lat), z = (R+h)·cos(lat)·sin(lon).
void LngLatToXYZ(float lng, float lat, float height_km, float* x, float* y, float* z);
// Longitude and latitude in degrees of the direction of (x, y, z), at any height.
void XYZToLngLat(float x, float y, float z, float* lng, float* lat);

// ---- equirectangular metres -----------------------------------------------------------------
// (lng + 180) × 111319.49079327358 and (lat + 90) × 111319.49079327358, truncated, after the
// longitude is wrapped into [-180, 180) and the latitude into [-90, 90) as ClampViewMercator does.
int LngToEquirectMeters(double lng);
int LatToEquirectMeters(double lat);
// metres × 8.983152841195214e-6 - 180 (longitude) or - 90 (latitude).
double LngFromEquirectMeters(int metres);
double LatFromEquirectMeters(int metres);

// ---- zoom <-> eye altitude ------------------------------------------------------------------
// Eye altitudes in metres of the earth views for the zoom levels 2 to 21 (20 entries). Above a
// 600-metre floor the altitude halves (very nearly) with each level:
// T[i] = 600 + 20245400·r^i with r = 10122400/20245400, so that level 2 is 20246000 m and
// level 3 10123000 m exactly and the table approaches the floor at its end (level 21: ~638.6 m).
inline constexpr int kAltitudeTableSize = 20;
inline constexpr int kAltitudeTableFirstLevel = 2;
std::span<const double, kAltitudeTableSize> AltitudeTable();
// Altitude for a (fractional) level: below level 2 → 20246000; beyond the table's end (above
// level 21) → 600; in between, geometric interpolation of the height above the floor.
double ZoomToAltitude(float level);
// Level for an altitude: above 10123000 → 2; below the table's last entry → 21; in between,
// the exact inverse of ZoomToAltitude.
double AltitudeToZoom(double altitude);

}  // namespace velmora

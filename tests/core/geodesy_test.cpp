// Geodesy: Mercator pixels, the kind 4 and 5 grids, view clamp, distances, equirectangular
// metres and the zoom/altitude table.
#include "core/geodesy.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include "core/projection.h"

namespace velmora {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Mercator, KnownValuesAtZoom20AndBack) {
  // 256·2^20·300/360 and (1 - ln((1+sin 36°)/(1-sin 36°))/(2π))·128·2^20, computed apart.
  EXPECT_NEAR(MercatorLngToX(120.0, 20), 223696213.33333334, 1e-6);
  EXPECT_NEAR(MercatorLatToY(36.0, 20), 105410771.5825997, 1e-5);
  EXPECT_NEAR(MercatorXToLng(223696213.33333334, 20), 120.0, 1e-9);
  EXPECT_NEAR(MercatorYToLat(105410771.5825997, 20), 36.0, 1e-9);
}

TEST(Mercator, PolesGiveTheWorldEdgesAndTheAntimeridianWraps) {
  double world = WorldPixels(20);
  EXPECT_EQ(MercatorLatToY(90, 20), 0.0);
  EXPECT_EQ(MercatorLatToY(-90, 20), world);
  EXPECT_NEAR(MercatorLatToY(kMercatorMaxLat, 0), 0.0, 1e-9);
  // Pixels above the top or below the bottom stand for that edge, never for the other pole.
  EXPECT_NEAR(MercatorYToLat(-5000, 20), kMercatorMaxLat, 1e-9);
  EXPECT_NEAR(MercatorYToLat(world + 5000, 20), -kMercatorMaxLat, 1e-9);
  EXPECT_TRUE(std::isnan(MercatorLatToY(kNaN, 5)));
  // Across the antimeridian x wraps.
  EXPECT_DOUBLE_EQ(MercatorXToLng(256, 0), -180.0);  // the east edge is the west edge
  EXPECT_NEAR(MercatorXToLng(-1, 0), 180.0 - 360.0 / 256, 1e-12);
  EXPECT_NEAR(MercatorXToLng(3 * 256 + 128, 0), 0.0, 1e-12);
  EXPECT_NEAR(MercatorXToLng(-1e12, 20), MercatorXToLng(std::fmod(-1e12, WorldPixels(20)) + WorldPixels(20), 20), 1e-6);
  EXPECT_TRUE(std::isnan(MercatorXToLng(kNaN, 3)));
}

TEST(Kind4, MatchesPROJEllipsoidalMercator) {
  // The table's Mercator row is exactly the WGS84 ellipsoidal Mercator of kind 4, so PROJ is an
  // independent check: metres = (0.5 - y/world)·2π·a.
  const double circumference = 2 * std::numbers::pi * kEarthRadiusM;
  for (double lat : {-80.0, -36.0, -0.5, 0.0, 12.25, 36.0, 60.0, 84.9}) {
    MercPoint m;
    ASSERT_TRUE(ProjectLonLatToMerc(120.0, lat, &m));
    double y = EllipsoidalMercatorLatToY(lat, 18);
    EXPECT_NEAR((0.5 - y / WorldPixels(18)) * circumference, m.y, 1e-5) << lat;
    EXPECT_NEAR(EllipsoidalMercatorYToLat(y, 18), lat, 1e-10) << lat;
  }
  EXPECT_EQ(EllipsoidalMercatorLatToY(90, 10), 0.0);
  EXPECT_EQ(EllipsoidalMercatorLatToY(-90, 10), WorldPixels(10));
  // The ellipsoid puts 36°N further south on the grid than the sphere does.
  PixelPoint s = LngLatToPixel(120, 36, 1, 20), e = LngLatToPixel(120, 36, 4, 20);
  EXPECT_EQ(s.x, e.x);
  EXPECT_GT(e.y, s.y + 1000);
}

TEST(Kind5, EquirectangularGrid) {
  PixelPoint p = LngLatToPixel(120, 36, 5, 3);
  EXPECT_DOUBLE_EQ(p.x, 2048.0 * 300 / 360);
  EXPECT_DOUBLE_EQ(p.y, 1024.0 * 54 / 180);
  LngLat back = PixelToLngLat(p.x, p.y, 5, 3);
  EXPECT_NEAR(back.lng, 120, 1e-12);
  EXPECT_NEAR(back.lat, 36, 1e-12);
  EXPECT_EQ(LngLatToPixel(0, -90, 5, 0).y, 128.0);
  EXPECT_EQ(PixelToLngLat(0, 999, 5, 0).lat, -90.0);
  int64_t cols = 0, rows = 0;
  KindTileCount(5, 3, &cols, &rows);
  EXPECT_EQ(cols, 8);
  EXPECT_EQ(rows, 4);
  KindTileCount(5, 0, &cols, &rows);
  EXPECT_EQ(rows, 1);  // never half a tile row
}

TEST(Kinds, UnknownKindsFallBackToSphericalMercator) {
  for (int kind : {1, 2, 3, 6, 7, 8, 9, 10, 0, 11, -3}) {
    EXPECT_DOUBLE_EQ(LngLatToPixel(120, 36, kind, 20).y, MercatorLatToY(36, 20)) << kind;
  }
}

TEST(ClampView, WrapsAndClamps) {
  struct Case {
    double lng, lat, zoom, want_lng, want_lat, want_zoom;
  } cases[] = {
      {190, 95, 1, -170, -85, 2},        {-180, -90, 25, -180, -90, 22.9},
      {180, 90, 10, -180, -90, 10},      {-190, -95, 22.95, 170, 85, 22.95},
      {720.5, 180.25, 23, 0.5, 0.25, 23}, {-540, -270, 2, -180, -90, 2},
  };
  for (const Case& c : cases) {
    double lng = c.lng, lat = c.lat, zoom = c.zoom;
    ClampViewMercator(lng, lat, zoom);
    EXPECT_DOUBLE_EQ(lng, c.want_lng) << c.lng;
    EXPECT_DOUBLE_EQ(lat, c.want_lat) << c.lat;
    EXPECT_DOUBLE_EQ(zoom, c.want_zoom) << c.zoom;
  }
  // Huge and non-finite input ends in range at once.
  double lng = 1e300, lat = -kNaN, zoom = kNaN;
  ClampViewMercator(lng, lat, zoom);
  EXPECT_TRUE(lng >= -180 && lng < 180);
  EXPECT_EQ(lat, 0.0);
  EXPECT_EQ(zoom, 2.0);
  double tiny = -1e-18, l2 = 0, z2 = 5;
  ClampViewMercator(tiny, l2, z2);
  EXPECT_TRUE(tiny >= -180 && tiny < 180);  // -1e-18 + 360 must not round to 180
}

TEST(Distance, GreatCircleAndPolylines) {
  // One degree of the equator; a quarter meridian; antipodes (never NaN); the same point.
  EXPECT_NEAR(GreatCircleDistance(0, 0, 1, 0), 111.31949079327358, 1e-9);
  EXPECT_NEAR(GreatCircleDistance(0, 0, 0, 90), kEarthRadiusKm * std::numbers::pi / 2, 1e-9);
  EXPECT_NEAR(GreatCircleDistance(10, 20, -170, -20), kEarthRadiusKm * std::numbers::pi, 1e-6);
  // Across the antimeridian the short way round.
  EXPECT_NEAR(GreatCircleDistance(179.5, 0, -179.5, 0, kEarthRadiusM), 111319.49079327358, 1e-6);
  // Short distances keep their precision: 1e-7° of the equator is about 1.1 cm.
  EXPECT_NEAR(GreatCircleDistance(120, 0, 120 + 1e-7, 0, kEarthRadiusM), 0.0111319490793, 1e-9);
  std::vector<LngLat> line = {{0, 0}, {1, 0}, {1, 1}, {1, 1}};
  EXPECT_NEAR(PolylineLength(line), 2 * 111.31949079327358, 1e-9);
  float pairs[] = {0, 0, 1, 0, 1, 1, 1, 1};
  EXPECT_NEAR(PolylineLength(pairs, 4), 2 * 111.31949079327358, 1e-9);
  EXPECT_EQ(PolylineLength(pairs, 0), 0.0);
}

TEST(Sphere3D, XYZRoundTrip) {
  float x, y, z, lng, lat;
  LngLatToXYZ(120, 36, 1.5f, &x, &y, &z);
  EXPECT_NEAR(std::sqrt(x * x + y * y + z * z), kEarthRadiusKm + 1.5, 1e-3);
  XYZToLngLat(x, y, z, &lng, &lat);
  EXPECT_NEAR(lng, 120, 1e-4);
  EXPECT_NEAR(lat, 36, 1e-4);
}

TEST(EquirectMeters, ForwardWrapAndBack) {
  EXPECT_EQ(LngToEquirectMeters(120), 33395847);
  EXPECT_EQ(LatToEquirectMeters(36), 14026255);
  EXPECT_EQ(LngToEquirectMeters(180), 0);     // wrapped to -180
  EXPECT_EQ(LngToEquirectMeters(480), 33395847);
  EXPECT_EQ(LatToEquirectMeters(90), 0);      // wrapped to -90
  EXPECT_EQ(LngToEquirectMeters(kNaN), LngToEquirectMeters(0));
  // Truncation to whole metres costs up to 1 m (9e-6°).
  EXPECT_NEAR(LngFromEquirectMeters(33395847), 120, 9e-6);
  EXPECT_NEAR(LatFromEquirectMeters(14026255), 36, 9e-6);
}

TEST(Altitude, TableEndsAndInverse) {
  auto table = AltitudeTable();
  ASSERT_EQ(table.size(), 20u);
  EXPECT_DOUBLE_EQ(table[0], 20246000);
  EXPECT_DOUBLE_EQ(table[1], 10123000);
  EXPECT_TRUE(table[19] > 600 && table[19] < 700);
  // Out-of-range and NaN zooms and altitudes clamp to the table's ends.
  EXPECT_DOUBLE_EQ(ZoomToAltitude(-7), 20246000);
  EXPECT_DOUBLE_EQ(ZoomToAltitude(std::numeric_limits<float>::quiet_NaN()), 20246000);
  EXPECT_DOUBLE_EQ(ZoomToAltitude(21), table[19]);
  EXPECT_DOUBLE_EQ(ZoomToAltitude(30), 600);
  EXPECT_EQ(AltitudeToZoom(5e8), 2);
  EXPECT_EQ(AltitudeToZoom(kNaN), 2);
  EXPECT_EQ(AltitudeToZoom(-5), 21);
  double previous = 1e300;
  for (float z = 3.0f; z <= 21.0f; z += 0.125f) {
    double alt = ZoomToAltitude(z);
    EXPECT_LT(alt, previous) << z;
    EXPECT_NEAR(AltitudeToZoom(alt), z, 1e-9) << z;
    previous = alt;
  }
}

}  // namespace
}  // namespace velmora

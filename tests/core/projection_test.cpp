// Coordinate-system table and PROJ transforms: known UTM and Mercator values, refusals that
// leave the points untouched, per-point failures and the per-thread cache.
#include "core/projection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <vector>

#include "core/settings.h"

namespace velmora {
namespace {

TEST(CoordSystems, DefinitionsTakeTheZoneOfTheirSlot) {
  EXPECT_EQ(GetCoordSystem(3), nullptr);
  EXPECT_EQ(GetCoordSystem(-1), nullptr);
  EXPECT_EQ(MakeProjDefinition(2, 7), "+proj=utm +zone=51 +ellps=WGS84 +datum=WGS84");  // the default zone
  ProgramSettings().SetInt("utm84_6", 50);
  EXPECT_EQ(MakeProjDefinition(2, 6), "+proj=utm +zone=50 +ellps=WGS84 +datum=WGS84");
  EXPECT_EQ(MakeProjDefinition(5, 0), "");
}

TEST(Transform, Utm51KnownValueAndBack) {
  ProgramSettings().SetInt("utm84_2", 51);
  double p[3] = {120.0, 36.0, 12.5};
  ASSERT_TRUE(TransformPoints(p, 1, kCoordLonLat, kCoordUtm, false));
  // cs2cs: 229578.629990 3988111.962343
  EXPECT_NEAR(p[0], 229578.6300, 1e-3);
  EXPECT_NEAR(p[1], 3988111.9623, 1e-3);
  EXPECT_DOUBLE_EQ(p[2], 12.5);
  ASSERT_TRUE(TransformPoints(p, 1, kCoordUtm, kCoordLonLat, false));
  EXPECT_NEAR(p[0], 120.0, 1e-9);
  EXPECT_NEAR(p[1], 36.0, 1e-9);

  // The converter uses slots 0 and 1: UTM 50 to UTM 51 moves the easting across the zone edge.
  ProgramSettings().SetInt("utm84_0", 50);
  ProgramSettings().SetInt("utm84_1", 51);
  double q[3] = {120.0, 36.0, 0};
  ASSERT_TRUE(TransformPoints(q, 1, kCoordLonLat, kCoordUtm, false));
  double r[3] = {120.0, 36.0, 0};
  ASSERT_TRUE(TransformPoints(r, 1, kCoordLonLat, kCoordUtm, true));  // lonlat -> slot 1 = 51
  EXPECT_NEAR(r[0], q[0], 1e-6);
  ASSERT_TRUE(TransformPoints(r, 1, kCoordUtm, kCoordLonLat, true));  // slot 0 = 50: wrong zone
  EXPECT_NEAR(r[0], 114.0, 1e-6);  // the point shifts by the 6° between the zones' meridians
}

TEST(Transform, RefusedDefinitionsLeavePointsUnchanged) {
  double p[6] = {120, 36, 0, 121, 37, 5};
  double before[6];
  std::memcpy(before, p, sizeof p);
  for (int zone : {0, 61}) {
    ProgramSettings().SetInt("utm84_1", zone);
    EXPECT_FALSE(TransformPoints(p, 2, kCoordLonLat, kCoordUtm, true));
  }
  ProgramSettings().SetInt("utm84_1", 51);

  EXPECT_FALSE(TransformPoints(p, -4, kCoordLonLat, kCoordUtm, true));
  EXPECT_FALSE(TransformPoints(p, 2, kCoordLonLat, 3, true));
  EXPECT_FALSE(TransformPoints(nullptr, 2, kCoordLonLat, kCoordUtm, true));
  EXPECT_FALSE(TransformDefinitions("+proj=nonsense", "+proj=lonlat +datum=WGS84", p, 2, 3));
  EXPECT_EQ(std::memcmp(p, before, sizeof p), 0);
}

TEST(Transform, BadPointsAreMarkedAndCounted) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  double p[9] = {120, 36, 0, nan, 36, 0, 121, 37, 0};
  int failed = -1;
  EXPECT_FALSE(TransformPoints(p, 3, kCoordLonLat, kCoordMercator, false, &failed));
  EXPECT_EQ(failed, 1);
  EXPECT_EQ(p[3], HUGE_VAL);
  EXPECT_EQ(p[4], HUGE_VAL);
  EXPECT_NEAR(p[0], 13358338.895193, 1e-3);
  EXPECT_NEAR(p[7], 4413389.8887, 1e-3);  // converted despite its neighbour
}

TEST(Transform, MercatorHelpersAndPairs) {
  MercPoint m;
  ASSERT_TRUE(ProjectLonLatToMerc(120, 36, &m));
  EXPECT_NEAR(m.y, 4275504.934233, 1e-3);  // ellipsoidal
  double x = 120, y = 36;
  ASSERT_EQ(LonLatToMercator(&x, &y), 1);
  const double r = 6378137.0, phi = 36 * std::numbers::pi / 180;
  EXPECT_NEAR(x, r * 120 * std::numbers::pi / 180, 1e-6);
  EXPECT_NEAR(y, r * std::log(std::tan(std::numbers::pi / 4 + phi / 2)), 1e-6);  // spherical
  double bad_x = std::numeric_limits<double>::quiet_NaN(), bad_y = 3;
  EXPECT_EQ(LonLatToMercator(&bad_x, &bad_y), 0);
  EXPECT_EQ(bad_y, 3);

  ProgramSettings().SetInt("utm84_2", 51);
  double xy[4] = {120, 36, 123, 30};  // pairs without heights
  ASSERT_TRUE(TransformPoints2(xy, 2, kCoordUtm));
  EXPECT_NEAR(xy[1], 3988111.96, 1e-2);
  EXPECT_NEAR(xy[2], 500000, 1e-6);  // 123° is the zone's central meridian
}

TEST(Transform, ObjectsAreCachedPerDefinitionPair) {
  ReleaseThreadProjCache();
  ProgramSettings().SetInt("utm84_2", 51);
  std::vector<double> pts(3 * 1000);
  for (int i = 0; i < 1000; ++i) {
    pts[3 * i] = 118 + i * 0.005;
    pts[3 * i + 1] = 30 + i * 0.01;
  }
  std::vector<double> copy = pts;
  ASSERT_TRUE(TransformPoints(pts.data(), 1000, kCoordLonLat, kCoordUtm, false));
  for (int round = 0; round < 5; ++round) {
    std::vector<double> work = copy;
    ASSERT_TRUE(TransformPoints(work.data(), 1000, kCoordLonLat, kCoordUtm, false));
    ASSERT_EQ(work, pts);
  }
  EXPECT_EQ(ThreadProjCacheSize(), 1u);
  ProgramSettings().SetInt("utm84_2", 50);
  ASSERT_TRUE(TransformPoints(copy.data(), 1000, kCoordLonLat, kCoordUtm, false));
  EXPECT_EQ(ThreadProjCacheSize(), 2u);
  // A refused pair is remembered too, and not retried on every call.
  ProgramSettings().SetInt("utm84_2", 0);
  EXPECT_FALSE(TransformPoints(copy.data(), 1, kCoordLonLat, kCoordUtm, false));
  EXPECT_FALSE(TransformPoints(copy.data(), 1, kCoordLonLat, kCoordUtm, false));
  EXPECT_EQ(ThreadProjCacheSize(), 3u);
  ProgramSettings().SetInt("utm84_2", 51);
  ReleaseThreadProjCache();
  EXPECT_EQ(ThreadProjCacheSize(), 0u);
}

}  // namespace
}  // namespace velmora

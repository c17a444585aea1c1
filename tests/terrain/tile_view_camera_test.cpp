// The 3D tile view's camera: the eye over the point at the distance of its level, north up; the
// view's clamp; the tiles the frustum picks against sets computed by hand; rays and the point
// under a pixel, exact to centimetres at level 22.9; and cameras at a pole, at levels 2 and 22.9
// and tilted to the horizon, which must give finite matrices and the tile under the point.
#include "terrain/tile_view_camera.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "core/geodesy.h"
#include "terrain/tile_mesh_pool.h"

namespace velmora {
namespace {

constexpr int kSource = 0;

bool Finite(const D3DXMATRIX& m) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (!std::isfinite(m(i, j))) return false;
  return true;
}

// Where a world point lands in a width x height window (pixels, y down).
D3DXVECTOR3 Project(const TileViewFrame& f, double x, double y, double z, int width, int height) {
  const D3DXVECTOR3 p(float(x - f.target[0]), float(y - f.target[1]), float(z - f.target[2]));
  D3DXMATRIX vp;
  D3DXMatrixMultiply(&vp, &f.view_local, &f.projection);
  D3DXVECTOR3 clip;
  D3DXVec3TransformCoord(&clip, &p, &vp);
  return D3DXVECTOR3((clip.x + 1) * 0.5f * width, (1 - clip.y) * 0.5f * height, clip.z);
}

void Xyz(double lng, double lat, double* x, double* y, double* z) {
  const double r = kEarthRadiusKm, lo = lng * 3.14159265358979323846 / 180, la = lat * 3.14159265358979323846 / 180;
  *x = r * std::cos(la) * std::cos(lo);
  *y = r * std::sin(la);
  *z = r * std::cos(la) * std::sin(lo);
}

TEST(TileViewCamera, EyeOverThePointNorthUp) {
  TileViewCamera c;
  c.lng = 116.4, c.lat = 39.9, c.level = 12.3;
  const TileViewFrame f = BuildTileViewFrame(c, 1.5f);
  const double d = kEarthRadiusKm / std::pow(2.0, 12.3 - 4) * 0.9587628865979382;
  EXPECT_NEAR(TileViewDistance(12.3), d, 1e-9);
  const double dx = f.eye[0] - f.target[0], dy = f.eye[1] - f.target[1], dz = f.eye[2] - f.target[2];
  EXPECT_NEAR(std::sqrt(dx * dx + dy * dy + dz * dz), d, 1e-9);
  // The point at the middle, a point north of it above the middle, one east of it to the right.
  double x, y, z;
  Xyz(116.4, 39.9, &x, &y, &z);
  D3DXVECTOR3 s = Project(f, x, y, z, 300, 200);
  EXPECT_NEAR(s.x, 150, 1e-3);
  EXPECT_NEAR(s.y, 100, 1e-3);
  Xyz(116.4, 39.91, &x, &y, &z);
  s = Project(f, x, y, z, 300, 200);
  EXPECT_NEAR(s.x, 150, 0.5);
  EXPECT_LT(s.y, 100);
  Xyz(116.41, 39.9, &x, &y, &z);
  s = Project(f, x, y, z, 300, 200);
  EXPECT_GT(s.x, 150);
  EXPECT_NEAR(s.y, 100, 0.5);
  // Near plane a hundredth of the eye's height, far plane behind the earth.
  EXPECT_NEAR(f.near_plane, 0.01 * d, 1e-3 * d);
  EXPECT_GE(f.far_plane, kTileViewFarKm);
}

TEST(TileViewCamera, TheViewsClamp) {
  auto clamp = [](int kind, double lng, double lat, double level) {
    ClampTileViewCamera(kind, &lng, &lat, &level);
    return std::vector<double>{lng, lat, level};
  };
  EXPECT_EQ(clamp(1, 180.5, 10, 10), (std::vector<double>{-179.5, 10, 10}));
  EXPECT_EQ(clamp(1, -180.0, 10, 10)[0], -180.0);
  EXPECT_NEAR(clamp(1, 0, 90, 10)[1], kMercatorMaxLat, 1e-12);
  EXPECT_NEAR(clamp(1, 0, -120, 10)[1], -kMercatorMaxLat, 1e-12);
  EXPECT_NEAR(clamp(4, 0, 89, 10)[1], kEllipsoidalMercatorMaxLat, 1e-12);
  EXPECT_EQ(clamp(5, 0, 95, 10)[1], 90.0);
  EXPECT_EQ(clamp(1, 0, 0, 1.5)[2], 2.0);
  EXPECT_EQ(clamp(1, 0, 0, 23.0)[2], 22.9);  // zoom 23 has no tile keys
  EXPECT_EQ(clamp(1, 0, 0, 23.1)[2], 22.9);
  EXPECT_EQ(clamp(1, 0, 0, 22.95)[2], 22.95);
  EXPECT_EQ(clamp(1, std::nan(""), std::nan(""), std::nan("")), (std::vector<double>{0, 0, 2}));
  EXPECT_EQ(clamp(1, INFINITY, 0, INFINITY), (std::vector<double>{0, 0, 22.9}));
}

std::set<TileKey> Ring(int cx, int cy, int rx, int ry, int zoom) {
  std::set<TileKey> keys;
  for (int x = cx - rx; x <= cx + rx; ++x)
    for (int y = cy - ry; y <= cy + ry; ++y) keys.insert(MakeTileKey(x, y, TileKeyValue(kSource, zoom)));
  return keys;
}

TEST(TileViewCamera, FrustumPicksTheHandComputedTiles) {
  // Zoom 8 at the equator: tiles of 156.5 km, the eye 382.2 km up, so a square window sees
  // 158.3 km to each side of the point. With the point at the middle of tile (200, 127) the
  // neighbours' near corners (78 km away) are in sight and the next ring's (235 km, even with
  // the corner cubes of 24.9 km) is not: the 3 x 3 tiles about it. A window twice as wide sees
  // 316.6 km left and right: two columns more each side (their near corners at 235 km), not
  // three (391 km).
  TileViewCamera c;
  c.lng = MercatorXToLng(256.0 * 200.5, 8);
  c.lat = MercatorYToLat(256.0 * 127.5, 8);
  c.level = 8.0;
  std::vector<TileKey> keys = ChooseTilesInSight(c, 256, 256, kKindMercator, kSource, 1000);
  EXPECT_EQ(std::set<TileKey>(keys.begin(), keys.end()), Ring(200, 127, 1, 1, 8));
  EXPECT_EQ(keys.size(), 9u);
  EXPECT_EQ(keys.front(), MakeTileKey(200, 127, TileKeyValue(kSource, 8)));  // nearest first
  keys = ChooseTilesInSight(c, 512, 256, kKindMercator, kSource, 1000);
  EXPECT_EQ(std::set<TileKey>(keys.begin(), keys.end()), Ring(200, 127, 2, 1, 8));
  // The nearest ones only when the list is cut.
  keys = ChooseTilesInSight(c, 512, 256, kKindMercator, kSource, 9);
  EXPECT_EQ(std::set<TileKey>(keys.begin(), keys.end()), Ring(200, 127, 1, 1, 8));
  // Another source's keys, and the fraction of the level does not change the zoom.
  c.level = 8.99;
  keys = ChooseTilesInSight(c, 256, 256, kKindMercator, 7, 1000);
  ASSERT_FALSE(keys.empty());
  for (TileKey k : keys) {
    EXPECT_EQ(TileKeySource(k), 7);
    EXPECT_EQ(TileKeyZoom(k), 8);
  }
  // At level 4 the globe shows and no tile; just above, zoom 4 tiles.
  c.level = 4.0;
  EXPECT_TRUE(ChooseTilesInSight(c, 256, 256, kKindMercator, kSource, 1000).empty());
  c.level = 4.1;
  keys = ChooseTilesInSight(c, 256, 256, kKindMercator, kSource, 1000);
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(TileKeyZoom(keys.front()), 4);
  EXPECT_TRUE(ChooseTilesInSight(c, 0, 256, kKindMercator, kSource, 1000).empty());
}

TEST(TileViewCamera, WideWindowsAtLowZoomsWrapColumnsWithoutDuplicates) {
  // Zoom 5 has 32 columns; a window 40 tiles wide asks for 35 columns about the centre.
  TileViewCamera c;
  c.lng = 170, c.lat = 0, c.level = 5.0, c.yaw = 60;
  const std::vector<TileKey> keys = ChooseTilesInSight(c, 256 * 40, 512, kKindMercator, kSource, 5000);
  std::set<TileKey> unique(keys.begin(), keys.end());
  EXPECT_EQ(unique.size(), keys.size());
  for (TileKey k : keys) {
    const TileKeyParts p = SplitTileKey(k);
    EXPECT_LT(p.x, 32);
    EXPECT_LT(p.y, 32);
  }
}

TEST(TileViewCamera, PolesExtremeLevelsAndHorizonKeepTheTileUnderThePoint) {
  struct Case {
    double lng, lat, level;
    float yaw, pitch;
    int kind;
  };
  std::vector<Case> cases;
  for (double level : {4.1, 5.0, 12.5, 18.0, 22.9})
    for (double lat : {90.0, -90.0, 0.0, 45.0})
      for (float yaw : {0.0f, 30.0f, 89.0f, 90.0f, -90.0f, 180.0f})
        for (int kind : {kKindMercator, kKindEquirect}) cases.push_back({179.9, lat, level, yaw, 0.0f, kind});
  cases.push_back({0, 0, 10, 0, 90, kKindMercator});   // looking along the equator
  cases.push_back({0, 0, 10, 90, 0, kKindMercator});   // looking along the axis of the earth
  cases.push_back({45, 89.9, 15, 0, 0, kKindEquirect});
  for (const Case& k : cases) {
    TileViewCamera c;
    c.lng = k.lng, c.lat = k.lat, c.level = k.level, c.yaw = k.yaw, c.pitch = k.pitch;
    ClampTileViewCamera(k.kind, &c.lng, &c.lat, &c.level);
    const TileViewFrame f = BuildTileViewFrame(c, 16.0f / 9.0f);
    SCOPED_TRACE(testing::Message() << "lng " << c.lng << " lat " << c.lat << " level " << c.level << " yaw "
                                    << k.yaw << " pitch " << k.pitch << " kind " << k.kind);
    ASSERT_TRUE(Finite(f.view));
    ASSERT_TRUE(Finite(f.view_local));
    ASSERT_TRUE(Finite(f.projection));
    ASSERT_GT(f.far_plane, f.near_plane);
    const std::vector<TileKey> keys = ChooseTilesInSight(c, 1920, 1080, k.kind, kSource, kTilePoolCap);
    ASSERT_FALSE(keys.empty());
    const int zoom = static_cast<int>(c.level);
    const KindTransforms& t = TransformsOfKind(k.kind);
    int64_t columns, rows;
    KindTileCount(k.kind, zoom, &columns, &rows);
    const int x = static_cast<int>(t.lng_to_x(c.lng, zoom) / 256);
    const int y = std::min<int>(static_cast<int>(t.lat_to_y(c.lat, zoom) / 256), static_cast<int>(rows - 1));
    EXPECT_NE(std::find(keys.begin(), keys.end(), MakeTileKey(x, y, TileKeyValue(kSource, zoom))), keys.end());
  }
  // Level 2 shows the globe whole: the far plane lies behind it.
  TileViewCamera c;
  c.level = 2;
  const TileViewFrame f = BuildTileViewFrame(c, 1.0f);
  const double eye = std::sqrt(f.eye[0] * f.eye[0] + f.eye[1] * f.eye[1] + f.eye[2] * f.eye[2]);
  EXPECT_GE(f.far_plane, eye + kEarthRadiusKm - 1);
  EXPECT_GT(f.near_plane, 0.0f);
  EXPECT_LT(f.near_plane, eye - kEarthRadiusKm);
}

TEST(TileViewCamera, RaysAndThePointUnderAPixel) {
  for (double level : {6.0, 14.5, 22.9}) {
    TileViewCamera c;
    c.lng = -73.9857, c.lat = 40.7484, c.level = level, c.yaw = 5, c.pitch = -3;
    const TileViewFrame f = BuildTileViewFrame(c, 4.0f / 3.0f);
    double lng = 0, lat = 0;
    ASSERT_TRUE(TileViewPickEarth(f, 320, 240, 640, 480, &lng, &lat));
    // Within a centimetre (1e-7 degrees), even with the eye 12 m above the ground.
    EXPECT_NEAR(lng, c.lng, 1e-7) << level;
    EXPECT_NEAR(lat, c.lat, 1e-7) << level;
    double east = 0, north = 0;
    ASSERT_TRUE(TileViewPickEarth(f, 400, 100, 640, 480, &east, &north));
    EXPECT_GT(east, lng);
    EXPECT_GT(north, lat);
    D3DXVECTOR3 origin, dir;
    TileViewScreenToRay(f, 320, 240, 640, 480, &origin, &dir);
    EXPECT_NEAR(D3DXVec3Length(&dir), 1.0f, 1e-5f);
    EXPECT_NEAR(origin.x, f.eye[0], 1e-2);
  }
  // Above the horizon the ray misses the earth.
  TileViewCamera c;
  c.level = 12, c.yaw = 90;
  const TileViewFrame f = BuildTileViewFrame(c, 1.0f);
  double lng, lat;
  EXPECT_FALSE(TileViewPickEarth(f, 50, 0, 100, 100, &lng, &lat));
}

}  // namespace
}  // namespace velmora

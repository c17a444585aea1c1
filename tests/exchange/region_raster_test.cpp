// Region rasterisation: the runs of tiles against a brute-force test of every tile centre for
// concave, self-touching, self-crossing and random polygons (ties on tile centres included),
// both visiting orders, the projection kinds, and a country at high zoom counted from its runs
// without visiting its tiles.
#include "exchange/region_raster.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <utility>
#include <vector>

namespace velmora {
namespace {

// Every tile of the range checked against PointInPolygon on its centre; the count, Contains and
// both visiting orders must agree with it.
void ExpectMatchesBruteForce(const RegionTiles& r, RegionFillRule rule, const char* what) {
  SCOPED_TRACE(what);
  std::set<std::pair<int, int>> brute;
  for (int y = r.y0; y <= r.y1; ++y)
    for (int x = r.x0; x <= r.x1; ++x) {
      bool inside = !r.has_outline || PointInPolygon(r.outline, x + 0.5, y + 0.5, rule);
      EXPECT_EQ(r.Contains(x, y), inside) << x << "," << y;
      if (inside) brute.insert({x, y});
    }
  EXPECT_EQ(r.TileCount(), brute.size());
  std::vector<std::pair<int, int>> by_row, by_column;
  r.ForEachTileByRow([&](int x, int y) { return by_row.emplace_back(x, y), true; });
  r.ForEachTileByColumn([&](int x, int y) { return by_column.emplace_back(x, y), true; });
  std::vector<std::pair<int, int>> expect_row(brute.begin(), brute.end());
  std::sort(expect_row.begin(), expect_row.end(), [](auto a, auto b) { return std::pair(a.second, a.first) < std::pair(b.second, b.first); });
  std::vector<std::pair<int, int>> expect_column(brute.begin(), brute.end());
  EXPECT_EQ(by_row, expect_row);
  EXPECT_EQ(by_column, expect_column);
  // Outside the range nothing belongs.
  EXPECT_FALSE(r.Contains(r.x0 - 1, r.y0));
  EXPECT_FALSE(r.Contains(r.x1 + 1, r.y1));
}

RegionTiles Grid(std::vector<PixelPoint> polygon, RegionFillRule rule, int64_t n = 64) {
  RegionTiles r;
  RegionRasterOptions options;
  options.rule = rule;
  std::string error;
  EXPECT_TRUE(RasterizeTilePolygon(polygon, n, n, &r, &error, options)) << error;
  return r;
}

TEST(RegionRasterTest, ConcaveAndSelfTouchingPolygonsMatchTheBruteForceCount) {
  const std::vector<std::pair<const char*, std::vector<PixelPoint>>> shapes = {
      // A comb: deep notches narrower than a tile and wider than one.
      {"comb", {{2, 2}, {40, 2}, {40, 30}, {33.2, 30}, {33.2, 9}, {32.7, 9}, {32.7, 30}, {20, 30}, {20, 6.5},
                {12, 6.5}, {12, 30}, {2, 30}}},
      // Two squares that touch at one corner (a figure of eight through a point).
      {"touching corner", {{4, 4}, {20, 4}, {20, 20}, {36, 20}, {36, 36}, {20, 36}, {20, 20}, {4, 20}}},
      // A keyhole: an outer square and a hole joined by a cut of zero width.
      {"keyhole", {{3, 3}, {50, 3}, {50, 50}, {3, 50}, {3, 26.5}, {15, 26.5}, {15, 40}, {38, 40}, {38, 13},
                   {15, 13}, {15, 26.5}, {3, 26.5}}},
      // A ring whose edge runs back along itself (a spike).
      {"spike", {{10, 10}, {30, 10}, {30, 20}, {55, 20.5}, {30, 20}, {30, 30}, {10, 30}}},
      // Edges and vertices exactly on tile centres.
      {"on centres", {{0.5, 0.5}, {10.5, 0.5}, {10.5, 7.5}, {5.5, 3.5}, {0.5, 7.5}}},
      // A self-crossing star: the two rules differ in its middle.
      {"pentagram", {{32, 2}, {50.8, 60}, {1.6, 24}, {62.4, 24}, {13.2, 60}}},
  };
  for (const auto& [name, polygon] : shapes) {
    for (RegionFillRule rule : {RegionFillRule::kWinding, RegionFillRule::kEvenOdd}) {
      RegionTiles r = Grid(polygon, rule);
      ASSERT_TRUE(r.has_outline);
      ExpectMatchesBruteForce(r, rule, name);
    }
  }
  // The pentagram's centre: filled by winding, empty by even-odd.
  EXPECT_TRUE(Grid(shapes.back().second, RegionFillRule::kWinding).Contains(31, 33));
  EXPECT_FALSE(Grid(shapes.back().second, RegionFillRule::kEvenOdd).Contains(31, 33));
  // The keyhole's hole stays empty, its ring full.
  RegionTiles keyhole = Grid(shapes[2].second, RegionFillRule::kWinding);
  EXPECT_FALSE(keyhole.Contains(25, 25));
  EXPECT_TRUE(keyhole.Contains(8, 8));
}

TEST(RegionRasterTest, RandomPolygonsWithTiesMatchTheBruteForceCount) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> count(3, 25);
  std::uniform_real_distribution<double> coord(-4, 36);
  std::uniform_int_distribution<int> half(-8, 72);
  for (int i = 0; i < 300; ++i) {
    std::vector<PixelPoint> polygon(count(rng));
    for (PixelPoint& p : polygon) {
      // A third of the polygons lie on half-integers: vertices on centres, edges along rows.
      if (i % 3 == 0) p = {half(rng) * 0.5, half(rng) * 0.5};
      else p = {coord(rng), coord(rng)};
    }
    for (RegionFillRule rule : {RegionFillRule::kWinding, RegionFillRule::kEvenOdd}) {
      RegionTiles r = Grid(polygon, rule, 32);
      ExpectMatchesBruteForce(r, rule, "random");
      if (::testing::Test::HasFailure()) return;
    }
  }
}

TEST(RegionRasterTest, RegionsInLongitudeAndLatitudeForEachProjectionKind) {
  // A concave region around Qingdao at zoom 9.
  const std::vector<LngLatF> region = {{119.2f, 37.1f}, {121.9f, 37.3f}, {121.5f, 35.2f}, {120.4f, 36.3f},
                                       {119.6f, 35.0f}};
  for (int kind : {1, 4, 5}) {
    RegionTiles r;
    ASSERT_TRUE(RasterizeRegionTiles(kind, 9, region, &r));
    EXPECT_EQ(r.kind, kind);
    EXPECT_EQ(r.zoom, 9);
    ASSERT_EQ(r.outline.size(), region.size());
    // The outline is the region in tile units of the kind.
    PixelPoint first = LngLatToPixel(119.2f, 37.1f, kind, 9);
    EXPECT_DOUBLE_EQ(r.outline[0].x, first.x / 256);
    EXPECT_DOUBLE_EQ(r.outline[0].y, first.y / 256);
    EXPECT_EQ(r.x0, static_cast<int>(std::floor(MercatorLngToX(119.2, 9) / 256)));
    ExpectMatchesBruteForce(r, RegionFillRule::kWinding, "qingdao");
    EXPECT_GT(r.TileCount(), 5u);
  }
  // Equirectangular zoom 9 has 256 rows: the same region lies on rows half as far down.
  RegionTiles merc, equi;
  ASSERT_TRUE(RasterizeRegionTiles(1, 9, region, &merc));
  ASSERT_TRUE(RasterizeRegionTiles(5, 9, region, &equi));
  EXPECT_LT(equi.y1, 256);
  EXPECT_EQ(equi.y0, static_cast<int>((90 - 37.3f) / 180 * 256));  // the northernmost point
}

TEST(RegionRasterTest, FewPointsEdgesOfTheWorldAndBadInput) {
  RegionTiles r;
  // Two points: the box of the points, every tile counted.
  const std::vector<LngLatF> two = {{120.0f, 36.48f}, {120.8f, 36.04f}};
  ASSERT_TRUE(RasterizeRegionTiles(1, 12, two, &r));
  EXPECT_FALSE(r.has_outline);
  EXPECT_EQ(r.TileCount(), uint64_t(r.Width()) * uint64_t(r.Height()));
  EXPECT_TRUE(r.Contains(r.x1, r.y0));
  int visited = 0;
  r.ForEachTileByColumn([&](int, int) { return ++visited < 5; });
  EXPECT_EQ(visited, 5);  // a visit stops when asked

  // Beyond the poles and the date line: clamped to the world.
  const std::vector<LngLatF> world = {{-200, 89.9f}, {200, 89.9f}, {200, -89.9f}, {-200, -89.9f}};
  ASSERT_TRUE(RasterizeRegionTiles(1, 3, world, &r));
  EXPECT_EQ(r.TileCount(), 64u);
  ASSERT_TRUE(RasterizeRegionTiles(5, 3, world, &r));
  EXPECT_EQ(r.TileCount(), 32u);
  // Entirely outside the world's columns: nothing.
  const std::vector<LngLatF> east = {{190, 10}, {200, 10}, {195, 20}};
  ASSERT_TRUE(RasterizeRegionTiles(1, 5, east, &r));
  EXPECT_TRUE(r.IsEmpty());
  EXPECT_EQ(r.TileCount(), 0u);

  std::string error;
  EXPECT_FALSE(RasterizeRegionTiles(1, 31, two, &r, &error));
  EXPECT_FALSE(error.empty());
  const std::vector<LngLatF> nan = {{120, 36}, {std::nanf(""), 36}, {121, 37}};
  EXPECT_FALSE(RasterizeRegionTiles(1, 10, nan, &r, &error));
  EXPECT_TRUE(r.spans.empty());
  // A polygon of no area gives no tile.
  const std::vector<LngLatF> line = {{120, 36}, {121, 37}, {122, 38}};
  ASSERT_TRUE(RasterizeRegionTiles(1, 10, line, &r));
  EXPECT_EQ(r.TileCount(), 0u);
  // A run limit refuses a region instead of growing without bound.
  RegionRasterOptions tight;
  tight.max_spans = 10;
  const std::vector<LngLatF> big = {{100, 40}, {110, 40}, {110, 30}, {100, 30}};
  EXPECT_FALSE(RasterizeRegionTiles(1, 12, big, &r, &error, tight));
  EXPECT_NE(error.find("runs"), std::string::npos);
}

// A rough outline of China (about 50 points, anticlockwise from the north-east).
const std::vector<LngLatF>& China() {
  static const std::vector<LngLatF> outline = {
      {135.1f, 48.4f}, {131.0f, 42.6f}, {128.0f, 41.9f}, {124.4f, 40.0f}, {121.2f, 39.0f}, {118.9f, 39.1f},
      {122.5f, 37.4f}, {120.3f, 35.9f}, {119.3f, 34.8f}, {121.9f, 31.7f}, {122.0f, 30.0f}, {120.5f, 27.2f},
      {119.0f, 25.0f}, {116.0f, 22.8f}, {113.5f, 22.2f}, {111.0f, 21.4f}, {110.1f, 20.2f}, {109.5f, 18.2f},
      {108.6f, 19.3f}, {109.8f, 21.5f}, {107.9f, 21.5f}, {106.7f, 22.8f}, {105.3f, 23.3f}, {103.9f, 22.5f},
      {101.8f, 22.4f}, {101.1f, 21.8f}, {99.5f, 22.1f}, {98.7f, 24.1f}, {97.7f, 24.8f}, {98.7f, 27.5f},
      {97.3f, 28.2f}, {96.0f, 29.2f}, {92.5f, 27.8f}, {89.1f, 27.9f}, {86.0f, 27.9f}, {82.0f, 30.0f},
      {79.0f, 31.0f}, {78.5f, 33.0f}, {77.8f, 35.5f}, {74.6f, 37.2f}, {73.5f, 39.5f}, {75.5f, 40.6f},
      {80.0f, 42.1f}, {80.5f, 45.0f}, {82.5f, 45.5f}, {83.0f, 47.2f}, {85.5f, 47.0f}, {87.3f, 49.2f},
      {90.0f, 47.8f}, {91.0f, 45.3f}, {96.3f, 42.7f}, {100.8f, 42.6f}, {105.0f, 41.6f}, {110.4f, 42.8f},
      {111.9f, 45.1f}, {116.0f, 45.7f}, {116.7f, 47.8f}, {119.7f, 49.5f}, {120.8f, 53.3f}, {123.6f, 53.5f},
      {126.0f, 52.8f}, {127.6f, 49.8f}, {130.6f, 48.9f}, {132.5f, 47.7f}, {134.7f, 48.3f}};
  return outline;
}

TEST(RegionRasterTest, ChinaAtHighZoomIsCountedFromRunsNotTiles) {
  RegionTiles r;
  ASSERT_TRUE(RasterizeRegionTiles(1, 18, China(), &r));
  // Some 9.6 million km² in tiles of about 0.125 km at these latitudes: several hundred million.
  uint64_t count = r.TileCount();
  EXPECT_GT(count, 300'000'000u);
  EXPECT_LT(count, 1'200'000'000u);
  // Memory per row: a few runs for each of the rows, not a cell per tile of the box.
  EXPECT_LE(r.spans.size(), size_t(r.Height()) * 8);
  // Every zoom step quadruples the count (within the boundary's share).
  RegionTiles r17;
  ASSERT_TRUE(RasterizeRegionTiles(1, 17, China(), &r17));
  EXPECT_NEAR(static_cast<double>(count) / static_cast<double>(r17.TileCount()), 4.0, 0.01);
  // Zoom 22: over a hundred billion tiles, still only runs per row.
  RegionTiles r22;
  ASSERT_TRUE(RasterizeRegionTiles(1, 22, China(), &r22));
  EXPECT_GT(r22.TileCount(), 50'000'000'000ull);
  EXPECT_TRUE(r22.Contains(static_cast<int>(MercatorLngToX(116.4, 22) / 256),
                           static_cast<int>(MercatorLatToY(39.9, 22) / 256)));  // Beijing
  EXPECT_FALSE(r22.Contains(static_cast<int>(MercatorLngToX(139.7, 22) / 256),
                            static_cast<int>(MercatorLatToY(35.7, 22) / 256)));  // Tokyo
}

}  // namespace
}  // namespace velmora

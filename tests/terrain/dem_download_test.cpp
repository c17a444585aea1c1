// The elevation download's walk: the grid points of squares, boxes, diamonds and concave regions
// against independent integer tests of the same shapes, the refusals, the colours, and the whole
// download against the in-test elevation service (fetched and cached points, quota answers with
// their back-off, a dead service).
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

#include "core/format.h"
#include "core/settings.h"
#include "core/work_thread.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/dem_download.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

// A float longitude (or latitude) whose equirectangular metres are exactly `metres`: floats are
// closer than a metre apart here, so one of the neighbours of the plain conversion hits it.
float AtMetres(int metres, bool lng) {
  float f = static_cast<float>(lng ? LngFromEquirectMeters(metres) : LatFromEquirectMeters(metres));
  auto m = [lng](float v) { return lng ? LngToEquirectMeters(v) : LatToEquirectMeters(v); };
  for (int i = 0; i < 8 && m(f) != metres; ++i) f = std::nextafter(f, m(f) < metres ? 1000.0f : -1000.0f);
  EXPECT_EQ(m(f), metres);
  return f;
}

LngLatF Corner(int x, int y) { return {AtMetres(x, true), AtMetres(y, false)}; }

std::vector<std::pair<int, int>> Walk(const DemWalkPlan& plan) {
  std::vector<std::pair<int, int>> points;
  ForEachDemWalkPoint(plan, [&](const DemWalkPoint& p) {
    EXPECT_EQ(p.x, plan.min_x + p.column * plan.distance);
    EXPECT_EQ(p.y, plan.max_y - p.row * plan.distance);
    points.emplace_back(p.x, p.y);
    return true;
  });
  return points;
}

// The grid points of the plan's box for which `inside` holds, in walk order.
template <class F>
std::vector<std::pair<int, int>> BruteForce(const DemWalkPlan& plan, F inside) {
  std::vector<std::pair<int, int>> points;
  for (int x = plan.min_x; x <= plan.max_x; x += plan.distance)
    for (int y = plan.max_y; y >= plan.min_y; y -= plan.distance)
      if (inside(x, y)) points.emplace_back(x, y);
  return points;
}

const int kX0 = LngToEquirectMeters(116.3), kY0 = LatToEquirectMeters(39.9);

TEST(DemWalkTest, NineKilometreSquareAtNinetyMetresIs101By101AsPolygonAndAsTwoPoints) {
  const std::vector<LngLatF> square = {Corner(kX0, kY0 + 9000), Corner(kX0 + 9000, kY0 + 9000),
                                       Corner(kX0 + 9000, kY0), Corner(kX0, kY0)};
  const std::vector<LngLatF> two = {square[0], square[2]};
  for (const auto* region : {&square, &two}) {
    DemWalkPlan plan;
    ASSERT_TRUE(PlanDemWalk(*region, 90, &plan));
    EXPECT_EQ(plan.columns, 101);
    EXPECT_EQ(plan.rows, 101);
    EXPECT_EQ(plan.has_outline, region->size() > 2);
    const auto points = Walk(plan);
    ASSERT_EQ(points.size(), 101u * 101u);
    // X outer from the west, Y inner from the north: the corners come first and last.
    EXPECT_EQ(points.front(), std::make_pair(kX0, kY0 + 9000));
    EXPECT_EQ(points[100], std::make_pair(kX0, kY0));
    EXPECT_EQ(points.back(), std::make_pair(kX0 + 9000, kY0));
    EXPECT_EQ(std::set(points.begin(), points.end()).size(), points.size());
  }
  // The same square drawn the other way round and with its ring closed walks the same points.
  std::vector<LngLatF> reversed(square.rbegin(), square.rend());
  reversed.push_back(reversed.front());
  DemWalkPlan plan;
  ASSERT_TRUE(PlanDemWalk(reversed, 90, &plan));
  EXPECT_EQ(Walk(plan).size(), 101u * 101u);
}

TEST(DemWalkTest, DiamondsAndConcaveRegionsWalkExactlyTheirPointsBorderIncluded) {
  // A diamond |x - cx| + |y - cy| <= r: its edges run through grid points, which belong to it.
  const int r = 90 * 20, cx = kX0 + r, cy = kY0 + r;
  const std::vector<LngLatF> diamond = {Corner(cx, cy + r), Corner(cx + r, cy), Corner(cx, cy - r), Corner(cx - r, cy)};
  DemWalkPlan plan;
  ASSERT_TRUE(PlanDemWalk(diamond, 90, &plan));
  EXPECT_EQ(Walk(plan), BruteForce(plan, [&](int x, int y) { return std::abs(x - cx) + std::abs(y - cy) <= r; }));
  EXPECT_EQ(Walk(plan).size(), 2u * 21 * 21 - 2 * 21 + 1);

  // An L: the box minus its north-east quarter (the notch's own edges stay in).
  const int s = 90 * 10;
  const std::vector<LngLatF> ell = {Corner(kX0, kY0),         Corner(kX0 + 2 * s, kY0), Corner(kX0 + 2 * s, kY0 + s),
                                    Corner(kX0 + s, kY0 + s), Corner(kX0 + s, kY0 + 2 * s), Corner(kX0, kY0 + 2 * s)};
  ASSERT_TRUE(PlanDemWalk(ell, 90, &plan));
  const auto expected = BruteForce(plan, [&](int x, int y) { return !(x > kX0 + s && y > kY0 + s); });
  EXPECT_EQ(Walk(plan), expected);
  EXPECT_EQ(expected.size(), 21u * 21u - 10u * 10u);

  // A spacing that does not divide the box: the last column and row stop short of the edge.
  ASSERT_TRUE(PlanDemWalk(ell, 700, &plan));
  EXPECT_EQ(plan.columns, 3);
  EXPECT_EQ(Walk(plan), BruteForce(plan, [&](int x, int y) { return !(x > kX0 + s && y > kY0 + s); }));
}

TEST(DemWalkTest, NarrowRegionsOneColumnAndBadRegionsRefused) {
  DemWalkPlan plan;
  const std::vector<LngLatF> narrow = {Corner(kX0, kY0 + 900), Corner(kX0 + 50, kY0 + 900), Corner(kX0 + 50, kY0),
                                       Corner(kX0, kY0)};
  ASSERT_TRUE(PlanDemWalk(narrow, 90, &plan));
  EXPECT_EQ(plan.columns, 1);
  EXPECT_EQ(plan.rows, 11);
  EXPECT_EQ(Walk(plan).size(), 11u);
  const std::vector<LngLatF> one = {Corner(kX0, kY0)};
  ASSERT_TRUE(PlanDemWalk(one, 90, &plan));
  EXPECT_EQ(Walk(plan).size(), 1u);

  DemWalkPlan kept = plan;
  std::string error;
  EXPECT_FALSE(PlanDemWalk({}, 90, &plan, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(PlanDemWalk(narrow, 0, &plan));
  EXPECT_FALSE(PlanDemWalk(narrow, -90, &plan));
  std::vector<LngLatF> bad = narrow;
  bad[2].lat = std::nanf("");
  EXPECT_FALSE(PlanDemWalk(bad, 90, &plan));
  bad[2] = {INFINITY, 39.9f};
  EXPECT_FALSE(PlanDemWalk(bad, 90, &plan));
  EXPECT_EQ(plan.min_x, kept.min_x);
  EXPECT_EQ(plan.PointCount(), kept.PointCount());
}

TEST(DemWalkTest, PositionsAreSnappedToTheSpacingAndColoursFollowTheStatus) {
  float lon = 0, lat = 0;
  DemWalkPosition(kX0 + 45, kY0 + 45, 90, &lon, &lat);
  float raw_lon = static_cast<float>(LngFromEquirectMeters(kX0 + 45));
  float raw_lat = static_cast<float>(LatFromEquirectMeters(kY0 + 45));
  const double raw[2] = {raw_lon, raw_lat};
  CElevationStore::NormalizePosition(&raw_lon, &raw_lat, 90);
  EXPECT_EQ(lon, raw_lon);
  EXPECT_EQ(lat, raw_lat);
  // Snapped down by less than one 90 m step (and a float's rounding).
  constexpr double kStepDeg = 90 / 111319.49079327358, kFloatSlack = 1e-5;
  EXPECT_LE(lon, raw[0] + kFloatSlack);
  EXPECT_LT(raw[0] - lon, kStepDeg + kFloatSlack);
  EXPECT_LT(raw[1] - lat, kStepDeg + kFloatSlack);
  EXPECT_EQ(DemDownloadColor(kElevOverQuota), 0xFFFFFF00u);
  EXPECT_EQ(DemDownloadColor(kElevFetched), 0xFF00FF00u);
  EXPECT_EQ(DemDownloadColor(kElevFound), 0xFF0000FFu);
  for (int s : {0, 1, 2, 3, 7}) EXPECT_EQ(DemDownloadColor(s), 0xFFFF0000u);
}

}  // namespace
}  // namespace velmora

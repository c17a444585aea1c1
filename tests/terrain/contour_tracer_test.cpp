// CContourTracer on a steep plane and at saddles and nodes on a level, on random grids (walks end,
// every crossing used exactly once, vertices on their level), with holes, and its level choice.
// Smooth surfaces are compared with GDAL's contours in contour_gdal_test.
#include "terrain/contour_tracer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <set>
#include <tuple>

namespace velmora {
namespace {

// Fills the tracer with f(x, y) over the given world box at nx x ny nodes.
void Fill(CContourTracer& t, int nx, int ny, double x0, double x1, double y0, double y1,
          const std::function<double(double, double)>& f) {
  ASSERT_TRUE(t.AllocGrid(ny, nx));
  t.x_range = {x0, x1};
  t.y_range = {y0, y1};
  t.z_range = {std::numeric_limits<double>::max(), -std::numeric_limits<double>::max()};
  for (int r = 0; r < ny; ++r) {
    for (int c = 0; c < nx; ++c) {
      double x = x0 + (x1 - x0) * c / (nx - 1);
      double y = y0 + (y1 - y0) * r / (ny - 1);
      float v = static_cast<float>(f(x, y));
      t.Value(r, c) = v;
      t.z_range.min = std::min(t.z_range.min, static_cast<double>(v));
      t.z_range.max = std::max(t.z_range.max, static_cast<double>(v));
    }
  }
}

// Traces exactly the given levels (one list each).
void TraceLevels(CContourTracer& t, std::initializer_list<float> levels) {
  t.Free();
  for (float level : levels) {
    t.BeginLevel(level);
    t.MarkCrossings();
    t.TraceOpen();
    t.TraceClosed();
  }
}

bool OnBox(const ContourPoint& p, double x0, double x1, double y0, double y1) {
  const double e = 1e-5;
  return std::fabs(p.x - x0) < e || std::fabs(p.x - x1) < e || std::fabs(p.y - y0) < e || std::fabs(p.y - y1) < e;
}

TEST(ContourTracer, SteepPlaneWithWholeHeightsGivesOneFullLinePerLevel) {
  // Heights 0, 40, 80, ... by column: every level is a whole number and each tenth level runs
  // exactly through a column of nodes. Each keeps its nominal value and spans the grid bottom to
  // top; lines must neither break nor vanish when many levels cross one cell.
  CContourTracer t;
  Fill(t, 30, 12, 0, 29, 0, 11, [](double x, double) { return 40.0 * x; });
  ASSERT_EQ(t.TraceContourLevels(4.0), ContourStatus::kOk);
  ASSERT_EQ(t.LineSet().GetSize(), 290u);
  for (size_t k = 0; k < t.LineSet().GetSize(); ++k) {
    const CContourLineList& list = t.LineSet()[k];
    if (k == 0) {
      EXPECT_TRUE(list.IsEmpty());  // level 0: every node is at or above it
      continue;
    }
    ASSERT_EQ(list.GetCount(), 1u) << "level index " << k;
    const ContourLine& line = list[0];
    EXPECT_EQ(line.level, 4.0f * k);
    ASSERT_EQ(line.points.size(), 12u);
    float ymin = std::min(line.points.front().y, line.points.back().y);
    float ymax = std::max(line.points.front().y, line.points.back().y);
    EXPECT_EQ(ymin, 0.0f);
    EXPECT_EQ(ymax, 11.0f);
    for (const ContourPoint& p : line.points) EXPECT_NEAR(p.x, line.level / 40.0, 1e-5);
  }
}

TEST(ContourTracer, NodeEqualToTheLevelCountsAsAbove) {
  CContourTracer t;
  // 2 x 2 with one node at the level and the rest above: no crossing at all.
  Fill(t, 2, 2, 0, 1, 0, 1, [](double x, double y) { return x + y > 0 ? 11.0 : 10.0; });
  TraceLevels(t, {10.0f});
  EXPECT_TRUE(t.LineSet()[0].IsEmpty());
  // A single peak exactly at the level is a point, not a line.
  Fill(t, 3, 3, 0, 2, 0, 2, [](double x, double y) { return x == 1 && y == 1 ? 5.0 : 0.0; });
  TraceLevels(t, {5.0f, 2.5f});
  EXPECT_TRUE(t.LineSet()[0].IsEmpty());
  ASSERT_EQ(t.LineSet()[1].GetCount(), 1u);
  EXPECT_EQ(t.LineSet()[1][0].points.size(), 5u);  // a diamond, closed

  // On a saddle x² - y², level 0 runs through the centre node: the diagonals meet there and the
  // lines still end on the border.
  Fill(t, 41, 41, -1, 1, -1, 1, [](double x, double y) { return x * x - y * y; });
  TraceLevels(t, {0.0f});
  ASSERT_EQ(t.LineSet()[0].GetCount(), 2u);
  for (const auto& line : t.LineSet()[0]) {
    EXPECT_TRUE(OnBox(line->points.front(), -1, 1, -1, 1));
    EXPECT_TRUE(OnBox(line->points.back(), -1, 1, -1, 1));
    for (const ContourPoint& p : line->points) EXPECT_NEAR(std::fabs(p.x), std::fabs(p.y), 1e-5);
  }
}

TEST(ContourTracer, SaddleTieTakesSideAWhenTheCurrentEdgeIsCrossedMidway) {
  CContourTracer t;
  // 0 2 / 2 0 at level 1: both sides cross at 0.5 and so does the bottom edge.
  Fill(t, 2, 2, 0, 1, 0, 1, [](double x, double y) { return (x + y == 1) ? 2.0 : 0.0; });
  TraceLevels(t, {1.0f});
  const CContourLineList& list = t.LineSet()[0];
  ASSERT_EQ(list.GetCount(), 2u);
  EXPECT_EQ(list[0].points, (std::vector<ContourPoint>{{0.5f, 0.0f}, {0.0f, 0.5f}}));
  EXPECT_EQ(list[1].points, (std::vector<ContourPoint>{{0.5f, 1.0f}, {1.0f, 0.5f}}));
}

// Which edge a vertex lies on, for a grid with unit spacing from (0, 0): (row, column, horizontal).
std::tuple<int, int, bool> EdgeOf(const ContourPoint& p) {
  bool horizontal = p.y == std::floor(p.y);
  if (horizontal && p.x == std::floor(p.x)) return {-1, -1, true};  // a node: ambiguous
  return horizontal ? std::tuple{static_cast<int>(p.y), static_cast<int>(std::floor(p.x)), true}
                    : std::tuple{static_cast<int>(std::floor(p.y)), static_cast<int>(p.x), false};
}

TEST(ContourTracer, RandomGridsUseEveryCrossingOnceAndStayOnTheirLevel) {
  std::mt19937 rng(20240611);
  for (int round = 0; round < 30; ++round) {
    const bool whole = round % 3 == 2;  // whole numbers: many nodes equal to a level
    // Positions are floats: small grids keep their rounding below the 1e-5 the check allows.
    const int nx = 5 + static_cast<int>(rng() % (whole ? 8 : 40));
    const int ny = 5 + static_cast<int>(rng() % (whole ? 8 : 40));
    std::uniform_real_distribution<double> u(0, 1);
    CContourTracer t;
    ASSERT_TRUE(t.AllocGrid(ny, nx));
    t.x_range = {0, static_cast<double>(nx - 1)};
    t.y_range = {0, static_cast<double>(ny - 1)};
    t.z_range = {0, whole ? 10.0 : 1.0};
    for (int r = 0; r < ny; ++r) {
      for (int c = 0; c < nx; ++c) t.Value(r, c) = static_cast<float>(whole ? std::floor(10 * u(rng)) : u(rng));
    }
    ASSERT_EQ(t.TraceContourLevels(whole ? 1.0 : 0.07), ContourStatus::kOk);
    for (const auto& list : t.LineSet()) {
      std::set<std::tuple<int, int, bool>> used;
      for (const auto& line : *list) {
        const float level = line->level;
        ASSERT_GE(line->points.size(), 2u);
        const ContourPoint& first = line->points.front();
        const ContourPoint& last = line->points.back();
        const bool open = OnBox(first, 0, nx - 1, 0, ny - 1);
        if (open) {
          EXPECT_TRUE(OnBox(last, 0, nx - 1, 0, ny - 1)) << "open line ends inside the grid";
        } else {
          EXPECT_EQ(first, last) << "closed line does not end on its first point";
        }
        for (size_t k = 0; k < line->points.size(); ++k) {
          const ContourPoint& p = line->points[k];
          auto [r, c, horizontal] = EdgeOf(p);
          if (r < 0) {
            ASSERT_TRUE(whole);
            EXPECT_EQ(t.Value(static_cast<int>(p.y), static_cast<int>(p.x)), level);
            continue;
          }
          float a = t.Value(r, c);
          float b = horizontal ? t.Value(r, c + 1) : t.Value(r + 1, c);
          double f = horizontal ? p.x - c : p.y - r;
          EXPECT_NEAR(a + f * (b - a), level, 1e-5);
          EXPECT_NE(a >= level, b >= level);
          if (!open && k + 1 == line->points.size()) continue;  // the closing repeat
          if (!whole) {
            EXPECT_TRUE(used.insert({r, c, horizontal}).second) << "crossing used twice";
          }
        }
      }
      if (whole || list->IsEmpty()) continue;
      // Every crossing of the level was used.
      const float level = (*list)[0].level;
      size_t crossings = 0;
      for (int r = 0; r < ny; ++r) {
        for (int c = 0; c < nx; ++c) {
          if (c + 1 < nx && (t.Value(r, c) >= level) != (t.Value(r, c + 1) >= level)) ++crossings;
          if (r + 1 < ny && (t.Value(r, c) >= level) != (t.Value(r + 1, c) >= level)) ++crossings;
        }
      }
      EXPECT_EQ(used.size(), crossings);
    }
  }
}

TEST(ContourTracer, HolesOfNaNEndLinesWithoutHarm) {
  CContourTracer t;
  Fill(t, 30, 30, 0, 29, 0, 29, [](double x, double y) { return std::hypot(x - 14.5, y - 14.5); });
  t.Value(10, 14) = std::numeric_limits<float>::quiet_NaN();
  t.Value(20, 3) = std::numeric_limits<float>::quiet_NaN();
  ASSERT_EQ(t.TraceContourLevels(2.0), ContourStatus::kOk);
  EXPECT_GT(t.LineSet().LineCount(), 5u);
  for (const auto& list : t.LineSet()) {
    for (const auto& line : *list) {
      for (const ContourPoint& p : line->points) ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
    }
  }
}

TEST(ContourTracer, TinyAndRefusedGrids) {
  CContourTracer t;
  for (auto [rows, cols] : {std::pair{0, 0}, std::pair{1, 10}, std::pair{10, 1}}) {
    ASSERT_TRUE(t.AllocGrid(rows, cols));
    t.z_range = {-5, 5};
    t.x_range = {0, 1};
    t.y_range = {0, 1};
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) t.Value(r, c) = static_cast<float>(r - c);
    }
    ASSERT_EQ(t.TraceContourLevels(1.0), ContourStatus::kOk);
    EXPECT_EQ(t.LineSet().LineCount(), 0u);
  }
  EXPECT_FALSE(t.AllocGrid(-1, 5));
  EXPECT_FALSE(t.AllocGrid(1 << 20, 1 << 20));
  EXPECT_EQ(t.nx(), 0);
  t.Reset();
  EXPECT_EQ(t.ny(), 0);
  EXPECT_EQ(t.LineSet().GetSize(), 0u);
}

TEST(ContourTracer, LevelsStartAtTheMultipleBelowZmin) {
  CContourTracer t;
  Fill(t, 3, 3, 0, 1, 0, 1, [](double x, double y) { return -123.4 + 100 * (x + y); });
  t.z_range = {-123.4, 76.6};
  ASSERT_EQ(t.TraceContourLevels(10.0), ContourStatus::kOk);
  ASSERT_EQ(t.LineSet().GetSize(), 21u);  // -130 ... 70
  EXPECT_TRUE(t.LineSet()[0].IsEmpty());   // below every value
  EXPECT_EQ(t.LineSet()[1][0].level, -120.0f);
  t.z_range = {120, 150};
  ASSERT_EQ(t.TraceContourLevels(10.0), ContourStatus::kOk);
  EXPECT_EQ(t.LineSet().GetSize(), 3u);  // 120, 130, 140
  // Many small steps: each level is start + k·interval, never a drifting running sum.
  t.z_range = {0, 1000};
  ASSERT_EQ(t.TraceContourLevels(0.1), ContourStatus::kOk);
  ASSERT_EQ(t.LineSet().GetSize(), 10000u);
}

TEST(ContourTracer, IntervalChoiceAndRefusals) {
  CContourTracer t;
  Fill(t, 5, 5, 0, 4, 0, 4, [](double x, double y) { return x * y; });
  t.z_range = {0, 16};
  EXPECT_EQ(t.ComputeContourInterval(0, 2.5), 2.5);
  EXPECT_EQ(t.ComputeContourInterval(1, 8), 2.0);
  EXPECT_EQ(t.ComputeContourInterval(1, 0), 0.0);  // no count
  EXPECT_EQ(t.ComputeContourInterval(0, -3), 0.0);
  EXPECT_EQ(t.ComputeContourInterval(0, std::nan("")), 0.0);
  ASSERT_EQ(t.TraceContourLevels(4.0), ContourStatus::kOk);
  const size_t lines = t.LineSet().LineCount();
  ASSERT_GT(lines, 0u);
  // Each refusal keeps the previous lines.
  EXPECT_EQ(t.TraceContourLevels(0.0), ContourStatus::kBadInterval);
  EXPECT_EQ(t.TraceContourLevels(-1.0), ContourStatus::kBadInterval);
  EXPECT_EQ(t.TraceContourLevels(std::numeric_limits<double>::infinity()), ContourStatus::kBadInterval);
  EXPECT_EQ(t.TraceContourLevels(1e-9), ContourStatus::kTooManyLevels);
  t.z_range = {1e7, 1e7 + 10};
  EXPECT_EQ(t.TraceContourLevels(1e-3), ContourStatus::kIntervalTooFine);
  t.z_range = {0, std::nan("")};
  EXPECT_EQ(t.TraceContourLevels(1.0), ContourStatus::kBadInterval);
  EXPECT_EQ(t.LineSet().LineCount(), lines);
  // Equal ends of the z range give no interval by count.
  t.z_range = {7, 7};
  EXPECT_EQ(t.ComputeContourInterval(1, 10), 0.0);
}

}  // namespace
}  // namespace velmora

// CContourGrid on analytic surfaces and random grids, its smoothing, its refusals, and the joining
// step against a direct scan of every pair.
#include "terrain/contour_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <tuple>

namespace velmora {
namespace {

constexpr double kPi = 3.14159265358979323846;

void Fill(CContourGrid& g, int nx, int ny, const std::function<double(double, double)>& f) {
  ASSERT_TRUE(g.Allocate(nx, ny));
  float lo = std::numeric_limits<float>::max();
  float hi = -lo;
  for (int r = 0; r < ny; ++r) {
    for (int c = 0; c < nx; ++c) {
      float v = static_cast<float>(f(c, r));
      g.Value(r, c) = v;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  g.SetValueRange(lo, hi);
}

double Length(const ContourLine& line) {
  double sum = 0;
  for (size_t k = 1; k < line.points.size(); ++k) {
    sum += std::hypot(line.points[k].x - line.points[k - 1].x, line.points[k].y - line.points[k - 1].y);
  }
  return sum;
}

std::map<float, std::vector<const ContourLine*>> ByLevel(const CContourGrid& g) {
  std::map<float, std::vector<const ContourLine*>> out;
  for (const auto& line : g.Lines()) out[line->level].push_back(line.get());
  return out;
}

bool OnGridBorder(const ContourPoint& p, int nx, int ny) {
  return p.x == 0 || p.y == 0 || p.x == nx - 1 || p.y == ny - 1;
}

TEST(ContourGrid, SteepPlaneGivesOneFullLineForEveryLevel) {
  // Ten levels cross every cell, and every tenth one runs through a column of nodes.
  CContourGrid g;
  Fill(g, 30, 20, [](double x, double) { return 10 * x; });
  ASSERT_EQ(g.Compute(1), ContourStatus::kOk);
  auto levels = ByLevel(g);
  ASSERT_EQ(levels.size(), 289u);  // 1 ... 289; level 0 has every node at or above it
  float expected = 1;
  for (const auto& [level, lines] : levels) {
    EXPECT_EQ(level, expected++);
    ASSERT_EQ(lines.size(), 1u) << "level " << level;
    const ContourLine& line = *lines[0];
    ASSERT_EQ(line.points.size(), 20u) << "level " << level;
    EXPECT_EQ(std::min(line.points.front().y, line.points.back().y), 0.0f);
    EXPECT_EQ(std::max(line.points.front().y, line.points.back().y), 19.0f);
    for (const ContourPoint& p : line.points) EXPECT_NEAR(p.x, level / 10, 1e-5);
  }
}

TEST(ContourGrid, ConeGivesClosedRingsOfTheRightLength) {
  CContourGrid g;
  Fill(g, 101, 101, [](double x, double y) { return 50 - std::hypot(x - 50, y - 50); });
  ASSERT_EQ(g.Compute(5), ContourStatus::kOk);
  int rings = 0;
  for (const auto& [level, lines] : ByLevel(g)) {
    double radius = 50 - level;
    if (radius >= 49) continue;
    ASSERT_EQ(lines.size(), 1u) << "level " << level;
    ++rings;
    // Closed by repeating the first point (the ring is alone in its level: the joining step,
    // which would repeat it once more, has nothing to do).
    const auto& p = lines[0]->points;
    ASSERT_GE(p.size(), 3u);
    EXPECT_EQ(p[p.size() - 1], p[0]);
    EXPECT_FALSE(p[p.size() - 2] == p[0]);
    EXPECT_NEAR(Length(*lines[0]), 2 * kPi * radius, 0.01 * 2 * kPi * radius) << "level " << level;
  }
  // Radii 45.7 down to 5.7; the ring of radius 0.7 has only three points and is dropped.
  EXPECT_EQ(rings, 9);
  EXPECT_EQ(g.Lines().back()->level, g.lowest() + 65.0f);
}

TEST(ContourGrid, GaussianBumpsMergeBelowTheirPass) {
  CContourGrid g;
  auto f = [](double x, double y) {
    return 100 * std::exp(-((x - 45) * (x - 45) + (y - 40) * (y - 40)) / 200) +
           100 * std::exp(-((x - 75) * (x - 75) + (y - 40) * (y - 40)) / 200);
  };
  Fill(g, 121, 81, f);
  g.SetValueRange(20, 90);  // levels 20 and 80; the pass lies near 65
  ASSERT_EQ(g.Compute(60), ContourStatus::kOk);
  auto levels = ByLevel(g);
  ASSERT_EQ(levels[20].size(), 1u);
  ASSERT_EQ(levels[80].size(), 2u);
  // The joining step closes the first ring of the level once more; the last one it leaves alone.
  const auto& first = levels[80][0]->points;
  const auto& last = levels[80][1]->points;
  EXPECT_EQ(first[first.size() - 2], first[0]);
  EXPECT_FALSE(last[last.size() - 2] == last[0]);
  for (const auto& line : g.Lines()) {
    EXPECT_EQ(line->points.front(), line->points.back());
    for (const ContourPoint& p : line->points) EXPECT_NEAR(f(p.x, p.y), line->level, 0.25);
  }
}

TEST(ContourGrid, SaddleSurface) {
  CContourGrid g;
  Fill(g, 41, 41, [](double x, double y) { return (x - 20) * (x - 20) - (y - 20) * (y - 20) + 0.5; });
  g.SetValueRange(-299.5, 301);
  ASSERT_EQ(g.Compute(150), ContourStatus::kOk);  // -299.5, -149.5, 0.5, 150.5, 300.5
  for (const auto& [level, lines] : ByLevel(g)) {
    if (level == 0.5f) continue;  // through the saddle point itself
    ASSERT_EQ(lines.size(), 2u) << "level " << level;
    for (const ContourLine* line : lines) {
      EXPECT_TRUE(OnGridBorder(line->points.front(), 41, 41));
      EXPECT_TRUE(OnGridBorder(line->points.back(), 41, 41));
      for (const ContourPoint& p : line->points) {
        EXPECT_NEAR((p.x - 20) * (p.x - 20) - (p.y - 20) * (p.y - 20) + 0.5, level, 0.51);
        // A branch stays on its own side.
        if (level > 0) {
          EXPECT_GT((p.x - 20) * (line->points[0].x - 20), 0);
        } else {
          EXPECT_GT((p.y - 20) * (line->points[0].y - 20), 0);
        }
      }
    }
  }
}

TEST(ContourGrid, LineCuttingACornerStaysOpen) {
  // The corner line's ends are 2.1 units apart, yet both lie on the border: it must not be
  // closed into a loop. A pit far away gives the level a second line, so the joining step runs.
  CContourGrid g;
  Fill(g, 20, 20, [](double x, double y) { return x == 15 && y == 15 ? 0 : x + y; });
  g.SetValueRange(1.5, 2);
  ASSERT_EQ(g.Compute(1), ContourStatus::kOk);
  ASSERT_GE(g.Lines().size(), 1u);
  const auto& p = g.Lines()[0]->points;
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(p.front(), (ContourPoint{1.5f, 0}));
  EXPECT_EQ(p.back(), (ContourPoint{0, 1.5f}));
}

TEST(ContourGrid, RandomGridsKeepEveryVertexOnItsLevelAndUseCrossingsOnce) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<double> u(0, 1);
  for (int round = 0; round < 20; ++round) {
    // Positions are floats: small grids keep their rounding below the 1e-5 the check allows.
    const int nx = 4 + static_cast<int>(rng() % 13);
    const int ny = 4 + static_cast<int>(rng() % 13);
    const bool whole = round % 4 == 3;
    CContourGrid g;
    ASSERT_TRUE(g.Allocate(nx, ny));
    for (int r = 0; r < ny; ++r) {
      for (int c = 0; c < nx; ++c) g.Value(r, c) = static_cast<float>(whole ? std::floor(8 * u(rng)) : 8 * u(rng));
    }
    if (round % 2 == 0) g.Smooth();
    g.SetValueRange(whole ? 0.0f : 0.3f, 8.0f);
    ASSERT_EQ(g.Compute(1), ContourStatus::kOk);
    std::map<float, std::set<std::tuple<int, int, bool>>> used;
    for (const auto& line : g.Lines()) {
      const float level = line->level;
      EXPECT_EQ(level, g.lowest() + std::round(level - g.lowest()));
      const auto& p = line->points;
      ASSERT_GT(p.size(), 3u);
      size_t end = p.size();
      while (end > 1 && p[end - 1] == p[0]) --end;  // closing repeats
      for (size_t k = 0; k < end; ++k) {
        const bool horizontal = p[k].y == std::floor(p[k].y);
        if (horizontal && p[k].x == std::floor(p[k].x)) {  // through a node equal to the level
          ASSERT_TRUE(whole);
          EXPECT_EQ(g.Value(static_cast<int>(p[k].y), static_cast<int>(p[k].x)), level);
          continue;
        }
        const int r = static_cast<int>(std::floor(p[k].y));
        const int c = static_cast<int>(std::floor(p[k].x));
        const float a = g.Value(r, c);
        const float b = horizontal ? g.Value(r, c + 1) : g.Value(r + 1, c);
        const double f = horizontal ? p[k].x - c : p[k].y - r;
        EXPECT_NEAR(a + f * (b - a), level, 1e-5);
        if (!whole) {
          EXPECT_TRUE(used[level].insert({r, c, horizontal}).second) << "crossing used twice";
        }
      }
    }
  }
}

TEST(ContourGrid, SmoothUsesTheAlreadySmoothedNeighbours) {
  CContourGrid g;
  ASSERT_TRUE(g.Allocate(4, 3));
  g.Value(1, 1) = 16;
  g.Value(1, 2) = 32;
  g.Value(0, 3) = 64;  // border nodes stay as they are but feed their neighbours
  g.Smooth();
  // (1,1) = (16·4 + 32·2)/16 = 8; (1,2) = (32·4 + 8·2 + 64)/16 = 13 with the new (1,1).
  EXPECT_EQ(g.Value(1, 1), 8.0f);
  EXPECT_EQ(g.Value(1, 2), 13.0f);
  EXPECT_EQ(g.Value(0, 3), 64.0f);
  EXPECT_EQ(g.Value(0, 0), 0.0f);
}

TEST(ContourGrid, HolesWithoutDataStayHolesAndLinesEndingThereAreKept) {
  // A plane rising to the east with bands of NaN nodes across rows 0-1, 8-11 and 18-19: every
  // line runs from one band to the next and touches no border.
  CContourGrid g;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Fill(g, 40, 20, [](double x, double) { return 10 * x; });
  for (int r : {0, 1, 8, 9, 10, 11, 18, 19})
    for (int c = 0; c < 40; ++c) g.Value(r, c) = nan;
  g.Smooth();
  int holes = 0;
  for (int r = 0; r < 20; ++r) {
    for (int c = 0; c < 40; ++c) {
      holes += std::isnan(g.Value(r, c));
      if (!std::isnan(g.Value(r, c))) {
        EXPECT_FLOAT_EQ(g.Value(r, c), 10.0f * c);  // a plane stays a plane
      }
    }
  }
  EXPECT_EQ(holes, 8 * 40);
  ASSERT_EQ(g.Compute(50), ContourStatus::kOk);
  // Levels 50 ... 350: one line in each of the two bands with data.
  auto levels = ByLevel(g);
  ASSERT_EQ(levels.size(), 7u);
  for (const auto& [level, lines] : levels) {
    ASSERT_EQ(lines.size(), 2u) << level;
    for (const ContourLine* line : lines) {
      for (const ContourPoint& p : line->points) {
        EXPECT_NEAR(p.x, level / 10.0, 1e-4);
        EXPECT_TRUE((p.y >= 2.0f && p.y <= 7.0f) || (p.y >= 12.0f && p.y <= 17.0f)) << "in a hole at " << p.y;
      }
    }
  }
}

TEST(ContourGrid, RefusalsKeepTheOldLines) {
  CContourGrid g;
  Fill(g, 20, 20, [](double x, double y) { return x * y; });
  ASSERT_EQ(g.Compute(50), ContourStatus::kOk);
  const size_t lines = g.Lines().size();
  ASSERT_GT(lines, 0u);
  EXPECT_EQ(g.interval(), 50);
  EXPECT_EQ(g.Compute(0), ContourStatus::kBadInterval);
  EXPECT_EQ(g.Compute(-5), ContourStatus::kBadInterval);
  g.SetValueRange(1e9f, 1e9f + 1000);
  EXPECT_EQ(g.Compute(1), ContourStatus::kIntervalTooFine);
  g.SetValueRange(0, 1e9f);
  EXPECT_EQ(g.Compute(1), ContourStatus::kTooManyLevels);
  g.SetValueRange(0, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(g.Compute(1), ContourStatus::kBadInterval);
  EXPECT_EQ(g.Lines().size(), lines);
  EXPECT_EQ(g.interval(), 50);
  // Too small or refused grids give no lines.
  for (auto [nx, ny] : {std::pair{1, 5}, std::pair{5, 1}, std::pair{0, 0}}) {
    ASSERT_TRUE(g.Allocate(nx, ny));
    g.SetValueRange(0, 10);
    EXPECT_EQ(g.Compute(1), ContourStatus::kOk);
    EXPECT_TRUE(g.Lines().empty());
  }
  EXPECT_FALSE(g.Allocate(1 << 20, 1 << 20));
  EXPECT_FALSE(g.Allocate(-3, 4));
  EXPECT_EQ(g.nx(), 0);
}

// ---- joining ------------------------------------------------------------------------------

std::unique_ptr<ContourLine> Fragment(std::initializer_list<ContourPoint> points) {
  auto line = std::make_unique<ContourLine>();
  line->points = points;
  return line;
}

// The joining step as a direct scan of every later line.
void DirectJoin(std::vector<std::unique_ptr<ContourLine>>& lines, std::vector<uint8_t>& border) {
  auto d = [](const ContourPoint& a, const ContourPoint& b) {
    return std::hypot(static_cast<double>(a.x) - b.x, static_cast<double>(a.y) - b.y);
  };
  size_t i = 0;
  while (lines.size() >= 2 && i < lines.size() - 1) {
    auto& p = lines[i]->points;
    bool joined = false;
    if (!(p.front() == p.back())) {
      for (size_t j = i + 1; j < lines.size() && !joined; ++j) {
        const auto& q = lines[j]->points;
        if (q.front() == q.back()) continue;
        const bool fi = !(border[i] & 1), li = !(border[i] & 2), fj = !(border[j] & 1), lj = !(border[j] & 2);
        if (li && fj && d(p.back(), q.front()) < 4) {
          p.insert(p.end(), q.begin(), q.end());
          border[i] = (border[i] & 1) | (border[j] & 2);
        } else if (li && lj && d(p.back(), q.back()) < 4) {
          p.insert(p.end(), q.rbegin(), q.rend());
          border[i] = (border[i] & 1) | ((border[j] & 1) << 1);
        } else if (fi && fj && d(p.front(), q.front()) < 4) {
          for (const ContourPoint& x : q) p.insert(p.begin(), x);
          border[i] = (border[i] & 2) | ((border[j] >> 1) & 1);
        } else if (fi && lj && d(p.front(), q.back()) < 4) {
          for (size_t k = q.size(); k-- > 0;) p.insert(p.begin(), q[k]);
          border[i] = (border[i] & 2) | (border[j] & 1);
        } else {
          continue;
        }
        lines.erase(lines.begin() + static_cast<long>(j));
        border.erase(border.begin() + static_cast<long>(j));
        joined = true;
      }
    }
    if (!(border[i] & 3) && d(p.front(), p.back()) < 3) {
      p.push_back(p.front());
      ++i;
    } else if (!joined) {
      ++i;
    }
  }
}

TEST(ContourJoin, ClosedBorderAndEarlierLines) {
  std::vector<std::unique_ptr<ContourLine>> lines;
  lines.push_back(Fragment({{0, 0}, {0, 5}}));                       // an earlier level: left alone
  lines.push_back(Fragment({{10, 0}, {10, 5}, {12, 6}}));            // starts on a border edge
  lines.push_back(Fragment({{11, 1}, {11, 2}, {11, 1}}));            // closed: never taken
  lines.push_back(Fragment({{9, 1}, {8, 1}}));                       // near the border start only
  lines.push_back(Fragment({{13, 8}, {14, 4}, {13, 5}}));            // near the free end: taken
  std::vector<uint8_t> border = {1, 0, 0, 0};
  JoinContourFragments(lines, 1, border);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0]->points.size(), 2u);
  EXPECT_EQ(lines[1]->points, (std::vector<ContourPoint>{{10, 0}, {10, 5}, {12, 6}, {13, 8}, {14, 4}, {13, 5}}));
  // The closed line gets its first point once more; the last line is not examined.
  EXPECT_EQ(lines[2]->points.size(), 4u);
  EXPECT_EQ(lines[3]->points.size(), 2u);
  EXPECT_EQ(border, (std::vector<uint8_t>{1, 0, 0}));
}

TEST(ContourJoin, MatchesADirectScanOnRandomFragments) {
  std::mt19937 rng(5);
  for (int round = 0; round < 20; ++round) {
    std::uniform_real_distribution<float> pos(0, 40.0f + 20 * (round % 5));
    std::uniform_real_distribution<float> step(-3, 3);
    std::vector<std::unique_ptr<ContourLine>> a;
    std::vector<std::unique_ptr<ContourLine>> b;
    std::vector<uint8_t> border_a;
    const int n = 50 + static_cast<int>(rng() % 250);
    for (int k = 0; k < n; ++k) {
      auto line = std::make_unique<ContourLine>();
      ContourPoint p{pos(rng), pos(rng)};
      const int count = 1 + static_cast<int>(rng() % 4);
      for (int m = 0; m < count; ++m) {
        line->points.push_back(p);
        p = {p.x + step(rng), p.y + step(rng)};
      }
      if (rng() % 10 == 0) line->points.push_back(line->points.front());
      b.push_back(std::make_unique<ContourLine>(*line));
      a.push_back(std::move(line));
      border_a.push_back(rng() % 6 == 0 ? static_cast<uint8_t>(1 + rng() % 3) : 0);
    }
    std::vector<uint8_t> border_b = border_a;
    JoinContourFragments(a, 0, border_a);
    DirectJoin(b, border_b);
    ASSERT_EQ(a.size(), b.size()) << "round " << round;
    for (size_t k = 0; k < a.size(); ++k) ASSERT_EQ(a[k]->points, b[k]->points) << "round " << round << " line " << k;
    EXPECT_EQ(border_a, border_b);
  }
}

}  // namespace
}  // namespace velmora

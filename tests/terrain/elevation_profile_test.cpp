// Profiles and previews over height files we write: the map view's resolution, the chart layout
// (gaps, level lines, lines of no length), the hiking summary file byte for byte in GBK against
// figures computed here in double, the preview grid's step raise and counts, and contours of
// sampled ramps at the longitudes and latitudes the ramps put them, also beside a missing file.
#include "terrain/elevation_profile.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "core/settings.h"
#include "elevation_ramps.h"
#include "support/temp_dir.h"
#include "terrain/contour_grid.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"

namespace velmora {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kMillimetreKm = 1e-6;

// GBK through iconv directly, not through the program's own converter.
std::string ToGbk(const std::string& utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string in = utf8, out(utf8.size() * 2 + 16, '\0');
  char* src = in.data();
  char* dst = out.data();
  size_t left = in.size(), room = out.size();
  const size_t rc = iconv(cd, &src, &left, &dst, &room);
  iconv_close(cd);
  EXPECT_NE(rc, static_cast<size_t>(-1));
  out.resize(out.size() - room);
  return out;
}

// The chord between two points on the sphere of 6378.137 km raised by their heights, written out
// here on its own.
double Chord(ShapePoint a, double ha, ShapePoint b, double hb) {
  auto p = [](ShapePoint s, double h, double* x, double* y, double* z) {
    const double r = 6378.137 + h / 1000.0;
    const double lo = s.lng * kPi / 180, la = s.lat * kPi / 180;
    *x = r * std::cos(la) * std::cos(lo), *y = r * std::sin(la), *z = r * std::cos(la) * std::sin(lo);
  };
  double x1, y1, z1, x2, y2, z2;
  p(a, ha, &x1, &y1, &z1);
  p(b, hb, &x2, &y2, &z2);
  return std::sqrt((x1 - x2) * (x1 - x2) + (y1 - y2) * (y1 - y2) + (z1 - z2) * (z1 - z2));
}

// Haversine on the 6378.137 km sphere, in kilometres.
double Haversine(ShapePoint a, ShapePoint b) {
  const double la1 = a.lat * kPi / 180, la2 = b.lat * kPi / 180;
  const double dla = la2 - la1, dlo = (b.lng - a.lng) * kPi / 180;
  const double h = std::sin(dla / 2) * std::sin(dla / 2) + std::cos(la1) * std::cos(la2) * std::sin(dlo / 2) * std::sin(dlo / 2);
  return 2 * 6378.137 * std::asin(std::min(1.0, std::sqrt(h)));
}

std::string Slurp(const std::string& path) {
  std::string out;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
  }
  return out;
}

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* format, ...) {
  char buf[512];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  return buf;
}

TEST(ProfileResolution, MetresPerPixelAtTheWholeZoom) {
  EXPECT_EQ(ProfileResolution(0), 156543);
  EXPECT_EQ(ProfileResolution(10.9), 152);  // trunc(40075016.68557849 / 262144)
  EXPECT_EQ(ProfileResolution(16), 2);
  EXPECT_EQ(ProfileResolution(17), 1);
  EXPECT_EQ(ProfileResolution(40), 1);  // never 0
  EXPECT_EQ(ProfileResolution(-3), 156543);
  EXPECT_EQ(ProfileResolution(std::numeric_limits<double>::quiet_NaN()), 156543);
}

// ---- hiking summary -------------------------------------------------------------------------

class HikingTest : public ::testing::Test {
 protected:
  std::string Written(const std::string& name) { return Slurp(dir.File("walk/") + name); }
  test::TempDir dir;
};

TEST_F(HikingTest, FileBytesMatchFiguresComputedInDouble) {
  // Up, down, level, and a point without data whose two steps count nowhere.
  const std::vector<ShapePoint> pts = {{116.0f, 39.9f}, {116.01f, 39.905f}, {116.02f, 39.91f},
                                       {116.03f, 39.91f}, {116.04f, 39.915f}, {116.05f, 39.92f}};
  const std::vector<float> h = {50.5f, 120.0f, 80.25f, 80.25f, -9999.0f, 300.0f};
  std::string path;
  ASSERT_EQ(WriteHikingSummary(dir.File("walk"), "a/b:c", pts, h, &path), HikingFileStatus::kWritten);
  EXPECT_EQ(path, dir.File("walk/a-b-c.txt"));

  double length = 0;
  for (size_t i = 1; i < pts.size(); ++i) length += Haversine(pts[i - 1], pts[i]);
  const double up = Chord(pts[0], 50.5, pts[1], 120.0);
  const double down = Chord(pts[1], 120.0, pts[2], 80.25);
  const double level = Chord(pts[2], 80.25, pts[3], 80.25);
  std::string expected = "a-b-c 徒步统计\n\n";
  expected += Fmt("最高点：%f, %f: %gm\n", 116.05f, 39.92f, 300.0);
  expected += Fmt("最低点：%f, %f: %gm\n", 116.0f, 39.9f, 50.5);
  expected += Fmt("落  差：%gm\n", 249.5);
  expected += "\n";
  expected += Fmt("平面距离：%.3f km\n", length);
  expected += Fmt("上    坡：%.3f km\n", up);
  expected += Fmt("下    坡：%.3f km\n", down);
  expected += Fmt("平    地：%.3f km\n", level);
  expected += "\n";
  EXPECT_EQ(Written("a-b-c.txt"), ToGbk(expected));

  const HikingSummary s = ComputeHikingSummary(pts, h);
  EXPECT_NEAR(s.length_km, length, kMillimetreKm);
  EXPECT_NEAR(s.uphill_km, up, kMillimetreKm);
  EXPECT_NEAR(s.downhill_km, down, kMillimetreKm);
  EXPECT_NEAR(s.level_km, level, kMillimetreKm);
}

TEST_F(HikingTest, NamesLevelLinesAndLinesWithoutData) {
  EXPECT_EQ(HikingFileName(""), "walk");
  EXPECT_EQ(HikingFileName("a\\b*c?d\"e<f>g|h"), "a-b-c-d-e-f-g-h");
  EXPECT_EQ(HikingFileName("x//y"), "x-y");
  EXPECT_EQ(HikingFileName("x---y"), "x--y");  // one pass over the pairs

  // A level line: every step is level and the drop is 0; the first of equal points wins both.
  const std::vector<ShapePoint> line = {{10.0f, 45.0f}, {10.002f, 45.001f}, {10.004f, 45.0f}};
  const std::vector<float> flat = {812.0f, 812.0f, 812.0f};
  ASSERT_EQ(WriteHikingSummary(dir.File("walk/"), "", line, flat, nullptr), HikingFileStatus::kWritten);
  const std::string text = Written("walk.txt");
  EXPECT_NE(text.find(ToGbk("落  差：0m\n")), std::string::npos) << text;
  EXPECT_NE(text.find(ToGbk("上    坡：0.000 km\n下    坡：0.000 km\n")), std::string::npos);
  const HikingSummary s = ComputeHikingSummary(line, flat);
  EXPECT_EQ(s.highest, 0u);
  EXPECT_EQ(s.lowest, 0u);
  EXPECT_NEAR(s.level_km, Chord(line[0], 812, line[1], 812) + Chord(line[1], 812, line[2], 812), kMillimetreKm);

  // Nothing but holes: no file at all.
  const std::vector<float> none = {-9999.0f, -9999.0f, -9999.0f};
  EXPECT_EQ(WriteHikingSummary(dir.File("walk/"), "empty", line, none, nullptr), HikingFileStatus::kNoHeight);
  EXPECT_FALSE(std::filesystem::exists(dir.File("walk/empty.txt")));
}

TEST_F(HikingTest, FolderThatCannotBeMadeWritesNothing) {
  test::WriteTestFile(dir.File("walk"), "a file where the folder should be");
  const std::vector<ShapePoint> line = {{10.0f, 45.0f}, {10.002f, 45.001f}};
  EXPECT_EQ(WriteHikingSummary(dir.File("walk/"), "x", line, {1.0f, 2.0f}, nullptr), HikingFileStatus::kCannotCreate);
  EXPECT_EQ(Slurp(dir.File("walk")), "a file where the folder should be");
}

TEST(HikingChord, DoublePrecisionKeepsLongFineTracksTrue) {
  // 4 km east along the equator in 2 m steps at one height: the chords add up to the arc.
  std::vector<ShapePoint> pts;
  std::vector<float> h;
  const double step = 0.002 / 6378.137 * 180 / kPi;  // 2 m in degrees of longitude
  for (int i = 0; i <= 2000; ++i) {
    pts.push_back({static_cast<float>(100.0 + i * step), 0.0f});
    h.push_back(1500.0f);
  }
  const HikingSummary s = ComputeHikingSummary(pts, h);
  double expected = 0;
  for (size_t i = 1; i < pts.size(); ++i) expected += Chord(pts[i - 1], 1500, pts[i], 1500);
  EXPECT_NEAR(s.level_km, expected, 1e-6);  // a millimetre over the whole track
  EXPECT_NEAR(s.level_km, 4.0, 0.01);
}

// ---- chart layout ---------------------------------------------------------------------------

TEST(ProfileLayout, PointsWhereTheFormulasPutThemWithGaps) {
  const std::vector<ShapePoint> pts = {{0.0f, 0.0f}, {0.01f, 0.0f}, {0.02f, 0.0f}, {0.04f, 0.0f}};
  const std::vector<float> h = {100.0f, 350.7f, -9999.0f, 200.0f};
  const ProfileLayout l = LayoutProfile(pts, h, 400, 200);
  ASSERT_TRUE(l.has_height);
  EXPECT_DOUBLE_EQ(l.lowest, 100.0);
  EXPECT_DOUBLE_EQ(l.range, 250.0);  // trunc(350.7) - 100; the hole is left out
  const double total = Haversine(pts[0], pts[3]) * 1000;
  EXPECT_NEAR(l.total_length, total, 1e-3);
  ASSERT_EQ(l.points.size(), 4u);
  EXPECT_FLOAT_EQ(l.points[0].x, 0.0f);
  EXPECT_NEAR(l.points[1].x, 100.0, 1e-3);
  EXPECT_NEAR(l.points[3].x, 400.0, 1e-3);
  EXPECT_FLOAT_EQ(l.points[0].y, 200.0f);                              // lowest at the bottom
  EXPECT_NEAR(l.points[1].y, (250 - 350.7 + 100) * 200 / 250.0, 1e-3);  // a bit above the top
  EXPECT_TRUE(std::isnan(l.points[2].y));
  EXPECT_FLOAT_EQ(l.points[3].y, 120.0f);
  EXPECT_EQ(FindProfilePoint(l, 2, 198), 0);
  EXPECT_EQ(FindProfilePoint(l, 99, 2), 1);
  EXPECT_EQ(FindProfilePoint(l, 200, 100), -1);  // the hole has no point to hover
  EXPECT_EQ(FindProfilePoint(l, 104, 0), -1);
}

TEST(ProfileLayout, LevelLinesLinesOfNoLengthAndNoData) {
  const std::vector<ShapePoint> pts = {{5.0f, 5.0f}, {5.01f, 5.0f}, {5.02f, 5.0f}};
  ProfileLayout level = LayoutProfile(pts, {40.0f, 40.0f, 40.0f}, 300, 100);
  ASSERT_TRUE(level.has_height);
  for (const auto& p : level.points) EXPECT_FLOAT_EQ(p.y, 50.0f);

  const std::vector<ShapePoint> same = {{5.0f, 5.0f}, {5.0f, 5.0f}};
  ProfileLayout still = LayoutProfile(same, {10.0f, 20.0f}, 300, 100);
  ASSERT_TRUE(still.has_height);
  for (const auto& p : still.points) {
    EXPECT_FLOAT_EQ(p.x, 150.0f);
    EXPECT_TRUE(std::isfinite(p.y));
  }

  EXPECT_FALSE(LayoutProfile(pts, {-9999.0f, -9999.0f, -9999.0f}, 300, 100).has_height);
  EXPECT_FALSE(LayoutProfile({pts[0]}, {1.0f}, 300, 100).has_height);
  EXPECT_FALSE(LayoutProfile(pts, {1.0f, 2.0f}, 300, 100).has_height);
}

// ---- preview grid ---------------------------------------------------------------------------

TEST(ElevationGridPlan, StepRaiseCountsAndRefusals) {
  ElevationGrid g;
  // 1/8 degree over 200 wanted columns and 160 rows: the step is raised to 3 arc-seconds, and
  // the 150 whole steps that fit are taken (the float step divides back to 149.99999).
  ASSERT_TRUE(PlanElevationGrid(117.0f, 36.125f, 117.125f, 36.0f, 200, 160, &g));
  EXPECT_EQ(g.step_lon, kMinSampleStep);
  EXPECT_EQ(g.step_lat, kMinSampleStep);
  EXPECT_EQ(g.columns, 150);
  EXPECT_EQ(g.rows, 150);
  // Wide enough: the wanted counts.
  ASSERT_TRUE(PlanElevationGrid(110.0f, 40.0f, 112.0f, 38.5f, 200, 150, &g));
  EXPECT_EQ(g.columns, 200);
  EXPECT_EQ(g.rows, 150);
  EXPECT_FLOAT_EQ(g.step_lon, 0.01f);
  EXPECT_FLOAT_EQ(g.step_lat, 0.01f);

  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_FALSE(PlanElevationGrid(112.0f, 40.0f, 110.0f, 38.5f, 200, 150, &g));  // east < west
  EXPECT_FALSE(PlanElevationGrid(110.0f, 38.5f, 112.0f, 40.0f, 200, 150, &g));  // north < south
  EXPECT_FALSE(PlanElevationGrid(110.0f, 40.0f, 112.0f, 38.5f, 0, 150, &g));
  EXPECT_FALSE(PlanElevationGrid(110.0f, 40.0f, 112.0f, 38.5f, kMaxSampleSide + 1, 150, &g));
  EXPECT_FALSE(PlanElevationGrid(nan, 40.0f, 112.0f, 38.5f, 200, 150, &g));
  EXPECT_FALSE(PlanElevationGrid(110.0f, 40.0f, 110.0008f, 38.5f, 200, 150, &g));  // under two columns
}

TEST(ElevationGridPlan, EachAxisConvertsByItsOwnStep) {
  ElevationGrid g;
  ASSERT_TRUE(PlanElevationGrid(100.0f, 31.0f, 102.0f, 30.0f, 200, 50, &g));
  const ShapePoint p = g.GridToLngLat(50, 10);
  EXPECT_NEAR(p.lng, 100.5, 1e-5);
  EXPECT_NEAR(p.lat, 30.0 + (50 - 10 - 1) * 0.02, 1e-5);
}

using test::EastWest;
using test::Ramps;

class ElevationGridTest : public ::testing::Test {
 protected:
  static int Sample(CElevationStore& store, float left, float top, float right, float bottom, int nx, int ny,
                    ElevationGrid* g) {
    return SampleElevationGrid(store, left, top, right, bottom, nx, ny, 1, g) ? 1 : 0;
  }
  test::TempDir cache_dir;
  CElevCacheDb cache{cache_dir.path()};
  CElevationStore ew_store{&cache, Ramps().east_west.File("data/")};
  CElevationStore sn_store{&cache, Ramps().south_north.File("data/")};
  ScopedAppOptions srtm{[](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; }};
};

TEST_F(ElevationGridTest, SampledRampsContourAtTheirAnalyticPlaces) {
  ElevationGrid g;
  ASSERT_TRUE(Sample(ew_store, 117.0f, 36.15f, 117.2f, 36.0f, 200, 150, &g));
  EXPECT_EQ(g.columns, 200);
  EXPECT_EQ(g.rows, 150);
  for (int r = 0; r < g.rows; r += 37) {
    for (int c = 0; c < g.columns; c += 19) {
      // The sample is the ramp at the 3-arc-second node at or before the point: within 8.4 m.
      EXPECT_NEAR(g.heights[r][c], EastWest(g.positions[r][c].lng, 0), 9.0) << r << "," << c;
    }
  }
  EXPECT_LE(g.lowest, 9.0f);
  EXPECT_GE(g.highest, 1990.0f - 9.0f);

  CContourGrid contour;
  ASSERT_TRUE(FillContourGrid(g, contour));
  contour.Smooth();
  ASSERT_EQ(contour.Compute(500), ContourStatus::kOk);
  ASSERT_EQ(contour.Lines().size(), 3u);  // the lowest node's own level is no line
  for (const auto& line : contour.Lines()) {
    const double want = 117.0 + line->level / 10000.0;
    for (const ContourPoint& p : line->points) {
      const ShapePoint at = g.GridToLngLat(p.x, p.y);
      EXPECT_NEAR(at.lng, want, 0.0012) << line->level;
      EXPECT_GE(at.lat, 36.0f - 1e-4f);
      EXPECT_LE(at.lat, 36.15f + 1e-4f);
    }
  }

  ASSERT_TRUE(Sample(sn_store, 117.0f, 36.15f, 117.2f, 36.0f, 200, 150, &g));
  ASSERT_TRUE(FillContourGrid(g, contour));
  contour.Smooth();
  ASSERT_EQ(contour.Compute(400), ContourStatus::kOk);
  ASSERT_GE(contour.Lines().size(), 3u);
  for (const auto& line : contour.Lines()) {
    const double want = 36.0 + line->level / 10000.0;
    for (const ContourPoint& p : line->points) EXPECT_NEAR(g.GridToLngLat(p.x, p.y).lat, want, 0.0012);
  }
}

TEST_F(ElevationGridTest, MissingFileLeavesAHoleWithoutFalseRings) {
  // 119.9-120.1 E: the eastern half lies in the missing tile.
  ElevationGrid g;
  ASSERT_TRUE(Sample(ew_store, 119.9f, 36.1f, 120.1f, 36.0f, 200, 100, &g));
  int holes = 0;
  for (const auto& row : g.heights)
    for (float h : row) holes += h == -9999.0f;
  EXPECT_GT(holes, g.columns * g.rows / 3);
  EXPECT_GT(g.lowest, 28000.0f);  // the hole does not drag it down
  CContourGrid contour;
  ASSERT_TRUE(FillContourGrid(g, contour));
  EXPECT_FLOAT_EQ(contour.lowest(), g.lowest);
  contour.Smooth();
  for (int r = 0; r < contour.ny(); ++r) EXPECT_TRUE(std::isnan(contour.Value(r, contour.nx() - 1)));
  ASSERT_EQ(contour.Compute(200), ContourStatus::kOk);
  // Four levels above the lowest over the 1000 m the western half rises, one line each.
  EXPECT_EQ(contour.Lines().size(), 4u);
  for (const auto& line : contour.Lines()) {
    const double want = 117.0 + line->level / 10000.0;
    for (const ContourPoint& p : line->points) EXPECT_NEAR(g.GridToLngLat(p.x, p.y).lng, want, 0.0012);
  }
}

TEST_F(ElevationGridTest, StopFlagEndsTheSampling) {
  std::atomic<bool> quit{true};
  ElevationGrid g;
  SampleControl control;
  control.quit = &quit;
  EXPECT_FALSE(SampleElevationGrid(ew_store, 117.0f, 36.15f, 117.2f, 36.0f, 200, 150, 1, &g, control));
  std::vector<float> heights;
  EXPECT_FALSE(SampleLineHeights(ew_store, {{117.0f, 36.0f}}, 1, &heights, control));
  quit = false;
  float last = 0;
  control.progress = [&](float done) { last = done; };
  ASSERT_TRUE(SampleLineHeights(ew_store, {{117.0f, 36.0f}, {117.1f, 36.0f}, {121.0f, 36.0f}}, 1, &heights, control));
  EXPECT_FLOAT_EQ(last, 1.0f);
  ASSERT_EQ(heights.size(), 3u);
  EXPECT_NEAR(heights[1], 1000.0f, 9.0f);
  EXPECT_EQ(heights[2], -9999.0f);
}

}  // namespace
}  // namespace velmora

// The gridding and contouring stand-in on lattices of a plane and of a Gaussian hill: the grid
// file read back by GDAL holds the samples at its nodes, the plane's contours lie straight at
// their exact places, the levels and lines agree with gdal_contour on the same grid, blanking
// keeps every vertex inside the polygon, labels come from their own file without a line read
// twice, the exchange files go as the run says, and a failed run keeps the old lines. The DXF
// contour reader on hand-written files.
#include <gdal.h>
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <sstream>

#include "core/format.h"
#include "exchange/exchange_test_util.h"
#include "exchange/region_raster.h"
#include "support/isolated_folders.h"
#include "support/temp_dir.h"
#include "terrain/dem_files.h"
#include "terrain/dxf_reader.h"
#include "terrain/gdal_grid_server.h"

namespace velmora {
namespace {

using test::Quote;
using test::RunCommand;

const test::TempDir& kFolders = test::IsolatedFolders();

// Out.dat holds six decimals of a degree (about 0.1 m): node positions and values agree within
// what that rounding moves them. The hill's steepest cell rises about 45 m, and a node moved by
// 1e-6 degrees (a thousandth of a 100 m cell) is off by 0.05 m there.
constexpr double kDegreeTolerance = 2e-6;
// Contour vertices are single-precision: one unit in the last place at 121 degrees.
constexpr double kVertexTolerance = 7.7e-6;
constexpr double kMetreTolerance = 0.1;

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

// A region-mode panel on a lattice of nx x ny nodes, `distance` metres apart, heights f(column, row).
template <typename F>
void Lattice(CDemGrid* grid, int nx, int ny, int distance, F f, double x0 = 121.5, double y0 = 31.2) {
  const double step = static_cast<double>(static_cast<float>(distance) * kDemGridDegreesPerMetre);
  const LngLatF a{static_cast<float>(x0), static_cast<float>(y0)};
  const LngLatF b{static_cast<float>(x0 + (nx - 1) * step), static_cast<float>(y0 + (ny - 1) * step)};
  ASSERT_TRUE(grid->SetPoints(a, b, distance));
  grid->points.clear();
  for (int r = 0; r < ny; ++r)
    for (int c = 0; c < nx; ++c) grid->points.push_back({a.lng + c * step, a.lat + r * step, f(c, r)});
  grid->RecomputeRanges();
}

double Plane(int c, int) { return 101 + 3.0 * c; }
double Hill(int c, int r) { return 50 + 500 * std::exp(-((c - 20.0) * (c - 20.0) + (r - 18.0) * (r - 18.0)) / 80.0); }

std::unique_ptr<IGridContourServer> Gdal(std::string* error) { return CreateGdalGridServer(error); }

GridContourJob Job(const test::TempDir& dir, const CDemGrid& grid, bool labels) {
  GridContourJob job;
  job.work_dir = dir.path();
  job.spacing = GridSpacingOf(grid, false);
  job.options.labels_on = labels;
  job.options.label_interval = 2;
  return job;
}

struct Raster {
  int nx = 0, ny = 0;
  double gt[6] = {};
  std::vector<float> values;  // rows from the north, GDAL's order
  int has_nodata = 0;
  double nodata = 0;
};

Raster ReadByGdal(const std::string& path) {
  GDALAllRegister();
  Raster out;
  GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
  EXPECT_NE(ds, nullptr) << path;
  if (!ds) return out;
  EXPECT_STREQ(GDALGetDriverShortName(GDALGetDatasetDriver(ds)), "GSAG");
  out.nx = GDALGetRasterXSize(ds);
  out.ny = GDALGetRasterYSize(ds);
  GDALGetGeoTransform(ds, out.gt);
  GDALRasterBandH band = GDALGetRasterBand(ds, 1);
  out.nodata = GDALGetRasterNoDataValue(band, &out.has_nodata);
  out.values.resize(static_cast<size_t>(out.nx) * out.ny);
  EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, out.nx, out.ny, out.values.data(), out.nx, out.ny, GDT_Float32, 0, 0),
            CE_None);
  GDALClose(ds);
  return out;
}

TEST(GdalGridServer, LatticeSamplesComeBackAtTheNodes) {
  test::TempDir dir;
  for (auto f : {&Plane, &Hill}) {
    CDemGrid grid;
    Lattice(&grid, 41, 37, 100, f);
    ASSERT_TRUE(ExportText(dir.File("out.dat"), grid.points, 0));
    CGdalGridServer server;
    server.SetGridSpacing(GridSpacingOf(grid, false));
    ASSERT_TRUE(server.GridData(dir.File("out.dat"), 1, 2, 3, dir.File("out.grd"))) << server.LastError();
    const Raster r = ReadByGdal(dir.File("out.grd"));
    ASSERT_EQ(r.nx, 41);
    ASSERT_EQ(r.ny, 37);
    const double step = static_cast<double>(100.0f * kDemGridDegreesPerMetre);
    EXPECT_NEAR(r.gt[1], step, kDegreeTolerance);
    for (const Point3D& p : grid.points) {
      // The node of the sample: GDAL's rows from the north, pixel centres half a cell in.
      const int c = static_cast<int>(std::lround((p.x - r.gt[0]) / r.gt[1] - 0.5));
      const int row = static_cast<int>(std::lround((p.y - r.gt[3]) / r.gt[5] - 0.5));
      ASSERT_TRUE(c >= 0 && c < r.nx && row >= 0 && row < r.ny);
      EXPECT_NEAR(r.gt[0] + (c + 0.5) * r.gt[1], p.x, kDegreeTolerance);
      EXPECT_NEAR(r.values[static_cast<size_t>(row) * r.nx + c], p.z, kMetreTolerance) << c << "," << row;
    }
  }
}

TEST(GdalGridServer, PlaneContoursLieStraightAtTheirPlaces) {
  test::TempDir dir;
  CDemGrid grid;
  Lattice(&grid, 30, 20, 100, &Plane);
  grid.interval = 10;
  CContourLineSet set;
  std::vector<DemLabel> labels;
  const GridContourResult result = ContourWithServer(grid, Job(dir, grid, false), &Gdal, &set, &labels);
  ASSERT_TRUE(result.ok) << result.error;
  const double step = static_cast<double>(100.0f * kDemGridDegreesPerMetre);
  // Levels 110 ... 180 cross the plane (z 101 to 188): every one a single straight line.
  ASSERT_EQ(set.GetSize(), 8u);
  for (size_t i = 0; i < set.GetSize(); ++i) {
    ASSERT_EQ(set[i].GetCount(), 1u);
    const ContourLine& line = set[i][0];
    EXPECT_FLOAT_EQ(line.level, 110.0f + 10 * i);
    const double x = 121.5 + (line.level - 101) / 3.0 * step;
    ASSERT_GE(line.points.size(), 2u);
    for (const ContourPoint& p : line.points) EXPECT_NEAR(p.x, x, kVertexTolerance) << line.level;
    EXPECT_NEAR(std::fabs(line.points.front().y - line.points.back().y), 19 * step, 2 * kVertexTolerance);
  }
  EXPECT_TRUE(labels.empty());
}

// Feature counts per level of gdal_contour's CSV output.
std::map<double, int> GdalContourCounts(const std::string& grid, const std::string& levels, const std::string& out) {
  const auto run = RunCommand("gdal_contour -q -a ELEV -f CSV -lco GEOMETRY=AS_WKT -fl " + levels + " " +
                              Quote(grid) + " " + Quote(out));
  EXPECT_EQ(run.status, 0) << run.output;
  std::map<double, int> counts;
  std::istringstream in(test::ReadTestFile(out));
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    const auto comma = line.rfind(',');
    if (comma == std::string::npos) continue;
    ++counts[std::stod(line.substr(comma + 1))];
  }
  return counts;
}

TEST(GdalGridServer, HillLevelsAndLinesAgreeWithGdalContour) {
  test::TempDir dir;
  CDemGrid grid;
  Lattice(&grid, 41, 37, 100, &Hill);
  ASSERT_TRUE(ExportText(dir.File("out.dat"), grid.points, 0));
  CGdalGridServer server;
  server.SetGridSpacing(GridSpacingOf(grid, false));
  ASSERT_TRUE(server.GridData(dir.File("out.dat"), 1, 2, 3, dir.File("out.grd"))) << server.LastError();
  ASSERT_TRUE(server.AddContourMap(dir.File("out.grd")));
  ASSERT_TRUE(server.SetLevels(0, grid.tracer.z_range.max, 50)) << server.LastError();
  ASSERT_TRUE(server.ExportContours(dir.File("out.dxf")));
  std::string levels;
  for (int i = 0; i < server.LevelCount(); ++i) levels += (i ? " " : "") + FormatC("%g", server.LevelValue(i));
  const auto expected = GdalContourCounts(dir.File("out.grd"), levels, dir.File("gdal.csv"));

  CContourLineSet set;
  std::vector<DemLabel> labels;
  CDxfReader reader(&set, &labels, grid.tracer.x_range, grid.tracer.y_range, 800, 600);
  ASSERT_TRUE(reader.Load(dir.File("out.dxf")));
  std::map<double, int> ours;
  for (const auto& list : set) {
    for (const auto& line : *list) {
      ++ours[line->level];
      // The hill's rings close on themselves inside the lattice.
      EXPECT_NEAR(line->points.front().x, line->points.back().x, 1e-9);
    }
  }
  EXPECT_EQ(ours, expected);
  EXPECT_GE(ours.size(), 9u);  // 100 ... 500 at least
}

TEST(GdalGridServer, BlankingKeepsEveryVertexInsideThePolygon) {
  test::TempDir dir;
  CDemGrid grid;
  Lattice(&grid, 41, 37, 100, &Hill);
  const double step = static_cast<double>(100.0f * kDemGridDegreesPerMetre);
  // A triangle over the west half of the lattice: convex, so a vertex between two inside nodes
  // is inside too.
  const std::vector<LngLatF> triangle = {{121.5f, 31.2f}, {static_cast<float>(121.5 + 25 * step), 31.2f},
                                         {121.5f, static_cast<float>(31.2 + 36 * step)}};
  std::vector<Point3D> points = grid.points;
  ASSERT_TRUE(grid.SetDemData(triangle, 100));
  grid.points = points;
  grid.RecomputeRanges();
  grid.interval = 25;
  CContourLineSet set;
  std::vector<DemLabel> labels;
  const GridContourResult result = ContourWithServer(grid, Job(dir, grid, false), &Gdal, &set, &labels);
  ASSERT_TRUE(result.ok) << result.error;
  EXPECT_TRUE(Exists(dir.File("out.bln")));
  std::vector<PixelPoint> polygon;
  for (const LngLatF& p : triangle) polygon.push_back({p.lng, p.lat});
  size_t vertices = 0;
  for (const auto& list : set)
    for (const auto& line : *list)
      for (const ContourPoint& p : line->points) {
        ++vertices;
        // A vertex on the outline may lie a twentieth of a cell beyond it (float corners).
        EXPECT_TRUE(InsideOutline(polygon, p.x, p.y, kBlankEdgeTolerance * step + kVertexTolerance))
            << p.x << " " << p.y;
      }
  EXPECT_GT(vertices, 50u);
}

TEST(GdalGridServer, LabelsOnAndOffAndTheFilesOfARun) {
  test::TempDir dir;
  CDemGrid grid;
  Lattice(&grid, 41, 37, 100, &Hill);
  grid.interval = 50;
  // An earlier run's labelled file and lines: neither may be read as this run's.
  test::WriteTestFile(dir.File("out_all.dxf"), "stale");
  test::WriteTestFile(dir.File("out.dxf"), "stale");
  CContourLineSet set;
  std::vector<DemLabel> labels;
  GridContourResult off = ContourWithServer(grid, Job(dir, grid, false), &Gdal, &set, &labels);
  ASSERT_TRUE(off.ok) << off.error;
  EXPECT_TRUE(labels.empty());
  EXPECT_TRUE(off.labelled_file.empty());
  EXPECT_FALSE(Exists(dir.File("out_all.dxf")));
  for (const char* name : {"out.dat", "out.grd", "out.dxf"}) EXPECT_FALSE(Exists(dir.File(name))) << name;
  EXPECT_TRUE(Exists(dir.File("out.bln")));  // the region's outline stays
  const size_t lines_off = set.LineCount();

  GridContourResult on = ContourWithServer(grid, Job(dir, grid, true), &Gdal, &set, &labels);
  ASSERT_TRUE(on.ok) << on.error;
  EXPECT_EQ(on.labelled_file, dir.File("out_all.dxf"));
  ASSERT_TRUE(Exists(on.labelled_file));
  // The labelled file holds texts only: the set has each line once.
  EXPECT_EQ(set.LineCount(), lines_off);
  ASSERT_FALSE(labels.empty());
  // Every second level (label interval 2 from the first) is labelled, once per line.
  size_t labelled_lines = 0;
  for (size_t i = 0; i < set.GetSize(); ++i) {
    const float level = set[i][0].level;
    const int index = static_cast<int>(std::lround((level - 50.0f) / 50.0f));
    if (index % 2 == 0) labelled_lines += set[i].GetCount();
  }
  EXPECT_GT(labelled_lines, 0u);
  EXPECT_LE(labels.size(), labelled_lines);  // labels outside the ranges are dropped
  for (const DemLabel& l : labels) {
    const double v = std::stod(l.text);
    EXPECT_EQ(std::lround((v - 50) / 50) % 2, 0) << l.text;
    EXPECT_GT(l.rotation, -90.0f);
    EXPECT_LE(l.rotation, 90.0f);
  }
  // The projected run writes its own labelled file.
  GridContourJob job = Job(dir, grid, true);
  job.projected = true;
  GridContourResult projected = ContourWithServer(grid, job, &Gdal, &set, &labels);
  ASSERT_TRUE(projected.ok);
  EXPECT_EQ(projected.labelled_file, dir.File("out_proj.dxf"));
  EXPECT_FALSE(Exists(dir.File("out_all.dxf")));
}

TEST(GdalGridServer, CollinearPointsFailAndKeepTheOldLines) {
  test::TempDir dir;
  CDemGrid grid;
  Lattice(&grid, 20, 20, 100, &Hill);
  grid.interval = 50;
  CContourLineSet set;
  std::vector<DemLabel> labels;
  ASSERT_TRUE(ContourWithServer(grid, Job(dir, grid, true), &Gdal, &set, &labels).ok);
  const size_t lines = set.LineCount(), label_count = labels.size();
  ASSERT_GT(lines, 0u);
  std::vector<Point3D> diagonal;
  for (int i = 0; i < 10; ++i) diagonal.push_back({121.5 + i * 0.001, 31.2 + i * 0.002, 10.0 * i});
  grid.points = diagonal;
  grid.RecomputeRanges();
  const GridContourResult result = ContourWithServer(grid, Job(dir, grid, true), &Gdal, &set, &labels);
  EXPECT_FALSE(result.ok);
  EXPECT_NE(result.error.find(CGdalGridServer::kCollinear), std::string::npos) << result.error;
  EXPECT_EQ(set.LineCount(), lines);
  EXPECT_EQ(labels.size(), label_count);
  // A server that cannot be made ends the run the same way.
  const GridContourResult none = ContourWithServer(
      grid, Job(dir, grid, true), [](std::string* e) { *e = "not installed"; return nullptr; }, &set, &labels);
  EXPECT_FALSE(none.ok);
  EXPECT_EQ(none.error, "not installed");
}

// ---- the DXF contour reader --------------------------------------------------------------------

std::string Pairs(std::initializer_list<std::pair<int, const char*>> pairs) {
  std::string out;
  for (const auto& [code, value] : pairs) out += FormatC("%3d\r\n%s\r\n", code, value);
  return out;
}

TEST(CDxfReader, ReadsLevelsAndLabelsOfHandWrittenFiles) {
  test::TempDir dir;
  const std::string header = Pairs({{0, "SECTION"}, {2, "HEADER"}, {9, "$ACADVER"}, {1, "AC1009"}, {0, "ENDSEC"}});
  const std::string entities = Pairs({
      {0, "SECTION"}, {2, "ENTITIES"},
      // R12 polyline at 100 with two vertices.
      {0, "POLYLINE"}, {8, "0"}, {66, "1"}, {30, "100.0"}, {0, "VERTEX"}, {8, "0"}, {10, "1.0"}, {20, "2.0"},
      {0, "VERTEX"}, {8, "0"}, {10, "3.0"}, {20, "4.0"}, {0, "SEQEND"},
      // A polyline whose head has no level: its vertices belong to no line.
      {0, "POLYLINE"}, {8, "0"}, {66, "1"}, {0, "VERTEX"}, {10, "9.0"}, {20, "9.0"}, {0, "VERTEX"}, {10, "8.0"},
      {20, "8.0"}, {0, "SEQEND"},
      // Another line at 100 and one at 120 (LWPOLYLINE, elevation 38).
      {0, "LWPOLYLINE"}, {8, "0"}, {90, "2"}, {38, "100"}, {10, "5"}, {20, "5"}, {10, "6"}, {20, "6"},
      {0, "LWPOLYLINE"}, {8, "0"}, {90, "3"}, {38, "120"}, {10, "1"}, {20, "1"}, {10, "2"}, {20, "1"},
      {10, "2"}, {20, "2"},
      // Labels: one at x = xmin (not taken), one inside (height added to y), one beyond ymax.
      {0, "TEXT"}, {8, "0"}, {10, "0.0"}, {20, "5.0"}, {40, "0.5"}, {1, "edge"},
      {0, "TEXT"}, {8, "0"}, {10, "4.0"}, {20, "5.0"}, {40, "0.5"}, {50, "30"}, {1, "100"},
      {0, "TEXT"}, {8, "0"}, {10, "4.0"}, {20, "9.8"}, {40, "0.5"}, {1, "high"},
      {0, "ENDSEC"}, {0, "EOF"}});
  test::WriteTestFile(dir.File("a.dxf"), header + entities);
  CContourLineSet set;
  std::vector<DemLabel> labels;
  CDxfReader reader(&set, &labels, {0, 10}, {0, 10}, 100, 100);
  ASSERT_TRUE(reader.Load(dir.File("a.dxf")));
  ASSERT_EQ(set.GetSize(), 2u);
  EXPECT_EQ(set[0].GetCount(), 2u);
  EXPECT_FLOAT_EQ(set[0][0].level, 100.0f);
  EXPECT_EQ(set[0][0].points, (std::vector<ContourPoint>{{1, 2}, {3, 4}}));
  EXPECT_EQ(set[0][1].points, (std::vector<ContourPoint>{{5, 5}, {6, 6}}));
  EXPECT_FLOAT_EQ(set[1][0].level, 120.0f);
  EXPECT_EQ(set[1][0].points.size(), 3u);
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0].text, "100");
  EXPECT_DOUBLE_EQ(labels[0].x, 4.0);
  EXPECT_DOUBLE_EQ(labels[0].y, 5.5);
  EXPECT_FLOAT_EQ(labels[0].rotation, 30.0f);
  EXPECT_FLOAT_EQ(labels[0].px, 40.0f);
  EXPECT_FLOAT_EQ(labels[0].py, 45.0f);

  // Unreadable and missing files are ignored: nothing is added.
  test::WriteTestFile(dir.File("bad.dxf"), Pairs({{0, "SECTION"}, {2, "ENTITIES"}, {0, "POLYLINE"}}) + "30\r\nabc\r\n");
  EXPECT_FALSE(reader.Load(dir.File("bad.dxf")));
  EXPECT_FALSE(reader.Load(dir.File("missing.dxf")));
  EXPECT_EQ(set.LineCount(), 3u);
  EXPECT_EQ(labels.size(), 1u);
}

}  // namespace
}  // namespace velmora

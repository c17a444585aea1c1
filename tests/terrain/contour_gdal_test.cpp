// CContourTracer against GDAL's contour generator on the same grid and levels: away from saddle
// cells both must draw the same segments between the same edge crossings.
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "core/format.h"
#include "terrain/contour_tracer.h"

namespace velmora {
namespace {

// An edge crossing: (row, column, horizontal) and the fraction along the edge.
struct EdgePoint {
  int row;
  int col;
  bool horizontal;
  double fraction;
};

// The edge of the unit grid that a vertex lies on; false for a point outside the grid's nodes or
// not on an edge (GDAL extends border lines by half a cell).
bool ToEdge(double x, double y, int nx, int ny, EdgePoint* e) {
  const double tol = 1e-5;
  if (x < -tol || y < -tol || x > nx - 1 + tol || y > ny - 1 + tol) return false;
  if (std::fabs(y - std::round(y)) < tol) {
    int r = static_cast<int>(std::round(y));
    int c = std::min(static_cast<int>(std::floor(x + tol)), nx - 2);
    *e = {r, c, true, x - c};
    return true;
  }
  if (std::fabs(x - std::round(x)) < tol) {
    int c = static_cast<int>(std::round(x));
    int r = std::min(static_cast<int>(std::floor(y + tol)), ny - 2);
    *e = {r, c, false, y - r};
    return true;
  }
  return false;
}

using EdgeKey = std::tuple<int, int, bool>;
using Segment = std::pair<EdgeKey, EdgeKey>;
// Segments of each level (ends in ascending order) with the crossing fractions at their ends.
using SegmentMap = std::map<Segment, std::pair<double, double>>;

void AddLine(const std::vector<std::pair<double, double>>& points, int nx, int ny, SegmentMap* out) {
  for (size_t k = 1; k < points.size(); ++k) {
    EdgePoint a, b;
    if (!ToEdge(points[k - 1].first, points[k - 1].second, nx, ny, &a)) continue;
    if (!ToEdge(points[k].first, points[k].second, nx, ny, &b)) continue;
    EdgeKey ka{a.row, a.col, a.horizontal}, kb{b.row, b.col, b.horizontal};
    if (ka == kb) continue;
    if (ka < kb) (*out)[{ka, kb}] = {a.fraction, b.fraction};
    else (*out)[{kb, ka}] = {b.fraction, a.fraction};
  }
}

// GDAL's lines for the given levels, by level, on a MEM raster whose pixel centres are the nodes.
std::map<double, SegmentMap> GdalSegments(const std::vector<float>& values, int nx, int ny,
                                          const std::vector<float>& levels) {
  GDALAllRegister();
  GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDataset* raster = mem->Create("", nx, ny, 1, GDT_Float32, nullptr);
  double transform[6] = {-0.5, 1, 0, -0.5, 0, 1};
  raster->SetGeoTransform(transform);
  EXPECT_EQ(raster->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, nx, ny, const_cast<float*>(values.data()), nx, ny,
                                               GDT_Float32, 0, 0, nullptr),
            CE_None);
  GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("Memory");
  GDALDataset* vectors = memory->Create("", 0, 0, 0, GDT_Unknown, nullptr);
  OGRLayer* layer = vectors->CreateLayer("contour", nullptr, wkbLineString, nullptr);
  OGRFieldDefn id("ID", OFTInteger), elev("ELEV", OFTReal);
  layer->CreateField(&id);
  layer->CreateField(&elev);
  std::string fixed;
  for (float level : levels) fixed += FormatC(fixed.empty() ? "%.17g" : ",%.17g", static_cast<double>(level));
  char** options = CSLSetNameValue(nullptr, "FIXED_LEVELS", fixed.c_str());
  options = CSLSetNameValue(options, "ID_FIELD", "0");
  options = CSLSetNameValue(options, "ELEV_FIELD", "1");
  EXPECT_EQ(GDALContourGenerateEx(raster->GetRasterBand(1), layer, options, nullptr, nullptr), CE_None);
  CSLDestroy(options);

  std::map<double, SegmentMap> out;
  layer->ResetReading();
  while (OGRFeature* feature = layer->GetNextFeature()) {
    const OGRLineString* line = feature->GetGeometryRef()->toLineString();
    std::vector<std::pair<double, double>> points;
    for (int k = 0; k < line->getNumPoints(); ++k) points.emplace_back(line->getX(k), line->getY(k));
    AddLine(points, nx, ny, &out[static_cast<float>(feature->GetFieldAsDouble(1))]);
    OGRFeature::DestroyFeature(feature);
  }
  GDALClose(vectors);
  GDALClose(raster);
  return out;
}

bool SaddleCell(const std::vector<float>& v, int nx, int r, int c, float level) {
  bool a = v[r * nx + c] >= level;
  bool b = v[r * nx + c + 1] >= level;
  bool d = v[(r + 1) * nx + c] >= level;
  bool e = v[(r + 1) * nx + c + 1] >= level;
  return a == e && b == d && a != b;
}

// The cell that holds a segment between two edges (rows and columns of its lower-left node).
std::pair<int, int> CellOf(const Segment& s) {
  auto [r1, c1, h1] = s.first;
  auto [r2, c2, h2] = s.second;
  if (h1 && h2) return {std::min(r1, r2), c1};
  if (!h1 && !h2) return {r1, std::min(c1, c2)};
  // One horizontal and one vertical edge: the row of the vertical one, the column of the other.
  return h1 ? std::pair{r2, c1} : std::pair{r1, c2};
}

void CompareWithGdal(const std::vector<float>& values, int nx, int ny, double interval) {
  CContourTracer t;
  ASSERT_TRUE(t.AllocGrid(ny, nx));
  t.x_range = {0, static_cast<double>(nx - 1)};
  t.y_range = {0, static_cast<double>(ny - 1)};
  t.z_range = {1e300, -1e300};
  for (int r = 0; r < ny; ++r) {
    for (int c = 0; c < nx; ++c) {
      float v = values[static_cast<size_t>(r) * nx + c];
      t.Value(r, c) = v;
      t.z_range.min = std::min(t.z_range.min, static_cast<double>(v));
      t.z_range.max = std::max(t.z_range.max, static_cast<double>(v));
    }
  }
  ASSERT_EQ(t.TraceContourLevels(interval), ContourStatus::kOk);
  std::vector<float> levels;
  std::map<double, SegmentMap> ours;
  for (const auto& list : t.LineSet()) {
    for (const auto& line : *list) {
      std::vector<std::pair<double, double>> points;
      for (const ContourPoint& p : line->points) points.emplace_back(p.x, p.y);
      AddLine(points, nx, ny, &ours[line->level]);
      if (levels.empty() || levels.back() != line->level) levels.push_back(line->level);
    }
  }
  ASSERT_GT(levels.size(), 3u);
  std::map<double, SegmentMap> gdal = GdalSegments(values, nx, ny, levels);

  size_t compared = 0;
  for (float level : levels) {
    const SegmentMap& a = ours[level];
    const SegmentMap& b = gdal[level];
    for (const auto& [segment, fractions] : a) {
      auto [r, c] = CellOf(segment);
      if (SaddleCell(values, nx, r, c, level)) continue;
      auto it = b.find(segment);
      ASSERT_NE(it, b.end()) << "level " << level << ": segment in cell (" << r << ", " << c << ") only ours";
      EXPECT_NEAR(fractions.first, it->second.first, 1e-4);
      EXPECT_NEAR(fractions.second, it->second.second, 1e-4);
      ++compared;
    }
    for (const auto& [segment, fractions] : b) {
      auto [r, c] = CellOf(segment);
      if (SaddleCell(values, nx, r, c, level)) continue;
      ASSERT_TRUE(a.count(segment)) << "level " << level << ": segment in cell (" << r << ", " << c << ") only GDAL's";
    }
  }
  EXPECT_GT(compared, 500u);
}

TEST(ContourAgainstGdal, GaussianTerrain) {
  const int nx = 160;
  const int ny = 120;
  std::vector<float> values(static_cast<size_t>(nx) * ny);
  for (int r = 0; r < ny; ++r) {
    for (int c = 0; c < nx; ++c) {
      double z = 0;
      z += 800 * std::exp(-(std::pow(c - 40.3, 2) + std::pow(r - 50.1, 2)) / 600);
      z += 500 * std::exp(-(std::pow(c - 110.7, 2) + std::pow(r - 70.2, 2)) / 300);
      z += 300 * std::exp(-(std::pow(c - 90.1, 2) + std::pow(r - 20.9, 2)) / 900);
      values[static_cast<size_t>(r) * nx + c] = static_cast<float>(z + 0.37);
    }
  }
  CompareWithGdal(values, nx, ny, 37.0);
}

TEST(ContourAgainstGdal, NoisyTerrainWithSaddles) {
  const int nx = 150;
  const int ny = 110;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> noise(-6, 6);
  std::vector<float> values(static_cast<size_t>(nx) * ny);
  for (int r = 0; r < ny; ++r) {
    for (int c = 0; c < nx; ++c) {
      double z = 200 + 120 * std::sin(c * 0.07) * std::cos(r * 0.09) + 40 * std::sin(c * 0.23 + r * 0.17);
      values[static_cast<size_t>(r) * nx + c] = static_cast<float>(z + noise(rng));
    }
  }
  CompareWithGdal(values, nx, ny, 13.3);
}

}  // namespace
}  // namespace velmora

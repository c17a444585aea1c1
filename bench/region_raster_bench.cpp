// Region rasterisation speed: RasterizeRegionTiles for a concave 1,000-point region at zooms 10
// to 20 beside GDAL's rasteriser (GDALRasterizeGeometries into a memory raster laid on the same
// tile grid). Both start from the same longitude/latitude points and project them the same way;
// GDAL burns a raster of the region's tile box, we build runs of tiles. The tile counts are
// compared once per zoom, and the time ratio is printed at the end.
#include <benchmark/benchmark.h>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <ogr_geometry.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "exchange/region_raster.h"

namespace velmora {
namespace {

constexpr int kKind = 1;

// 1,000 points round Beijing with radii between 0.3 and 0.6 degrees: a star with deep notches.
const std::vector<LngLatF>& Region() {
  static const std::vector<LngLatF> region = [] {
    std::vector<LngLatF> points;
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> radius(0.3, 0.6);
    for (int i = 0; i < 1000; ++i) {
      double a = 2 * std::numbers::pi * i / 1000;
      double r = (i % 50 < 3) ? 0.12 : radius(rng);  // a notch every 50 points
      points.push_back({static_cast<float>(116.4 + r * std::cos(a)), static_cast<float>(39.9 + r * std::sin(a))});
    }
    return points;
  }();
  return region;
}

void BM_RasterizeRegionTiles(benchmark::State& state) {
  const int zoom = static_cast<int>(state.range(0));
  uint64_t tiles = 0;
  for (auto _ : state) {
    RegionTiles r;
    RasterizeRegionTiles(kKind, zoom, Region(), &r);
    tiles = r.TileCount();
    benchmark::DoNotOptimize(tiles);
  }
  state.counters["tiles"] = static_cast<double>(tiles);
}

// One GDAL run: project the points, build the OGR polygon on the tile box, burn it into a byte
// raster of the box. Returns the raster (caller closes) for the count check.
GDALDataset* GdalRasterize(int zoom) {
  const KindTransforms& t = TransformsOfKind(kKind);
  OGRLinearRing ring;
  double min_x = 1e300, min_y = 1e300, max_x = -1e300, max_y = -1e300;
  std::vector<PixelPoint> points;
  points.reserve(Region().size());
  for (const LngLatF& p : Region()) {
    PixelPoint q{t.lng_to_x(p.lng, zoom) / kTileSize, t.lat_to_y(p.lat, zoom) / kTileSize};
    min_x = std::min(min_x, q.x), max_x = std::max(max_x, q.x);
    min_y = std::min(min_y, q.y), max_y = std::max(max_y, q.y);
    points.push_back(q);
  }
  const int x0 = static_cast<int>(std::floor(min_x)), y0 = static_cast<int>(std::floor(min_y));
  const int width = static_cast<int>(std::ceil(max_x)) - x0, height = static_cast<int>(std::ceil(max_y)) - y0;
  for (const PixelPoint& q : points) ring.addPoint(q.x - x0, q.y - y0);
  ring.closeRings();
  OGRPolygon polygon;
  polygon.addRing(&ring);
  GDALDataset* raster =
      GetGDALDriverManager()->GetDriverByName("MEM")->Create("", width, height, 1, GDT_Byte, nullptr);
  double transform[6] = {0, 1, 0, 0, 0, 1};
  raster->SetGeoTransform(transform);
  int band = 1;
  double burn = 1;
  OGRGeometryH geometry = OGRGeometry::ToHandle(&polygon);
  GDALRasterizeGeometries(raster, 1, &band, 1, &geometry, nullptr, nullptr, &burn, nullptr, nullptr, nullptr);
  return raster;
}

uint64_t CountBurned(GDALDataset* raster) {
  const int w = raster->GetRasterXSize(), h = raster->GetRasterYSize();
  std::vector<uint8_t> row(static_cast<size_t>(w));
  uint64_t n = 0;
  for (int y = 0; y < h; ++y) {
    if (raster->GetRasterBand(1)->RasterIO(GF_Read, 0, y, w, 1, row.data(), w, 1, GDT_Byte, 0, 0, nullptr) != CE_None)
      return 0;
    for (uint8_t v : row) n += v;
  }
  return n;
}

void BM_GdalRasterize(benchmark::State& state) {
  GDALAllRegister();
  const int zoom = static_cast<int>(state.range(0));
  for (auto _ : state) {
    GDALDataset* raster = GdalRasterize(zoom);
    benchmark::DoNotOptimize(raster);
    GDALClose(raster);
  }
  GDALDataset* raster = GdalRasterize(zoom);
  uint64_t burned = CountBurned(raster);
  GDALClose(raster);
  RegionTiles ours;
  RasterizeRegionTiles(kKind, zoom, Region(), &ours);
  state.counters["tiles"] = static_cast<double>(burned);
  // Centres that lie exactly on an edge may fall either way; anything more is a fault.
  if (burned > ours.TileCount() + 8 || ours.TileCount() > burned + 8)
    state.SkipWithError(("tile counts differ: GDAL " + std::to_string(burned) + ", ours " +
                         std::to_string(ours.TileCount())).c_str());
}

BENCHMARK(BM_RasterizeRegionTiles)->DenseRange(10, 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_GdalRasterize)->DenseRange(10, 20)->Unit(benchmark::kMicrosecond);

// Our rasterizer's time over GDAL's at each zoom.
void PrintRatios(const bench::TimeReporter& times) {
  std::printf("\nRasterizeRegionTiles time / GDALRasterizeGeometries time (below 1: faster than GDAL)\n");
  for (int zoom = 10; zoom <= 20; ++zoom) {
    double ours = times.Time("BM_RasterizeRegionTiles/" + std::to_string(zoom));
    double gdal = times.Time("BM_GdalRasterize/" + std::to_string(zoom));
    if (ours > 0 && gdal > 0) std::printf("  zoom %2d: %.3f\n", zoom, ours / gdal);
  }
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  velmora::bench::TimeReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  velmora::PrintRatios(reporter);
  benchmark::Shutdown();
  return 0;
}

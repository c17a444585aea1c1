// Elevation store speed beside GDAL on the same grids: warm look-ups per second in modes 1
// (3-arc-second tile, 30 m) and 2 (1-arc-second cell), and a 1000 x 1000 raster walk over one
// 6000 x 6000 tile. GDAL reads the same samples from GeoTIFF copies of the same grids (made with
// GDAL's API in this run): one GDALRasterIO per point, and for the walk also one decimating
// GDALRasterIO call. Prints the fair ratios first (the store called as the program calls it,
// with the source mode read from the options; the walk against one windowed read, as a GDAL
// user reads a raster), then the earlier ones, and the memory the walk took. Also the contour
// dialog's preview sampled at 2000 columns from the tile. The grids (some 190 MB) are removed at
// the end.
#include <benchmark/benchmark.h>
#include <gdal.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/settings.h"
#include "support/temp_dir.h"
#include "terrain/contour_grid.h"
#include "terrain/elevation_profile.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"

namespace velmora {
namespace {

constexpr int kTileCol = 60, kTileRow = 5;  // 115..120 E, 40..35 N
constexpr int kLonCell = 116, kLatCell = 39;
constexpr int kWalk = 1000;
constexpr int kPoints = 1 << 16;

// Resident memory of the process from /proc/self/status, in KiB: anonymous and file-backed.
struct Rss {
  long anon = 0, file = 0;
};
Rss ReadRss() {
  Rss r;
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("RssAnon:", 0) == 0) r.anon = std::atol(line.c_str() + 8);
    if (line.rfind("RssFile:", 0) == 0) r.file = std::atol(line.c_str() + 8);
  }
  return r;
}

struct GdalGrid {
  GDALDatasetH dataset = nullptr;
  GDALRasterBandH band = nullptr;
  double gt[6] = {};
};

// One height grid written both as our height file and as a GeoTIFF of the same samples.
GdalGrid WriteGeoTiff(const std::string& path, const HeightGridLayout& layout, std::vector<int16_t>& samples) {
  GDALDriverH driver = GDALGetDriverByName("GTiff");
  GDALDatasetH out = GDALCreate(driver, path.c_str(), layout.width, layout.height, 1, GDT_Int16, nullptr);
  // Pixel-is-area: pixel (c, r) covers the sample's cell, whose north-west corner is the sample.
  double gt[6] = {layout.west, layout.cell, 0, layout.north, 0, -layout.cell};
  GDALSetGeoTransform(out, gt);
  if (GDALRasterIO(GDALGetRasterBand(out, 1), GF_Write, 0, 0, layout.width, layout.height, samples.data(), layout.width,
                   layout.height, GDT_Int16, 0, 0) != CE_None) {
    std::fprintf(stderr, "GeoTIFF write failed\n");
  }
  GDALClose(out);
  GdalGrid g;
  g.dataset = GDALOpen(path.c_str(), GA_ReadOnly);
  g.band = GDALGetRasterBand(g.dataset, 1);
  GDALGetGeoTransform(g.dataset, g.gt);
  return g;
}

struct Fixture {
  test::TempDir dir;
  CElevationStore store{nullptr, dir.path()};
  GdalGrid tiff3s, tiff1s;
  std::vector<std::pair<float, float>> points3s, points1s;  // already on the grids' samples
  Rss walk_growth;
  int mismatches = 0;

  Fixture() {
    GDALAllRegister();
    const HeightFunction hills = NamedHeightFunction("hills");
    const HeightGridLayout l3 = HeightLayout3s(kTileCol, kTileRow);
    std::vector<int16_t> s3 = BuildHeightGrid(l3, hills);
    WriteHeightSamples(
        dir.path() + CHeightFile::FileName(CHeightFile3s::TileNumber(kTileCol, kTileRow), kHeightFileSmh), s3);
    tiff3s = WriteGeoTiff(dir.File("tile3s.tif"), l3, s3);
    const HeightGridLayout l1 = HeightLayout1s(kLonCell, kLatCell);
    std::vector<int16_t> s1 = BuildHeightGrid(l1, hills);
    WriteHeightSamples(
        dir.path() + CHeightFile::FileName(CHeightFile1s::TileNumber(kLonCell, kLatCell), kHeightFileAmh), s1);
    tiff1s = WriteGeoTiff(dir.File("cell1s.tif"), l1, s1);

    // Random points, snapped the way the store snaps them, so that both sides read one sample.
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.001, 0.999);
    for (int i = 0; i < kPoints; ++i) {
      float lon = static_cast<float>(115 + 5 * u(rng)), lat = static_cast<float>(35 + 5 * u(rng));
      CElevationStore::NormalizePosition(&lon, &lat, 30);
      points3s.emplace_back(lon, lat);
      float lon1 = static_cast<float>(kLonCell + u(rng)), lat1 = static_cast<float>(kLatCell + u(rng));
      points1s.emplace_back(lon1, lat1);
    }
    Warm();
  }

  // Warm look-ups: the files open, their pages and GDAL's blocks loaded, before any timing. The
  // resident memory each side gains on the way is kept for the report.
  void Warm() {
    const Rss start = ReadRss();
    int64_t sum = 0;
    for (int pass = 0; pass < 2; ++pass) {
      for (float lat = 35.0001f; lat < 40.0f; lat += 1.0f / 1200) {
        for (float lon = 115.0001f; lon < 120.0f; lon += 0.05f) {
          float pos[2] = {lon, lat};
          float h = 0;
          store.GetElevation(pos, &h, 0, kDemSourceSrtm);
          sum += static_cast<int64_t>(h);
        }
      }
      for (float lat = 39.0001f; lat < 40.0f; lat += 1.0f / 3600) {
        float pos[2] = {116.5f, lat};
        float h = 0;
        store.GetElevation(pos, &h, 0, kDemSourceAstgtm);
        sum += static_cast<int64_t>(h);
      }
    }
    const Rss mid = ReadRss();
    // One pixel of every row loads every block (strip) of both GeoTIFFs into GDAL's block cache.
    for (int row = 0; row < 6000; ++row) sum += GdalPixel(tiff3s, 0, row);
    for (int row = 0; row < 3600; ++row) sum += GdalPixel(tiff1s, 0, row);
    const Rss end = ReadRss();
    store_warm = Rss{mid.anon - start.anon, mid.file - start.file};
    gdal_warm = Rss{end.anon - mid.anon, end.file - mid.file};
    benchmark::DoNotOptimize(sum);
  }

  static int16_t GdalPixel(const GdalGrid& g, int px, int py) {
    int16_t v = -9999;
    if (GDALRasterIO(g.band, GF_Read, px, py, 1, 1, &v, 1, 1, GDT_Int16, 0, 0) != CE_None) return -9999;
    return v;
  }
  Rss store_warm, gdal_warm;
};

std::unique_ptr<Fixture>& DataSlot() {
  static std::unique_ptr<Fixture> f;
  return f;
}

Fixture& Data() {
  if (!DataSlot()) DataSlot() = std::make_unique<Fixture>();
  return *DataSlot();
}

// Closes the GeoTIFFs and removes the grids' folder.
void FreeData() {
  if (!DataSlot()) return;
  for (GdalGrid* g : {&DataSlot()->tiff3s, &DataSlot()->tiff1s}) {
    if (g->dataset) GDALClose(g->dataset);
    g->dataset = nullptr;
  }
  DataSlot().reset();
}

int16_t GdalPoint(const GdalGrid& g, double lon, double lat) {
  const int px = static_cast<int>(std::floor((lon - g.gt[0]) / g.gt[1]));
  const int py = static_cast<int>(std::floor((lat - g.gt[3]) / g.gt[5]));
  return Fixture::GdalPixel(g, px, py);
}

// ---- warm look-ups -------------------------------------------------------------------------

void BM_StoreMode1(benchmark::State& state) {
  Fixture& f = Data();
  size_t i = 0;
  float h = 0;
  for (auto _ : state) {
    const auto& p = f.points3s[i++ & (kPoints - 1)];
    float pos[2] = {p.first, p.second};
    f.store.GetElevation(pos, &h, 30, kDemSourceSrtm);
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreMode1);

// The same look-ups with the source mode read from the options on every call, as the program
// makes them (the default mode is 1).
void BM_StoreOptionsMode1(benchmark::State& state) {
  Fixture& f = Data();
  size_t i = 0;
  float h = 0;
  for (auto _ : state) {
    const auto& p = f.points3s[i++ & (kPoints - 1)];
    float pos[2] = {p.first, p.second};
    f.store.GetElevation(pos, &h, 30);
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreOptionsMode1);

// 64 points over and over: the samples stay in the processor's cache, so what is measured is the
// look-up's own work, with the mode given and with the mode read from the options.
template <bool kFromOptions>
void HotLookups(benchmark::State& state) {
  Fixture& f = Data();
  size_t i = 0;
  float h = 0;
  for (auto _ : state) {
    const auto& p = f.points3s[i++ & 63];
    float pos[2] = {p.first, p.second};
    if (kFromOptions)
      f.store.GetElevation(pos, &h, 30);
    else
      f.store.GetElevation(pos, &h, 30, kDemSourceSrtm);
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations());
}
void BM_StoreHotMode1(benchmark::State& state) { HotLookups<false>(state); }
void BM_StoreHotOptionsMode1(benchmark::State& state) { HotLookups<true>(state); }
BENCHMARK(BM_StoreHotMode1);
BENCHMARK(BM_StoreHotOptionsMode1);

void BM_GdalPoint3s(benchmark::State& state) {
  Fixture& f = Data();
  size_t i = 0;
  for (auto _ : state) {
    const auto& p = f.points3s[i++ & (kPoints - 1)];
    benchmark::DoNotOptimize(GdalPoint(f.tiff3s, p.first, p.second));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GdalPoint3s);

void BM_StoreMode2(benchmark::State& state) {
  Fixture& f = Data();
  size_t i = 0;
  float h = 0;
  for (auto _ : state) {
    const auto& p = f.points1s[i++ & (kPoints - 1)];
    float pos[2] = {p.first, p.second};
    f.store.GetElevation(pos, &h, 0, kDemSourceAstgtm);
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreMode2);

// Mode 2 as the program asks: the source mode read from the options (set to 2 here).
void BM_StoreOptionsMode2(benchmark::State& state) {
  Fixture& f = Data();
  ScopedAppOptions mode2([](CAppOptions& o) { o.dem_source_mode = 2; });
  size_t i = 0;
  float h = 0;
  for (auto _ : state) {
    const auto& p = f.points1s[i++ & (kPoints - 1)];
    float pos[2] = {p.first, p.second};
    f.store.GetElevation(pos, &h, 0);
    benchmark::DoNotOptimize(h);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_StoreOptionsMode2);

void BM_GdalPoint1s(benchmark::State& state) {
  Fixture& f = Data();
  size_t i = 0;
  for (auto _ : state) {
    const auto& p = f.points1s[i++ & (kPoints - 1)];
    benchmark::DoNotOptimize(GdalPoint(f.tiff1s, p.first, p.second));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GdalPoint1s);

// ---- the index arithmetic alone: short forms against their definitions ----------------------
// Snapping to 30 m and both axes of the 3-arc-second and 1-arc-second grids for the random points,
// without the memory reads, so that the difference is the arithmetic's.

template <bool kShort>
void IndexArithmetic(benchmark::State& state) {
  Fixture& f = Data();
  const elevation_detail::SnapStep& step = elevation_detail::SetSnapStep(30);
  size_t i = 0;
  for (auto _ : state) {
    const auto& p = f.points3s[i & (kPoints - 1)];
    const auto& q = f.points1s[i++ & (kPoints - 1)];
    const double s = static_cast<double>(p.first) + 180.0;
    const double snapped = kShort ? elevation_detail::SnapDown(s, step) : elevation_detail::SnapDownPlain(s, step.step);
    const double d = static_cast<double>(p.second) + 180.0;
    const height_grid::GridAxis a = kShort ? height_grid::Axis3s(p.second, d) : height_grid::Axis3sPlain(d);
    const height_grid::GridAxis b = kShort ? height_grid::Axis1s(q.first, 180) : height_grid::Axis1sPlain(q.first, 180);
    benchmark::DoNotOptimize(snapped);
    benchmark::DoNotOptimize(a.tile + a.index + b.tile + b.index);
  }
  state.SetItemsProcessed(state.iterations());
}
void BM_IndexShort(benchmark::State& state) { IndexArithmetic<true>(state); }
void BM_IndexPlain(benchmark::State& state) { IndexArithmetic<false>(state); }
BENCHMARK(BM_IndexShort);
BENCHMARK(BM_IndexPlain);

// ---- raster walk: 1000 x 1000 samples spread over one 6000 x 6000 tile -----------------------
// Sample (6c + 3, 6r + 3): the pixels GDAL's nearest-neighbour decimation picks.

double WalkLon(int c) { return (kTileCol - 1) * 5.0 - 180.0 + (6 * c + 3.5) / 1200.0; }
double WalkLat(int r) { return 60.0 - (kTileRow - 1) * 5.0 - (6 * r + 3.5) / 1200.0; }

// The walk's coordinates, computed once for both sides.
struct WalkAxes {
  std::vector<double> lon, lat;
  WalkAxes() {
    for (int i = 0; i < kWalk; ++i) {
      lon.push_back(WalkLon(i));
      lat.push_back(WalkLat(i));
    }
  }
};
const WalkAxes& Axes() {
  static const WalkAxes axes;
  return axes;
}

void BM_StoreWalk(benchmark::State& state) {
  Fixture& f = Data();
  const WalkAxes& axes = Axes();
  const Rss before = ReadRss();
  for (auto _ : state) {
    int64_t sum = 0;
    for (int r = 0; r < kWalk; ++r) {
      const float lat = static_cast<float>(axes.lat[r]);
      for (int c = 0; c < kWalk; ++c) {
        float pos[2] = {static_cast<float>(axes.lon[c]), lat};
        float h = 0;
        f.store.GetElevation(pos, &h, 0, kDemSourceSrtm);
        sum += static_cast<int64_t>(h);
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  const Rss after = ReadRss();
  f.walk_growth = Rss{after.anon - before.anon, after.file - before.file};
  state.SetItemsProcessed(state.iterations() * kWalk * kWalk);
}
BENCHMARK(BM_StoreWalk)->Unit(benchmark::kMillisecond);

void BM_GdalWalkPoints(benchmark::State& state) {
  Fixture& f = Data();
  const WalkAxes& axes = Axes();
  for (auto _ : state) {
    int64_t sum = 0;
    for (int r = 0; r < kWalk; ++r) {
      for (int c = 0; c < kWalk; ++c) sum += GdalPoint(f.tiff3s, axes.lon[c], axes.lat[r]);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * kWalk * kWalk);
}
BENCHMARK(BM_GdalWalkPoints)->Unit(benchmark::kMillisecond);

void BM_GdalWalkWindow(benchmark::State& state) {
  Fixture& f = Data();
  std::vector<int16_t> buffer(static_cast<size_t>(kWalk) * kWalk);
  for (auto _ : state) {
    if (GDALRasterIO(f.tiff3s.band, GF_Read, 0, 0, 6000, 6000, buffer.data(), kWalk, kWalk, GDT_Int16, 0, 0) !=
        CE_None) {
      state.SkipWithError("GDALRasterIO failed");
      break;
    }
    benchmark::DoNotOptimize(buffer.data());
  }
  // Both walks read the same samples.
  f.mismatches = 0;
  for (int r = 0; r < kWalk; r += 7) {
    for (int c = 0; c < kWalk; c += 7) {
      float pos[2] = {static_cast<float>(WalkLon(c)), static_cast<float>(WalkLat(r))};
      float h = 0;
      f.store.GetElevation(pos, &h, 0, kDemSourceSrtm);
      if (h != buffer[static_cast<size_t>(r) * kWalk + c]) ++f.mismatches;
    }
  }
  state.SetItemsProcessed(state.iterations() * kWalk * kWalk);
}
BENCHMARK(BM_GdalWalkWindow)->Unit(benchmark::kMillisecond);

// The contour dialog's preview at 2000 columns (and the rows of a 4:3 view) over the 3-arc-second
// tile: the sampling of the preview and the filling of the tracer's grid.
void BM_SampleProfile2000(benchmark::State& state) {
  Fixture& f = Data();
  const ScopedAppOptions srtm([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
  ElevationGrid grid;
  CContourGrid contour;
  for (auto _ : state) {
    if (!SampleElevationGrid(f.store, 115.5f, 39.5f, 119.5f, 36.5f, 2000, 1500, 30, &grid) ||
        !FillContourGrid(grid, contour)) {
      state.SkipWithError("sampling failed");
      return;
    }
    benchmark::DoNotOptimize(contour.Value(750, 1000));
  }
  state.SetItemsProcessed(state.iterations() * int64_t{2000} * 1500);
}
BENCHMARK(BM_SampleProfile2000)->Unit(benchmark::kMillisecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      // A single run, or the median of repetitions.
      std::string name = run.run_name.function_name;
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      auto it = run.counters.find("items_per_second");
      if (it != run.counters.end()) rates_[name] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatios() const {
    auto ratio = [&](const char* label, const char* ours, const char* theirs) {
      auto a = rates_.find(ours), b = rates_.find(theirs);
      if (a == rates_.end() || b == rates_.end() || b->second <= 0) return;
      std::printf("%-40s %12.0f /s vs GDAL %12.0f /s: %.1fx\n", label, a->second, b->second, a->second / b->second);
    };
    std::printf("\nfair: the store as the program calls it, GDAL as a user reads a raster\n");
    ratio("mode 1 look-ups, mode from the options", "BM_StoreOptionsMode1", "BM_GdalPoint3s");
    ratio("mode 2 look-ups, mode from the options", "BM_StoreOptionsMode2", "BM_GdalPoint1s");
    ratio("1000 x 1000 walk vs one windowed read", "BM_StoreWalk", "BM_GdalWalkWindow");
    std::printf("earlier (favour the store: mode given, GDAL one point at a time)\n");
    ratio("mode 1 warm look-ups (3\", 30 m)", "BM_StoreMode1", "BM_GdalPoint3s");
    ratio("mode 2 warm look-ups (1\")", "BM_StoreMode2", "BM_GdalPoint1s");
    ratio("1000 x 1000 walk, per point", "BM_StoreWalk", "BM_GdalWalkPoints");
    auto gain = [&](const char* label, const char* fast, const char* plain) {
      auto a = rates_.find(fast), b = rates_.find(plain);
      if (a == rates_.end() || b == rates_.end() || b->second <= 0) return;
      std::printf("%-40s %12.0f /s vs plain %12.0f /s: %.2fx\n", label, a->second, b->second, a->second / b->second);
    };
    gain("index arithmetic, short vs definitions", "BM_IndexShort", "BM_IndexPlain");
    const Fixture& f = Data();
    std::printf(
        "resident memory gained while warming: store %ld KiB private + %ld KiB mapped file pages (shared "
        "page cache), GDAL %ld KiB private (block cache) + %ld KiB file pages\n",
        f.store_warm.anon, f.store_warm.file, f.gdal_warm.anon, f.gdal_warm.file);
    std::printf("during the store's walk: %ld KiB private, %ld KiB file pages; store vs GDAL sample mismatches: %d\n",
                f.walk_growth.anon, f.walk_growth.file, f.mismatches);
    // The random look-ups wait on memory, which other work on the machine shares: the load
    // goes with the numbers.
    std::ifstream load("/proc/loadavg");
    std::string avg;
    std::getline(load, avg);
    std::printf("load average at the end: %s\n", avg.c_str());
  }
  bool HasData() const { return !rates_.empty(); }

 private:
  std::map<std::string, double> rates_;
};

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  velmora::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (reporter.HasData()) reporter.PrintRatios();
  velmora::FreeData();
  benchmark::Shutdown();
  return 0;
}

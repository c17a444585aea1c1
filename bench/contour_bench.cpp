// Contour tracing speed: CContourTracer beside GDAL's contour generator on the same grids and
// levels (a sum of Gaussians and a noisy terrain, 1000 x 1000 and 2000 x 2000, 50 levels), the
// grid tracer CContourGrid on 1000 x 1000, and the growth of its joining step with the number of
// fragments. Prints the time ratio to GDAL at the end.
#include <benchmark/benchmark.h>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "terrain/contour_grid.h"
#include "terrain/contour_tracer.h"

namespace velmora {
namespace {

constexpr int kLevels = 50;

struct Terrain {
  int n = 0;
  std::vector<float> values;
  float lo = 0;
  float hi = 0;
};

Terrain MakeGaussians(int n) {
  Terrain t;
  t.n = n;
  t.values.assign(static_cast<size_t>(n) * n, 1000.0f);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> u(0, 1);
  for (int k = 0; k < 30; ++k) {
    double cx = u(rng) * n;
    double cy = u(rng) * n;
    double sigma = (0.03 + 0.12 * u(rng)) * n;
    double amp = (u(rng) < 0.3 ? -1 : 1) * (200 + 800 * u(rng));
    // Only the rows and columns where the bump still adds more than a millimetre.
    int reach = static_cast<int>(sigma * 4.5);
    int r0 = std::max(0, static_cast<int>(cy) - reach);
    int r1 = std::min(n, static_cast<int>(cy) + reach);
    int c0 = std::max(0, static_cast<int>(cx) - reach);
    int c1 = std::min(n, static_cast<int>(cx) + reach);
    for (int r = r0; r < r1; ++r) {
      for (int c = c0; c < c1; ++c) {
        double d2 = (c - cx) * (c - cx) + (r - cy) * (r - cy);
        t.values[static_cast<size_t>(r) * n + c] += static_cast<float>(amp * std::exp(-d2 / (2 * sigma * sigma)));
      }
    }
  }
  return t;
}

// Value noise in octaves (bilinear between random lattice heights) plus a few metres of white
// noise: many small closed lines and saddles, like rough real terrain.
Terrain MakeNoisy(int n) {
  Terrain t;
  t.n = n;
  t.values.assign(static_cast<size_t>(n) * n, 500.0f);
  std::mt19937 rng(23);
  std::uniform_real_distribution<double> u(-1, 1);
  for (int cell : {n / 4, n / 16, n / 64, n / 256}) {
    double amp = 0.6 * cell + 8;
    int m = n / cell + 2;
    std::vector<double> lattice(static_cast<size_t>(m) * m);
    for (double& v : lattice) v = amp * u(rng);
    for (int r = 0; r < n; ++r) {
      int lr = r / cell;
      double fr = static_cast<double>(r % cell) / cell;
      for (int c = 0; c < n; ++c) {
        int lc = c / cell;
        double fc = static_cast<double>(c % cell) / cell;
        const double* a = &lattice[static_cast<size_t>(lr) * m + lc];
        const double* b = a + m;
        double v = (a[0] * (1 - fc) + a[1] * fc) * (1 - fr) + (b[0] * (1 - fc) + b[1] * fc) * fr;
        t.values[static_cast<size_t>(r) * n + c] += static_cast<float>(v);
      }
    }
  }
  for (float& v : t.values) v += static_cast<float>(2.0 * u(rng));
  return t;
}

const Terrain& GetTerrain(int n, int kind) {
  static std::map<std::pair<int, int>, Terrain> cache;
  auto it = cache.find({n, kind});
  if (it == cache.end()) {
    Terrain t = kind == 0 ? MakeGaussians(n) : MakeNoisy(n);
    t.lo = t.hi = t.values[0];
    for (float v : t.values) {
      t.lo = std::min(t.lo, v);
      t.hi = std::max(t.hi, v);
    }
    it = cache.emplace(std::pair{n, kind}, std::move(t)).first;
  }
  return it->second;
}

// A tracer holding the terrain over a unit-spaced world box; the same object for every run.
CContourTracer& GetTracer(int n, int kind) {
  static std::map<std::pair<int, int>, std::unique_ptr<CContourTracer>> cache;
  auto& slot = cache[{n, kind}];
  if (!slot) {
    const Terrain& t = GetTerrain(n, kind);
    slot = std::make_unique<CContourTracer>();
    slot->AllocGrid(n, n);
    std::copy(t.values.begin(), t.values.end(), slot->Row(0));
    slot->x_range = {0, static_cast<double>(n - 1)};
    slot->y_range = {0, static_cast<double>(n - 1)};
    slot->z_range = {t.lo, t.hi};
  }
  return *slot;
}

std::vector<double> TracerLevels(int n, int kind) {
  CContourTracer& tracer = GetTracer(n, kind);
  double interval = tracer.ComputeContourInterval(1, kLevels);
  tracer.TraceContourLevels(interval);
  std::vector<double> levels;
  for (const auto& list : tracer.LineSet()) {
    if (!list->IsEmpty()) levels.push_back((*list)[0].level);
  }
  return levels;
}

void BM_Tracer(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int kind = static_cast<int>(state.range(1));
  CContourTracer& tracer = GetTracer(n, kind);
  const double interval = tracer.ComputeContourInterval(1, kLevels);
  size_t points = 0;
  for (auto _ : state) {
    tracer.TraceContourLevels(interval);
    benchmark::DoNotOptimize(tracer.LineSet().GetSize());
  }
  for (const auto& list : tracer.LineSet()) {
    for (const auto& line : *list) points += line->points.size();
  }
  state.counters["lines"] = static_cast<double>(tracer.LineSet().LineCount());
  state.counters["points"] = static_cast<double>(points);
}

GDALDataset* GetRaster(int n, int kind) {
  static std::map<std::pair<int, int>, GDALDataset*> cache;
  GDALDataset*& raster = cache[{n, kind}];
  if (raster == nullptr) {
    GDALAllRegister();
    const Terrain& t = GetTerrain(n, kind);
    raster = GetGDALDriverManager()->GetDriverByName("MEM")->Create("", n, n, 1, GDT_Float32, nullptr);
    double transform[6] = {-0.5, 1, 0, -0.5, 0, 1};
    raster->SetGeoTransform(transform);
    if (raster->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, n, n, const_cast<float*>(t.values.data()), n, n,
                                           GDT_Float32, 0, 0, nullptr) != CE_None) {
      std::fprintf(stderr, "cannot fill the MEM raster\n");
    }
  }
  return raster;
}

// GDAL's contour generator writing features into an OGR memory layer, as its users get them.
void BM_Gdal(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int kind = static_cast<int>(state.range(1));
  std::vector<double> levels = TracerLevels(n, kind);
  GDALDataset* raster = GetRaster(n, kind);
  GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("Memory");
  GIntBig features = 0;
  for (auto _ : state) {
    GDALDataset* vectors = memory->Create("", 0, 0, 0, GDT_Unknown, nullptr);
    OGRLayer* layer = vectors->CreateLayer("contour", nullptr, wkbLineString, nullptr);
    OGRFieldDefn id("ID", OFTInteger);
    OGRFieldDefn elev("ELEV", OFTReal);
    layer->CreateField(&id);
    layer->CreateField(&elev);
    GDALContourGenerate(raster->GetRasterBand(1), 0, 0, static_cast<int>(levels.size()), levels.data(), FALSE, 0,
                        OGRLayer::ToHandle(layer), 0, 1, nullptr, nullptr);
    features = layer->GetFeatureCount();
    GDALClose(vectors);
  }
  state.counters["lines"] = static_cast<double>(features);
}

// GDAL's generator core fed row by row with a writer that only counts: no feature building.
void BM_GdalCore(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int kind = static_cast<int>(state.range(1));
  const Terrain& t = GetTerrain(n, kind);
  std::vector<double> levels = TracerLevels(n, kind);
  const double interval = levels.size() > 1 ? levels[1] - levels[0] : 1;
  struct Count {
    size_t lines = 0;
    size_t points = 0;
  } count;
  auto writer = [](double, int points, double*, double*, void* data) -> CPLErr {
    auto* c = static_cast<Count*>(data);
    ++c->lines;
    c->points += static_cast<size_t>(points);
    return CE_None;
  };
  std::vector<double> row(static_cast<size_t>(n));
  for (auto _ : state) {
    count = {};
    GDALContourGeneratorH generator = GDAL_CG_Create(n, n, FALSE, 0, interval, levels[0], writer, &count);
    for (int r = 0; r < n; ++r) {
      const float* src = &t.values[static_cast<size_t>(r) * n];
      std::copy(src, src + n, row.begin());
      GDAL_CG_FeedLine(generator, row.data());
    }
    GDAL_CG_Destroy(generator);
  }
  state.counters["lines"] = static_cast<double>(count.lines);
  state.counters["points"] = static_cast<double>(count.points);
}

void BM_Grid(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const int kind = static_cast<int>(state.range(1));
  const Terrain& t = GetTerrain(n, kind);
  CContourGrid grid;
  grid.Allocate(n, n);
  std::copy(t.values.begin(), t.values.end(), grid.Row(0));
  grid.SetValueRange(t.lo, t.hi);
  const int interval = std::max(1, static_cast<int>((t.hi - t.lo) / kLevels));
  for (auto _ : state) {
    grid.Compute(interval);
    benchmark::DoNotOptimize(grid.Lines().size());
  }
  state.counters["lines"] = static_cast<double>(grid.Lines().size());
}

// The joining step alone on n short fragments at constant density (the area grows with n).
void BM_Join(benchmark::State& state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::mt19937 rng(3);
  const float side = static_cast<float>(std::sqrt(static_cast<double>(n)) * 6.0);
  std::uniform_real_distribution<float> pos(0, side);
  std::uniform_real_distribution<float> step(-2, 2);
  std::vector<ContourLine> fragments(n);
  for (ContourLine& line : fragments) {
    ContourPoint p{pos(rng), pos(rng)};
    for (int k = 0; k < 5; ++k) {
      line.points.push_back(p);
      p = {p.x + step(rng), p.y + step(rng)};
    }
  }
  std::vector<std::unique_ptr<ContourLine>> lines;
  std::vector<uint8_t> border;
  for (auto _ : state) {
    state.PauseTiming();
    lines.clear();
    for (const ContourLine& line : fragments) lines.push_back(std::make_unique<ContourLine>(line));
    border.clear();
    state.ResumeTiming();
    JoinContourFragments(lines, 0, border);
    benchmark::DoNotOptimize(lines.size());
  }
  state.counters["left"] = static_cast<double>(lines.size());
  state.SetComplexityN(static_cast<int64_t>(n));
}

BENCHMARK(BM_Tracer)->ArgsProduct({{1000, 2000}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Gdal)->ArgsProduct({{1000, 2000}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GdalCore)->ArgsProduct({{1000, 2000}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Grid)->ArgsProduct({{1000}, {0, 1}})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Join)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Unit(benchmark::kMillisecond)->Complexity();

// Our tracer's time over GDAL's (and over GDAL's contour core alone, where it ran).
void PrintRatios(const bench::TimeReporter& times) {
  std::printf("\nCContourTracer time / GDAL time (below 1: faster than GDAL)\n");
  for (const char* size : {"1000", "2000"}) {
    for (const char* kind : {"0", "1"}) {
      std::string args = std::string("/") + size + "/" + kind + "/real_time";
      double ours = times.Time("BM_Tracer" + args), gdal = times.Time("BM_Gdal" + args);
      double core = times.Time("BM_GdalCore" + args);
      if (ours <= 0 || gdal <= 0) continue;
      std::printf("  %sx%s %-9s vs GDALContourGenerate: %.3f", size, size, *kind == '0' ? "gaussians" : "noisy",
                  ours / gdal);
      if (core > 0) std::printf("   vs GDAL_CG_FeedLine core: %.3f", ours / core);
      std::printf("\n");
    }
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

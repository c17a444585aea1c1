// The gridding and contouring stand-in end to end (points written as "out.dat", gridded linearly,
// contoured, both DXF files written and read back, the exchange files removed) on 250,000
// lattice points of a hill, beside GDAL's own tools on the same points as CSV: gdal_grid -a
// linear, then gdal_contour at the same interval (also on the lattice in metres, where GDAL's
// triangle search works). One run each iteration; the ratios of the best rates are printed.
#include <cmath>
#include <fstream>

#include "bench_support.h"
#include "core/format.h"
#include "terrain/dem_files.h"
#include "terrain/grid_contour_server.h"

namespace velmora {
namespace {

constexpr int kSide = 500;  // 250,000 points
constexpr double kInterval = 20;

struct Fixture {
  std::string dir;
  CDemGrid grid;
  double step = 0;
};

void Fill(Fixture& f) {
    f.dir = bench::MakeBenchFolder("", "grid_contour");
    f.step = static_cast<double>(30.0f * kDemGridDegreesPerMetre);
    const LngLatF a{116.0f, 39.9f};
    const LngLatF b{static_cast<float>(116.0 + (kSide - 1) * f.step), static_cast<float>(39.9 + (kSide - 1) * f.step)};
    f.grid.SetPoints(a, b, 30);
    std::ofstream csv(f.dir + "points.csv"), local(f.dir + "local.csv");
    csv << "x,y,z\n";
    local << "x,y,z\n";
    for (int r = 0; r < kSide; ++r)
      for (int c = 0; c < kSide; ++c) {
        const double x = a.lng + c * f.step, y = a.lat + r * f.step;
        const double z = 200 + 800 * std::exp(-((c - 250.0) * (c - 250.0) + (r - 230.0) * (r - 230.0)) / 9000.0) +
                         30 * std::sin(c / 17.0) * std::cos(r / 23.0);
        f.grid.points.push_back({x, y, z});
        csv << FormatC("%.6f,%.6f,%.3f\n", x, y, z);
        local << FormatC("%d,%d,%.3f\n", c * 30, r * 30, z);
      }
    f.grid.RecomputeRanges();
    f.grid.interval = static_cast<float>(kInterval);
    for (const char* name : {"points", "local"}) {
      std::ofstream vrt(f.dir + name + ".vrt");
      vrt << "<OGRVRTDataSource><OGRVRTLayer name=\"" << name << "\"><SrcDataSource>" << f.dir << name
          << ".csv</SrcDataSource><GeometryType>wkbPoint</GeometryType>"
             "<GeometryField encoding=\"PointFromColumns\" x=\"x\" y=\"y\" z=\"z\"/></OGRVRTLayer>"
             "</OGRVRTDataSource>";
    }
}

Fixture& Data() {
  static Fixture f;
  static const bool filled = (Fill(f), true);
  (void)filled;
  return f;
}

void BM_ContourWithSurfer(benchmark::State& state) {
  Fixture& f = Data();
  if (f.dir.empty()) {
    state.SkipWithError("no scratch folder");
    return;
  }
  GridContourJob job;
  job.work_dir = f.dir;
  job.spacing = GridSpacingOf(f.grid, false);
  job.options.labels_on = true;
  size_t lines = 0;
  for (auto _ : state) {
    CContourLineSet set;
    std::vector<DemLabel> labels;
    const GridContourResult result = ContourWithServer(f.grid, job, &CreateGdalGridServer, &set, &labels);
    if (!result.ok) {
      state.SkipWithError(result.error.c_str());
      return;
    }
    lines = set.LineCount();
  }
  state.counters["lines"] = static_cast<double>(lines);
  state.SetItemsProcessed(state.iterations() * int64_t{kSide} * kSide);
}

// gdal_grid then gdal_contour. On the points in degrees (as the panel writes them) GDAL's
// triangle search finds no triangle for 1e-3 degree cells and spends its time searching; on the
// same lattice in metres from its first node it grids as meant. Both are run.
void GdalGridThenContour(benchmark::State& state, const char* name, double x0, double y0, double step) {
  Fixture& f = Data();
  const double half = step / 2;
  const std::string tif = f.dir + name + ".tif", dxf = f.dir + name + ".dxf";
  const std::string command = FormatC(
      "gdal_grid -q -a linear:radius=0 -txe %.9f %.9f -tye %.9f %.9f -outsize %d %d -ot Float32 '%s' '%s' && "
      "gdal_contour -q -i %g -3d -f DXF '%s' '%s' && rm -f '%s' '%s'",
      x0 - half, x0 + (kSide - 1) * step + half, y0 - half, y0 + (kSide - 1) * step + half, kSide, kSide,
      (f.dir + name + ".vrt").c_str(), tif.c_str(), kInterval, tif.c_str(), dxf.c_str(), tif.c_str(), dxf.c_str());
  bench::RunCommandTimed(state, command, int64_t{kSide} * kSide);
}

void BM_GdalGridThenContour(benchmark::State& state) { GdalGridThenContour(state, "points", 116.0, 39.9, Data().step); }
void BM_GdalGridThenContourMetres(benchmark::State& state) { GdalGridThenContour(state, "local", 0, 0, 30); }

BENCHMARK(BM_ContourWithSurfer)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_GdalGridThenContour)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(1);
BENCHMARK(BM_GdalGridThenContourMetres)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  velmora::bench::BestRateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ours = reporter.Rate("BM_ContourWithSurfer"), gdal = reporter.Rate("BM_GdalGridThenContour");
  const double metres = reporter.Rate("BM_GdalGridThenContourMetres");
  if (ours > 0 && gdal > 0)
    std::printf("250,000 lattice points gridded and contoured, one process vs gdal_grid + gdal_contour: %.2fx "
                "(degrees)\n", ours / gdal);
  if (ours > 0 && metres > 0)
    std::printf("the same against GDAL's tools on the lattice in metres: %.2fx\n", ours / metres);
  if (!velmora::Data().dir.empty()) std::filesystem::remove_all(velmora::Data().dir);
  benchmark::Shutdown();
  return 0;
}

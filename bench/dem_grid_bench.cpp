// The elevation grid panel's pipeline beside GDAL on the same height file: 2000 x 2000 nodes
// sampled from a 3-arc-second tile through the elevation store, traced at 50 levels and written as
// a Surfer grid and as contour KML; GDAL cuts the same window out of the same file (a VRT over its
// raw samples) into a Surfer grid with gdal_translate and traces it into KML with gdal_contour.
// Prints the time ratio at the end (above 1: we are ahead).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/format.h"
#include "core/settings.h"
#include "terrain/dem_files.h"
#include "terrain/dem_grid.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file.h"
#include "terrain/height_file_writer.h"

namespace velmora {
namespace {

constexpr int kTileCol = 60, kTileRow = 5;  // 115..120 E, 40..35 N
constexpr int kNodes = 2000;
constexpr int kLevels = 50;
constexpr int kRowsWritten = 2100;  // rows of the tile written, from its north edge
constexpr int kDistance = 93;       // metres: a step just above the 3-arc-second spacing

struct Fixture {
  std::string dir;
  std::string vrt;
  HeightGridLayout layout;
  float west = 0, north = 0;
  double interval = 0;
  int src_x = 0, src_y = 0, src_size = 0;  // GDAL's window over the same samples

  Fixture() {
    dir = bench::MakeBenchFolder("", "dem-grid");
    layout = HeightLayout3s(kTileCol, kTileRow);
    layout.height = kRowsWritten;
    const std::string path = dir + CHeightFile::FileName(CHeightFile3s::TileNumber(kTileCol, kTileRow), kHeightFileSmh);
    std::string error;
    if (!WriteHeightSamples(path, BuildHeightGrid(layout, NamedHeightFunction("hills")), &error))
      std::fprintf(stderr, "height file: %s\n", error.c_str());
    // GDAL reads the file's raw samples through a VRT: pixel-is-area, pixel (c, r) centred on the
    // sample at west + c * cell, north - r * cell.
    vrt = dir + "tile.vrt";
    std::ofstream out(vrt);
    out << FormatC("<VRTDataset rasterXSize=\"%d\" rasterYSize=\"%d\">\n", layout.width, layout.height)
        << FormatC("<GeoTransform>%.12f, %.12f, 0, %.12f, 0, %.12f</GeoTransform>\n", layout.west - layout.cell / 2,
                   layout.cell, layout.north + layout.cell / 2, -layout.cell)
        << "<VRTRasterBand dataType=\"Int16\" band=\"1\" subClass=\"VRTRawRasterBand\">\n"
        << "<SourceFilename relativeToVRT=\"0\">" << path << "</SourceFilename>\n"
        << FormatC("<ImageOffset>0</ImageOffset><PixelOffset>2</PixelOffset><LineOffset>%d</LineOffset>", layout.width * 2)
        << "<ByteOrder>LSB</ByteOrder>\n</VRTRasterBand>\n</VRTDataset>\n";
    west = static_cast<float>(layout.west + 0.05);
    north = static_cast<float>(layout.north - 0.05);
    src_x = static_cast<int>(std::lround(0.05 / layout.cell));
    src_y = src_x;
    src_size = kNodes;
  }
};

bool g_fixture_made = false;

Fixture& Data() {
  static Fixture f;
  g_fixture_made = true;
  return f;
}

void BM_VelmoraSampleTraceWrite(benchmark::State& state) {
  Fixture& f = Data();
  CElevationStore store(nullptr, f.dir);
  const ScopedAppOptions files([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
  const float step = kDistance * kDemGridDegreesPerMetre;
  CDemGrid grid;
  const float east = static_cast<float>(f.west + (kNodes - 0.5) * step);
  const float south = static_cast<float>(f.north - (kNodes - 0.5) * step);
  grid.SetPoints({f.west, f.north}, {east, south}, kDistance);
  DemRunContext context;
  context.store = &store;
  context.wait_quit = [](unsigned) { return false; };
  size_t lines = 0;
  for (auto _ : state) {
    grid.BeginRun(DemVariant::kRegionGrid);
    const DemRunResult run = grid.Run(DemVariant::kRegionGrid, context);
    if (!run.error.empty() || grid.tracer.nx() != kNodes || grid.tracer.ny() != kNodes) {
      state.SkipWithError("the grid run failed");
      return;
    }
    const double interval = (grid.tracer.z_range.max - grid.tracer.z_range.min) / kLevels;
    f.interval = interval;
    if (grid.tracer.TraceContourLevels(interval) != ContourStatus::kOk) {
      state.SkipWithError("tracing failed");
      return;
    }
    std::vector<Argb> pens;
    std::vector<DemDrawRecord> records;
    BuildDemDrawRecords(grid.tracer.LineSet(), grid.tracer.x_range, grid.tracer.y_range, 800, 600, DemPageOptions{},
                        &pens, &records);
    std::vector<const DemDrawRecord*> rows;
    rows.reserve(records.size());
    for (const DemDrawRecord& r : records) rows.push_back(&r);
    lines = rows.size();
    if (!ExportSurferGrid(f.dir + "ours.grd", grid.tracer) ||
        !ExportContoursKml(f.dir + "ours.kml", rows, pens, true, false, {}, 0xFF000000u)) {
      state.SkipWithError("writing failed");
      return;
    }
  }
  state.counters["lines"] = static_cast<double>(lines);
  state.SetItemsProcessed(state.iterations() * int64_t{kNodes} * kNodes);
}

void BM_GdalTranslateContour(benchmark::State& state) {
  Fixture& f = Data();
  if (f.interval <= 0) f.interval = 3050.0 / kLevels;
  const std::string grd = f.dir + "gdal.grd", kml = f.dir + "gdal.kml";
  const std::string command =
      FormatC("gdal_translate -q -of GSAG -srcwin %d %d %d %d '%s' '%s' && rm -f '%s' && "
              "gdal_contour -q -i %.6f -a elev -f KML '%s' '%s'",
              f.src_x, f.src_y, f.src_size, f.src_size, f.vrt.c_str(), grd.c_str(), kml.c_str(), f.interval,
              grd.c_str(), kml.c_str());
  bench::RunCommandTimed(state, command, int64_t{kNodes} * kNodes);
}

BENCHMARK(BM_VelmoraSampleTraceWrite)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_GdalTranslateContour)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  velmora::bench::BestRateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ours = reporter.Rate("BM_VelmoraSampleTraceWrite"), gdal = reporter.Rate("BM_GdalTranslateContour");
  if (ours > 0 && gdal > 0)
    std::printf("2000 x 2000 nodes sampled, traced at %d levels, written as DSAA and KML: %.2fx GDAL's speed\n",
                velmora::kLevels, ours / gdal);
  // The height file and the outputs are large: the scratch folder goes with the run.
  if (velmora::g_fixture_made && !velmora::Data().dir.empty()) std::filesystem::remove_all(velmora::Data().dir);
  benchmark::Shutdown();
  return 0;
}

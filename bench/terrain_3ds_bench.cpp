// The 3D Studio terrain export beside assimp: a 1500 x 1500 grid (1.25° at 3″ over 115..116.25 E,
// 36.25..35 N) written from warm height files, against `assimp export` (assimp-utils) converting
// the same grid, written once as OBJ, to .3ds. Goal: our whole export faster than that conversion
// alone. And the layer statistics coverage of 1,000,000 keys on the 1024 x 512 world picture:
// under 1 s. Prints the ratio.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <string>

#include "bench_support.h"
#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"
#include "terrain/3ds_writer.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file_writer.h"
#include "terrain/terrain_grid.h"
#include "terrain/tile_coverage.h"

namespace velmora {
namespace {

constexpr double kWest = 115.0, kNorth = 36.25, kEast = 116.25, kSouth = 35.0;

double Hills(double lon, double lat) { return 800 + 600 * std::sin(lon * 3.1) * std::cos(lat * 2.3); }

struct Fixture {
  Fixture() {
    options = std::make_unique<ScopedAppOptions>([](CAppOptions& o) { o.dem_source_mode = kDemSourceSrtm; });
    const std::string folder = dir.File("heights/");
    WriteHeightFile3s(folder, 60, 5, Hills);
    elevation = std::make_unique<CElevationStore>(nullptr, folder);
    ProgramSettings().SetInt(kDemSampleKey, 1500);
    ProgramSettings().SetIntPair(kDemFactorKey, IntPair{1, 0});
    ProgramSettings().SetInt(kExp3dsPlainKey, 0);
    // The same grid as an OBJ file for the peer (and a first export that warms the files).
    C3dsWriter writer(elevation.get());
    if (!writer.Write(dir.File("warm.3ds"), kWest, kNorth, kEast, kSouth)) std::fprintf(stderr, "export failed\n");
    const ThreeDsGrid& g = writer.Grid();
    columns = g.columns + 1;
    rows = g.rows;
    obj = dir.File("grid.obj");
    std::FILE* f = std::fopen(obj.c_str(), "w");
    if (!f) return;
    for (int r = 0; r < rows; ++r)
      for (int c = 0; c < columns; ++c) {
        const double lon = kWest + c * g.lon_step, lat = kNorth - r * g.lat_step;
        float pos[2] = {float(lon), float(lat)}, h = 0;
        elevation->GetElevation(pos, &h, 90);
        float x, y, z;
        LngLatToXYZ(float(lon), float(lat), h * 0.001f, &x, &y, &z);
        std::fprintf(f, "v %.6f %.6f %.6f\nvt %.6f %.6f\n", x, y, z, (lon - kWest) / (kEast - kWest),
                     (lat - kSouth) / (kNorth - kSouth));
      }
    for (int r = 0; r + 1 < rows; ++r)
      for (int c = 0; c + 1 < columns; ++c) {
        const int i = r * columns + c + 1, below = i + columns;
        std::fprintf(f, "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", i, i, below, below, i + 1, i + 1, i + 1, i + 1,
                     below, below, below + 1, below + 1);
      }
    std::fclose(f);
  }
  test::TempDir dir;
  std::unique_ptr<ScopedAppOptions> options;
  std::unique_ptr<CElevationStore> elevation;
  std::string obj;
  int columns = 0, rows = 0;
};

Fixture& Shared() {
  static Fixture f;
  return f;
}

void BM_Export3ds(benchmark::State& state) {
  Fixture& f = Shared();
  C3dsWriter writer(f.elevation.get());
  for (auto _ : state)
    if (!writer.Write(f.dir.File("ours.3ds"), kWest, kNorth, kEast, kSouth)) state.SkipWithError("export failed");
  state.counters["columns"] = writer.Grid().columns;
  state.counters["rows"] = writer.Grid().rows;
}
BENCHMARK(BM_Export3ds)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_AssimpObjTo3ds(benchmark::State& state) {
  Fixture& f = Shared();
  if (std::system("command -v assimp >/dev/null 2>&1") != 0) {
    state.SkipWithError("assimp (assimp-utils) is not installed");
    return;
  }
  bench::RunCommandTimed(state, "assimp export " + f.obj + " " + f.dir.File("peer.3ds") + " >/dev/null 2>&1",
                         int64_t(f.columns) * f.rows);
}
BENCHMARK(BM_AssimpObjTo3ds)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(3);

void BM_DrawCoverageMillionKeys(benchmark::State& state) {
  CBitmap world;
  const std::string path = AppOptions().program_dir + "images/world.jpg";
  if (!LoadImageFile(path, &world)) {
    state.SkipWithError("no images/world.jpg");
    return;
  }
  std::mt19937 random(7);
  std::vector<TileKey> keys(1000000);
  for (TileKey& k : keys) k = MakeTileKey(int(random() % 4096), int(random() % 4096), TileKeyValue(1, 12));
  for (auto _ : state) {
    CBitmap picture;
    picture.CreateForOverwrite(world.Width(), world.Height());
    std::copy_n(world.Pixels(), size_t(world.Width()) * world.Height(), picture.Pixels());
    DrawTileCoverage(picture, keys, kKindMercator, 800);
    benchmark::DoNotOptimize(picture.Pixels());
  }
}
BENCHMARK(BM_DrawCoverageMillionKeys)->Unit(benchmark::kMillisecond)->UseRealTime();

class RatioReporter : public bench::SecondsReporter {
 public:
  void PrintRatio() const {
    const double *ours = Seconds("BM_Export3ds"), *peer = Seconds("BM_AssimpObjTo3ds");
    if (ours && peer && *peer > 0)
      std::printf("3ds export %.3f s, assimp OBJ -> 3ds %.3f s: %.2f x assimp (goal: under 1 x)\n", *ours, *peer,
                  *ours / *peer);
    if (const double* cov = Seconds("BM_DrawCoverageMillionKeys"))
      std::printf("coverage of 1,000,000 keys %.3f s (goal: under 1 s)\n", *cov);
  }
};

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  if (velmora::bench::MakeBenchFolder("", "3ds").empty()) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  velmora::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio();
  benchmark::Shutdown();
  return 0;
}

// Joining the 64 shots (8 x 8 of 1294 x 592, the capture of a 1382 x 755 render window) of a
// snapshot mosaic: MosaicAssemble to JPEG, TIFF and the mapped BMP, beside GDAL on the same
// shots (gdalbuildvrt of the shots placed by world files, then gdal_translate to the same
// format). The ratio of the times is printed after the table; the goal is to be ahead of GDAL.
#include <gdal.h>

#include <cstdio>
#include <filesystem>

#include "bench_support.h"
#include "core/settings.h"
#include "earth/mosaic_assemble.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"

namespace velmora {
namespace {

constexpr int kColumns = 8, kRows = 8, kShotW = 1294, kShotH = 592;

struct Shots {
  std::string folder;
  bool ok = false;
  Shots() {
    folder = bench::MakeBenchFolder("", "earth-mosaic");
    if (folder.empty()) return;
    std::filesystem::create_directories(folder + "shots/");
    std::filesystem::create_directories(folder + "peer/");
    CBitmap shot;
    if (!shot.Create(kShotW, kShotH)) return;
    for (int c = 0; c < kColumns; ++c)
      for (int r = 0; r < kRows; ++r) {
        for (int y = 0; y < kShotH; ++y)
          for (int x = 0; x < kShotW; ++x)
            shot.Row(y)[x] = MakeArgb(255, uint8_t(x * 7 + c * 31), uint8_t(y * 5 + r * 17), uint8_t((x ^ y) + c * r));
        std::vector<uint8_t> bmp;
        if (!EncodeImage(shot, ImageType::kBmp, &bmp)) return;
        const std::string ours = MosaicShotPath(folder + "shots/", "ge", c, r);
        const std::string peer = folder + "peer/s_" + std::to_string(c) + "_" + std::to_string(r);
        for (const std::string& path : {ours, peer + ".bmp"}) {
          FILE* f = std::fopen(path.c_str(), "wb");
          if (!f) return;
          std::fwrite(bmp.data(), 1, bmp.size(), f);
          std::fclose(f);
        }
        // The peer places each shot with a world file: one unit per pixel, rows going down.
        FILE* wld = std::fopen((peer + ".wld").c_str(), "w");
        if (!wld) return;
        std::fprintf(wld, "1\n0\n0\n-1\n%d.5\n%d.5\n", c * kShotW, -r * kShotH);
        std::fclose(wld);
      }
    ok = true;
  }
};

Shots& TheShots() {
  static Shots shots;
  return shots;
}

void BM_MosaicAssemble(benchmark::State& state, const char* ext, bool mapped) {
  Shots& shots = TheShots();
  if (!shots.ok) {
    state.SkipWithError("the shots could not be written");
    return;
  }
  MosaicAssembleOptions options;
  options.folder = shots.folder + "shots/";
  options.jpeg_quality = 90;
  if (mapped) options.memory_limit = 0;
  options.ask_bmp = [] { return true; };
  const std::string out = shots.folder + "ours." + ext;
  for (auto _ : state) {
    std::string error;
    if (MosaicAssemble(out, "ge", kColumns, kRows, options, nullptr, &error) != MosaicResult::kWritten) {
      state.SkipWithError(error.c_str());
      return;
    }
  }
  state.SetItemsProcessed(state.iterations() * kColumns * kRows);
}

void BM_GdalMosaic(benchmark::State& state, const char* format, const char* ext) {
  Shots& shots = TheShots();
  if (!shots.ok) {
    state.SkipWithError("the shots could not be written");
    return;
  }
  const std::string peer = shots.folder + "peer/";
  const std::string command = "cd " + peer + " && gdalbuildvrt -q all.vrt s_*.bmp && gdal_translate -q -of " + format +
                              (std::string(format) == "JPEG" ? " -co QUALITY=90" : "") + " all.vrt ../gdal." + ext +
                              " > /dev/null 2>&1";
  bench::RunCommandTimed(state, command, kColumns * kRows);
}

BENCHMARK_CAPTURE(BM_MosaicAssemble, jpg, "jpg", false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(BM_GdalMosaic, jpg, "JPEG", "jpg")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK_CAPTURE(BM_MosaicAssemble, tif, "tif", false)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(BM_GdalMosaic, tif, "GTiff", "tif")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);
BENCHMARK_CAPTURE(BM_MosaicAssemble, bmp_mapped, "bmp", true)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(BM_GdalMosaic, bmp, "BMP", "bmp")->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(2);

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  velmora::bench::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  for (const char* kind : {"jpg", "tif", "bmp"}) {
    const double ours = reporter.Rate(std::string("BM_MosaicAssemble/") + (std::string(kind) == "bmp" ? "bmp_mapped" : kind));
    const double gdal = reporter.Rate(std::string("BM_GdalMosaic/") + kind);
    if (ours > 0 && gdal > 0) std::printf("%s: MosaicAssemble is %.2fx GDAL's speed\n", kind, ours / gdal);
  }
  benchmark::Shutdown();
  std::error_code ec;
  std::filesystem::remove_all(velmora::TheShots().folder, ec);
  return 0;
}

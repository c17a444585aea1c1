// The earth page's fixture for the front-end programs: hill, dotted tiles, program folder, log,
// workers.
#include "support/earth/earth_page_fixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/geodesy.h"
#include "core/log.h"
#include "earth/ui/earth_page.h"
#include "frontend_env.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "terrain/height_file_writer.h"
#include "velmora_build_paths.h"

namespace velmora::test {

double Hill(double lng, double lat) {
  const double d2 = (lng - kHillLng) * (lng - kHillLng) + (lat - kHillLat) * (lat - kHillLat);
  return kHillTop * std::exp(-d2 / (2 * 0.3 * 0.3));
}

std::optional<PageResource> DotTile(const std::string& path) {
  int source, z, x, y;
  if (std::sscanf(path.c_str(), "/%d/%d/%d/%d", &source, &z, &x, &y) != 4 || z < 0 || z > 12) return std::nullopt;
  CBitmap tile;
  if (!tile.Create(256, 256, 0xFFFFFFFFu)) return std::nullopt;
  if (z >= 5) {
    const double world = 256.0 * (1 << z);
    const double west = x * 256.0 / world * 360 - 180, east = (x + 1) * 256.0 / world * 360 - 180;
    for (double lng = std::floor(west / kDotSpacing) * kDotSpacing; lng <= east + kDotSpacing; lng += kDotSpacing)
      for (double lat = -85; lat <= 85; lat += kDotSpacing) {
        const double px = (lng + 180) / 360 * world - x * 256.0, py = MercatorLatToY(lat, z) - y * 256.0;
        if (py < -4 || py > 260) continue;
        for (int dy = -3; dy <= 3; ++dy)
          for (int dx = -3; dx <= 3; ++dx)
            if (dx * dx + dy * dy <= 9) tile.SetPixel(int(std::floor(px)) + dx, int(std::floor(py)) + dy, 0xFF000000u);
      }
  }
  std::vector<uint8_t> png;
  if (!EncodeImage(tile, ImageType::kPng, &png)) return std::nullopt;
  return PageResource{"image/png", std::string(png.begin(), png.end())};
}

EarthProgramFolder::EarthProgramFolder(const EarthFolderOptions& options) : options(options) {
  const std::string built = VELMORA_BUILD_DIR "/data/";
  std::error_code ec;
  std::filesystem::create_directory_symlink(built + "cesium", dir.File("cesium"), ec);
  if (options.images) std::filesystem::create_directory_symlink(built + "images", dir.File("images"), ec);
  std::filesystem::create_symlink(built + "map_sources.txt", dir.File("map_sources.txt"), ec);
  std::filesystem::create_directories(dir.File("data"), ec);
  if (options.page) SetPage(true);
  if (options.heights) {
    WriteHeightFile3s(dir.File("data/"), 60, 5, Hill);
    WriteCoarseHeightFile(dir.File("data/"), Hill);
  }
  setenv("VELMORA_PROGRAM_DIR", dir.path().c_str(), 1);
  if (xvfb.Start(options.screen_width, options.screen_height, &xvfb_error)) xvfb_error.clear();
}

void EarthProgramFolder::SetPage(bool present) {
  std::error_code ec;
  if (present)
    std::filesystem::create_directory_symlink(VELMORA_BUILD_DIR "/data/earth", dir.File("earth"), ec);
  else
    std::filesystem::remove(dir.File("earth"), ec);
}

EarthProgramFolder& EarthProgram(const EarthFolderOptions& options) {
  static EarthProgramFolder folder(options);
  return folder;
}

void StartDotTileSuite() {
  CollectLog();
  SetPageResourceSource("tile", DotTile);
  SetEarthWindowSize(EarthProgram().options.screen_width, EarthProgram().options.screen_height);
}

namespace {

std::mutex g_log_mutex;
std::vector<std::string> g_log;

}  // namespace

void CollectLog() {
  SetLogSink([](const std::string& line) {
    std::lock_guard lock(g_log_mutex);
    g_log.push_back(line);
  });
}

void StopCollectingLog() { SetLogSink(nullptr); }

std::vector<std::string> CollectedLog() {
  std::lock_guard lock(g_log_mutex);
  return g_log;
}

void PrintCollectedLog() {
  for (const std::string& line : CollectedLog()) std::fprintf(stderr, "log: %s\n", line.c_str());
}

void OnWorker(const std::function<void()>& work, int ms) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    try {
      work();
    } catch (const std::exception& e) {
      ADD_FAILURE() << "raised: " << e.what();
    }
    done = true;
  });
  const bool finished = PumpUntil([&] { return done.load(); }, ms);
  worker.join();
  ASSERT_TRUE(finished) << "the worker did not finish in time";
}

}  // namespace velmora::test

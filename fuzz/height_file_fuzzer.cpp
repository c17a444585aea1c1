// Height files of every kind from arbitrary bytes (short, long, odd sizes): every look-up answers
// a 16-bit height or -9999 and never reads outside the mapping, through the files and through
// the elevation store.
#include <cmath>
#include <filesystem>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "terrain/elevation_store.h"
#include "terrain/height_file.h"

using namespace velmora;

namespace {

bool IsHeight(int h) { return h == kNoHeightSample || (h >= -32768 && h <= 32767); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string dir = fuzz::Setup() + "heights/";
  fuzz::RemoveFiles("heights");
  fuzz::Parts parts(data, size);
  const uint8_t kind = parts.Byte();
  const std::string_view positions = parts.Next();
  const std::string_view file = parts.Rest();
  std::filesystem::create_directories(dir);

  // The tiles that hold 116.5 E, 39.5 N, and the coarse file.
  const int32_t tile3s = CHeightFile3s::TileNumber(60, 5), tile1s = CHeightFile1s::TileNumber(116, 39);
  const int32_t tile = kind % 3 == 0 ? tile3s : kind % 3 == 1 ? tile1s : kCoarseTile;
  const int file_kind = kind % 3 == 1 ? kHeightFileAmh : kHeightFileSmh;
  fuzz::WriteFile(dir + CHeightFile::FileName(tile, file_kind), file);

  CHeightFile3s f3(tile3s, kHeightFileSmh, dir);
  CHeightFile1s f1(tile1s, kHeightFileAmh, dir);
  CHeightFileCoarse coarse(kCoarseTile, kHeightFileSmh, dir);
  CElevationStore store(nullptr, dir);
  // Positions from the input (pairs of bytes spread over the tile), and the tile's corners.
  std::vector<std::pair<float, float>> points = {{115.0f, 40.0f}, {120.0f, 35.0f}, {116.0f, 39.0f}, {117.0f, 40.0f},
                                                 {116.99999f, 39.99999f}, {-179.6f, 59.9f}, {179.6f, -59.9f}};
  for (size_t i = 0; i + 1 < positions.size(); i += 2) {
    const float u = static_cast<unsigned char>(positions[i]) / 255.0f;
    const float v = static_cast<unsigned char>(positions[i + 1]) / 255.0f;
    points.push_back({115.0f + 5.0f * u, 35.0f + 5.0f * v});
  }
  for (auto [lon, lat] : points) {
    float x = std::fmod(lon + 180.0f, 5.0f), y = std::fmod(60.0f - lat, 5.0f);
    FUZZ_CHECK(IsHeight(f3.Sample(&x, &y)));
    x = lon - std::floor(lon);
    y = lat - std::floor(lat);
    FUZZ_CHECK(IsHeight(f1.Sample(&x, &y)));
    x = lon;
    y = lat;
    FUZZ_CHECK(IsHeight(coarse.Sample(&x, &y)));
    for (int mode : {kDemSourceSrtm, kDemSourceAstgtm}) {
      for (int resolution : {0, 30, 2446}) {
        float pos[2] = {lon, lat};
        float h = 0;
        FUZZ_CHECK(store.GetElevation(pos, &h, resolution, mode) == kElevFound);
        FUZZ_CHECK(IsHeight(static_cast<int>(h)) && std::isfinite(pos[0]) && std::isfinite(pos[1]));
      }
    }
  }
  return 0;
}

// Height files: opening, bounds-checked reads and the sample index of each kind.
#include "terrain/height_file.h"

#include <filesystem>
#include <system_error>

#include "core/log.h"
#include "core/settings.h"

namespace velmora {
namespace height_grid {
namespace {

template <size_t kSize>
constexpr std::array<float, kSize> MakeSnapTable(int per_unit) {
  std::array<float, kSize> t{};
  for (size_t i = 0; i < kSize; ++i) t[i] = static_cast<float>(static_cast<double>(i) / per_unit);
  return t;
}

}  // namespace

// Built at compile time.
constexpr std::array<float, k1sGridSize> kSnap1s = MakeSnapTable<k1sGridSize>(k1sGridSize);
constexpr std::array<float, k3sGridSize> kSnap3s = MakeSnapTable<k3sGridSize>(k3sSamplesPerDegree);

}  // namespace height_grid

CHeightFile::CHeightFile(int32_t tile, int kind) : CHeightFile(tile, kind, DefaultFolder()) {}

CHeightFile::CHeightFile(int32_t tile, int kind, const std::string& folder) : tile_(tile) {
  const std::string path = folder + FileName(tile, kind);
  std::string error;
  if (!file_.Open(path, &error)) {
    // Height files are optional: most cells of the world have none. Only a file that exists
    // but cannot be mapped is worth a line in the log.
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) AppLog("height file: %s", error.c_str());
    return;
  }
  data_ = file_.Data();
  end_ = file_.Size() >= 2 ? file_.Size() - 1 : 0;
}

std::string CHeightFile::FileName(int32_t tile, int kind) {
  return std::to_string(tile) + (kind == kHeightFileAmh ? ".amh" : ".smh");
}

std::string CHeightFile::DefaultFolder() { return AppOptions().program_dir + "data/"; }

int32_t CHeightFile::Sample(float*, float*) const { return kNoHeightSample; }

// ---- coarse world grid ---------------------------------------------------------------------

int32_t CHeightFileCoarse::Sample(float* x, float* y) const {
  const double lon = *x, lat = *y;
  // Written so that a NaN fails every test.
  if (!(lat >= -kCoarseNorth && lat <= kCoarseNorth && lon >= kCoarseWest && lon <= -kCoarseWest)) {
    return kNoHeightSample;
  }
  // Truncation; both are small and non-negative after the test above.
  int col = static_cast<int>((lon - kCoarseWest) * kCoarseCellsPerDegree);
  const int row = static_cast<int>((kCoarseNorth - lat) * kCoarseCellsPerDegree);
  if (col >= kCoarseColumns) col = kCoarseColumns - 1;
  *x = static_cast<float>(col * kCoarseCellDegrees + kCoarseWest);
  *y = static_cast<float>(kCoarseNorth - row * kCoarseCellDegrees);
  const uint32_t index = static_cast<uint32_t>(row * kCoarseColumns + col);
  return MapView(index * 2u);
}

}  // namespace velmora

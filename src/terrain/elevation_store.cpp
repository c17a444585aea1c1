// The elevation store: position normalisation, the source modes and the two tile schemes of
// height files.
#include "terrain/elevation_store.h"

#include <cmath>
#include <cstdint>
#include <mutex>

#include "core/settings.h"
#include "terrain/elev_cache_db.h"

namespace velmora {
namespace {

// The wrap loops below subtract a turn at a time; positions further out than this are not
// positions at all (and a float that large no longer changes when 360 is subtracted).
constexpr double kMaxTurns = 100.0;

bool Usable(float v, double turn) { return std::isfinite(v) && std::fabs(v) <= kMaxTurns * turn; }

// trunc(v) for |v| < 2^63: a plain conversion instruction instead of the library call.
double Trunc(double v) { return static_cast<double>(static_cast<int64_t>(v)); }

// fmod(x, 5) for 0 <= x <= 360, exactly: x - 5q is exact for such x, and the quotient from the
// product with 0.2 is corrected where it rounded up to the next integer.
double Mod5(double x) {
  double r = x - 5.0 * Trunc(x * 0.2);
  if (r < 0.0) r += 5.0;
  return r;
}

// floor(v) for |v| <= 180.
int Floor(float v) {
  const int i = static_cast<int>(v);
  return static_cast<float>(i) > v ? i - 1 : i;
}

constexpr int k3sSlotCols = 73;   // tile columns 1-73 (180 E itself falls in column 73)
constexpr int k3sSlotRows = 24;   // tile rows 1-24 (60 N to 55 S)
constexpr int k1sSlotCols = 361;  // longitude cells -180..180
constexpr int k1sSlotRows = 181;  // latitude cells -90..90

}  // namespace

CElevationStore::CElevationStore(CElevCacheDb* cache, std::string folder)
    : cache_(cache),
      folder_(std::move(folder)),
      slots_3s_(std::make_unique<Slot[]>(k3sSlotCols * k3sSlotRows)),
      slots_1s_(std::make_unique<Slot[]>(k1sSlotCols * k1sSlotRows)) {}

CElevationStore::~CElevationStore() = default;

CElevCacheDb& CElevationStore::Cache() { return cache_ ? *cache_ : ElevCacheDb(); }

std::string CElevationStore::Folder() const { return folder_.empty() ? CHeightFile::DefaultFolder() : folder_; }

size_t CElevationStore::FileCount() const {
  std::lock_guard lock(files_mutex_);
  return files_3s_.size() + files_1s_.size();
}

bool CElevationStore::NormalizePosition(float* lon, float* lat, int resolution) {
  float x = *lon, y = *lat;
  // Nearly every position is on the globe already (a NaN fails this test and takes the long way).
  if (!(x >= -180.0f && x <= 180.0f && y >= -90.0f && y <= 90.0f)) {
    if (!Usable(x, 360.0) || !Usable(y, 180.0)) return false;
    while (x > 180.0f) x -= 360.0f;
    while (x < -180.0f) x += 360.0f;
    while (y > 90.0f) y -= 180.0f;
    while (y < -90.0f) y += 180.0f;
  }
  if (resolution != 0) {
    const double step = resolution * kDegreesPerMetre;
    const double sx = static_cast<double>(x) + 180.0;
    const double sy = static_cast<double>(y) + 90.0;
    x = static_cast<float>(Trunc(sx / step) * step - 180.0);
    y = static_cast<float>(Trunc(sy / step) * step - 90.0);
  }
  *lon = x;
  *lat = y;
  return true;
}

const CHeightFile* CElevationStore::FindFile(Grid grid, int32_t tile, Slot& slot) {
  const CHeightFile* file = slot.load(std::memory_order_acquire);
  return file ? file : CreateFile(grid, tile, slot);
}

const CHeightFile* CElevationStore::CreateFile(Grid grid, int32_t tile, Slot& slot) {
  std::lock_guard lock(files_mutex_);
  auto& files = grid == Grid::k1s ? files_1s_ : files_3s_;
  std::unique_ptr<CHeightFile>& owned = files[tile];
  if (!owned) {
    // A missing file stays in the map unopened: it is not looked for again during the run.
    const std::string folder = Folder();
    switch (grid) {
      case Grid::k3s:
        owned = std::make_unique<CHeightFile3s>(tile, kHeightFileSmh, folder);
        break;
      case Grid::kCoarse:
        owned = std::make_unique<CHeightFileCoarse>(tile, kHeightFileSmh, folder);
        break;
      case Grid::k1s:
        owned = std::make_unique<CHeightFile1s>(tile, kHeightFileAmh, folder);
        break;
    }
  }
  slot.store(owned.get(), std::memory_order_release);
  return owned.get();
}

// Inlined into GetElevation: a raster walk is millions of look-ups, and the call with its
// pointer arguments costs more than the sample.
[[gnu::always_inline]] inline int CElevationStore::Sample3s(float* lon, float* lat, int resolution) {
  if (resolution >= kCoarseResolution) {
    float x = *lon, y = *lat;
    const int h = FindFile(Grid::kCoarse, kCoarseTile, coarse_)->Sample(&x, &y);
    *lon = x;
    *lat = y;
    return h;
  }
  // NaN fails these tests too.
  if (!(*lat >= -55.0f && *lat <= 60.0f && *lon >= -180.0f && *lon <= 180.0f)) return kNoHeightSample;
  const double x = static_cast<double>(*lon) + 180.0;
  const double y = 60.0 - static_cast<double>(*lat);
  const int tile_col = static_cast<int>(x * 0.2 + 1.0);
  const int tile_row = static_cast<int>(y * 0.2 + 1.0);
  // In range by the test above: columns 1-73, rows 1-24.
  Slot& slot = slots_3s_[(tile_row - 1) * k3sSlotCols + (tile_col - 1)];
  // The slot of a 3-arc-second tile only ever holds a CHeightFile3s: a direct, inlined call.
  const auto* file =
      static_cast<const CHeightFile3s*>(FindFile(Grid::k3s, CHeightFile3s::TileNumber(tile_col, tile_row), slot));
  float dx = static_cast<float>(Mod5(x));
  float dy = static_cast<float>(Mod5(y));
  const int h = file->Sample(&dx, &dy);
  *lon = static_cast<float>((tile_col * 5 - 5) + static_cast<double>(dx) - 180.0);
  *lat = static_cast<float>((13 - tile_row) * 5 - static_cast<double>(dy));
  return h;
}

[[gnu::always_inline]] inline int CElevationStore::Sample1s(float* lon, float* lat, int /*resolution*/) {
  if (!(*lat >= -90.0f && *lat <= 90.0f && *lon >= -180.0f && *lon <= 180.0f)) return kNoHeightSample;
  const int lon_cell = Floor(*lon);
  const int lat_cell = Floor(*lat);
  Slot& slot = slots_1s_[(lat_cell + 90) * k1sSlotCols + (lon_cell + 180)];
  const auto* file =
      static_cast<const CHeightFile1s*>(FindFile(Grid::k1s, CHeightFile1s::TileNumber(lon_cell, lat_cell), slot));
  float dx = static_cast<float>(static_cast<double>(*lon) - lon_cell);
  float dy = static_cast<float>(static_cast<double>(*lat) - lat_cell);
  const int h = file->Sample(&dx, &dy);
  *lon = static_cast<float>(lon_cell + static_cast<double>(dx));
  *lat = static_cast<float>(lat_cell + static_cast<double>(dy));
  return h;
}

int CElevationStore::Sample3sFiles(float* lon, float* lat, int resolution) { return Sample3s(lon, lat, resolution); }

int CElevationStore::Sample1sFiles(float* lon, float* lat, int resolution) { return Sample1s(lon, lat, resolution); }

int CElevationStore::GetElevation(float pos[2], float* height, int resolution) {
  return GetElevation(pos, height, resolution, AppOptions().dem_source_mode);
}

int CElevationStore::GetElevation(float pos[2], float* height, int resolution, int mode) {
  *height = kNoElevation;
  float copy[2] = {pos[0], pos[1]};
  if (!NormalizePosition(&copy[0], &copy[1], resolution)) return kElevNoData;
  auto write_back = [pos](const float* p) {
    pos[0] = p[0];
    pos[1] = p[1];
  };
  switch (mode) {
    case kDemSourceNone:
      return kElevNoData;
    case kDemSourceSrtm:
      *height = static_cast<float>(Sample3s(&copy[0], &copy[1], resolution));
      write_back(copy);
      return kElevFound;
    case kDemSourceAstgtm:
      *height = static_cast<float>(Sample1s(&copy[0], &copy[1], resolution));
      write_back(copy);
      return kElevFound;
    case kDemSourceGoogle: {
      const int status = Cache().GetByPos(&copy[0], &copy[1], height);
      if (status >= kElevFetched) write_back(copy);
      return status;
    }
    case kDemSourceSrtmThenGoogle: {
      // The height files act as a gate: where they have no value the web service is not asked.
      float gate[2] = {copy[0], copy[1]};
      const int h = Sample3s(&gate[0], &gate[1], resolution);
      if (h == kNoHeightSample) {
        write_back(gate);
        return kElevNoData;
      }
      *height = static_cast<float>(h);
      const int status = Cache().GetByPos(&copy[0], &copy[1], height);
      if (status >= kElevFetched) write_back(copy);
      return status;
    }
    case kDemSourceGoogleThenSrtm: {
      int status = Cache().GetByPos(&copy[0], &copy[1], height);
      if (status < kElevFetched) {
        *height = static_cast<float>(Sample3s(&copy[0], &copy[1], resolution));
        status = kElevFound;
      }
      write_back(copy);
      return status;
    }
    default:
      // An unknown mode has no source: "found", with no value (callers look at the height).
      return kElevFound;
  }
}

CElevationStore& ElevationStore() {
  static CElevationStore store;
  return store;
}

}  // namespace velmora

// The elevation store: the rare parts of position normalisation, opening height files, the
// coarse world file and the source modes that ask the elevation cache.
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

}  // namespace

namespace elevation_detail {

const SnapStep& SetSnapStep(int resolution) {
  const double step = resolution * kDegreesPerMetre;
  t_snap_step = SnapStep{resolution, step, 1.0 / step};
  return t_snap_step;
}

}  // namespace elevation_detail

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

bool CElevationStore::WrapPosition(float* lon, float* lat) {
  float x = *lon, y = *lat;
  if (!Usable(x, 360.0) || !Usable(y, 180.0)) return false;
  while (x > 180.0f) x -= 360.0f;
  while (x < -180.0f) x += 360.0f;
  while (y > 90.0f) y -= 180.0f;
  while (y < -90.0f) y += 180.0f;
  *lon = x;
  *lat = y;
  return true;
}

void CElevationStore::SnapNegative(float* lon, float* lat, int resolution) {
  const double step = resolution * kDegreesPerMetre;
  const double sx = static_cast<double>(*lon) + 180.0;
  const double sy = static_cast<double>(*lat) + 90.0;
  *lon = static_cast<float>(height_grid::Trunc(sx / step) * step - 180.0);
  *lat = static_cast<float>(height_grid::Trunc(sy / step) * step - 90.0);
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

int CElevationStore::SampleCoarse(float* lon, float* lat) {
  float x = *lon, y = *lat;
  const int h = FindFile(Grid::kCoarse, kCoarseTile, coarse_)->Sample(&x, &y);
  *lon = x;
  *lat = y;
  return h;
}

int CElevationStore::Sample3sFiles(float* lon, float* lat, int resolution) { return Sample3s(lon, lat, resolution); }

int CElevationStore::Sample1sFiles(float* lon, float* lat, int /*resolution*/) { return Sample1s(lon, lat); }

int CElevationStore::GetElevation(float pos[2], float* height, int resolution) {
  return GetElevation(pos, height, resolution, AppOptions().dem_source_mode);
}

int CElevationStore::GetElevationMixed(float pos[2], float* height, int resolution, int mode) {
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
    case kDemSourceGoogle: {
      const int status = Cache().GetByPos(&copy[0], &copy[1], height);
      if (status >= kElevFetched) write_back(copy);
      return status;
    }
    case kDemSourceSrtmThenGoogle: {
      // The height files act as a gate: where they have no value the web service is not asked.
      float gate[2] = {copy[0], copy[1]};
      const int h = Sample3sFiles(&gate[0], &gate[1], resolution);
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
        *height = static_cast<float>(Sample3sFiles(&copy[0], &copy[1], resolution));
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

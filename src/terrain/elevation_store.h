// CElevationStore: the height in metres at a longitude and latitude for a wanted ground
// resolution, from the local height files, from the elevation cache and its web service, or both,
// as the elevation source mode of the options says. One global object lives for the whole run;
// the height files it opens stay mapped until it is destroyed. The look-up of the two file modes
// is inline below the class: raster walks make millions of them, and in the caller's loop the
// compiler keeps what the points share and overlaps the memory reads of consecutive points.
#pragma once
#include <atomic>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/geodesy.h"
#include "terrain/height_file.h"

namespace velmora {

class CElevCacheDb;

// The height of "no data".
inline constexpr float kNoElevation = -9999.0f;

// From this resolution (metres) up, mode 1 reads the coarse world file.
inline constexpr int kCoarseResolution = 2446;

// Status of GetElevation and of the cache operations. Callers treat 5 and 6 as success and 4 as a
// reason to try again later.
inline constexpr int kElevNoCache = 0;    // the cache database cannot be opened
inline constexpr int kElevNoReply = 1;    // no reply from the web service, or one without an elevation
inline constexpr int kElevBadReply = 2;   // a reply that cannot be read, or the cache cannot store
inline constexpr int kElevNoData = 3;     // no data (also: a position that is not a usable number)
inline constexpr int kElevOverQuota = 4;  // the web service refused for quota
inline constexpr int kElevFetched = 5;    // fetched from the web service just now
inline constexpr int kElevFound = 6;      // read from the height files or found in the cache

// Elevation source modes (AppOptions().dem_source_mode).
inline constexpr int kDemSourceNone = 0;
inline constexpr int kDemSourceSrtm = 1;            // 3-arc-second files; the coarse file from 2446 m
inline constexpr int kDemSourceAstgtm = 2;          // 1-arc-second files
inline constexpr int kDemSourceGoogle = 3;          // cache, then the web service
inline constexpr int kDemSourceSrtmThenGoogle = 4;  // mode 1 as a gate, then the cache and web service
inline constexpr int kDemSourceGoogleThenSrtm = 5;  // cache and web service, then mode 1

class CElevationStore {
 public:
  // `cache` null: the global elevation cache. `folder` empty: the height files lie in "data/"
  // under the program folder (read when a file is first opened).
  explicit CElevationStore(CElevCacheDb* cache = nullptr, std::string folder = std::string());
  ~CElevationStore();
  CElevationStore(const CElevationStore&) = delete;
  CElevationStore& operator=(const CElevationStore&) = delete;

  // The height at pos (longitude, latitude) by the source mode of the options. Writes back into
  // pos the grid position whose sample it returned, where the mode says so. A position that is
  // not a finite number, or lies more than 100 turns round the globe, gives status 3 and -9999.
  int GetElevation(float pos[2], float* height, int resolution);
  // The same with the mode given.
  inline int GetElevation(float pos[2], float* height, int resolution, int mode);

  // Wraps longitude into [-180, 180] and latitude into [-90, 90] (the bounds themselves stay)
  // and, for a resolution other than 0, snaps both down to multiples of the resolution in degrees
  // counted from 180 W and 90 S. False, with the position untouched, when either value is not a
  // finite number or lies more than 100 turns out.
  static inline bool NormalizePosition(float* lon, float* lat, int resolution);

  // Mode 1: the 3-arc-second tiles below kCoarseResolution (between 55 S and 60 N only), the
  // coarse file from it up. Snaps the position in place to the sample read; a position outside
  // the coverage is left as it was and gives -9999.
  int Sample3sFiles(float* lon, float* lat, int resolution);
  // Mode 2: the 1-arc-second cells. Snaps the position in place to the sample read.
  int Sample1sFiles(float* lon, float* lat, int resolution);

  // Height files opened (or looked for) so far.
  size_t FileCount() const;

 private:
  enum class Grid { k3s, kCoarse, k1s };
  using Slot = std::atomic<const CHeightFile*>;
  static constexpr int k3sSlotCols = 73;   // tile columns 1-73 (180 E itself falls in column 73)
  static constexpr int k3sSlotRows = 24;   // tile rows 1-24 (60 N to 55 S)
  static constexpr int k1sSlotCols = 361;  // longitude cells -180..180
  static constexpr int k1sSlotRows = 181;  // latitude cells -90..90
  // Modes 0 and 3-5 and unknown modes.
  int GetElevationMixed(float pos[2], float* height, int resolution, int mode);
  // The wrapping and the snapping to a negative resolution of NormalizePosition: rare.
  static bool WrapPosition(float* lon, float* lat);
  static void SnapNegative(float* lon, float* lat, int resolution);
  inline int Sample3s(float* lon, float* lat, int resolution);
  inline int Sample1s(float* lon, float* lat);
  int SampleCoarse(float* lon, float* lat);
  // The file of a tile from its slot, opening it on first use.
  inline const CHeightFile* FindFile(Grid grid, int32_t tile, Slot& slot);
  const CHeightFile* CreateFile(Grid grid, int32_t tile, Slot& slot);
  std::string Folder() const;
  CElevCacheDb& Cache();

  CElevCacheDb* cache_;
  std::string folder_;
  // The two maps own the files; files are never removed before the store dies. Look-ups do not
  // search them: each possible tile has a slot that is set once, after its file is complete, so
  // that the hot path takes no lock. The mutex guards the maps and the find-or-create step.
  mutable std::mutex files_mutex_;
  std::map<int32_t, std::unique_ptr<CHeightFile>> files_3s_;  // 3-arc-second tiles and the coarse file
  std::map<int32_t, std::unique_ptr<CHeightFile>> files_1s_;
  std::unique_ptr<Slot[]> slots_3s_;  // tile rows 1-24 x tile columns 1-73
  std::unique_ptr<Slot[]> slots_1s_;  // latitude cells -90..90 x longitude cells -180..180
  Slot coarse_{nullptr};
};

// The global elevation store (with the global elevation cache).
CElevationStore& ElevationStore();

// ---- the inline look-up ----------------------------------------------------------------------

namespace elevation_detail {

// A resolution's step in degrees and its reciprocal. The reciprocal costs a division, so each
// thread keeps the last one: callers ask many points at one resolution.
struct SnapStep {
  int resolution = 0;
  double step = 0.0;
  double inverse = 0.0;
};
inline thread_local constinit SnapStep t_snap_step{};
// Fills the thread's entry for another resolution (above 0).
const SnapStep& SetSnapStep(int resolution);

[[gnu::always_inline]] inline const SnapStep& SnapStepOf(int resolution) {
  const SnapStep& last = t_snap_step;
  if (last.resolution == resolution) [[likely]] return last;
  return SetSnapStep(resolution);
}

// trunc(s / step) * step for 0 <= s <= 360 and a step of at least a metre, without the division
// where that is safe. s * inverse lies within |t| * 2^-51 of the true quotient and the divided
// one within half an ulp of it, so the two truncate alike unless the product comes within
// |t| * 2^-50 of a whole number: a turn holds at most 4.1e7 steps, which makes that under 4e-8.
// Products within 1e-6 of a whole number are divided. A test holds it equal to SnapDownPlain.
[[gnu::always_inline]] inline double SnapDown(double s, const SnapStep& step) {
  const double t = s * step.inverse;
  const double k = height_grid::Trunc(t);
  const double f = t - k;
  if (f > 1e-6 && f < 1.0 - 1e-6) [[likely]] return k * step.step;
  return height_grid::Trunc(s / step.step) * step.step;
}

// The definition: trunc(s / step) * step.
inline double SnapDownPlain(double s, double step) { return std::trunc(s / step) * step; }

}  // namespace elevation_detail

inline bool CElevationStore::NormalizePosition(float* lon, float* lat, int resolution) {
  // Nearly every position is on the globe already (a NaN fails this test and takes the long way).
  if (!(std::fabs(*lon) <= 180.0f && std::fabs(*lat) <= 90.0f)) [[unlikely]] {
    if (!WrapPosition(lon, lat)) return false;
  }
  if (resolution > 0) {
    const elevation_detail::SnapStep& step = elevation_detail::SnapStepOf(resolution);
    *lon = static_cast<float>(elevation_detail::SnapDown(static_cast<double>(*lon) + 180.0, step) - 180.0);
    *lat = static_cast<float>(elevation_detail::SnapDown(static_cast<double>(*lat) + 90.0, step) - 90.0);
  } else if (resolution < 0) [[unlikely]] {
    SnapNegative(lon, lat, resolution);
  }
  return true;
}

[[gnu::always_inline]] inline const CHeightFile* CElevationStore::FindFile(Grid grid, int32_t tile, Slot& slot) {
  const CHeightFile* file = slot.load(std::memory_order_acquire);
  if (file) [[likely]] return file;
  return CreateFile(grid, tile, slot);
}

[[gnu::always_inline]] inline int CElevationStore::Sample3s(float* lon, float* lat, int resolution) {
  if (resolution >= kCoarseResolution) [[unlikely]] return SampleCoarse(lon, lat);
  // NaN fails these tests too.
  if (!(*lat >= -55.0f && *lat <= 60.0f && std::fabs(*lon) <= 180.0f)) return kNoHeightSample;
  const height_grid::GridAxis col = height_grid::Axis3s(*lon, static_cast<double>(*lon) + 180.0);
  const height_grid::GridAxis row = height_grid::Axis3s(*lat, 60.0 - static_cast<double>(*lat));
  // Tile columns and rows in range by the test above.
  Slot& slot = slots_3s_[(row.tile - 1) * k3sSlotCols + (col.tile - 1)];
  // The slot of a 3-arc-second tile only ever holds a CHeightFile3s: a direct, inlined call.
  const auto* file =
      static_cast<const CHeightFile3s*>(FindFile(Grid::k3s, CHeightFile3s::TileNumber(col.tile, row.tile), slot));
  const int h = file->SampleAt(col.index, row.index);
  // The tile's corner plus the snapped offset: (5 * tile - 5) + dx - 180 with the two integer terms
  // added first, the same number since every sum here is exact in a double.
  *lon = static_cast<float>((col.tile * 5 - 185) + static_cast<double>(height_grid::kSnap3s[col.index]));
  *lat = static_cast<float>((13 - row.tile) * 5 - static_cast<double>(height_grid::kSnap3s[row.index]));
  return h;
}

[[gnu::always_inline]] inline int CElevationStore::Sample1s(float* lon, float* lat) {
  if (!(std::fabs(*lat) <= 90.0f && std::fabs(*lon) <= 180.0f)) return kNoHeightSample;
  const height_grid::GridAxis col = height_grid::Axis1s(*lon, 180);
  const height_grid::GridAxis row = height_grid::Axis1s(*lat, 90);
  Slot& slot = slots_1s_[row.tile * k1sSlotCols + col.tile];
  const int lon_cell = col.tile - 180;
  const int lat_cell = row.tile - 90;
  const auto* file =
      static_cast<const CHeightFile1s*>(FindFile(Grid::k1s, CHeightFile1s::TileNumber(lon_cell, lat_cell), slot));
  const int h = file->SampleAt(col.index, row.index);
  *lon = static_cast<float>(lon_cell + static_cast<double>(height_grid::kSnap1s[col.index]));
  *lat = static_cast<float>(lat_cell + static_cast<double>(height_grid::kSnap1s[row.index]));
  return h;
}

inline int CElevationStore::GetElevation(float pos[2], float* height, int resolution, int mode) {
  if (mode == kDemSourceSrtm || mode == kDemSourceAstgtm) [[likely]] {
    *height = kNoElevation;
    float x = pos[0], y = pos[1];
    if (!NormalizePosition(&x, &y, resolution)) [[unlikely]] return kElevNoData;
    const int h = mode == kDemSourceSrtm ? Sample3s(&x, &y, resolution) : Sample1s(&x, &y);
    *height = static_cast<float>(h);
    pos[0] = x;
    pos[1] = y;
    return kElevFound;
  }
  return GetElevationMixed(pos, height, resolution, mode);
}

}  // namespace velmora

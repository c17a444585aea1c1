// CElevationStore: the height in metres at a longitude and latitude for a wanted ground
// resolution, from the local height files, from the elevation cache and its web service, or both,
// as the elevation source mode of the options says. One global object lives for the whole run;
// the height files it opens stay mapped until it is destroyed.
#pragma once
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "terrain/height_file.h"

namespace velmora {

class CElevCacheDb;

// The height of "no data".
inline constexpr float kNoElevation = -9999.0f;

// Degrees per metre, in longitude and latitude alike: the equatorial degree of a sphere of
// radius 6378137 m.
inline constexpr double kDegreesPerMetre = 8.983152841195214e-6;

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
  int GetElevation(float pos[2], float* height, int resolution, int mode);

  // Wraps longitude into [-180, 180] and latitude into [-90, 90] (the bounds themselves stay)
  // and, for a resolution other than 0, snaps both down to multiples of the resolution in degrees
  // counted from 180 W and 90 S. False, with the position untouched, when either value is not a
  // finite number or lies more than 100 turns out.
  static bool NormalizePosition(float* lon, float* lat, int resolution);

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
  int Sample3s(float* lon, float* lat, int resolution);
  int Sample1s(float* lon, float* lat, int resolution);
  // The file of a tile from its slot, opening it on first use.
  const CHeightFile* FindFile(Grid grid, int32_t tile, Slot& slot);
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

}  // namespace velmora

// Coordinate-system conversions through PROJ: the table of coordinate systems offered to the
// user, their PROJ definitions and in-place transforms of point arrays. PROJ objects are
// created once per (source, target) definition pair and per thread and then reused: creating
// one costs milliseconds, converting a point a few dozen nanoseconds.
#pragma once
#include <string>
#include <vector>

namespace velmora {

// One row of the coordinate-system table.
struct CoordSystemDef {
  const char* name;        // display name
  const char* definition;  // PROJ definition; the UTM row holds "%d" for its zone
};

enum CoordSystemIndex : int {
  kCoordLonLat = 0,  // "经纬度 - WGS84"
  kCoordMercator = 1,  // "墨卡托 - WGS84"
  kCoordUtm = 2,  // "UTM - WGS84"
};
inline constexpr int kCoordSystemCount = 3;
inline constexpr int kDefaultUtmZone = 51;

// Row `index` of the table; nullptr when the index is outside 0-2.
const CoordSystemDef* GetCoordSystem(int index);
// The display names in table order (what a system combo box lists).
std::vector<std::string> CoordSystemNames();

// The PROJ definition of a system: the table row's definition; for UTM the zone is the
// program-settings integer "utm84_<slot>" (default 51). "" for an index outside the table.
std::string MakeProjDefinition(int index, int slot);

// Slots of the per-place UTM zones: the converter's source and target, and the default system
// of exports.
inline constexpr int kSlotConverterSource = 0;
inline constexpr int kSlotConverterTarget = 1;
inline constexpr int kSlotExport = 2;

// Transforms `count` points of three doubles (x, y, z) in place from system `src` to system
// `dst`; longitude and latitude are in degrees, projected coordinates in metres. Definitions
// come from MakeProjDefinition with slot 0 for the source and 1 for the target when `converter`
// is set, else slot 2 for both.
// Returns false and leaves every point unchanged when count < 1, a system index is outside the
// table or PROJ refuses a definition (a UTM zone of 0 or 61). Returns false as well when some
// points could not be converted (a latitude of 90° in Mercator, NaN): those points are set to
// HUGE_VAL, the others are converted, and *failed_points (when given) holds their number.
bool TransformPoints(double* xyz, int count, int src, int dst, bool converter,
                     int* failed_points = nullptr);

// Transforms `count` longitude/latitude pairs (x, y doubles) in place into system `index`
// (slot 2: the default system of exports). Same failure rules as TransformPoints.
bool TransformPoints2(double* xy, int count, int index, int* failed_points = nullptr);

// Transforms between two arbitrary PROJ definitions (or "EPSG:nnnn" codes), `stride` doubles
// per point with x and y first (z third when stride >= 3), longitude before latitude.
bool TransformDefinitions(const std::string& src_definition, const std::string& dst_definition,
                          double* points, int count, int stride, int* failed_points = nullptr);

// A longitude/latitude point to Mercator metres of the table's Mercator row ("+proj=merc
// +datum=WGS84"). False (point unchanged) when it cannot be converted.
struct MercPoint {
  double x = 0, y = 0;
};
bool ProjectLonLatToMerc(double lng, double lat, MercPoint* out);

// A longitude/latitude pair in degrees to spherical (Web) Mercator metres in place. Returns 1;
// 0 and the pair unchanged when it cannot be converted (NaN).
int LonLatToMercator(double* x, double* y);

// Drops the calling thread's cached PROJ objects (they are also released when the thread ends).
void ReleaseThreadProjCache();
// Number of PROJ transformations the calling thread holds (for tests and diagnostics).
size_t ThreadProjCacheSize();

}  // namespace velmora

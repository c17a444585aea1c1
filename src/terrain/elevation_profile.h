// Elevation profiles and previews as data: the sampling resolution of the map view, heights along
// a line and over a longitude/latitude box, the screen layout of a profile chart, the hiking
// summary of a line (highest and lowest point, drop, distances uphill, downhill and level) and
// its text file, and the filling of the contour grid from a sampled box.
//
// A height of exactly -9999 (kNoElevation) is "no data" throughout: it is left out of every
// lowest, highest and summary figure, leaves a gap in a profile and becomes NaN in the contour
// grid. The samplers check an optional quit flag between points, so that a worker asked to stop
// (the web source modes make one request per point) ends within one request.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "shapes/map_projector.h"

namespace velmora {

class CContourGrid;
class CElevationStore;

// The smallest sampling step of a preview (3 arc-seconds, as a float).
inline constexpr float kMinSampleStep = 0.00083333335f;
// Columns and rows of a preview are bounded: the picture, the grid and (in the web modes) one
// request per node stay within reason.
inline constexpr int kMaxSampleSide = 2000;

// Metres per pixel of the map at the whole zoom level: trunc(40075016.68557849 / (256 << trunc
// (zoom))), at least 1. A zoom that is not a number or below 0 counts as 0; above 30 as 30.
int ProfileResolution(double zoom);

inline bool HasElevation(float height) { return height != -9999.0f; }

// What the samplers check and report while they run (all optional).
struct SampleControl {
  const std::atomic<bool>* quit = nullptr;   // set: stop before the next point
  std::function<void(float done)> progress;  // 0..1, now and then
  bool Stopped() const { return quit && quit->load(std::memory_order_relaxed); }
};

// One height per point, in point order, from the store at the resolution (the source mode of the
// options). False when stopped; *heights is then incomplete and must not be used.
bool SampleLineHeights(CElevationStore& store, const std::vector<ShapePoint>& points, int resolution,
                       std::vector<float>* heights, const SampleControl& control = {});

// ---- profile chart layout -------------------------------------------------------------------

// A point of the chart; y is NaN for a point without data (a gap in the profile).
struct ProfileScreenPoint {
  float x = 0;
  float y = 0;
};

struct ProfileLayout {
  double total_length = 0;  // metres, PolylineLength x 1000
  double lowest = 0;        // metres, over the points with data
  double range = 0;         // trunc(highest) - lowest; 0 or less draws the profile level
  bool has_height = false;  // some point has data
  std::vector<ProfileScreenPoint> points;
};

// The screen points of a profile `width` x `height` pixels: x in proportion to the great-circle
// distance along the line (0 at the first point, the width at the last), y with the highest
// height at the top and the lowest at the bottom. A level profile (range 0 or less) runs along
// the middle, and a line of no length stands at the middle of the width. Empty (has_height false)
// unless there are at least two points, as many heights and one height with data.
ProfileLayout LayoutProfile(const std::vector<ShapePoint>& points, const std::vector<float>& heights, int width,
                            int height);

// The index of the first point with data within `slop` pixels of (x, y) in both directions, or -1.
int FindProfilePoint(const ProfileLayout& layout, int x, int y, int slop = 3);

// ---- hiking summary -------------------------------------------------------------------------

struct HikingSummary {
  bool has_height = false;  // false: no point has data, nothing else is filled
  size_t highest = 0;       // index of the highest and the lowest point (the first of equals)
  size_t lowest = 0;
  double length_km = 0;     // PolylineLength
  double uphill_km = 0;     // chord lengths of the steps by how the height changes; a step to
  double downhill_km = 0;   // or from a point without data counts in none of the three
  double level_km = 0;
};

// The straight-line distance in kilometres between two points on the sphere of radius
// 6378.137 km raised by their heights (metres), in double.
double HikingChordKm(double lng1, double lat1, double h1, double lng2, double lat2, double h2);

HikingSummary ComputeHikingSummary(const std::vector<ShapePoint>& points, const std::vector<float>& heights);

// The summary file's name without ".txt": the line's name ("walk" when empty) with \ / : * ? " < >
// and | turned into '-', then each pair of hyphens made one.
std::string HikingFileName(std::string_view line_name);

// The summary's text (UTF-8): "<name> 徒步统计", the highest and lowest point, the drop and the
// four distances.
std::string FormatHikingSummary(std::string_view name, const std::vector<ShapePoint>& points,
                                const std::vector<float>& heights, const HikingSummary& summary);

enum class HikingFileStatus {
  kWritten,
  kNoHeight,       // no point has data: nothing written
  kCannotCreate,   // the folder or the file could not be made: nothing written
};

// Writes "<walk_folder><HikingFileName(line_name)>.txt" in GBK, creating the folder when missing
// (through a temporary file, so a failed write leaves no half file). *path gets the file's path.
HikingFileStatus WriteHikingSummary(const std::string& walk_folder, std::string_view line_name,
                                    const std::vector<ShapePoint>& points, const std::vector<float>& heights,
                                    std::string* path);

// ---- preview grid ---------------------------------------------------------------------------

// Heights over a box, row 0 at the top. Node (column c, row r) lies at longitude
// left + c * step_lon and latitude bottom + (rows - r - 1) * step_lat.
struct ElevationGrid {
  int columns = 0;
  int rows = 0;
  float step_lon = 0;
  float step_lat = 0;
  float left = 0;
  float bottom = 0;
  std::vector<std::vector<float>> heights;         // per row
  std::vector<std::vector<ShapePoint>> positions;  // per row
  float lowest = 3.40282347e38f;                   // over the nodes with data
  float highest = -3.40282347e38f;
  bool HasData() const { return lowest <= highest; }
  // Longitude and latitude of a grid point (fractional column x, row y), each axis by its own step.
  ShapePoint GridToLngLat(float x, float y) const;
};

// Steps and counts for a box and the wanted counts: the step of each axis is the box's side over
// the wanted count, raised to kMinSampleStep; the count is the side over the step, truncated.
// False (grid untouched) when a value is not finite, the box is empty or inverted, a wanted count
// is below 1 or above kMaxSampleSide, or fewer than two columns or rows result.
bool PlanElevationGrid(float left, float top, float right, float bottom, int columns_wanted, int rows_wanted,
                       ElevationGrid* grid);

// Plans the grid, then samples every node from the store at the resolution, row by row from the
// top. False when the plan fails or the sampling was stopped (the grid is then not to be used).
bool SampleElevationGrid(CElevationStore& store, float left, float top, float right, float bottom,
                         int columns_wanted, int rows_wanted, int resolution, ElevationGrid* grid,
                         const SampleControl& control = {});

// Fills the tracer: a grid of the same size whose nodes hold the heights (NaN where there is no
// data), the range of the heights with data, and each node's position. False when the grid
// cannot be allocated.
bool FillContourGrid(const ElevationGrid& grid, CContourGrid& contour);

}  // namespace velmora

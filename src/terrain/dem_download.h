// The elevation download's walk: a regular grid of sample points over a region at a spacing in
// metres on the equirectangular metric grid (core/geodesy.h), the points inside the region asked
// of the web elevation service one by one and stored by the elevation cache, each outcome painted
// as one progress pixel.
//
// The walk is a plan (bounds, columns, rows, the region in whole metres) that tests and the
// worker enumerate the same way: X from the west edge east in steps of the spacing (outer), Y
// from the north edge south (inner). A point belongs to the region when it lies inside it by the
// winding rule or exactly on one of its edges (whole metres, no rounding), so a rectangle drawn
// as a polygon keeps its border rows and columns. Two points or fewer walk their whole box.
//
// Over-quota answers are asked again after a pause that doubles from a first delay up to a
// ceiling, waiting on the worker's quit request; a point counts as done once, whatever number of
// tries it took.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/geodesy.h"
#include "exchange/region_raster.h"
#include "platform/gfx/bitmap.h"

namespace velmora {

class CElevCacheDb;
class CWorkThread;

// Progress colours by fetch status.
inline constexpr Argb kDemColorOverQuota = 0xFFFFFF00u;  // 4, yellow
inline constexpr Argb kDemColorFetched = 0xFF00FF00u;    // 5, green
inline constexpr Argb kDemColorKnown = 0xFF0000FFu;      // 6, blue
inline constexpr Argb kDemColorFailed = 0xFFFF0000u;     // anything else, red
inline constexpr Argb kDemColorFrame = 0xFFFFFFFFu;
Argb DemDownloadColor(int status);

struct DemWalkPlan {
  int distance = 0;  // metres, at least 1
  int min_x = 0, max_x = 0, min_y = 0, max_y = 0;  // metric bounds of the region's vertices
  int64_t columns = 0, rows = 0;
  // With three vertices or more: the region in whole metres (otherwise the whole box is walked).
  bool has_outline = false;
  std::vector<PixelPoint> outline;

  int64_t PointCount() const { return columns * rows; }
  // Whether the metric point (x, y) is inside the region (winding rule) or on one of its edges.
  bool Contains(int x, int y) const;
};

// One grid point of the walk: its picture cell and its metric position.
struct DemWalkPoint {
  int64_t column = 0, row = 0;
  int x = 0, y = 0;
};

// The plan of a walk. False (reason in *error, *plan untouched) for a distance below 1, an empty
// region or a vertex that is not a finite number.
bool PlanDemWalk(std::span<const LngLatF> region, int distance, DemWalkPlan* plan, std::string* error = nullptr);

// Visits the grid points inside the region in walk order until `visit` returns false; false when
// the visit was stopped.
bool ForEachDemWalkPoint(const DemWalkPlan& plan, const std::function<bool(const DemWalkPoint&)>& visit);

// The position asked for at a metric point: back to degrees, then snapped to the spacing with
// CElevationStore::NormalizePosition.
void DemWalkPosition(int x, int y, int distance, float* lon, float* lat);

// Where the walk reports (the task panel; called on the walk's thread).
class IDemDownloadSink {
 public:
  virtual ~IDemDownloadSink() = default;
  // A new picture of columns x rows cells framed in white; false when it cannot be had.
  virtual bool ResetProgress(int64_t columns, int64_t rows) = 0;
  virtual void SetProgress(int64_t column, int64_t row, Argb colour) = 0;
  // The status text with the number of points done.
  virtual void SetStatus(const std::string& text, int done) = 0;
};

struct DemDownloadOptions {
  CElevCacheDb* cache = nullptr;  // null: the program's elevation cache
  // The pause after the first over-quota answer of a point, doubled after each further one up
  // to the ceiling; a point that is answered otherwise starts again from the first.
  unsigned backoff_first_ms = 1000;
  unsigned backoff_max_ms = 60000;
  // The quit request is polled with this wait before each column and after each point.
  unsigned point_pause_ms = 1;
  // Tells the proxy rotation of each outcome (core/proxy_list.h).
  bool report_proxy = true;
};

struct DemDownloadResult {
  int done = 0;      // points answered (each counted once)
  int quota = 0;     // over-quota answers seen
  bool stopped = false;
};

// "downloading-%dm...[%d-%d]" and the final "downloading-%dm ok...[%d-%d]".
std::string DemDownloadStatusText(int distance, int done, bool finished);

// Runs the walk on the calling thread (the worker `thread`, whose quit request stops it between
// points and ends a pause or a pending request at once). The status text ends with the "ok" form
// and the count reached, also when stopped.
DemDownloadResult RunDemDownload(const DemWalkPlan& plan, IDemDownloadSink& sink, CWorkThread& thread,
                                 const DemDownloadOptions& options = {});

}  // namespace velmora

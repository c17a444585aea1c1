// CDemGrid: the data of the elevation grid panel and the loops that fill it. A region (a polygon
// of longitude/latitude points, or in the screen mode of render-window pixels) is sampled either
// on a regular grid, which feeds the contour tracer, or at a list of positions inside the
// polygon; the sampled points keep longitude, latitude and elevation. The mappings from the grid
// and the contour lines to the panel's pixels live here too, so that they are testable without a
// window.
//
// No data: a node whose sample failed (a failed or refused look-up, a screen pixel off the
// globe) holds NaN in the grid, takes no part in the z range and becomes Surfer's blank value in
// files. A height of -9999 with a success status is a real answer of "no height" and counts as 0.
//
// Threads: a run (RunDemSampling) writes the grid, the points and the ranges on the panel's
// worker; the owner reads them only after the run has ended. The counter of samples is atomic.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/page_options.h"
#include "core/settings.h"
#include "exchange/region_raster.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/graphics.h"
#include "terrain/contour_tracer.h"

namespace velmora {

class CElevationStore;
class CElevCacheDb;
class IScreenTerrainSource;
class Event;

// Degrees of longitude per metre on the equator, and the same as the single-precision factor the
// region grid uses for its step.
inline constexpr double kDemDegreesPerMetre = 8.983152841195214e-6;
inline constexpr float kDemGridDegreesPerMetre = 8.983153e-6f;

// Sampling modes.
inline constexpr int kDemModeRegion = 0;  // longitude/latitude polygon, steps in metres
inline constexpr int kDemModeScreen = 1;  // render-window pixels of an earth view, steps in pixels

// Progress dots: refused for quota, from the cache or web service, from the height files, failed.
inline constexpr Argb kDemDotQuota = 0xFFFFFF00u;
inline constexpr Argb kDemDotWeb = 0xFF00FF00u;
inline constexpr Argb kDemDotFile = 0xFF0000FFu;
inline constexpr Argb kDemDotFailed = 0xFFFF0000u;

// The pause after a failed or refused sample (ended early by a stop).
inline constexpr unsigned kDemFailurePauseMs = 100;
// The estimated number of positions from which the user is asked before they are built.
inline constexpr double kDemMillionPositions = 1e6;
// Upper bound on the sample positions of one extraction (16 bytes each with the points later).
inline constexpr size_t kDemMaxPositions = size_t{1} << 27;

// West, north, east, south (the box of a polygon; in the screen mode x and y pixels, north the
// greater y).
struct DemBox {
  float west = 0, north = 0, east = 0, south = 0;
  bool operator==(const DemBox&) const = default;
};
DemBox DemBoxOf(std::span<const LngLatF> polygon);

// A contour label: world position, pixel position, rotation in degrees and text.
struct DemLabel {
  double x = 0, y = 0;
  float px = 0, py = 0;
  float rotation = 0;
  std::string text;
};

// One contour line as the panel draws it: points in client pixels, the index of its pen in the
// pen list, and the line (owned by the tracer's line set).
struct DemDrawRecord {
  std::vector<GfxPoint> points;
  int pen = 0;
  const ContourLine* line = nullptr;
};

// The four sampling loops.
enum class DemVariant { kRegionGrid, kRegionPoints, kScreenGrid, kScreenPoints };
// Region or screen mode by the contour method of the options (0 built-in tracer, else Surfer).
DemVariant ChooseDemVariant(int mode, int contour_method);

// trunc(extent / step) + 1 nodes along one axis; -1 when either is not finite, the step is not
// positive, the extent is negative or the count would pass INT32_MAX.
int64_t DemAxisCount(double extent, double step);

// Samples taken since the program started (shown by the panel).
std::atomic<int>& DemSampleCounter();

// How a run reports and waits: the progress picture's size in pixels and its dots; the wait on
// the quit request (true when a stop was asked within `ms`; 0 polls).
struct DemRunContext {
  int picture_width = 1;
  int picture_height = 1;
  std::function<void(int x, int y, Argb color)> dot;
  std::function<bool(unsigned ms)> wait_quit;
  Event* stop = nullptr;                // the same request as an event (the screen views' waits)
  CElevationStore* store = nullptr;     // region variants: null takes the global store
  CElevCacheDb* cache = nullptr;        // add-to-cache: null takes the global cache
  IScreenTerrainSource* screen = nullptr;  // screen variants: the view that handed over the points
};

struct DemRunResult {
  bool stopped = false;        // the quit request ended the loops
  bool out_of_memory = false;  // the grid or the points did not fit in memory
  std::string error;           // why the run could not go through ("" when it did)
};

// Outcome of the point extraction.
enum class DemExtractStatus { kOk, kDeclined, kNoPolygon, kBadDistance, kTooMany, kFailed };

// The pen colours of a contour colour mode for the levels of a line set (one colour per pen), and
// which pen each level draws with (-1: a level without lines).
void DemContourPens(const CContourLineSet& set, const DemPageOptions& options, std::vector<Argb>* pens,
                    std::vector<int>* level_pens);
// The seven colours of colour mode 2, in order.
Argb DemCycleColor(size_t index);

// The lines of a set in client pixels of a width x height panel, north up: x from xmin at the
// left to xmax at the right, y from ymin at the bottom to ymax at the top. Lines with fewer than
// two points are left out.
void BuildDemDrawRecords(const CContourLineSet& set, const ContourRange& x_range, const ContourRange& y_range,
                         int width, int height, const DemPageOptions& options, std::vector<Argb>* pens,
                         std::vector<DemDrawRecord>* records);

class CDemGrid {
 public:
  CDemGrid() = default;
  CDemGrid(const CDemGrid&) = delete;
  CDemGrid& operator=(const CDemGrid&) = delete;

  // ---- the region ----
  // Region mode on the box of two corners (the polygon becomes the two corners). False, with
  // nothing changed, for a sample distance below 1 or a corner that is not finite.
  bool SetPoints(LngLatF first, LngLatF second, double sample_distance);
  // Region mode on a polygon; the sampled points are emptied. Same refusals.
  bool SetDemData(std::span<const LngLatF> polygon, double sample_distance);
  // Screen mode on render-window pixels (add-to-cache off).
  bool SetScreenPoints(std::span<const LngLatF> pixels, double sample_distance);
  // Resets the tracer and empties the sampled points.
  void Clear();

  // ---- counts and positions ----
  // The built-in method's count: nodes of the grid over the box (0 for a distance below 1).
  int64_t BuiltInSampleCount() const;
  // Builds the sample positions: the polygon's vertices, then every step position inside the
  // polygon (region mode: by its tile at zoom 20 of web Mercator; screen mode: by the pixel
  // polygon). `confirm` is asked when the estimate reaches a million (false: declined). Nothing
  // changes unless the result is kOk; the sampled points and the ready flag never change here.
  DemExtractStatus ExtractDemPoints(const std::function<bool()>& confirm, std::string* error = nullptr);

  // ---- a run ----
  // Prepares a run of `variant` (call before the worker starts): resets the tracer, empties the
  // sampled points, sets the ready flag for the region variants and clears it for the screen ones.
  void BeginRun(DemVariant variant);
  // The loops of `variant` (on the worker). The screen variants set the ready flag at the end
  // unless stopped.
  DemRunResult Run(DemVariant variant, const DemRunContext& context);

  // ---- ranges ----
  // x, y and z ranges of the tracer from the sampled points (longitude, latitude, elevation);
  // ready flag = points exist. With no points the ranges are (0, 0).
  void RecomputeRanges();

  CContourTracer tracer;
  int mode = kDemModeRegion;
  DemBox box;
  int sample_distance = 0;
  bool add_to_cache = false;
  std::vector<LngLatF> polygon;
  std::vector<LngLatF> positions;
  std::vector<Point3D> points;
  // Screen mode: the terrain point of each polygon vertex from the last point-list run, in
  // vertex order (longitude NaN where the vertex could not be sampled).
  std::vector<Point3D> vertex_terrain;
  float interval = 0;
  std::atomic<bool> ready{false};

 private:
  DemRunResult RunRegionGrid(const DemRunContext& context);
  DemRunResult RunRegionPoints(const DemRunContext& context);
  DemRunResult RunScreenGrid(const DemRunContext& context);
  DemRunResult RunScreenPoints(const DemRunContext& context);
  void StartRanges();
  void Widen(double x, double y, double z);
  // Keeps a sampled point: in the points, the ranges and, with add_to_cache, the elevation cache.
  void KeepPoint(const DemRunContext& context, double lng, double lat, double alt);
};

}  // namespace velmora

// The elevation grid panel's data: regions, counts, the point extraction, the four sampling loops
// and the mapping of contour lines to pixels.
#include "terrain/dem_grid.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>
#include <new>

#include "core/format.h"
#include "core/geodesy.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/height_to_color.h"
#include "tiles/screen_terrain_source.h"

namespace velmora {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr int kExtractZoom = 20;
constexpr int kMercatorKind = 1;

bool Finite(LngLatF p) { return std::isfinite(p.lng) && std::isfinite(p.lat); }

bool UsableDistance(double d) { return std::isfinite(d) && d >= 1.0 && d <= INT32_MAX; }

Argb Opaque(uint8_t r, uint8_t g, uint8_t b) { return MakeArgb(255, r, g, b); }

// The dot of grid node (row, column) on a picture: columns left to right, rows south to north
// from the bottom.
void GridDot(const DemRunContext& c, int64_t row, int64_t column, int64_t ny, int64_t nx, Argb color) {
  if (!c.dot) return;
  const int x = static_cast<int>(c.picture_width * column / nx);
  const int y = static_cast<int>(c.picture_height * (ny - 1 - row) / ny);
  c.dot(x, y, color);
}

// The dot of position i of n: a near-square raster of cells scaled to the picture.
void ListDot(const DemRunContext& c, size_t i, size_t n, Argb color) {
  if (!c.dot || n == 0) return;
  const size_t columns = std::max<size_t>(1, static_cast<size_t>(std::ceil(std::sqrt(static_cast<double>(n)))));
  const size_t rows = (n + columns - 1) / columns;
  const int x = static_cast<int>(static_cast<double>(c.picture_width) * static_cast<double>(i % columns) / columns);
  const int y = static_cast<int>(static_cast<double>(c.picture_height) * static_cast<double>(i / columns) / rows);
  c.dot(x, y, color);
}

bool Stop(const DemRunContext& c, unsigned ms) { return c.wait_quit && c.wait_quit(ms); }

CElevationStore& StoreOf(const DemRunContext& c) { return c.store ? *c.store : ElevationStore(); }
CElevCacheDb& CacheOf(const DemRunContext& c) { return c.cache ? *c.cache : ElevCacheDb(); }

// The terrain under the screen position (x, y) of the earth view, counted as a sample; false
// when the view has no finite point there.
bool SampleScreen(const DemRunContext& c, double x, double y, double* lng, double* lat, double* alt) {
  const bool ok = c.screen->ScreenToTerrain(x, y, lng, lat, alt) && std::isfinite(*lng) && std::isfinite(*lat) &&
                  std::isfinite(*alt);
  DemSampleCounter().fetch_add(1, std::memory_order_relaxed);
  return ok;
}

}  // namespace

DemBox DemBoxOf(std::span<const LngLatF> polygon) {
  DemBox box;
  if (polygon.empty()) return box;
  box.west = box.east = polygon[0].lng;
  box.north = box.south = polygon[0].lat;
  for (const LngLatF& p : polygon) {
    box.west = std::min(box.west, p.lng);
    box.east = std::max(box.east, p.lng);
    box.south = std::min(box.south, p.lat);
    box.north = std::max(box.north, p.lat);
  }
  return box;
}

DemVariant ChooseDemVariant(int mode, int contour_method) {
  if (mode == kDemModeScreen) return contour_method == 0 ? DemVariant::kScreenGrid : DemVariant::kScreenPoints;
  return contour_method == 0 ? DemVariant::kRegionGrid : DemVariant::kRegionPoints;
}

int64_t DemAxisCount(double extent, double step) {
  if (!std::isfinite(extent) || !std::isfinite(step) || !(step > 0) || extent < 0) return -1;
  const double n = std::trunc(extent / step) + 1;
  if (!(n <= INT32_MAX)) return -1;
  return static_cast<int64_t>(n);
}

std::atomic<int>& DemSampleCounter() {
  static std::atomic<int> counter{0};
  return counter;
}

Argb DemCycleColor(size_t index) {
  static const Argb kColors[7] = {Opaque(0xff, 0x00, 0x00), Opaque(0xff, 0x7a, 0x00), Opaque(0xff, 0xff, 0x00),
                                  Opaque(0x00, 0xff, 0x00), Opaque(0x00, 0xff, 0xff), Opaque(0x00, 0x00, 0xff),
                                  Opaque(0xff, 0x00, 0xff)};
  return kColors[index % 7];
}

void DemContourPens(const CContourLineSet& set, const DemPageOptions& options, std::vector<Argb>* pens,
                    std::vector<int>* level_pens) {
  pens->clear();
  level_pens->assign(set.GetSize(), -1);
  const int mode = options.contour_color_mode;
  if (mode == 0 || mode == 1) {
    pens->push_back(options.line_color);
    if (mode == 1) pens->push_back(options.interval_color);
    const int every = std::max(1, options.interval_count);
    for (size_t i = 0; i < set.GetSize(); ++i)
      (*level_pens)[i] = mode == 1 && static_cast<int>(i % static_cast<size_t>(every)) == 0 ? 1 : 0;
    return;
  }
  // Modes 2 and 3: one pen per level that has lines; the colour table advances only on those.
  for (size_t i = 0; i < set.GetSize(); ++i) {
    const CContourLineList& list = set[i];
    if (list.IsEmpty()) continue;
    Argb color;
    if (mode == 2) {
      color = DemCycleColor(pens->size());
    } else {
      const RgbColor c = HeightToColor(list[0].level);
      color = Opaque(c.r, c.g, c.b);
    }
    (*level_pens)[i] = static_cast<int>(pens->size());
    pens->push_back(color);
  }
}

void BuildDemDrawRecords(const CContourLineSet& set, const ContourRange& x_range, const ContourRange& y_range,
                         int width, int height, const DemPageOptions& options, std::vector<Argb>* pens,
                         std::vector<DemDrawRecord>* records) {
  std::vector<int> level_pens;
  DemContourPens(set, options, pens, &level_pens);
  records->clear();
  const double w = width, h = height;
  const double dx = x_range.max - x_range.min, dy = y_range.max - y_range.min;
  // A range of no width puts its lines in the middle instead of dividing by zero.
  const double sx = dx > 0 ? w / dx : 0, sy = dy > 0 ? h / dy : 0;
  for (size_t i = 0; i < set.GetSize(); ++i) {
    for (const auto& line : set[i]) {
      if (line->points.size() < 2 || level_pens[i] < 0) continue;
      DemDrawRecord record;
      record.pen = level_pens[i];
      record.line = line.get();
      record.points.reserve(line->points.size());
      for (const ContourPoint& p : line->points) {
        const double px = dx > 0 ? (p.x - x_range.min) * sx : w / 2;
        const double py = dy > 0 ? h - (p.y - y_range.min) * sy : h / 2;
        record.points.push_back({static_cast<float>(px), static_cast<float>(py)});
      }
      records->push_back(std::move(record));
    }
  }
}

// ---- the region ---------------------------------------------------------------------------

bool CDemGrid::SetPoints(LngLatF first, LngLatF second, double distance) {
  if (!UsableDistance(distance) || !Finite(first) || !Finite(second)) return false;
  const LngLatF corners[2] = {first, second};
  mode = kDemModeRegion;
  polygon.assign(corners, corners + 2);
  box = DemBoxOf(polygon);
  sample_distance = static_cast<int>(distance);
  tracer.Reset();
  return true;
}

bool CDemGrid::SetDemData(std::span<const LngLatF> region, double distance) {
  if (!UsableDistance(distance) || region.empty() || !std::all_of(region.begin(), region.end(), Finite)) return false;
  mode = kDemModeRegion;
  polygon.assign(region.begin(), region.end());
  box = DemBoxOf(polygon);
  sample_distance = static_cast<int>(distance);
  tracer.Reset();
  points.clear();
  return true;
}

bool CDemGrid::SetScreenPoints(std::span<const LngLatF> pixels, double distance) {
  if (!UsableDistance(distance) || pixels.empty() || !std::all_of(pixels.begin(), pixels.end(), Finite)) return false;
  mode = kDemModeScreen;
  add_to_cache = false;
  polygon.assign(pixels.begin(), pixels.end());
  box = DemBoxOf(polygon);
  sample_distance = static_cast<int>(distance);
  return true;
}

void CDemGrid::Clear() {
  tracer.Reset();
  points.clear();
  vertex_terrain.clear();
}

// ---- counts and positions -----------------------------------------------------------------

int64_t CDemGrid::BuiltInSampleCount() const {
  if (sample_distance < 1) return 0;
  const double step =
      mode == kDemModeScreen ? static_cast<double>(sample_distance) : sample_distance * kDemDegreesPerMetre;
  const int64_t ny = DemAxisCount(static_cast<double>(box.north) - box.south, step);
  const int64_t nx = DemAxisCount(static_cast<double>(box.east) - box.west, step);
  if (nx < 0 || ny < 0) return 0;
  return nx * ny;
}

DemExtractStatus CDemGrid::ExtractDemPoints(const std::function<bool()>& confirm, std::string* error) {
  if (polygon.empty()) return DemExtractStatus::kNoPolygon;
  if (sample_distance < 1) return DemExtractStatus::kBadDistance;
  const double step =
      mode == kDemModeScreen ? static_cast<double>(sample_distance) : sample_distance * kDemDegreesPerMetre;
  const double west = box.west, east = box.east, north = box.north, south = box.south;
  const double estimate = (east - west) / step * ((north - south) / step);
  if (!std::isfinite(estimate)) return DemExtractStatus::kFailed;
  if (estimate >= kDemMillionPositions && !(confirm && confirm())) return DemExtractStatus::kDeclined;
  if (estimate + polygon.size() > static_cast<double>(kDemMaxPositions)) {
    if (error) *error = FormatC("about %.0f positions: more than memory allows", estimate);
    return DemExtractStatus::kTooMany;
  }

  RegionTiles tiles;
  std::vector<PixelPoint> pixel_polygon;
  if (mode == kDemModeScreen) {
    for (const LngLatF& p : polygon) pixel_polygon.push_back({p.lng, p.lat});
  } else if (!RasterizeRegionTiles(kMercatorKind, kExtractZoom, std::span<const LngLatF>(polygon), &tiles, error)) {
    return DemExtractStatus::kFailed;
  }
  std::vector<LngLatF> built;
  try {
    built.reserve(polygon.size() + static_cast<size_t>(std::max(0.0, estimate)) + 16);
    built.assign(polygon.begin(), polygon.end());
    // Counted steps instead of an accumulated sum, so that no position drifts by rounding.
    for (int64_t i = 0;; ++i) {
      const double x = west + static_cast<double>(i) * step;
      if (!(x < east)) break;
      for (int64_t j = 0;; ++j) {
        const double y = north - static_cast<double>(j) * step;
        if (!(y > south)) break;
        bool inside;
        if (mode == kDemModeScreen) {
          inside = PointInPolygon(pixel_polygon, x, y, RegionFillRule::kWinding);
        } else {
          const PixelPoint px = LngLatToPixel(x, y, kMercatorKind, kExtractZoom);
          inside = tiles.Contains(static_cast<int>(std::floor(px.x / kTileSize)),
                                  static_cast<int>(std::floor(px.y / kTileSize)));
        }
        if (inside) {
          if (built.size() >= kDemMaxPositions) throw std::bad_alloc();
          built.push_back({static_cast<float>(x), static_cast<float>(y)});
        }
      }
    }
  } catch (const std::bad_alloc&) {
    if (error) *error = "sample positions beyond memory";
    return DemExtractStatus::kTooMany;
  }
  positions = std::move(built);
  return DemExtractStatus::kOk;
}

// ---- runs ---------------------------------------------------------------------------------

void CDemGrid::BeginRun(DemVariant variant) {
  tracer.Reset();
  points.clear();
  if (variant == DemVariant::kScreenPoints) vertex_terrain.clear();
  ready = variant == DemVariant::kRegionGrid || variant == DemVariant::kRegionPoints;
}

void CDemGrid::StartRanges() {
  tracer.x_range = tracer.y_range = tracer.z_range = {DBL_MAX, -DBL_MAX};
}

void CDemGrid::Widen(double x, double y, double z) {
  tracer.x_range.min = std::min(tracer.x_range.min, x);
  tracer.x_range.max = std::max(tracer.x_range.max, x);
  tracer.y_range.min = std::min(tracer.y_range.min, y);
  tracer.y_range.max = std::max(tracer.y_range.max, y);
  tracer.z_range.min = std::min(tracer.z_range.min, z);
  tracer.z_range.max = std::max(tracer.z_range.max, z);
}

void CDemGrid::KeepPoint(const DemRunContext& c, double lng, double lat, double alt) {
  points.push_back({lng, lat, alt});
  Widen(lng, lat, alt);
  if (add_to_cache) {
    float x = static_cast<float>(lng), y = static_cast<float>(lat);
    CacheOf(c).PutByPos(&x, &y, static_cast<float>(alt));
  }
}

DemRunResult CDemGrid::Run(DemVariant variant, const DemRunContext& context) {
  StartRanges();
  DemRunResult result;
  if (sample_distance < 1) {
    result.error = "sample distance below 1";
    return result;
  }
  try {
    switch (variant) {
      case DemVariant::kRegionGrid: result = RunRegionGrid(context); break;
      case DemVariant::kRegionPoints: result = RunRegionPoints(context); break;
      case DemVariant::kScreenGrid: result = RunScreenGrid(context); break;
      case DemVariant::kScreenPoints: result = RunScreenPoints(context); break;
    }
  } catch (const std::bad_alloc&) {
    // The points sampled so far stay; the run ends here.
    result.out_of_memory = true;
    result.error = FormatC("memory ran out after %zu points", points.size());
  }
  // Ranges that no sample widened stay empty, not (+max, -max).
  if (points.empty()) {
    tracer.z_range = {0, 0};
    if (variant != DemVariant::kRegionGrid) tracer.x_range = tracer.y_range = {0, 0};
  }
  if ((variant == DemVariant::kScreenGrid || variant == DemVariant::kScreenPoints) && !result.stopped &&
      result.error.empty())
    ready = true;
  return result;
}

DemRunResult CDemGrid::RunRegionGrid(const DemRunContext& c) {
  DemRunResult result;
  const float step = static_cast<float>(sample_distance) * kDemGridDegreesPerMetre;
  const int64_t nx = DemAxisCount(static_cast<double>(box.east) - box.west, step);
  const int64_t ny = DemAxisCount(static_cast<double>(box.north) - box.south, step);
  if (nx < 1 || ny < 1 || !tracer.AllocGrid(static_cast<int>(ny), static_cast<int>(nx))) {
    result.out_of_memory = true;
    result.error = FormatC("a grid of %lld x %lld nodes does not fit in memory", static_cast<long long>(nx),
                           static_cast<long long>(ny));
    return result;
  }
  // The ranges of x and y are the node extent, whatever samples fail at the border.
  tracer.x_range = {static_cast<double>(box.west), box.west + static_cast<double>(nx - 1) * step};
  tracer.y_range = {static_cast<double>(box.south), box.south + static_cast<double>(ny - 1) * step};
  CElevationStore& store = StoreOf(c);
  try {
    points.reserve(static_cast<size_t>(nx * ny));
  } catch (const std::bad_alloc&) {
  }
  for (int64_t row = 0; row < ny; ++row) {
    const double lat = box.south + static_cast<double>(row) * step;
    float* values = tracer.Row(static_cast<int>(row));
    for (int64_t col = 0; col < nx; ++col) {
      if (Stop(c, 0)) {
        // Nodes not reached hold no data.
        std::fill(values + col, values + nx, kNaN);
        for (int64_t r = row + 1; r < ny; ++r) std::fill_n(tracer.Row(static_cast<int>(r)), nx, kNaN);
        result.stopped = true;
        return result;
      }
      const double lon = box.west + static_cast<double>(col) * step;
      float pos[2] = {static_cast<float>(lon), static_cast<float>(lat)};
      float h = kNoElevation;
      const int status = store.GetElevation(pos, &h, sample_distance);
      DemSampleCounter().fetch_add(1, std::memory_order_relaxed);
      if (status == kElevFetched || status == kElevFound) {
        GridDot(c, row, col, ny, nx, status == kElevFetched ? kDemDotWeb : kDemDotFile);
        if (h == kNoElevation) h = 0;
        values[col] = h;
        points.push_back({lon, lat, h});
        tracer.z_range.min = std::min(tracer.z_range.min, static_cast<double>(h));
        tracer.z_range.max = std::max(tracer.z_range.max, static_cast<double>(h));
        if (add_to_cache) {
          float x = static_cast<float>(lon), y = static_cast<float>(lat);
          CacheOf(c).PutByPos(&x, &y, h);
        }
      } else {
        values[col] = kNaN;
        GridDot(c, row, col, ny, nx, status == kElevOverQuota ? kDemDotQuota : kDemDotFailed);
        if (Stop(c, kDemFailurePauseMs)) {
          std::fill(values + col + 1, values + nx, kNaN);
          for (int64_t r = row + 1; r < ny; ++r) std::fill_n(tracer.Row(static_cast<int>(r)), nx, kNaN);
          result.stopped = true;
          return result;
        }
      }
    }
  }
  return result;
}

DemRunResult CDemGrid::RunRegionPoints(const DemRunContext& c) {
  DemRunResult result;
  CElevationStore& store = StoreOf(c);
  const size_t n = positions.size();
  for (size_t i = 0; i < n; ++i) {
    if (Stop(c, 0)) {
      result.stopped = true;
      break;
    }
    float pos[2] = {positions[i].lng, positions[i].lat};
    float h = kNoElevation;
    const int status = store.GetElevation(pos, &h, sample_distance);
    DemSampleCounter().fetch_add(1, std::memory_order_relaxed);
    if (status == kElevFetched || status == kElevFound) {
      ListDot(c, i, n, status == kElevFetched ? kDemDotWeb : kDemDotFile);
      if (h == kNoElevation) h = 0;
      KeepPoint(c, positions[i].lng, positions[i].lat, h);
    } else {
      ListDot(c, i, n, status == kElevOverQuota ? kDemDotQuota : kDemDotFailed);
      if (Stop(c, kDemFailurePauseMs)) {
        result.stopped = true;
        break;
      }
    }
  }
  return result;
}

DemRunResult CDemGrid::RunScreenGrid(const DemRunContext& c) {
  DemRunResult result;
  if (!c.screen) {
    result.error = "no earth view to sample";
    return result;
  }
  const double step = sample_distance;
  const int64_t nx = DemAxisCount(static_cast<double>(box.east) - box.west, step);
  const int64_t ny = DemAxisCount(static_cast<double>(box.north) - box.south, step);
  if (nx < 1 || ny < 1 || !tracer.AllocGrid(static_cast<int>(ny), static_cast<int>(nx))) {
    result.out_of_memory = true;
    result.error = FormatC("a grid of %lld x %lld nodes does not fit in memory", static_cast<long long>(nx),
                           static_cast<long long>(ny));
    return result;
  }
  for (int64_t r = 0; r < ny; ++r) std::fill_n(tracer.Row(static_cast<int>(r)), nx, kNaN);
  if (!c.screen->PrepareTerrain(c.stop) && Stop(c, 0)) {
    c.screen->FinishTerrain();
    result.stopped = true;
    return result;
  }
  // Row 0 is the bottom of the box (the south on a north-up view), as the tracer's rows go.
  for (int64_t row = 0; row < ny && !result.stopped; ++row) {
    const double py = box.north - static_cast<double>(row) * step;
    float* values = tracer.Row(static_cast<int>(row));
    for (int64_t col = 0; col < nx; ++col) {
      if (Stop(c, 0)) {
        result.stopped = true;
        break;
      }
      const double px = box.west + static_cast<double>(col) * step;
      double lng = 0, lat = 0, alt = 0;
      if (!SampleScreen(c, px, py, &lng, &lat, &alt)) {
        GridDot(c, row, col, ny, nx, kDemDotFailed);
        continue;
      }
      GridDot(c, row, col, ny, nx, kDemDotWeb);
      values[col] = static_cast<float>(alt);
      KeepPoint(c, lng, lat, alt);
    }
  }
  c.screen->FinishTerrain();
  return result;
}

DemRunResult CDemGrid::RunScreenPoints(const DemRunContext& c) {
  DemRunResult result;
  if (!c.screen) {
    result.error = "no earth view to sample";
    return result;
  }
  if (!c.screen->PrepareTerrain(c.stop) && Stop(c, 0)) {
    c.screen->FinishTerrain();
    result.stopped = true;
    return result;
  }
  const size_t n = positions.size();
  const size_t vertices = std::min(polygon.size(), n);
  constexpr double kNaND = std::numeric_limits<double>::quiet_NaN();
  vertex_terrain.assign(vertices, Point3D{kNaND, kNaND, kNaND});
  for (size_t i = 0; i < n; ++i) {
    if (Stop(c, 0)) {
      result.stopped = true;
      break;
    }
    double lng = 0, lat = 0, alt = 0;
    if (!SampleScreen(c, positions[i].lng, positions[i].lat, &lng, &lat, &alt)) {
      ListDot(c, i, n, kDemDotFailed);
      continue;
    }
    ListDot(c, i, n, kDemDotWeb);
    if (i < vertices) vertex_terrain[i] = {lng, lat, alt};
    KeepPoint(c, lng, lat, alt);
  }
  c.screen->FinishTerrain();
  return result;
}

void CDemGrid::RecomputeRanges() {
  ready = !points.empty();
  if (points.empty()) {
    tracer.x_range = tracer.y_range = tracer.z_range = {0, 0};
    return;
  }
  StartRanges();
  for (const Point3D& p : points) Widen(p.x, p.y, p.z);
}

}  // namespace velmora

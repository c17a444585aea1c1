// The elevation download's walk over a region and its fetch loop.
#include "terrain/dem_download.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "core/format.h"
#include "core/log.h"
#include "core/proxy_list.h"
#include "core/work_thread.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"

namespace velmora {
namespace {

// Exact test of a whole-metre point against a whole-metre segment: the cross product in 64 bits
// (coordinates stay below 2^26, so it cannot overflow) and the segment's box.
bool OnSegment(const PixelPoint& a, const PixelPoint& b, int64_t x, int64_t y) {
  const auto ax = static_cast<int64_t>(a.x), ay = static_cast<int64_t>(a.y);
  const auto bx = static_cast<int64_t>(b.x), by = static_cast<int64_t>(b.y);
  if (x < std::min(ax, bx) || x > std::max(ax, bx) || y < std::min(ay, by) || y > std::max(ay, by)) return false;
  return (bx - ax) * (y - ay) - (by - ay) * (x - ax) == 0;
}

}  // namespace

Argb DemDownloadColor(int status) {
  switch (status) {
    case kElevOverQuota: return kDemColorOverQuota;
    case kElevFetched: return kDemColorFetched;
    case kElevFound: return kDemColorKnown;
    default: return kDemColorFailed;
  }
}

bool DemWalkPlan::Contains(int x, int y) const {
  if (!has_outline) return x >= min_x && x <= max_x && y >= min_y && y <= max_y;
  const size_t n = outline.size();
  for (size_t i = 0; i < n; ++i) {
    if (OnSegment(outline[i], outline[(i + 1) % n], x, y)) return true;
  }
  return PointInPolygon(outline, x, y, RegionFillRule::kWinding);
}

bool PlanDemWalk(std::span<const LngLatF> region, int distance, DemWalkPlan* plan, std::string* error) {
  auto fail = [error](const char* why) {
    if (error) *error = why;
    return false;
  };
  if (distance < 1) return fail("the sample distance is below 1 m");
  if (region.empty()) return fail("the region is empty");
  DemWalkPlan p;
  p.distance = distance;
  p.min_x = p.min_y = INT_MAX;
  p.max_x = p.max_y = -INT_MAX;
  std::vector<PixelPoint> metric;
  metric.reserve(region.size());
  for (const LngLatF& v : region) {
    if (!std::isfinite(v.lng) || !std::isfinite(v.lat)) return fail("a corner of the region is not a number");
    const int x = LngToEquirectMeters(v.lng), y = LatToEquirectMeters(v.lat);
    p.min_x = std::min(p.min_x, x);
    p.max_x = std::max(p.max_x, x);
    p.min_y = std::min(p.min_y, y);
    p.max_y = std::max(p.max_y, y);
    metric.push_back({static_cast<double>(x), static_cast<double>(y)});
  }
  p.columns = (int64_t{p.max_x} - p.min_x) / distance + 1;
  p.rows = (int64_t{p.max_y} - p.min_y) / distance + 1;
  if (metric.size() > 2) {
    p.has_outline = true;
    p.outline = std::move(metric);
  }
  *plan = std::move(p);
  return true;
}

bool ForEachDemWalkPoint(const DemWalkPlan& plan, const std::function<bool(const DemWalkPoint&)>& visit) {
  for (int64_t c = 0; c < plan.columns; ++c) {
    const int x = static_cast<int>(plan.min_x + c * plan.distance);
    for (int64_t r = 0; r < plan.rows; ++r) {
      const int y = static_cast<int>(plan.max_y - r * plan.distance);
      if (!plan.Contains(x, y)) continue;
      if (!visit(DemWalkPoint{c, r, x, y})) return false;
    }
  }
  return true;
}

void DemWalkPosition(int x, int y, int distance, float* lon, float* lat) {
  *lon = static_cast<float>(LngFromEquirectMeters(x));
  *lat = static_cast<float>(LatFromEquirectMeters(y));
  CElevationStore::NormalizePosition(lon, lat, distance);
}

std::string DemDownloadStatusText(int distance, int done, bool finished) {
  return finished ? FormatC("downloading-%dm ok...[%d-%d]", distance, done, 0)
                  : FormatC("downloading-%dm...[%d-%d]", distance, done, 0);
}

DemDownloadResult RunDemDownload(const DemWalkPlan& plan, IDemDownloadSink& sink, CWorkThread& thread,
                                 const DemDownloadOptions& options) {
  CElevCacheDb& cache = options.cache ? *options.cache : ElevCacheDb();
  DemDownloadResult result;
  sink.ResetProgress(plan.columns, plan.rows);
  int64_t last_column = -1;
  ForEachDemWalkPoint(plan, [&](const DemWalkPoint& point) {
    if (point.column != last_column) {
      last_column = point.column;
      if (thread.WaitQuit(options.point_pause_ms)) return !(result.stopped = true);
    }
    unsigned pause = options.backoff_first_ms;
    for (;;) {
      float lon = 0, lat = 0, height = 0;
      DemWalkPosition(point.x, point.y, plan.distance, &lon, &lat);
      const int status = cache.FetchPoint(&lon, &lat, &height);
      // A fetch cut short by the stop tells nothing about the point: it is neither painted nor
      // counted.
      if (thread.QuitRequested()) return !(result.stopped = true);
      sink.SetProgress(point.column, point.row, DemDownloadColor(status));
      if (options.report_proxy) OnProxyFailure(status == kElevOverQuota ? 1 : 0);
      if (status != kElevOverQuota) {
        ++result.done;
        sink.SetStatus(DemDownloadStatusText(plan.distance, result.done, false), result.done);
        break;
      }
      ++result.quota;
      sink.SetStatus(DemDownloadStatusText(plan.distance, result.done, false) +
                         FormatC(" (over quota, retry in %.1fs)", pause / 1000.0),
                     result.done);
      if (thread.WaitQuit(pause)) return !(result.stopped = true);
      pause = std::min(options.backoff_max_ms, pause > options.backoff_max_ms / 2 ? options.backoff_max_ms : pause * 2);
    }
    if (thread.WaitQuit(options.point_pause_ms)) return !(result.stopped = true);
    return true;
  });
  sink.SetStatus(DemDownloadStatusText(plan.distance, result.done, true), result.done);
  AppLog("DEM Download finished.");
  return result;
}

}  // namespace velmora

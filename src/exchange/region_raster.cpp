// Scan-line rasterisation of a region onto the tile grid: an active-edge sweep over the rows of
// tile centres, the crossings of each row sorted and turned into runs of tiles.
#include "exchange/region_raster.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>

#include "core/format.h"

namespace velmora {
namespace {

// First integer t with t + 0.5 >= v (v finite). t + 0.5 is exact for the magnitudes used here,
// so the comparisons decide exactly what the point-in-polygon test decides.
int64_t FirstCentreAtOrAbove(double v) {
  double guess = std::ceil(v - 0.5);
  guess = std::clamp(guess, -4.0e15, 4.0e15);
  int64_t t = static_cast<int64_t>(guess);
  while (static_cast<double>(t) + 0.5 < v) ++t;
  while (static_cast<double>(t - 1) + 0.5 >= v) --t;
  return t;
}

// x per unit of y along edge a->b, and its crossing with the horizontal line y: the one
// expression used by the rasteriser and by PointInPolygon, so that both agree to the last bit.
inline double EdgeSlope(const PixelPoint& a, const PixelPoint& b) { return (b.x - a.x) / (b.y - a.y); }
inline double CrossingX(const PixelPoint& a, double slope, double y) { return a.x + (y - a.y) * slope; }

struct Edge {
  PixelPoint a;
  double slope = 0;
  int64_t first_row = 0;  // rows whose centre line the edge crosses
  int64_t last_row = 0;
  int dir = 0;            // +1 downwards (y grows), -1 upwards
};

// An edge crossing the current row, with its crossing.
struct Active {
  double x;
  int dir;
  const Edge* edge;
};

std::vector<PixelPoint> CleanRing(std::span<const PixelPoint> polygon) {
  std::vector<PixelPoint> ring;
  ring.reserve(polygon.size());
  for (const PixelPoint& p : polygon) {
    if (!ring.empty() && ring.back().x == p.x && ring.back().y == p.y) continue;
    ring.push_back(p);
  }
  while (ring.size() > 1 && ring.front().x == ring.back().x && ring.front().y == ring.back().y) ring.pop_back();
  return ring;
}

bool Fail(std::string* error, RegionTiles* out, std::string message) {
  if (error) *error = std::move(message);
  *out = RegionTiles{};
  return false;
}

}  // namespace

uint64_t RegionTiles::TileCount() const {
  if (x1 < x0 || y1 < y0) return 0;
  if (!has_outline) return uint64_t(Width()) * uint64_t(Height());
  uint64_t n = 0;
  for (const TileSpan& s : spans) n += uint64_t(s.x1 - s.x0 + 1);
  return n;
}

bool RegionTiles::Contains(int x, int y) const {
  if (x < x0 || x > x1 || y < y0 || y > y1) return false;
  if (!has_outline) return true;
  // The last run that starts at or before (x, y) in (row, column) order.
  auto it = std::upper_bound(spans.begin(), spans.end(), std::pair{y, x},
                             [](const std::pair<int, int>& key, const TileSpan& s) {
                               return key.first < s.y || (key.first == s.y && key.second < s.x0);
                             });
  if (it == spans.begin()) return false;
  --it;
  return it->y == y && x >= it->x0 && x <= it->x1;
}

bool RegionTiles::ForEachTileByRow(const std::function<bool(int x, int y)>& visit) const {
  if (x1 < x0 || y1 < y0) return true;
  if (!has_outline) {
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x)
        if (!visit(x, y)) return false;
    return true;
  }
  for (const TileSpan& s : spans)
    for (int x = s.x0; x <= s.x1; ++x)
      if (!visit(x, s.y)) return false;
  return true;
}

bool RegionTiles::ForEachTileByColumn(const std::function<bool(int x, int y)>& visit) const {
  if (x1 < x0 || y1 < y0) return true;
  if (!has_outline) {
    for (int x = x0; x <= x1; ++x)
      for (int y = y0; y <= y1; ++y)
        if (!visit(x, y)) return false;
    return true;
  }
  // A run of row y enters the active rows at its first column and leaves after its last; the
  // rows active at a column are the region's tiles of that column.
  struct Event {
    int64_t x;
    int32_t y;
    bool enter;
  };
  std::vector<Event> events;
  events.reserve(spans.size() * 2);
  for (const TileSpan& s : spans) {
    events.push_back({s.x0, s.y, true});
    events.push_back({int64_t(s.x1) + 1, s.y, false});
  }
  std::sort(events.begin(), events.end(), [](const Event& a, const Event& b) { return a.x < b.x; });
  std::set<int32_t> active;
  size_t i = 0;
  while (i < events.size()) {
    int64_t x = events[i].x;
    for (; i < events.size() && events[i].x == x; ++i) {
      if (events[i].enter) active.insert(events[i].y);
      else active.erase(events[i].y);
    }
    int64_t next = i < events.size() ? events[i].x : x;
    for (int64_t cx = x; cx < next && !active.empty(); ++cx)
      for (int32_t y : active)
        if (!visit(static_cast<int>(cx), y)) return false;
  }
  return true;
}

bool PointInPolygon(std::span<const PixelPoint> polygon, double x, double y, RegionFillRule rule) {
  std::vector<PixelPoint> ring = CleanRing(polygon);
  if (ring.size() < 3) return false;
  int winding = 0;
  int crossings = 0;
  for (size_t i = 0; i < ring.size(); ++i) {
    const PixelPoint& a = ring[i];
    const PixelPoint& b = ring[(i + 1) % ring.size()];
    if ((a.y <= y) == (b.y <= y)) continue;
    if (CrossingX(a, EdgeSlope(a, b), y) > x) {
      ++crossings;
      winding += b.y > a.y ? 1 : -1;
    }
  }
  return rule == RegionFillRule::kEvenOdd ? (crossings & 1) != 0 : winding != 0;
}

bool RasterizeTilePolygon(std::span<const PixelPoint> polygon, int64_t columns, int64_t rows, RegionTiles* out,
                          std::string* error, const RegionRasterOptions& options) {
  *out = RegionTiles{};
  if (columns < 1 || rows < 1 || columns > (int64_t{1} << kMaxRegionZoom) || rows > (int64_t{1} << kMaxRegionZoom))
    return Fail(error, out, "grid size out of range");
  for (const PixelPoint& p : polygon)
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return Fail(error, out, "region point is not finite");
  std::vector<PixelPoint> ring = CleanRing(polygon);
  if (ring.empty()) return true;  // nothing: an empty range

  double min_x = ring[0].x, max_x = ring[0].x, min_y = ring[0].y, max_y = ring[0].y;
  for (const PixelPoint& p : ring) {
    min_x = std::min(min_x, p.x), max_x = std::max(max_x, p.x);
    min_y = std::min(min_y, p.y), max_y = std::max(max_y, p.y);
  }
  // Tiles that the bounding box touches, clamped to the grid.
  auto clamp_cell = [](double v, int64_t n) {
    return static_cast<int64_t>(std::clamp(std::floor(v), 0.0, static_cast<double>(n - 1)));
  };
  auto last_cell = [&](double lo, double hi, int64_t n) {
    // A box edge on a tile border does not reach into the next tile.
    double c = std::ceil(hi) - 1;
    if (c < std::floor(lo)) c = std::floor(lo);
    return static_cast<int64_t>(std::clamp(c, 0.0, static_cast<double>(n - 1)));
  };
  bool outside = max_x < 0 || max_y < 0 || min_x >= static_cast<double>(columns) || min_y >= static_cast<double>(rows);
  out->outline = ring;
  if (outside) return true;
  out->x0 = static_cast<int>(clamp_cell(min_x, columns));
  out->x1 = static_cast<int>(last_cell(min_x, max_x, columns));
  out->y0 = static_cast<int>(clamp_cell(min_y, rows));
  out->y1 = static_cast<int>(last_cell(min_y, max_y, rows));
  out->has_outline = ring.size() >= 3;
  if (!out->has_outline) return true;

  // Edges with the rows of tile centres they cross: min y <= r + 0.5 < max y.
  std::vector<Edge> edges;
  edges.reserve(ring.size());
  for (size_t i = 0; i < ring.size(); ++i) {
    const PixelPoint& a = ring[i];
    const PixelPoint& b = ring[(i + 1) % ring.size()];
    if (a.y == b.y) continue;
    Edge e;
    double lo = std::min(a.y, b.y), hi = std::max(a.y, b.y);
    e.first_row = std::max<int64_t>(FirstCentreAtOrAbove(lo), out->y0);
    e.last_row = std::min<int64_t>(FirstCentreAtOrAbove(hi) - 1, out->y1);
    if (e.first_row > e.last_row) continue;  // between two rows of centres
    e.a = a;
    e.slope = EdgeSlope(a, b);
    e.dir = b.y > a.y ? 1 : -1;
    edges.push_back(e);
  }
  std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.first_row < b.first_row; });

  const bool even_odd = options.rule == RegionFillRule::kEvenOdd;
  // The crossings stay sorted from row to row: edges of a ring only swap places at a vertex or
  // where the ring crosses itself, so an insertion sort does little more than one pass.
  std::vector<Active> xs;
  size_t next_edge = 0;
  for (int64_t row = out->y0; row <= out->y1; ++row) {
    // Drop the edges that ended, take in those that start.
    xs.erase(std::remove_if(xs.begin(), xs.end(), [row](const Active& c) { return c.edge->last_row < row; }),
             xs.end());
    const size_t kept = xs.size();
    while (next_edge < edges.size() && edges[next_edge].first_row <= row) {
      if (edges[next_edge].last_row >= row) xs.push_back({0, edges[next_edge].dir, &edges[next_edge]});
      ++next_edge;
    }
    if (xs.empty()) {
      if (next_edge >= edges.size()) break;
      row = std::max(row, edges[next_edge].first_row - 1);  // skip rows that no edge crosses
      continue;
    }
    const double yc = static_cast<double>(row) + 0.5;
    for (Active& c : xs) c.x = CrossingX(c.edge->a, c.edge->slope, yc);
    auto by_x = [](const Active& a, const Active& b) { return a.x < b.x; };
    for (size_t i = 1; i < kept; ++i) {
      Active c = xs[i];
      size_t j = i;
      for (; j > 0 && c.x < xs[j - 1].x; --j) xs[j] = xs[j - 1];
      xs[j] = c;
    }
    if (kept < xs.size()) {
      std::sort(xs.begin() + static_cast<ptrdiff_t>(kept), xs.end(), by_x);
      std::inplace_merge(xs.begin(), xs.begin() + static_cast<ptrdiff_t>(kept), xs.end(), by_x);
    }
    // Centres in [xs[i], xs[i+1]) see the crossings after i to their east: inside when those
    // add up to a non-zero winding (or an odd count).
    int suffix = 0;
    for (const Active& c : xs) suffix += even_odd ? 1 : c.dir;
    int32_t run_start = 0, run_end = -1;
    bool in_run = false;
    for (size_t i = 0; i + 1 < xs.size(); ++i) {
      suffix -= even_odd ? 1 : xs[i].dir;
      bool inside = even_odd ? (suffix & 1) != 0 : suffix != 0;
      if (!inside) continue;
      int64_t t0 = std::max<int64_t>(FirstCentreAtOrAbove(xs[i].x), out->x0);
      int64_t t1 = std::min<int64_t>(FirstCentreAtOrAbove(xs[i + 1].x) - 1, out->x1);
      if (t0 > t1) continue;
      if (in_run && t0 <= int64_t(run_end) + 1) {
        run_end = std::max<int32_t>(run_end, static_cast<int32_t>(t1));
        continue;
      }
      if (in_run) out->spans.push_back({static_cast<int32_t>(row), run_start, run_end});
      run_start = static_cast<int32_t>(t0), run_end = static_cast<int32_t>(t1), in_run = true;
    }
    if (in_run) out->spans.push_back({static_cast<int32_t>(row), run_start, run_end});
    if (out->spans.size() > options.max_spans)
      return Fail(error, out, FormatC("region too detailed: more than %zu runs of tiles", options.max_spans));
  }
  return true;
}

namespace {

template <class Point>
bool RasterizeLngLat(int kind, int zoom, std::span<const Point> region, RegionTiles* out, std::string* error,
                     const RegionRasterOptions& options) {
  if (zoom < 0 || zoom > kMaxRegionZoom) return Fail(error, out, FormatC("zoom %d out of range", zoom));
  const KindTransforms& t = TransformsOfKind(kind);
  // The transforms at zoom 0 give pixels of a 256-pixel world; scaling by 2^zoom / 256 is exact.
  const double scale = std::ldexp(1.0, zoom) / kTileSize;
  std::vector<PixelPoint> polygon;
  polygon.reserve(region.size());
  for (const Point& p : region) {
    double lng = p.lng, lat = p.lat;
    if (!std::isfinite(lng) || !std::isfinite(lat)) return Fail(error, out, "region point is not finite");
    polygon.push_back({t.lng_to_x(lng, 0) * scale, t.lat_to_y(lat, 0) * scale});
  }
  int64_t columns = 0, rows = 0;
  KindTileCount(kind, zoom, &columns, &rows);
  if (!RasterizeTilePolygon(polygon, columns, rows, out, error, options)) return false;
  out->kind = kind;
  out->zoom = zoom;
  return true;
}

}  // namespace

bool RasterizeRegionTiles(int kind, int zoom, std::span<const LngLatF> region, RegionTiles* out, std::string* error,
                          const RegionRasterOptions& options) {
  return RasterizeLngLat(kind, zoom, region, out, error, options);
}

bool RasterizeRegionTiles(int kind, int zoom, std::span<const LngLat> region, RegionTiles* out, std::string* error,
                          const RegionRasterOptions& options) {
  return RasterizeLngLat(kind, zoom, region, out, error, options);
}

}  // namespace velmora

// The tiles of a region: a polygon of longitude/latitude points rasterised onto the tile grid of
// a projection kind at a zoom. A tile belongs to the region when its centre lies inside the
// polygon (double precision, one crossing rule for every caller). The result is kept as runs of
// tiles per row, so that a region at zoom 22 over a country costs memory per row, never per
// tile of its bounding box, and its tile count is a sum over the runs.
#pragma once
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/geodesy.h"

namespace velmora {

// One point of a region as the views hand it over (float longitude, latitude).
struct LngLatF {
  float lng = 0, lat = 0;
};

// Which centres are inside a polygon that crosses itself: the winding rule counts every loop
// (a figure drawn twice round stays filled), the even-odd rule alternates.
enum class RegionFillRule { kWinding, kEvenOdd };

// A run of tiles x0..x1 (inclusive) of row y.
struct TileSpan {
  int32_t y = 0;
  int32_t x0 = 0;
  int32_t x1 = 0;
};

class RegionTiles {
 public:
  int kind = 1;
  int zoom = 0;
  // The tile range covering the region's bounding box, inclusive; empty when x1 < x0.
  int x0 = 0, y0 = 0, x1 = -1, y1 = -1;
  // False when the region has fewer than three points: then every tile of the range counts.
  bool has_outline = false;
  // The region in tile units of this kind and zoom (tile (x, y) covers [x, x+1) × [y, y+1)).
  std::vector<PixelPoint> outline;
  // Runs of tiles in the region, by row then column; only with an outline.
  std::vector<TileSpan> spans;

  bool IsEmpty() const { return x1 < x0 || y1 < y0 || (has_outline && spans.empty()); }
  int Width() const { return x1 < x0 ? 0 : x1 - x0 + 1; }
  int Height() const { return y1 < y0 ? 0 : y1 - y0 + 1; }
  // Tiles in the region (a sum over the runs; no tile is visited).
  uint64_t TileCount() const;
  // Whether tile (x, y) belongs to the region (a binary search in its row).
  bool Contains(int x, int y) const;

  // Visits the tiles of the region until `visit` returns false: row by row (y outer, x inner)
  // or column by column (x outer, y inner), ascending. The column order is derived from the
  // rows, so both orders visit exactly the same tiles; it costs memory per row, not per tile.
  // Returns false when the visit was stopped.
  bool ForEachTileByRow(const std::function<bool(int x, int y)>& visit) const;
  bool ForEachTileByColumn(const std::function<bool(int x, int y)>& visit) const;
};

struct RegionRasterOptions {
  RegionFillRule rule = RegionFillRule::kWinding;
  // A region whose runs would exceed this count is refused (about 12 bytes each).
  size_t max_spans = size_t(1) << 26;
};

inline constexpr int kMaxRegionZoom = 30;

// Rasterises `region` for projection kind `kind` at integer zoom `zoom` (0-30). The range is
// clamped to the world of the kind; latitudes beyond the world's edge count as the edge.
// Returns false (reason in *error, *out emptied) for a zoom out of range, a point that is not
// finite, or more runs than the options allow. A region of one or two points has no outline:
// its range is the box of its points and every tile of it counts.
bool RasterizeRegionTiles(int kind, int zoom, std::span<const LngLatF> region, RegionTiles* out,
                          std::string* error = nullptr, const RegionRasterOptions& options = {});
bool RasterizeRegionTiles(int kind, int zoom, std::span<const LngLat> region, RegionTiles* out,
                          std::string* error = nullptr, const RegionRasterOptions& options = {});

// The same on a polygon already in tile units (the outline of a RegionTiles, or any polygon on
// a grid of `columns` × `rows` cells).
bool RasterizeTilePolygon(std::span<const PixelPoint> polygon, int64_t columns, int64_t rows,
                          RegionTiles* out, std::string* error = nullptr,
                          const RegionRasterOptions& options = {});

// The plain test of one point against a polygon with the rasteriser's crossing rule: a ray to
// the east from (x, y); an edge counts when y lies in [min y, max y) of the edge and its crossing
// lies east of x. Used by tests as the reference the runs must equal.
bool PointInPolygon(std::span<const PixelPoint> polygon, double x, double y, RegionFillRule rule);

}  // namespace velmora

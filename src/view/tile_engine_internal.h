// The tile engine's inner records, shared by its source files: the camera snapshot a rebuild
// works from, the plan of the map image (level, tile range), one cell of it (a base tile and
// the overlay tiles over it) and the image itself; and the whole-pixel copy helpers.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "view/tile_engine.h"

namespace velmora {

struct CTileEngine::Snapshot {
  Camera cam;
  int kind = 1;
  std::vector<Layer> layers;  // visible ones, base first
  uint64_t layers_version = 0;
  uint64_t request = 0;
};

// The map image's geometry: level z of the base kind, tile columns tx0.. (not wrapped: the image
// may run past the antimeridian) and rows ty0.. (inside the world).
struct CTileEngine::Plan {
  bool empty = true;
  int kind = 1;
  int z = 0;
  double scale = 1;  // window pixels per image pixel at the camera's zoom
  int64_t tx0 = 0, ty0 = 0;
  int cols = 0, rows = 0;
  int64_t world_cols = 1, world_rows = 1;
  uint64_t layers_version = 0;

  double WorldWidth() const { return double(world_cols) * kTileSize; }
  bool SameGeometry(const Plan& o) const {
    return !empty && !o.empty && kind == o.kind && z == o.z && tx0 == o.tx0 && ty0 == o.ty0 && cols == o.cols &&
           rows == o.rows && layers_version == o.layers_version;
  }
};

// One overlay tile over a cell: its key and where it lands in image pixels.
struct OverlayPiece {
  TileKey key = 0;
  double x = 0, y = 0, width = 0, height = 0;
  float opacity = 1;
};

struct CTileEngine::Cell {
  TileKey key = 0;  // the base tile
  int column = 0;   // wrapped into the world
  int row = 0;
  int z = 0;
  int source = 0;
  float opacity = 1;
  std::vector<OverlayPiece> overlays;
};

struct CTileEngine::MapImage {
  Plan plan;
  CBitmap pixels;                    // at the plan's level, one tile per 256 x 256 cell
  std::vector<uint64_t> signatures;  // what each cell shows, row by row
  // The pixels scaled to the camera's fractional zoom (empty at a whole level), so that a pan
  // copies whole pixels instead of filtering the window again; display_scale is its factor.
  CBitmap display;
  double display_scale = 1;
};

namespace map_image {

// Copies the w x h block at (sx, sy) of `src` to (dx, dy) of `dst`, clipped to both pictures.
void CopyBlock(CBitmap& dst, int dx, int dy, const CBitmap& src, int sx, int sy, int w, int h);
// Copies a whole tile to (dx, dy) (which must lie inside `dst`) and tells whether every pixel
// was opaque. False (the copy is then to be drawn again) when it was not or did not fit.
bool CopyOpaqueTile(CBitmap& dst, int dx, int dy, const CBitmap& tile);
// Fills the block (clipped) with a straight colour.
void FillBlock(CBitmap& dst, int x, int y, int w, int h, Argb straight);

}  // namespace map_image

}  // namespace velmora

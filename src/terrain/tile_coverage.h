// Coverage of a layer's stored tiles on a world picture in plate carrée (longitude -180 at the
// left edge, latitude 90 at the top, the same pixels per degree both ways): each tile's rectangle
// filled in red, opaque when the first key's zoom is above 9 and half transparent otherwise,
// never narrower or lower than three pixels of the screen the picture is shown on.
#pragma once
#include <vector>

#include "platform/gfx/bitmap.h"
#include "tiles/tile_key.h"

namespace velmora {

inline constexpr Argb kCoverageOpaque = 0xFFFF0000u;
inline constexpr Argb kCoverageHalf = 0x80FF0000u;

// The brush of a key list: by the first key's zoom.
Argb CoverageColor(const std::vector<TileKey>& keys);

// Fills the rectangle of each key (split at its own zoom, with the transforms of projection kind
// `kind`) on `world`, blending over it. The smallest cell is 3072 / `viewport_width` picture
// pixels (three screen pixels of a 1024-pixel picture shown `viewport_width` pixels wide); a
// viewport width of 0 or less counts as the picture's width. Nothing happens to an empty picture.
void DrawTileCoverage(CBitmap& world, const std::vector<TileKey>& keys, int kind, int viewport_width);

}  // namespace velmora

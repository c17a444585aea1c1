// Tile keys: quadtree code of the tile plus source and zoom.
#include "tiles/tile_key.h"

namespace velmora {

TileKey MakeTileKey(int x, int y, int v) {
  uint32_t value = static_cast<uint32_t>(v) & kKeyValueMask;
  int zoom = static_cast<int>(value % kZoomsPerSource);
  uint32_t ux = static_cast<uint32_t>(x), uy = static_cast<uint32_t>(y);
  TileKey code = 0;
  // Level i (0 = coarsest) takes bit zoom-1-i of x and y and lands in key bits 2i+1 and 2i.
  for (int i = 0; i < zoom; ++i) {
    int bit = zoom - 1 - i;
    TileKey pair = (((ux >> bit) & 1u) << 1) | ((uy >> bit) & 1u);
    code |= pair << (2 * i);
  }
  return (static_cast<TileKey>(value) << kKeyValueShift) | code;
}

uint32_t CityMapKeyValue(int source) {
  if (source == kCityMapSource54) return kCityMapKeyValue54;
  if (source == kCityMapSource55) return kCityMapKeyValue55;
  return 0;
}

int TileKeyZoom(TileKey key) { return static_cast<int>(TileKeyV(key) % kZoomsPerSource); }

int TileKeySource(TileKey key) {
  uint32_t value = TileKeyV(key);
  if (value == kCityMapKeyValue54) return kCityMapSource54;
  if (value == kCityMapKeyValue55) return kCityMapSource55;
  return static_cast<int>(value / kZoomsPerSource);
}

TileKeyParts SplitTileKey(TileKey key) {
  TileKeyParts parts;
  parts.zoom = TileKeyZoom(key);
  parts.source = TileKeySource(key);
  uint32_t x = 0, y = 0;
  for (int i = 0; i < parts.zoom; ++i) {
    int bit = parts.zoom - 1 - i;
    uint32_t pair = static_cast<uint32_t>(key >> (2 * i)) & 3u;
    x |= (pair >> 1) << bit;
    y |= (pair & 1u) << bit;
  }
  parts.x = static_cast<int>(x);
  parts.y = static_cast<int>(y);
  return parts;
}

}  // namespace velmora

// TileKey: the 64-bit key of one tile of one map source, and its two-word form.
//
// Bits 0-45 hold the tile's x and y as a quadtree code, two bits per level with the coarsest
// level in the lowest two bits (per level the x bit is worth 2 and the y bit 1); bits 46-63 hold
// the value v = source id × 23 + zoom. The zoom is v modulo 23 and the source v / 23, except that
// the values 0x3FFFF and 0x3FFFE stand for the city-map sources 54 and 55.
#pragma once
#include <cstdint>

namespace velmora {

using TileKey = uint64_t;

inline constexpr int kZoomsPerSource = 23;  // v = source id × 23 + zoom
inline constexpr int kMaxKeyZoom = 22;
inline constexpr uint32_t kKeyValueMask = 0x3FFFF;  // 18 bits of v
inline constexpr int kKeyValueShift = 46;
inline constexpr uint32_t kCityMapKeyValue54 = 0x3FFFF;
inline constexpr uint32_t kCityMapKeyValue55 = 0x3FFFE;
inline constexpr int kCityMapSource54 = 54;
inline constexpr int kCityMapSource55 = 55;

// The key of tile (x, y) for v = source id × 23 + zoom. Only the low `zoom` bits of x and y
// enter the key (negative or oversized values wrap); a zoom of 0 gives the source part alone;
// v is taken modulo 2^18.
TileKey MakeTileKey(int x, int y, int v);
// v for a source and a zoom (source id × 23 + zoom).
constexpr int TileKeyValue(int source, int zoom) { return source * kZoomsPerSource + zoom; }
// The city-map value (0x3FFFF for 54, 0x3FFFE for 55) of a source, 0 for any other source.
uint32_t CityMapKeyValue(int source);

struct TileKeyParts {
  int x = 0;
  int y = 0;
  int zoom = 0;
  int source = 0;
};
// x, y, zoom and source of a key (the inverse of MakeTileKey).
TileKeyParts SplitTileKey(TileKey key);
int TileKeySource(TileKey key);
int TileKeyZoom(TileKey key);
// The 18-bit value v of a key.
constexpr uint32_t TileKeyV(TileKey key) { return static_cast<uint32_t>(key >> kKeyValueShift); }

// The key as two 32-bit words (low, high), the form in which tiles and stores pass it.
constexpr uint32_t TileKeyLow(TileKey key) { return static_cast<uint32_t>(key); }
constexpr uint32_t TileKeyHigh(TileKey key) { return static_cast<uint32_t>(key >> 32); }
constexpr TileKey TileKeyFromWords(uint32_t low, uint32_t high) {
  return (static_cast<TileKey>(high) << 32) | low;
}

}  // namespace velmora

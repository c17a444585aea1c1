// Tile keys bit-exact against hand-computed keys, their inverse, the city-map values and the
// two-word form.
#include "tiles/tile_key.h"

#include <gtest/gtest.h>

#include <random>

namespace velmora {
namespace {

TEST(TileKey, HandComputedKeys) {
  EXPECT_EQ(MakeTileKey(0, 0, 0), 0u);
  // Zoom 1: x bit worth 2 -> code 2.
  EXPECT_EQ(MakeTileKey(1, 0, TileKeyValue(0, 1)), (TileKey{1} << 46) | 2);
  EXPECT_EQ(MakeTileKey(0, 1, TileKeyValue(0, 1)), (TileKey{1} << 46) | 1);
  // Zoom 2, x = 10b, y = 01b: coarsest level (x 1, y 0) = 2 in bits 0-1, next (x 0, y 1) = 1
  // in bits 2-3; v = 35·23 + 2 = 807.
  EXPECT_EQ(MakeTileKey(2, 1, TileKeyValue(35, 2)), 0xc9c00000000006u);
  EXPECT_EQ(TileKeyLow(0xc9c00000000006u), 6u);
  EXPECT_EQ(TileKeyHigh(0xc9c00000000006u), 0xc9c000u);
  EXPECT_EQ(MakeTileKey(5, 3, TileKeyValue(1, 3)), 0x6800000000036u);
  // The zoom-20 tile of 120°E 36°N (x 873813, y 411760) for sources 35 and 0.
  EXPECT_EQ(MakeTileKey(873813, 411760, TileKeyValue(35, 20)), 0xce4088dc898c9eu);
  EXPECT_EQ(MakeTileKey(873813, 411760, TileKeyValue(0, 20)), 0x50088dc898c9eu);
  // Its zoom-12 ancestor for source 7: the coarse levels sit in the low bits, so the ancestor's
  // code is the low 24 bits of the descendant's.
  EXPECT_EQ(MakeTileKey(873813 >> 8, 411760 >> 8, TileKeyValue(7, 12)), 0x2b400000898c9eu);
  // Zoom 22, every bit set.
  EXPECT_EQ(MakeTileKey((1 << 22) - 1, (1 << 22) - 1, TileKeyValue(3, 22)),
            (TileKey{3 * 23 + 22} << 46) | 0xFFFFFFFFFFFu);
}

TEST(TileKey, OnlyTheZoomBitsEnter) {
  int v = TileKeyValue(12, 3);
  EXPECT_EQ(MakeTileKey(5 + 8, 3 + 64, v), MakeTileKey(5, 3, v));
  EXPECT_EQ(MakeTileKey(-1, -8, v), MakeTileKey(7, 0, v));
  // Zoom 0 (v a multiple of 23) keeps the source part alone.
  EXPECT_EQ(MakeTileKey(5, 9, TileKeyValue(8, 0)), TileKey{8 * 23} << 46);
  // v wraps at 18 bits instead of spilling out of the key.
  EXPECT_EQ(MakeTileKey(1, 1, 0x40000 + 24), MakeTileKey(1, 1, 24));
  EXPECT_EQ(MakeTileKey(1, 1, -1), MakeTileKey(1, 1, 0x3FFFF));
}

TEST(TileKey, SplitIsTheInverse) {
  std::mt19937 rng(7);
  for (int i = 0; i < 20000; ++i) {
    int zoom = static_cast<int>(rng() % 23);
    int source = static_cast<int>(rng() % 11000);
    int mask = (1 << zoom) - 1;
    int x = static_cast<int>(rng()) & mask, y = static_cast<int>(rng()) & mask;
    TileKey key = MakeTileKey(x, y, TileKeyValue(source, zoom));
    TileKeyParts p = SplitTileKey(key);
    ASSERT_TRUE(p.x == x && p.y == y && p.zoom == zoom && p.source == source) << std::hex << key;
    ASSERT_EQ(TileKeyV(key), static_cast<uint32_t>(source * 23 + zoom));
    ASSERT_EQ(TileKeyFromWords(TileKeyLow(key), TileKeyHigh(key)), key);
  }
}

TEST(TileKey, CityMapValues) {
  EXPECT_EQ(CityMapKeyValue(54), 0x3FFFFu);
  EXPECT_EQ(CityMapKeyValue(55), 0x3FFFEu);
  EXPECT_EQ(CityMapKeyValue(35), 0u);
  TileKey a = MakeTileKey(100, 200, 0x3FFFF), b = MakeTileKey(100, 200, 0x3FFFE);
  EXPECT_EQ(TileKeySource(b), 55);
  // Zoom is still the value modulo 23 (0x3FFFF = 23·11397 + 12).
  EXPECT_EQ(TileKeyZoom(b), 11);
  TileKeyParts p = SplitTileKey(a);
  EXPECT_TRUE(p.source == 54 && p.zoom == 12 && p.x == 100 && p.y == 200);
  // Ordinary keys of the city-map sources name them too.
  EXPECT_EQ(TileKeySource(MakeTileKey(1, 1, TileKeyValue(55, 15))), 55);
}

}  // namespace
}  // namespace velmora

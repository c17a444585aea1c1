// Shared helpers of the map view's tests (headless and on Qt): tiles whose every pixel tells where
// it lies (red = column in the tile, green = row in the tile, blue = a tag of the tile), a tile
// manager over stores in a temporary folder, and reading those pixels back from a painted window.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/gfx/bitmap.h"
#include "platform/gfx/image_codec.h"
#include "support/temp_dir.h"
#include "tiles/tile_key.h"
#include "tiles/tile_manager.h"

namespace velmora::test {

// The blue tag of tile (x, y) at zoom z: neighbours always differ.
inline uint8_t TileTag(int x, int y, int z) { return static_cast<uint8_t>((x * 7 + y * 13 + z * 29) & 0xFF); }

// A 256 x 256 tile: pixel (i, j) is (255, i, j, tag).
inline CBitmap GradientTile(uint8_t tag) {
  CBitmap b;
  b.Create(256, 256);
  for (int j = 0; j < 256; ++j)
    for (int i = 0; i < 256; ++i) b.Row(j)[i] = MakeArgb(255, uint8_t(i), uint8_t(j), tag);
  return b;
}

// Encoded tile bytes (BMP is exact and quick to write; the decoder goes by the content).
inline std::vector<uint8_t> EncodedTile(const CBitmap& tile, ImageType type = ImageType::kBmp) {
  std::vector<uint8_t> bytes;
  EXPECT_TRUE(EncodeImage(tile, type, &bytes));
  return bytes;
}

// Stores the gradient tiles of source/zoom in [x0, x1] x [y0, y1] (columns wrapped).
inline void StoreGradientTiles(CTileManager& tiles, int source, int zoom, int x0, int x1, int y0, int y1,
                               int64_t columns) {
  CTileStore* store = tiles.OpenStore(source);
  ASSERT_NE(store, nullptr);
  for (int y = y0; y <= y1; ++y) {
    for (int x = x0; x <= x1; ++x) {
      int col = static_cast<int>(((x % columns) + columns) % columns);
      std::vector<uint8_t> bytes = EncodedTile(GradientTile(TileTag(col, y, zoom)));
      store->Write(MakeTileKey(col, y, TileKeyValue(source, zoom)), bytes.data(), bytes.size(), false);
    }
  }
}

// A tile manager over stores in its own folder: offline (tiles not stored end as DS_OFFLINE,
// which takes a download thread) unless downloads are asked for. Online without download
// threads, tiles not stored stay pending.
inline std::unique_ptr<CTileManager> MakeTileManager(const std::string& folder, int download_threads = 1,
                                                     bool offline = true) {
  TileManagerOptions o;
  o.data_dir = folder;
  o.download_threads = download_threads;
  o.offline = offline;
  o.use_download_list = false;
  o.retry_limit = 1;
  o.give_up_ms = 0;
  auto m = std::make_unique<CTileManager>(o);
  EXPECT_TRUE(m->Start());
  return m;
}

// Where a painted pixel came from: column and row in the world of its tile's level (from the
// tile tag the caller looks up) and the tag.
struct Drawn {
  int i = 0, j = 0;  // position inside the tile
  uint8_t tag = 0;
};
inline Drawn DrawnAt(const CBitmap& canvas, int x, int y) {
  Argb c = canvas.GetPixel(x, y);
  return Drawn{ArgbR(c), ArgbG(c), ArgbB(c)};
}

}  // namespace velmora::test

// CTilesExportCtrl: pictures composed from the map's tiles, as the terrain and the exports ask
// for them: an area of the map at a given size in pixels (ComposeAreaImage) and the whole world
// at a zoom (ComposeTile). The map's visible layers are drawn base first with their opacity, in
// the pixel space of the base layer's projection kind; tiles come from the sources' stores, or
// through the tile manager (downloads included), waited for with a bound. A picture larger than
// the memory at hand is refused with a message, never attempted.
//
// Domain code (no window): the name is the tiles-export panel's, whose composing part this is.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "tiles/map_view_state.h"

namespace velmora {

class CTileManager;

struct ComposeOptions {
  // Longest wait for the tiles of one picture that are neither in memory nor stored (downloads).
  unsigned wait_ms = 15000;
  // Tiles asked for at once (the manager keeps a bounded number in memory).
  size_t batch = 64;
  // Largest picture in bytes; 0: half the memory available now, at most 2 GiB.
  uint64_t max_bytes = 0;
  Argb background = 0xFFFFFFFFu;  // where no tile could be had
};

class CTilesExportCtrl {
 public:
  // The layers of the current map view (CurrentMapView()), or none when there is no view.
  explicit CTilesExportCtrl(CTileManager& manager, ComposeOptions options = {});
  CTilesExportCtrl(CTileManager& manager, std::vector<MapLayer> layers, ComposeOptions options = {});

  // The area from (lt_lng, lt_lat) at the top left to (br_lng, br_lat) at the bottom right as a
  // picture of width x height pixels, or null (reason in LastError()). The zoom is the first at
  // which the tiles hold at least as many pixels as the picture, within each source's zoom range;
  // each picture pixel takes the tile pixel under its centre.
  std::unique_ptr<CBitmap> ComposeAreaImage(double lt_lng, double lt_lat, double br_lng, double br_lat, int width,
                                            int height);
  // The whole world at `zoom`: 256·2^zoom pixels wide, as high as the base layer's world (square
  // for the Mercator kinds, half as high for the equirectangular kind); null when refused.
  std::unique_ptr<CBitmap> ComposeTile(int zoom);

  // Why the last picture was refused ("" after a success).
  const std::string& LastError() const { return error_; }
  // Tiles of the last picture that could not be had (left in the background colour).
  size_t MissingTiles() const { return missing_; }
  int LastZoom() const { return zoom_; }

  // The message of a refused picture, "拼接图像过大: W x H 像素, 超出可用内存".
  static std::string TooLargeMessage(int64_t width, int64_t height);
  // The bytes a picture may take now (ComposeOptions::max_bytes when set).
  uint64_t MemoryBudget() const;

 private:
  // Draws the layers over the world-pixel box [x0, x1) × [y0, y1) at `zoom` (pixels of the base
  // kind at that zoom) into `out`, each layer at its own zoom.
  bool Compose(double x0, double y0, double x1, double y1, int zoom, CBitmap* out);
  bool CheckSize(int64_t width, int64_t height);

  CTileManager& manager_;
  std::vector<MapLayer> layers_;
  ComposeOptions options_;
  std::string error_;
  size_t missing_ = 0;
  int zoom_ = -1;
};

}  // namespace velmora

// CLayerStat3DPanel: which tiles of a layer lie in the local tile store, as red cells painted on
// the world picture "images/world.jpg" (1024 x 512, plate carrée) of the program folder, shown
// flat or wrapped round a globe (72 x 36 cells) that the mouse turns. The mode is the program
// setting "layerstat_3d" (0 flat, else 3D), read once when the panel is made. Without the world
// picture the flat panel paints nothing and the globe stays untextured.
#pragma once
#include <memory>
#include <vector>

#include "core/geodesy.h"
#include "platform/gfx/bitmap.h"
#include "shell/tile_stat_static.h"
#include "terrain/3d_globe.h"
#include "tiles/tile_key.h"

namespace velmora {

inline constexpr const char kLayerStat3DKey[] = "layerstat_3d";

class CLayerStat3DPanel : public CTileStatStatic {
 public:
  CLayerStat3DPanel();
  ~CLayerStat3DPanel() override;

  // The base's binding, then the globe of 72 x 36 cells and the arcball placed on it.
  void PreSubclassWindow() override;

  // Loads the world picture anew and paints the keys' cells on it (each key split at its own
  // zoom with the transforms of projection kind `kind`); in 3D the globe takes it as its texture.
  // Repaints without erasing.
  void DrawCoverage(const std::vector<TileKey>& keys, int kind = kKindMercator);

  // 2D: the coverage picture scaled to the control; 3D: the scene. A canvas of another width than
  // the cells were drawn for draws them again (the smallest cell follows the width shown).
  bool OnPaint(CBitmap& canvas) override;

  bool Is3D() const { return mode_3d_ != 0; }
  // The picture with the cells, or null (none drawn yet, or no world picture).
  const CBitmap* Coverage() const { return coverage_.get(); }
  C3DGlobe& Globe() { return globe_; }

  // Clear to black and depth 1, lighting off, the globe.
  void DrawScene() override;

 protected:
  void OnMouseMove(UINT flags, int x, int y) override;

 private:
  // The picture with the cells; false when there is none.
  bool Compose();

  int mode_3d_;
  C3DGlobe globe_;
  std::unique_ptr<CBitmap> coverage_;
  std::vector<TileKey> keys_;
  int kind_ = kKindMercator;
};

}  // namespace velmora

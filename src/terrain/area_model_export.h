// The export of a map area as a terrain model: the area's map picture as the texture (a JPEG
// named after the model, beside it) and the 3D Studio model of its heights (C3dsWriter); or, for
// a picture type, the area's picture alone. Runs on a worker: it checks a cancel flag between its
// steps and reports the part done. A refused, failed or cancelled export leaves neither model nor
// texture behind.
#pragma once
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "tiles/map_view_state.h"

namespace velmora {

class CElevationStore;
class CTileManager;

// The longer side of the texture of an area model, in pixels.
inline constexpr int kAreaTextureSize = 2048;

struct AreaExportJob {
  std::string path;
  double west = 0, north = 0, east = 0, south = 0;
  std::vector<MapLayer> layers;  // the map's layers, base first
  int texture_size = kAreaTextureSize;
};

struct AreaExportHooks {
  const std::atomic<bool>* cancel = nullptr;
  std::function<void(float)> progress;  // 0 to 1
};

// Width and height of the area's picture: `longest` pixels along the longer side in degrees, the
// other in proportion (at least 16).
void AreaPictureSize(double west, double north, double east, double south, int longest, int* width, int* height);

// The model (by the settings "REG_DEM_SAMPLE", "REG_DEM_FACTOR", "Exp3dsPlain") and its texture.
// The texture's rows are linear in latitude as the model's texture coordinates are. False with
// the reason in *error.
bool ExportAreaModel(const AreaExportJob& job, CTileManager& tiles, CElevationStore* elevation,
                     const AreaExportHooks& hooks, std::string* error);

// The area's picture alone, as the map shows it, in the type of the path's extension.
bool ExportAreaPicture(const AreaExportJob& job, CTileManager& tiles, const AreaExportHooks& hooks,
                       std::string* error);

}  // namespace velmora

// The grid of the terrain model: how many samples span an extent (GridStepCount, also used by the
// terrain exports), the grid of the area the 2D map shows or of the whole earth (PlanTerrainGrid),
// and its vertices: elevations lifted onto the earth sphere with the height formula, coloured by
// height or carrying the texture coordinates of the map picture of the same area
// (ComputeTerrainVertices). Domain code: plain numbers in, vertices out, no device.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "core/settings.h"
#include "tiles/map_view_state.h"

namespace velmora {

class CElevationStore;

// The settings of the terrain (program settings).
inline constexpr const char kDemSampleKey[] = "REG_DEM_SAMPLE";
inline constexpr const char kDemFactorKey[] = "REG_DEM_FACTOR";
inline constexpr const char kTerrainTextureKey[] = "TERRAIN_TEXTURE";
inline constexpr int kDefaultDemSample = 500;
inline constexpr IntPair kDefaultDemFactor{1, 0};
// The sample counts the settings dialog accepts.
inline constexpr int kMinDemSample = 2;
inline constexpr int kMaxDemSample = 4096;
// The finest step: 3 arc seconds (as a single float holds it).
inline constexpr double kMinTerrainStep = 0.0008333333535119891;
// Below this 2D zoom the terrain is the whole earth.
inline constexpr int kWholeEarthZoom = 4;
// The whole-earth grid: 86 steps of 360/86 degrees round and 43 from pole to pole, so 87 x 44
// vertices (the last column meets the first; the rows reach both poles).
inline constexpr int kWholeEarthSteps = 86;
// The texture size of a regional terrain.
inline constexpr int kTerrainTextureSize = 256;

// The number of whole steps of `step` in `span` (both positive): the quotient truncated, where a
// quotient within a relative 1e-6 below an integer counts as that integer (so that 3 / (3 / 500)
// is 500 and not 499 through rounding). 0 for a span or step that is not a positive number.
int GridStepCount(double span, double step);

struct TerrainGrid {
  bool whole_earth = false;
  int columns = 0;
  int rows = 0;
  double west = 0;   // longitude of the first column
  double north = 0;  // latitude of the first row
  double step = 0;   // degrees between neighbours, both ways
  double centre_lng = 0, centre_lat = 0;
  int zoom = 0;  // integer part of the 2D zoom
  int kind = 1;  // projection kind of the 2D view
  int resolution = 1;  // metres, for the elevation look-ups
  // The world pixels (kind, zoom) of the first vertex and the pixel size of what the texture
  // shows (the area; the whole world for the whole earth).
  double px0 = 0, py0 = 0, texture_width = 1, texture_height = 1;
  size_t VertexCount() const { return size_t(columns) * size_t(rows); }
};

// The grid of the area the 2D view shows (its camera and the longitudes and latitudes of the
// window's top-left and bottom-right corners) with `samples` points along the window's shorter
// side, or of the whole earth below zoom 4. False (reason in *error) for a window of no size,
// a sample count outside 2..4096, bounds that are not numbers or a grid with no rows or columns.
bool PlanTerrainGrid(const MapCamera& camera, const float top_left[2], const float bottom_right[2], int samples,
                     TerrainGrid* grid, std::string* error = nullptr);

// Vertex of the terrain as it is computed: position (km, the earth-centred frame of
// LngLatToXYZ), the height colour (ARGB) and the texture coordinates.
struct TerrainVertex {
  float x, y, z;
  uint32_t color;
  float u, v;
};

// The grid's vertices, row by row from the north-west: heights from the store (-9999 counts as
// 0) lifted by (a·h + b) × 0.001 km. `cancel` (may be null) is checked between rows: false when
// it was set. `progress` (may be null) receives the part done, 0 to 1.
bool ComputeTerrainVertices(const TerrainGrid& grid, IntPair factor, CElevationStore& elevation,
                            std::vector<TerrainVertex>* out, const std::atomic<bool>* cancel = nullptr,
                            std::atomic<float>* progress = nullptr);

// The index list of the grid: for each pair of rows one triangle strip of 2 x columns indices,
// (r + 1)·columns + c then r·columns + c.
std::vector<uint32_t> TerrainStripIndices(int columns, int rows);

}  // namespace velmora

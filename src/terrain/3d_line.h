// C3DLine: a polyline of the map lifted onto the 3D earth with its heights (kilometres in the
// earth-centred frame of LngLatToXYZ), drawn as a line strip in the line's colour.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/r3d/device.h"
#include "terrain/3d_object.h"

namespace velmora {

class CPolylineShape;

// Vertex of a line: position and colour (D3DFVF_XYZ | D3DFVF_DIFFUSE, 16 bytes).
struct LineVertex {
  float x, y, z;
  D3DCOLOR color;
};
inline constexpr uint32_t kLineFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

// A polyline as the map's shapes hand it over: longitude/latitude pairs (floats), one height in
// metres per point (missing heights count as 0, extra ones are ignored) and the line's colour.
struct PolylinePoints {
  std::vector<float> lnglat;
  std::vector<float> heights;
  D3DCOLOR color = 0xFFFF0000u;
  size_t PointCount() const { return lnglat.size() / 2; }
};
// A polyline shape of the map as such points: its points, its per-point values as heights (a
// track's heights, a contour line's level) and its line colour.
PolylinePoints PolylinePointsOf(const CPolylineShape& shape);

class C3DLine : public C3DObject {
 public:
  // Lifts the points: vertex i at LngLatToXYZ(lon, lat, (f·h + o) × 0.001) with the
  // "REG_DEM_FACTOR" pair (f, o) of the program settings (default (1, 0)). Points that are not
  // finite are left out. Without points the line has no buffer and draws nothing.
  explicit C3DLine(const PolylinePoints& line);
  // The same from a polyline shape of the map.
  explicit C3DLine(const CPolylineShape& shape) : C3DLine(PolylinePointsOf(shape)) {}
  // Releases the vertex buffer.
  ~C3DLine() override;
  C3DLine(const C3DLine&) = delete;
  C3DLine& operator=(const C3DLine&) = delete;

  // Lighting off, the object's world matrix, no texture; a line strip through the points (no
  // segment for a single point).
  void Draw() override;

  uint32_t PointCount() const { return count_; }
  IDirect3DVertexBuffer9* Buffer() const { return buffer_; }

 private:
  IDirect3DVertexBuffer9* buffer_ = nullptr;
  uint32_t count_ = 0;
};

}  // namespace velmora

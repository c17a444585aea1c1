// CFrustum: the six planes of a camera's view volume (right, left, bottom, top, far, near), each
// (a, b, c, d) with (a, b, c) of unit length and the inside where a·x + b·y + c·z + d > 0, for
// testing which tiles are in sight.
#pragma once
#include "platform/r3d/d3dx_math.h"

namespace velmora {

class CFrustum {
 public:
  enum Plane { kRight = 0, kLeft, kBottom, kTop, kFar, kNear, kPlaneCount };

  // From M = view × projection: with Mij the element of row i and column j, component i of each
  // plane is right Mi4 - Mi1, left Mi4 + Mi1, bottom Mi4 + Mi2, top Mi4 - Mi2, far Mi4 - Mi3,
  // near Mi4 + Mi3. Null matrices are read from the device's transforms (nothing changes when
  // there is no device). A plane whose normal has no length stays unnormalised.
  void Build(const D3DXMATRIX* projection, const D3DXMATRIX* view);
  // False when, for some plane, no corner of the cube (x ± s, y ± s, z ± s) lies above it (a
  // corner on the plane counts as outside).
  bool CubeInFrustum(float x, float y, float z, float half_size) const;
  const float* PlaneOf(int plane) const { return planes_[plane]; }

 private:
  float planes_[kPlaneCount][4] = {};
};

}  // namespace velmora

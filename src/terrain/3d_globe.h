// C3DGlobe: the whole earth as one textured mesh, shown by the 3D tile view when no tile is in
// sight and by the layer statistics panel. Its picture is "images/world.jpg" of the program
// folder; without it the globe draws untextured.
#pragma once
#include "platform/gfx/bitmap.h"
#include "terrain/3d_mesh.h"

namespace velmora {

class C3DGlobe : public C3DMesh {
 public:
  C3DGlobe() = default;
  // Releases the torus (the mesh and texture go with the base).
  ~C3DGlobe() override;

  // A grid of slices x stacks cells over whole degrees: vertex (r, c) at longitude
  // (c·360) div slices - 180 and latitude 90 - (r·180) div stacks, texture coordinates c / slices
  // and r / stacks; and a thin ring about the equator made with it (nothing draws it). False when
  // the mesh cannot be made (slices and stacks 1 or more, at most 65,535 vertices).
  bool Create(int slices, int stacks);
  ID3DXMesh* Torus() const { return torus_; }
  // Replaces the globe's texture with the picture (plate carrée, the whole world). False (the
  // texture unchanged) without a device or for an empty picture.
  bool SetPicture(const CBitmap& picture);

 private:
  ID3DXMesh* torus_ = nullptr;
};

}  // namespace velmora

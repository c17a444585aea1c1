// C3DModel: a model object of the 3D scenes (a satellite's model, objects of the 3D globe view)
// read from a COLLADA file: one mesh of positions and normals with a material per subset, drawn
// lit with the object's world matrix.
#pragma once
#include <string>
#include <vector>

#include "platform/r3d/d3dx_mesh.h"
#include "terrain/3d_object.h"

namespace velmora {

struct ColladaModel;

class C3DModel : public C3DObject {
 public:
  C3DModel() = default;
  // Releases the mesh and the materials.
  ~C3DModel() override;
  C3DModel(const C3DModel&) = delete;
  C3DModel& operator=(const C3DModel&) = delete;

  // Reads the COLLADA file (terrain/collada_reader.h) and builds the mesh (positions and normals,
  // 16-bit indices when they serve, else 32-bit; one subset per material) and the materials.
  // False, with the reason in *error and logged, when the file is missing, cut short, hostile,
  // or the mesh cannot be made: the object then holds what it held before. A file without any
  // geometry loads as an empty model that draws nothing.
  bool Load(const std::string& path, std::string* error = nullptr);
  // The same from a model already read (tests, other readers).
  bool Build(const ColladaModel& model, std::string* error = nullptr);

  // World transform := the object's world matrix; lighting on; for each material: no texture,
  // the material, its subset.
  void Draw() override;
  // Draws with another world matrix (a satellite places its model so).
  void DrawWith(const D3DXMATRIX& world);

  ID3DXMesh* Mesh() const { return mesh_; }
  uint32_t MaterialCount() const { return static_cast<uint32_t>(materials_.size()); }
  const std::vector<D3DMATERIAL9>& Materials() const { return materials_; }

 private:
  ID3DXMesh* mesh_ = nullptr;
  std::vector<D3DMATERIAL9> materials_;
};

// Vertex of a model: position and normal (D3DFVF_XYZ | D3DFVF_NORMAL).
struct ModelVertex {
  float x, y, z, nx, ny, nz;
};
inline constexpr uint32_t kModelFvf = D3DFVF_XYZ | D3DFVF_NORMAL;

}  // namespace velmora

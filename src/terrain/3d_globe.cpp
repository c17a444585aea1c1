// The textured earth.
#include "terrain/3d_globe.h"

#include <vector>

#include "core/geodesy.h"
#include "core/settings.h"
#include "platform/r3d/d3dx_texture.h"
#include "terrain/d3d_context.h"

namespace velmora {

C3DGlobe::~C3DGlobe() {
  if (torus_) torus_->Release();
  torus_ = nullptr;
}

bool C3DGlobe::SetPicture(const CBitmap& picture) {
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device || picture.IsEmpty()) return false;
  IDirect3DTexture9* made = nullptr;
  if (FAILED(D3DXCreateTexture(device, uint32_t(picture.Width()), uint32_t(picture.Height()), 0, 0, D3DFMT_A8R8G8B8,
                               D3DPOOL_MANAGED, &made)))
    return false;
  if (FAILED(FillTextureFromBitmap(made, picture))) {
    made->Release();
    return false;
  }
  if (texture_) texture_->Release();
  texture_ = made;
  return true;
}

bool C3DGlobe::Create(int slices, int stacks) {
  key_low_ = key_high_ = 0;
  cols_ = slices;
  rows_ = stacks;
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device || slices < 1 || stacks < 1) return false;
  const uint64_t vertex_count = (uint64_t(slices) + 1) * (uint64_t(stacks) + 1);
  if (vertex_count > kMaxVertices16) return false;

  if (texture_) texture_->Release();
  texture_ = nullptr;
  const std::string picture = AppOptions().program_dir + "images/world.jpg";
  D3DXCreateTextureFromFileA(device, picture.c_str(), &texture_);

  if (mesh_) mesh_->Release();
  mesh_ = nullptr;
  ID3DXMesh* created = nullptr;
  if (FAILED(D3DXCreateMeshFVF(static_cast<uint32_t>(2 * slices * stacks), static_cast<uint32_t>(vertex_count),
                               D3DXMESH_MANAGED, kMeshFvf, device, &created)))
    return false;
  mesh_ = created;
  void* data = nullptr;
  if (SUCCEEDED(mesh_->LockVertexBuffer(0, &data))) {
    auto* vertices = static_cast<MeshVertex*>(data);
    size_t at = 0;
    for (int r = 0; r <= stacks; ++r) {
      for (int c = 0; c <= slices; ++c) {
        // Whole degrees, as the grid was always laid out.
        const int lon = (c * 360) / slices - 180;
        const int lat = 90 - (r * 180) / stacks;
        MeshVertex& v = vertices[at++];
        LngLatToXYZ(float(lon), float(lat), 0.0f, &v.x, &v.y, &v.z);
        v.u = float(c) / float(slices);
        v.v = float(r) / float(stacks);
      }
    }
    BoundsFromVertices(vertices, at);
    mesh_->UnlockVertexBuffer();
  }
  FillGridIndices(slices, stacks, slices + 1);

  if (torus_) torus_->Release();
  torus_ = nullptr;
  D3DXCreateTorus(device, 63.7813720703125f, 7079.732421875f, 30, 30, &torus_);
  return true;
}

}  // namespace velmora

// COLLADA models as meshes with materials.
#include "terrain/3d_model.h"

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <numeric>

#include "core/log.h"
#include "terrain/collada_reader.h"
#include "terrain/d3d_context.h"

namespace velmora {
namespace {

D3DCOLORVALUE Colour(const float* rgba) { return D3DCOLORVALUE{rgba[0], rgba[1], rgba[2], rgba[3]}; }

}  // namespace

C3DModel::~C3DModel() {
  if (mesh_) mesh_->Release();
  mesh_ = nullptr;
}

bool C3DModel::Load(const std::string& path, std::string* error) {
  ColladaModel model;
  std::string why;
  if (!ReadColladaFile(path, &model, &why) || !Build(model, &why)) {
    AppLog("3D model %s: %s", path.c_str(), why.c_str());
    if (error) *error = why;
    return false;
  }
  SetName(path);
  return true;
}

bool C3DModel::Build(const ColladaModel& model, std::string* error) {
  auto fail = [&](const char* why) {
    if (error) *error = why;
    return false;
  };
  const size_t vertices = model.VertexCount();
  const size_t faces = model.TriangleCount();
  if (model.normals.size() != model.positions.size() || model.face_material.size() != faces ||
      model.positions.size() % 3 != 0 || model.indices.size() % 3 != 0)
    return fail("the model's arrays do not agree");
  for (uint32_t i : model.indices)
    if (i >= vertices) return fail("a triangle names a vertex the model does not have");
  for (uint32_t m : model.face_material)
    if (m >= model.materials.size()) return fail("a triangle names a material the model does not have");

  std::vector<D3DMATERIAL9> materials;
  for (const ColladaMaterial& m : model.materials) {
    D3DMATERIAL9 d;
    d.Diffuse = Colour(m.diffuse);
    d.Ambient = Colour(m.ambient);
    d.Specular = Colour(m.specular);
    d.Emissive = Colour(m.emissive);
    d.Power = m.power;
    materials.push_back(d);
  }
  if (faces == 0) {
    // Nothing to draw: an empty model.
    if (mesh_) mesh_->Release();
    mesh_ = nullptr;
    materials_ = std::move(materials);
    centre_[0] = centre_[1] = centre_[2] = 0;
    bounding_size_ = 0;
    return true;
  }
  if (vertices > kMaxMeshVertices || faces > kMaxMeshFaces) return fail("the model is too large to draw");
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device) return fail("there is no 3D device");
  const uint32_t options = D3DXMESH_MANAGED | (vertices > kMaxVertices16 ? D3DXMESH_32BIT : 0);
  ID3DXMesh* mesh = nullptr;
  if (FAILED(D3DXCreateMeshFVF(static_cast<uint32_t>(faces), static_cast<uint32_t>(vertices), options, kModelFvf,
                               device, &mesh)))
    return fail("the model's mesh cannot be made");

  // Faces sorted by material, so that each subset is one run.
  std::vector<uint32_t> order(faces);
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](uint32_t a, uint32_t b) { return model.face_material[a] < model.face_material[b]; });

  void* vdata = nullptr;
  void* idata = nullptr;
  uint32_t* attributes = nullptr;
  if (FAILED(mesh->LockVertexBuffer(0, &vdata))) {
    mesh->Release();
    return fail("the model's vertices cannot be written");
  }
  auto* v = static_cast<ModelVertex*>(vdata);
  D3DXVECTOR3 lo(FLT_MAX, FLT_MAX, FLT_MAX), hi(-FLT_MAX, -FLT_MAX, -FLT_MAX);
  for (size_t i = 0; i < vertices; ++i) {
    const float* p = &model.positions[i * 3];
    const float* n = &model.normals[i * 3];
    v[i] = ModelVertex{p[0], p[1], p[2], n[0], n[1], n[2]};
    lo = D3DXVECTOR3(std::min(lo.x, p[0]), std::min(lo.y, p[1]), std::min(lo.z, p[2]));
    hi = D3DXVECTOR3(std::max(hi.x, p[0]), std::max(hi.y, p[1]), std::max(hi.z, p[2]));
  }
  mesh->UnlockVertexBuffer();
  if (FAILED(mesh->LockIndexBuffer(0, &idata))) {
    mesh->Release();
    return fail("the model's triangles cannot be written");
  }
  for (size_t f = 0; f < faces; ++f)
    for (size_t k = 0; k < 3; ++k) {
      const uint32_t index = model.indices[size_t(order[f]) * 3 + k];
      if (mesh->Uses32BitIndices())
        static_cast<uint32_t*>(idata)[f * 3 + k] = index;
      else
        static_cast<uint16_t*>(idata)[f * 3 + k] = static_cast<uint16_t>(index);
    }
  mesh->UnlockIndexBuffer();
  if (FAILED(mesh->LockAttributeBuffer(0, &attributes))) {
    mesh->Release();
    return fail("the model's materials cannot be written");
  }
  for (size_t f = 0; f < faces; ++f) attributes[f] = model.face_material[order[f]];
  mesh->UnlockAttributeBuffer();

  if (mesh_) mesh_->Release();
  mesh_ = mesh;
  materials_ = std::move(materials);
  SetBounds(lo, hi);
  return true;
}

void C3DModel::Draw() { DrawWith(world_); }

void C3DModel::DrawWith(const D3DXMATRIX& world) {
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device || !mesh_) return;
  device->SetTransform(D3DTS_WORLD, &world);
  device->SetRenderState(D3DRS_LIGHTING, 1);
  for (uint32_t i = 0; i < materials_.size(); ++i) {
    device->SetTexture(0, nullptr);
    device->SetMaterial(&materials_[i]);
    mesh_->DrawSubset(i);
  }
}

}  // namespace velmora

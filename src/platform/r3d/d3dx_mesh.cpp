// Meshes of the 3D device: subsets by face attribute, sphere and torus builders, ray picking.
#include "platform/r3d/d3dx_mesh.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace velmora {
namespace {

constexpr float kPi = 3.14159265358979323846f;

struct PositionNormal {
  D3DXVECTOR3 p, n;
};

// Fills a new mesh of positions and normals; each triangle is turned so that it is clockwise
// seen from outside (the side its vertices' normals point to), which is the front side.
HRESULT BuildMesh(IDirect3DDevice9* device, const std::vector<PositionNormal>& vertices,
                  std::vector<uint32_t> indices, ID3DXMesh** mesh) {
  for (size_t i = 0; i + 2 < indices.size(); i += 3) {
    const PositionNormal& a = vertices[indices[i]];
    const PositionNormal& b = vertices[indices[i + 1]];
    const PositionNormal& c = vertices[indices[i + 2]];
    D3DXVECTOR3 ab = b.p - a.p, ac = c.p - a.p, face;
    D3DXVec3Cross(&face, &ab, &ac);
    const D3DXVECTOR3 outward = a.n + b.n + c.n;
    if (D3DXVec3Dot(&face, &outward) < 0) std::swap(indices[i + 1], indices[i + 2]);
  }
  const uint32_t nv = static_cast<uint32_t>(vertices.size());
  const uint32_t nf = static_cast<uint32_t>(indices.size() / 3);
  ID3DXMesh* created = nullptr;
  HRESULT hr = D3DXCreateMeshFVF(nf, nv, D3DXMESH_MANAGED | (nv > kMaxVertices16 ? D3DXMESH_32BIT : 0),
                                 D3DFVF_XYZ | D3DFVF_NORMAL, device, &created);
  if (FAILED(hr)) return hr;
  void* data = nullptr;
  if (SUCCEEDED(hr = created->LockVertexBuffer(0, &data))) {
    std::memcpy(data, vertices.data(), vertices.size() * sizeof(PositionNormal));
    created->UnlockVertexBuffer();
  }
  if (SUCCEEDED(hr) && SUCCEEDED(hr = created->LockIndexBuffer(0, &data))) {
    if (created->Uses32BitIndices()) {
      std::memcpy(data, indices.data(), indices.size() * 4);
    } else {
      auto* out = static_cast<uint16_t*>(data);
      for (size_t i = 0; i < indices.size(); ++i) out[i] = static_cast<uint16_t>(indices[i]);
    }
    created->UnlockIndexBuffer();
  }
  if (FAILED(hr)) {
    created->Release();
    return hr;
  }
  *mesh = created;
  return D3D_OK;
}

}  // namespace

ID3DXMesh::ID3DXMesh(IDirect3DDevice9* device, IDirect3DVertexBuffer9* vb, IDirect3DIndexBuffer9* ib, uint32_t faces,
                     uint32_t vertices, uint32_t options, uint32_t fvf, uint32_t stride)
    : device_(device),
      vb_(vb),
      ib_(ib),
      faces_(faces),
      vertices_(vertices),
      options_(options),
      fvf_(fvf),
      stride_(stride),
      attributes_(faces, 0) {
  device_->AddRef();
  ranges_.push_back({0, 0, faces});
}

ID3DXMesh::~ID3DXMesh() {
  vb_->Release();
  ib_->Release();
  device_->Release();
}

HRESULT ID3DXMesh::LockAttributeBuffer(uint32_t, uint32_t** data) {
  if (!data) return D3DERR_INVALIDCALL;
  if (!attribute_lock_.Acquire()) return D3DERR_INVALIDCALL;
  *data = attributes_.data();
  return D3D_OK;
}

HRESULT ID3DXMesh::UnlockAttributeBuffer() {
  if (!attribute_lock_.HeldByCaller()) return D3DERR_INVALIDCALL;
  BuildRanges();
  attribute_lock_.ReleaseIfOwner();
  return D3D_OK;
}

void ID3DXMesh::BuildRanges() {
  std::vector<Range> ranges;
  for (uint32_t f = 0; f < faces_; ++f) {
    if (ranges.empty() || ranges.back().attribute != attributes_[f])
      ranges.push_back({attributes_[f], f, 1});
    else
      ++ranges.back().face_count;
  }
  std::lock_guard<std::mutex> lock(ranges_mutex_);
  ranges_.swap(ranges);
}

HRESULT ID3DXMesh::GetVertexBuffer(IDirect3DVertexBuffer9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  vb_->AddRef();
  *out = vb_;
  return D3D_OK;
}

HRESULT ID3DXMesh::GetIndexBuffer(IDirect3DIndexBuffer9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  ib_->AddRef();
  *out = ib_;
  return D3D_OK;
}

HRESULT ID3DXMesh::GetDevice(IDirect3DDevice9** out) {
  if (!out) return D3DERR_INVALIDCALL;
  device_->AddRef();
  *out = device_;
  return D3D_OK;
}

HRESULT ID3DXMesh::DrawSubset(uint32_t attribute) {
  std::vector<Range> ranges;
  {
    std::lock_guard<std::mutex> lock(ranges_mutex_);
    for (const Range& r : ranges_)
      if (r.attribute == attribute) ranges.push_back(r);
  }
  if (ranges.empty()) return D3D_OK;
  device_->SetStreamSource(0, vb_, 0, stride_);
  device_->SetFVF(fvf_);
  device_->SetIndices(ib_);
  for (const Range& r : ranges) {
    const HRESULT hr = device_->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, vertices_, r.first_face * 3, r.face_count);
    if (FAILED(hr)) return hr;
  }
  return D3D_OK;
}

HRESULT D3DXCreateMeshFVF(uint32_t faces, uint32_t vertices, uint32_t options, uint32_t fvf, IDirect3DDevice9* device,
                          ID3DXMesh** mesh) {
  if (!mesh) return D3DERR_INVALIDCALL;
  *mesh = nullptr;
  const uint32_t stride = IDirect3DDevice9::VertexSize(fvf);
  const bool wide = (options & D3DXMESH_32BIT) != 0;
  if (!device || faces == 0 || vertices == 0 || stride == 0 || vertices > kMaxMeshVertices ||
      faces > kMaxMeshFaces || (!wide && vertices > kMaxVertices16))
    return D3DERR_INVALIDCALL;
  const uint64_t vb_bytes = uint64_t(vertices) * stride;
  const uint64_t ib_bytes = uint64_t(faces) * 3 * (wide ? 4 : 2);
  if (vb_bytes > kMaxResourceBytes || ib_bytes > kMaxResourceBytes) return D3DERR_INVALIDCALL;
  IDirect3DVertexBuffer9* vb = nullptr;
  IDirect3DIndexBuffer9* ib = nullptr;
  HRESULT hr = device->CreateVertexBuffer(static_cast<uint32_t>(vb_bytes), 0, fvf, D3DPOOL_MANAGED, &vb);
  if (FAILED(hr)) return hr;
  hr = device->CreateIndexBuffer(static_cast<uint32_t>(ib_bytes), 0, wide ? D3DFMT_INDEX32 : D3DFMT_INDEX16,
                                 D3DPOOL_MANAGED, &ib);
  if (FAILED(hr)) {
    vb->Release();
    return hr;
  }
  try {
    *mesh = new ID3DXMesh(device, vb, ib, faces, vertices, options, fvf, stride);
  } catch (const std::bad_alloc&) {
    vb->Release();
    ib->Release();
    return E_OUTOFMEMORY;
  }
  return D3D_OK;
}

HRESULT D3DXCreateSphere(IDirect3DDevice9* device, float radius, uint32_t slices, uint32_t stacks, ID3DXMesh** mesh,
                         void*) {
  if (!mesh) return D3DERR_INVALIDCALL;
  *mesh = nullptr;
  if (!device || !(radius > 0) || slices < 2 || stacks < 2 || slices > 4096 || stacks > 4096)
    return D3DERR_INVALIDCALL;
  std::vector<PositionNormal> v;
  v.push_back({{0, 0, radius}, {0, 0, 1}});
  for (uint32_t i = 1; i < stacks; ++i) {
    const float phi = kPi * float(i) / float(stacks);
    for (uint32_t j = 0; j < slices; ++j) {
      const float theta = 2 * kPi * float(j) / float(slices);
      const D3DXVECTOR3 n(std::sin(phi) * std::cos(theta), std::sin(phi) * std::sin(theta), std::cos(phi));
      v.push_back({n * radius, n});
    }
  }
  v.push_back({{0, 0, -radius}, {0, 0, -1}});
  const uint32_t bottom = static_cast<uint32_t>(v.size() - 1);
  auto ring = [slices](uint32_t i, uint32_t j) { return 1 + (i - 1) * slices + (j % slices); };
  std::vector<uint32_t> idx;
  for (uint32_t j = 0; j < slices; ++j) idx.insert(idx.end(), {0, ring(1, j), ring(1, j + 1)});
  for (uint32_t i = 1; i + 1 < stacks; ++i)
    for (uint32_t j = 0; j < slices; ++j)
      idx.insert(idx.end(), {ring(i, j), ring(i + 1, j), ring(i, j + 1), ring(i, j + 1), ring(i + 1, j), ring(i + 1, j + 1)});
  for (uint32_t j = 0; j < slices; ++j) idx.insert(idx.end(), {bottom, ring(stacks - 1, j), ring(stacks - 1, j + 1)});
  return BuildMesh(device, v, std::move(idx), mesh);
}

HRESULT D3DXCreateTorus(IDirect3DDevice9* device, float inner, float outer, uint32_t sides, uint32_t rings,
                        ID3DXMesh** mesh, void*) {
  if (!mesh) return D3DERR_INVALIDCALL;
  *mesh = nullptr;
  if (!device || !(inner >= 0) || !(outer >= 0) || sides < 3 || rings < 3 || sides > 4096 || rings > 4096)
    return D3DERR_INVALIDCALL;
  std::vector<PositionNormal> v;
  for (uint32_t i = 0; i < rings; ++i) {
    const float theta = 2 * kPi * float(i) / float(rings);
    const D3DXVECTOR3 centre(outer * std::cos(theta), outer * std::sin(theta), 0);
    for (uint32_t j = 0; j < sides; ++j) {
      const float phi = 2 * kPi * float(j) / float(sides);
      const D3DXVECTOR3 n(std::cos(phi) * std::cos(theta), std::cos(phi) * std::sin(theta), std::sin(phi));
      v.push_back({centre + n * inner, n});
    }
  }
  auto at = [&](uint32_t i, uint32_t j) { return (i % rings) * sides + (j % sides); };
  std::vector<uint32_t> idx;
  for (uint32_t i = 0; i < rings; ++i)
    for (uint32_t j = 0; j < sides; ++j)
      idx.insert(idx.end(), {at(i, j), at(i + 1, j), at(i, j + 1), at(i, j + 1), at(i + 1, j), at(i + 1, j + 1)});
  return BuildMesh(device, v, std::move(idx), mesh);
}

HRESULT D3DXIntersect(ID3DXMesh* mesh, const D3DXVECTOR3* origin, const D3DXVECTOR3* direction, int* hit,
                      uint32_t* face_index, float* u, float* v, float* distance, void*, uint32_t* hit_count) {
  if (!mesh || !origin || !direction || !hit) return D3DERR_INVALIDCALL;
  *hit = 0;
  if (hit_count) *hit_count = 0;
  void* vdata = nullptr;
  void* idata = nullptr;
  HRESULT hr = mesh->LockVertexBuffer(D3DLOCK_READONLY, &vdata);
  if (FAILED(hr)) return hr;
  hr = mesh->LockIndexBuffer(D3DLOCK_READONLY, &idata);
  if (FAILED(hr)) {
    mesh->UnlockVertexBuffer();
    return hr;
  }
  const uint8_t* vb = static_cast<const uint8_t*>(vdata);
  const uint32_t stride = mesh->GetNumBytesPerVertex();
  const uint32_t nv = mesh->GetNumVertices();
  const bool wide = mesh->Uses32BitIndices();
  auto index = [&](size_t i) -> uint32_t {
    return wide ? static_cast<const uint32_t*>(idata)[i] : static_cast<const uint16_t*>(idata)[i];
  };
  auto position = [&](uint32_t i) {
    D3DXVECTOR3 p;
    std::memcpy(&p.x, vb + size_t(i) * stride, 12);
    return p;
  };
  // Moller-Trumbore in double precision: picking rays cross the earth in kilometres.
  const double ox = origin->x, oy = origin->y, oz = origin->z;
  const double dx = direction->x, dy = direction->y, dz = direction->z;
  double best = std::numeric_limits<double>::infinity();
  uint32_t count = 0;
  for (uint32_t f = 0; f < mesh->GetNumFaces(); ++f) {
    const uint32_t i0 = index(3 * size_t(f)), i1 = index(3 * size_t(f) + 1), i2 = index(3 * size_t(f) + 2);
    if (i0 >= nv || i1 >= nv || i2 >= nv) continue;
    const D3DXVECTOR3 p0 = position(i0), p1 = position(i1), p2 = position(i2);
    const double e1x = p1.x - p0.x, e1y = p1.y - p0.y, e1z = p1.z - p0.z;
    const double e2x = p2.x - p0.x, e2y = p2.y - p0.y, e2z = p2.z - p0.z;
    const double px = dy * e2z - dz * e2y, py = dz * e2x - dx * e2z, pz = dx * e2y - dy * e2x;
    const double det = e1x * px + e1y * py + e1z * pz;
    if (std::fabs(det) < 1e-30) continue;
    const double inv = 1.0 / det;
    const double tx = ox - p0.x, ty = oy - p0.y, tz = oz - p0.z;
    const double bu = (tx * px + ty * py + tz * pz) * inv;
    if (bu < 0 || bu > 1) continue;
    const double qx = ty * e1z - tz * e1y, qy = tz * e1x - tx * e1z, qz = tx * e1y - ty * e1x;
    const double bv = (dx * qx + dy * qy + dz * qz) * inv;
    if (bv < 0 || bu + bv > 1) continue;
    const double t = (e2x * qx + e2y * qy + e2z * qz) * inv;
    if (t < 0) continue;
    ++count;
    if (t < best) {
      best = t;
      *hit = 1;
      if (face_index) *face_index = f;
      if (u) *u = static_cast<float>(bu);
      if (v) *v = static_cast<float>(bv);
      if (distance) *distance = static_cast<float>(t);
    }
  }
  if (hit_count) *hit_count = count;
  mesh->UnlockIndexBuffer();
  mesh->UnlockVertexBuffer();
  return D3D_OK;
}

}  // namespace velmora

namespace velmora {

HRESULT D3DXComputeNormals(ID3DXMesh* mesh, const uint32_t*) {
  if (!mesh) return D3DERR_INVALIDCALL;
  const uint32_t fvf = mesh->GetFVF();
  if ((fvf & D3DFVF_XYZ) == 0 || (fvf & D3DFVF_NORMAL) == 0) return D3DERR_INVALIDCALL;
  const uint32_t stride = mesh->GetNumBytesPerVertex(), nv = mesh->GetNumVertices(), nf = mesh->GetNumFaces();
  void* vdata = nullptr;
  void* idata = nullptr;
  if (FAILED(mesh->LockVertexBuffer(0, &vdata))) return D3DERR_INVALIDCALL;
  if (FAILED(mesh->LockIndexBuffer(D3DLOCK_READONLY, &idata))) {
    mesh->UnlockVertexBuffer();
    return D3DERR_INVALIDCALL;
  }
  auto* bytes = static_cast<uint8_t*>(vdata);
  auto position = [&](uint32_t i) {
    float p[3];
    std::memcpy(p, bytes + size_t(i) * stride, 12);
    return D3DXVECTOR3(p[0], p[1], p[2]);
  };
  std::vector<double> sums(size_t(nv) * 3, 0.0);
  for (uint32_t f = 0; f < nf; ++f) {
    uint32_t t[3];
    for (int k = 0; k < 3; ++k)
      t[k] = mesh->Uses32BitIndices() ? static_cast<const uint32_t*>(idata)[size_t(f) * 3 + k]
                                      : static_cast<const uint16_t*>(idata)[size_t(f) * 3 + k];
    if (t[0] >= nv || t[1] >= nv || t[2] >= nv) continue;
    const D3DXVECTOR3 p0 = position(t[0]), p1 = position(t[1]), p2 = position(t[2]);
    // In doubles: the corners of a small terrain cell lie close together far from the origin.
    const double ax = double(p1.x) - p0.x, ay = double(p1.y) - p0.y, az = double(p1.z) - p0.z;
    const double bx = double(p2.x) - p0.x, by = double(p2.y) - p0.y, bz = double(p2.z) - p0.z;
    const double n[3] = {ay * bz - az * by, az * bx - ax * bz, ax * by - ay * bx};
    for (uint32_t v : t)
      for (int k = 0; k < 3; ++k) sums[size_t(v) * 3 + size_t(k)] += n[k];
  }
  for (uint32_t v = 0; v < nv; ++v) {
    const double* s = &sums[size_t(v) * 3];
    const double length = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    float n[3] = {0, 0, 0};
    if (length > 0)
      for (int k = 0; k < 3; ++k) n[k] = static_cast<float>(s[k] / length);
    std::memcpy(bytes + size_t(v) * stride + 12, n, 12);
  }
  mesh->UnlockIndexBuffer();
  mesh->UnlockVertexBuffer();
  return D3D_OK;
}

}  // namespace velmora

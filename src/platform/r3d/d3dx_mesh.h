// ID3DXMesh: an indexed triangle mesh on the 3D device (a vertex buffer, a 16- or 32-bit index
// buffer and one attribute per face that splits it into subsets), with the mesh builders the 3D
// code calls (empty meshes by size, sphere, torus) and ray picking.
#pragma once
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/r3d/device.h"

namespace velmora {

// Mesh options.
inline constexpr uint32_t D3DXMESH_32BIT = 0x001;
inline constexpr uint32_t D3DXMESH_SYSTEMMEM = 0x110;
inline constexpr uint32_t D3DXMESH_MANAGED = 0x220;

// Largest vertex count of a mesh with 16-bit indices (0xFFFF stays free).
inline constexpr uint32_t kMaxVertices16 = 0xFFFF;
// Largest vertex and face counts of any mesh, whatever memory would allow.
inline constexpr uint32_t kMaxMeshVertices = 1u << 24;
inline constexpr uint32_t kMaxMeshFaces = 1u << 25;

// A material with the name of its texture file (empty or null: none).
struct D3DXMATERIAL {
  D3DMATERIAL9 MatD3D;
  const char* pTextureFilename = nullptr;
};

class ID3DXMesh : public R3dUnknown {
 public:
  uint32_t GetNumFaces() const { return faces_; }
  uint32_t GetNumVertices() const { return vertices_; }
  uint32_t GetFVF() const { return fvf_; }
  uint32_t GetOptions() const { return options_; }
  uint32_t GetNumBytesPerVertex() const { return stride_; }
  bool Uses32BitIndices() const { return (options_ & D3DXMESH_32BIT) != 0; }

  HRESULT LockVertexBuffer(uint32_t flags, void** data) { return vb_->Lock(0, 0, data, flags); }
  HRESULT UnlockVertexBuffer() { return vb_->Unlock(); }
  HRESULT LockIndexBuffer(uint32_t flags, void** data) { return ib_->Lock(0, 0, data, flags); }
  HRESULT UnlockIndexBuffer() { return ib_->Unlock(); }
  // One attribute per face (all 0 in a new mesh).
  HRESULT LockAttributeBuffer(uint32_t flags, uint32_t** data);
  HRESULT UnlockAttributeBuffer();
  // Each with a reference added.
  HRESULT GetVertexBuffer(IDirect3DVertexBuffer9** out);
  HRESULT GetIndexBuffer(IDirect3DIndexBuffer9** out);
  HRESULT GetDevice(IDirect3DDevice9** out);

  // Draws the faces whose attribute is `attribute` (between BeginScene and EndScene); sets the
  // device's stream, vertex format and indices to the mesh's.
  HRESULT DrawSubset(uint32_t attribute);

 private:
  friend HRESULT D3DXCreateMeshFVF(uint32_t faces, uint32_t vertices, uint32_t options, uint32_t fvf,
                                   IDirect3DDevice9* device, ID3DXMesh** mesh);
  ID3DXMesh(IDirect3DDevice9* device, IDirect3DVertexBuffer9* vb, IDirect3DIndexBuffer9* ib, uint32_t faces,
            uint32_t vertices, uint32_t options, uint32_t fvf, uint32_t stride);
  ~ID3DXMesh() override;
  void BuildRanges();

  IDirect3DDevice9* device_;
  IDirect3DVertexBuffer9* vb_;
  IDirect3DIndexBuffer9* ib_;
  const uint32_t faces_, vertices_, options_, fvf_, stride_;
  ResourceLock attribute_lock_;
  std::vector<uint32_t> attributes_;  // guarded by attribute_lock_
  std::mutex ranges_mutex_;
  struct Range {
    uint32_t attribute, first_face, face_count;
  };
  std::vector<Range> ranges_;  // runs of faces with one attribute
};

// An empty mesh: `faces` triangles over `vertices` vertices of the vertex format. 16-bit indices
// unless D3DXMESH_32BIT; D3DERR_INVALIDCALL for no faces or vertices, more vertices than 16-bit
// indices can reach, counts above the limits, or a vertex format the device does not draw.
HRESULT D3DXCreateMeshFVF(uint32_t faces, uint32_t vertices, uint32_t options, uint32_t fvf,
                          IDirect3DDevice9* device, ID3DXMesh** mesh);
// Fills the normals of a mesh whose vertices hold a position and a normal (D3DFVF_XYZ |
// D3DFVF_NORMAL, maybe more): each vertex gets the unit sum of the normals of the faces it
// belongs to, each face's normal cross(p1 - p0, p2 - p0) weighted by its area (so that a face's
// normal points to the side from which its corners run clockwise in the left-handed frame).
// Vertices of no face, or of degenerate faces only, get (0, 0, 0). Adjacency is not needed.
// D3DERR_INVALIDCALL for a mesh without positions or normals.
HRESULT D3DXComputeNormals(ID3DXMesh* mesh, const uint32_t* adjacency);
// A sphere about the origin, poles on the z axis, with normals (D3DFVF_XYZ | D3DFVF_NORMAL).
HRESULT D3DXCreateSphere(IDirect3DDevice9* device, float radius, uint32_t slices, uint32_t stacks,
                         ID3DXMesh** mesh, void* adjacency = nullptr);
// A torus about the z axis: tube radius `inner`, ring radius `outer`, with normals.
HRESULT D3DXCreateTorus(IDirect3DDevice9* device, float inner, float outer, uint32_t sides, uint32_t rings,
                        ID3DXMesh** mesh, void* adjacency = nullptr);
// The nearest face that the ray from `origin` along `direction` crosses, from either side:
// *hit 1 or 0; the face, the barycentric u and v of the point (p0 + u (p1 - p0) + v (p2 - p0))
// and the distance in units of the direction's length. Only meshes whose vertices start with a
// position.
HRESULT D3DXIntersect(ID3DXMesh* mesh, const D3DXVECTOR3* origin, const D3DXVECTOR3* direction, int* hit,
                      uint32_t* face_index, float* u, float* v, float* distance, void* all_hits = nullptr,
                      uint32_t* hit_count = nullptr);

}  // namespace velmora

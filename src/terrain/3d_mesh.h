// C3DMesh: the textured grid mesh of the 3D views. As a tile mesh it drapes one map tile over
// the elevation of its area on a sphere of the earth's radius (kilometres, the earth-centred
// frame of LngLatToXYZ); as a plain grid it is a container that other code fills with its own
// vertices before saving it as a .x file.
//
// A tile mesh goes: made for a key (state 0) -> BuildTileMesh (vertices built) ->
// UploadTileTexture once the tile is loaded (texture filled). SetTileKey with another key sends
// it back to state 0 keeping its mesh and texture; CreateMesh rebuilds the topology only when the
// grid size changes. The 3D tile view calls these on its loader thread under its own lock.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/r3d/d3dx_mesh.h"
#include "terrain/3d_object.h"
#include "tiles/tile_key.h"

namespace velmora {

class CTileManager;
class CElevationStore;

// Build-state bits.
inline constexpr uint32_t kMeshVerticesBuilt = 1u << 0;
inline constexpr uint32_t kMeshTextureFilled = 1u << 1;
// The tile could not be had (yet): the texture holds grey until its picture arrives.
inline constexpr uint32_t kMeshTexturePlaceholder = 1u << 2;

// Vertex of every mesh here: position and texture coordinates (D3DFVF_XYZ | D3DFVF_TEX1).
struct MeshVertex {
  float x, y, z, u, v;
};
inline constexpr uint32_t kMeshFvf = D3DFVF_XYZ | D3DFVF_TEX1;
inline constexpr uint32_t kTileTextureSize = 256;
// The texture of a tile that cannot be had.
inline constexpr D3DCOLOR kMissingTileColor = 0xFF808080u;

class C3DMesh : public C3DObject, public C3DTexture {
 public:
  // A plain grid (128 x 128; the key is not used).
  C3DMesh();
  // A tile mesh of the key (two words), grid 0 x 0, not in use, state 0.
  C3DMesh(uint32_t key_low, uint32_t key_high);
  // Releases the mesh, then the texture.
  ~C3DMesh() override;

  // Another key: stores it and clears the build state (mesh and texture stay for reuse). Nothing
  // happens for the key already held.
  void SetTileKey(uint32_t key_low, uint32_t key_high);
  // The tile-mesh topology of cols x rows cells (16-bit indices) and the 256 x 256 texture;
  // reused when the size is the same. False when the mesh or the texture cannot be made, or the
  // size is not 1 or more each with at most 65,535 vertices.
  bool CreateMesh(int cols, int rows);
  // Builds the vertices for the key with the transforms of the projection kind (4, 5, else
  // spherical Mercator): 64, 16, 4 or 2 cells a side by zoom, heights from the elevation store
  // scaled by the "REG_DEM_FACTOR" pair (factor, offset; -9999 counts as 0). True when it built
  // them now; false when they were built already or the mesh cannot be made (tried again on the
  // next call).
  bool BuildTileMesh(int kind);
  // The two halves of BuildTileMesh, so that a loader computes the vertices (elevation look-ups,
  // which may wait for the network) without holding the lock under which it then stores them:
  // the (n + 1)² vertices of the key's tile mesh and its cell count n; and storing them (the mesh
  // made or reused at that size, vertices written, bounds set, vertices marked built). The store
  // is false when the vertices do not fit n or the mesh cannot be made.
  static int ComputeTileVertices(TileKey key, int kind, CElevationStore& elevation, std::vector<MeshVertex>* out);
  bool CommitTileVertices(const std::vector<MeshVertex>& vertices, int cells);
  // Cells per side of the key's tile mesh: 64 up to zoom 6, 16 to zoom 15, 4 for zooms 16 and 17,
  // 2 beyond.
  static int CellsForKey(TileKey key);
  // Fills the texture from the tile's picture once the tile manager has it (scaled when it is
  // not 256 x 256). A tile that ends without a picture (not found, failed, or not decodable)
  // gets a grey texture, replaced by its picture if it loads later. True when it filled the
  // texture now.
  bool UploadTileTexture();
  // Texture at stage 0 and the mesh's faces; nothing without a mesh. No world transform is set:
  // meshes are drawn in world coordinates.
  void Draw() override;
  // The ray's nearest hit: its distance, with the longitude and latitude of the point in
  // lnglat. No hit: 3.4028235e38 as the distance and as lnglat[0].
  float Pick(const D3DXVECTOR3& origin, const D3DXVECTOR3& direction, float lnglat[2]);
  // A plain grid of cols x rows vertices (2 or more each), with 32-bit indices when the vertex
  // count passes 65,534; the index buffer is filled, the vertex buffer is left for the caller.
  // The mesh stays this object's (and replaces its mesh); null on failure.
  ID3DXMesh* CreateGridMesh(int cols, int rows);
  // Saves the mesh as a .x file (text form) with one white material. With a path, the material
  // names "<file name>.jpg" beside it when the mesh has no texture of its own (the picture is the
  // caller's to write). Without a path the file is "<work folder>mesh<n>.x" for a counter n of
  // the run, with the texture written beside it as "mesh<n>.jpg". False when there is no mesh
  // or the file cannot be written.
  bool SaveX(const char* path);

  TileKey Key() const { return TileKeyFromWords(key_low_, key_high_); }
  bool InUse() const { return in_use_ != 0; }
  void SetInUse(bool in_use) { in_use_ = in_use ? 1 : 0; }
  ID3DXMesh* Mesh() const { return mesh_; }
  int Columns() const { return cols_; }
  int Rows() const { return rows_; }
  uint32_t BuildState() const { return state_; }

  // The tile manager and elevation store this mesh reads (null: the application's).
  void SetSources(CTileManager* tiles, CElevationStore* elevation) {
    tiles_ = tiles;
    elevation_ = elevation;
  }

 protected:
  // Fills the index buffer with two triangles per cell of a grid `width` vertices wide, and
  // touches the attribute buffer (all faces attribute 0).
  bool FillGridIndices(int cols, int rows, int width);
  // Centre and bounding size from the vertices.
  void BoundsFromVertices(const MeshVertex* vertices, size_t count);

  uint32_t key_low_ = 0;
  uint32_t key_high_ = 0;
  int in_use_ = 0;
  ID3DXMesh* mesh_ = nullptr;
  int cols_ = 128;
  int rows_ = 128;
  uint32_t state_ = 0;
  CTileManager* tiles_ = nullptr;
  CElevationStore* elevation_ = nullptr;
};

}  // namespace velmora

// Tile meshes over the elevation, plain grids, picking and .x export.
#include "terrain/3d_mesh.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <vector>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/gfx/image_codec.h"
#include "platform/r3d/d3dx_texture.h"
#include "terrain/d3d_context.h"
#include "terrain/elevation_store.h"
#include "terrain/x_file_writer.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

// The equator's length in metres: the ground resolution of zoom z is this / (256 · 2^z).
constexpr double kEquatorMetres = 40075016.68557849;

// Grid cells per side of a tile mesh by zoom: finer where tiles are large.
int CellsForZoom(int zoom) {
  if (zoom <= 6) return 64;
  if (zoom <= 15) return 16;
  if (zoom <= 17) return 4;
  return 2;
}

std::atomic<int> g_save_counter{0};

}  // namespace

C3DMesh::C3DMesh() = default;

C3DMesh::C3DMesh(uint32_t key_low, uint32_t key_high) : key_low_(key_low), key_high_(key_high), cols_(0), rows_(0) {}

C3DMesh::~C3DMesh() {
  if (mesh_) mesh_->Release();
  mesh_ = nullptr;
}

void C3DMesh::SetTileKey(uint32_t key_low, uint32_t key_high) {
  if (key_low == key_low_ && key_high == key_high_) return;
  key_low_ = key_low;
  key_high_ = key_high;
  state_ = 0;
}

bool C3DMesh::FillGridIndices(int cols, int rows, int width) {
  void* data = nullptr;
  if (!mesh_ || FAILED(mesh_->LockIndexBuffer(0, &data))) return false;
  const bool wide = mesh_->Uses32BitIndices();
  auto* i16 = static_cast<uint16_t*>(data);
  auto* i32 = static_cast<uint32_t*>(data);
  size_t at = 0;
  auto put = [&](uint64_t index) {
    if (wide)
      i32[at++] = static_cast<uint32_t>(index);
    else
      i16[at++] = static_cast<uint16_t>(index);
  };
  const uint64_t w = static_cast<uint64_t>(width);
  for (uint64_t r = 0; r < static_cast<uint64_t>(rows); ++r) {
    for (uint64_t c = 0; c < static_cast<uint64_t>(cols); ++c) {
      put(w * r + c + 1);
      put(w * (r + 1) + c);
      put(w * r + c);
      put(w * (r + 1) + c + 1);
      put(w * (r + 1) + c);
      put(w * r + c + 1);
    }
  }
  mesh_->UnlockIndexBuffer();
  uint32_t* attributes = nullptr;
  if (SUCCEEDED(mesh_->LockAttributeBuffer(0, &attributes))) mesh_->UnlockAttributeBuffer();
  return true;
}

void C3DMesh::BoundsFromVertices(const MeshVertex* vertices, size_t count) {
  if (count == 0) return;
  D3DXVECTOR3 lo(FLT_MAX, FLT_MAX, FLT_MAX), hi(-FLT_MAX, -FLT_MAX, -FLT_MAX);
  for (size_t i = 0; i < count; ++i) {
    const MeshVertex& v = vertices[i];
    lo = D3DXVECTOR3(std::min(lo.x, v.x), std::min(lo.y, v.y), std::min(lo.z, v.z));
    hi = D3DXVECTOR3(std::max(hi.x, v.x), std::max(hi.y, v.y), std::max(hi.z, v.z));
  }
  SetBounds(lo, hi);
}

bool C3DMesh::CreateMesh(int cols, int rows) {
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device || cols < 1 || rows < 1) return false;
  const uint64_t vertices = (uint64_t(cols) + 1) * (uint64_t(rows) + 1);
  if (vertices > kMaxVertices16) return false;
  if (!(cols == cols_ && rows == rows_ && mesh_)) {
    if (mesh_) mesh_->Release();
    mesh_ = nullptr;
    ID3DXMesh* created = nullptr;
    if (FAILED(D3DXCreateMeshFVF(static_cast<uint32_t>(2 * cols * rows), static_cast<uint32_t>(vertices),
                                 D3DXMESH_MANAGED, kMeshFvf, device, &created)))
      return false;
    mesh_ = created;
    cols_ = cols;
    rows_ = rows;
    FillGridIndices(cols, rows, cols + 1);
  }
  if (!texture_)
    D3DXCreateTexture(device, kTileTextureSize, kTileTextureSize, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture_);
  return texture_ != nullptr;
}

int C3DMesh::CellsForKey(TileKey key) {
  return CellsForZoom(static_cast<int>((key >> kKeyValueShift) % kZoomsPerSource));
}

int C3DMesh::ComputeTileVertices(TileKey key, int kind, CElevationStore& elevation, std::vector<MeshVertex>* out) {
  const int zoom = static_cast<int>((key >> kKeyValueShift) % kZoomsPerSource);
  const int n = CellsForZoom(zoom);
  const TileKeyParts parts = SplitTileKey(key);
  const KindTransforms& t = TransformsOfKind(kind);
  const double z = zoom;
  const double step = static_cast<double>(kTileSize / n);
  const double lon0 = t.x_to_lng(double(kTileSize) * parts.x, z);
  const double lat0 = t.y_to_lat(double(kTileSize) * parts.y, z);
  const double lon1 = t.x_to_lng(double(kTileSize) * (parts.x + 1) + step, z);
  const double lat1 = t.y_to_lat(double(kTileSize) * (parts.y + 1) + step, z);
  const double d_lon = (lon1 - lon0 + (lon1 < lon0 ? 360.0 : 0.0)) / (n + 1);
  const double d_lat = (lat0 - lat1) / (n + 1);

  const IntPair factor = ProgramSettings().GetIntPair("REG_DEM_FACTOR", IntPair{1, 0});
  const int resolution = std::max(1, static_cast<int>(kEquatorMetres / (double(kTileSize) * std::ldexp(1.0, zoom))));

  out->resize(size_t(n + 1) * size_t(n + 1));
  size_t at = 0;
  for (int r = 0; r <= n; ++r) {
    const double lat = lat0 - r * d_lat;
    for (int c = 0; c <= n; ++c) {
      const double lon = lon0 + c * d_lon;
      float pos[2] = {static_cast<float>(lon), static_cast<float>(lat)};
      float h = kNoElevation;
      elevation.GetElevation(pos, &h, resolution);
      if (h == kNoElevation) h = 0;
      const float km = static_cast<float>((double(factor.a) * h + factor.b) * 0.001);
      MeshVertex& v = (*out)[at++];
      LngLatToXYZ(static_cast<float>(lon), static_cast<float>(lat), km, &v.x, &v.y, &v.z);
      v.u = float(c) / float(n);
      v.v = float(r) / float(n);
    }
  }
  return n;
}

bool C3DMesh::CommitTileVertices(const std::vector<MeshVertex>& vertices, int cells) {
  if (cells < 1 || vertices.size() != size_t(cells + 1) * size_t(cells + 1)) return false;
  CreateMesh(cells, cells);
  // A mesh that could not be made is tried again on the next call instead of being marked built.
  if (!mesh_ || cols_ != cells) return false;
  state_ |= kMeshVerticesBuilt;
  void* data = nullptr;
  if (FAILED(mesh_->LockVertexBuffer(0, &data))) return true;
  std::memcpy(data, vertices.data(), vertices.size() * sizeof(MeshVertex));
  BoundsFromVertices(vertices.data(), vertices.size());
  mesh_->UnlockVertexBuffer();
  return true;
}

bool C3DMesh::BuildTileMesh(int kind) {
  const int n = CellsForKey(Key());
  CreateMesh(n, n);
  // A mesh that could not be made is tried again on the next call instead of being marked built.
  if (!mesh_ || cols_ != n) return false;
  if (state_ & kMeshVerticesBuilt) return false;
  std::vector<MeshVertex> vertices;
  ComputeTileVertices(Key(), kind, elevation_ ? *elevation_ : ElevationStore(), &vertices);
  return CommitTileVertices(vertices, n);
}

bool C3DMesh::UploadTileTexture() {
  if ((state_ & kMeshTextureFilled) || !texture_) return false;
  CTileManager& tiles = tiles_ ? *tiles_ : TileManager();
  const TileKey key = Key();
  // Once the grey stand-in is shown the tile is only looked at, not asked for again, so that a
  // failed tile is not fetched over and over.
  std::shared_ptr<CTile> tile = (state_ & kMeshTexturePlaceholder) ? tiles.FindTile(key) : tiles.GetTile(key);
  if (!tile) return false;
  const int64_t tile_state = tile->GetState();
  if (IsLoadedState(tile_state)) {
    const CBitmap* image = tile->GetImage();
    if (image && !image->IsEmpty() && SUCCEEDED(FillTextureFromBitmap(texture_, *image))) {
      state_ |= kMeshTextureFilled;
      return true;
    }
    // Loaded without a usable picture: it will not get one.
    FillTextureColor(texture_, kMissingTileColor);
    state_ |= kMeshTextureFilled | kMeshTexturePlaceholder;
    return true;
  }
  if (CTileManager::IsFinalState(tile_state) && !(state_ & kMeshTexturePlaceholder)) {
    FillTextureColor(texture_, kMissingTileColor);
    state_ |= kMeshTexturePlaceholder;
    return true;
  }
  return false;
}

void C3DMesh::Draw() {
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!mesh_ || !device) return;
  device->SetTexture(0, texture_);
  mesh_->DrawSubset(0);
}

float C3DMesh::Pick(const D3DXVECTOR3& origin, const D3DXVECTOR3& direction, float lnglat[2]) {
  int hit = 0;
  uint32_t face = 0;
  float u = 0, v = 0, distance = FLT_MAX;
  if (!mesh_ || FAILED(D3DXIntersect(mesh_, &origin, &direction, &hit, &face, &u, &v, &distance)) || !hit) {
    lnglat[0] = FLT_MAX;
    return FLT_MAX;
  }
  void* vdata = nullptr;
  void* idata = nullptr;
  if (FAILED(mesh_->LockVertexBuffer(D3DLOCK_READONLY, &vdata))) {
    lnglat[0] = FLT_MAX;
    return FLT_MAX;
  }
  if (FAILED(mesh_->LockIndexBuffer(D3DLOCK_READONLY, &idata))) {
    mesh_->UnlockVertexBuffer();
    lnglat[0] = FLT_MAX;
    return FLT_MAX;
  }
  uint32_t i[3];
  for (int k = 0; k < 3; ++k)
    i[k] = mesh_->Uses32BitIndices() ? static_cast<const uint32_t*>(idata)[3 * size_t(face) + k]
                                     : static_cast<const uint16_t*>(idata)[3 * size_t(face) + k];
  const auto* vertices = static_cast<const uint8_t*>(vdata);
  const uint32_t stride = mesh_->GetNumBytesPerVertex();
  D3DXVECTOR3 p[3];
  for (int k = 0; k < 3; ++k) std::memcpy(&p[k].x, vertices + size_t(i[k]) * stride, 12);
  mesh_->UnlockIndexBuffer();
  mesh_->UnlockVertexBuffer();
  const D3DXVECTOR3 point = p[0] + (p[1] - p[0]) * u + (p[2] - p[0]) * v;
  XYZToLngLat(point.x, point.y, point.z, &lnglat[0], &lnglat[1]);
  return distance;
}

ID3DXMesh* C3DMesh::CreateGridMesh(int cols, int rows) {
  cols_ = cols;
  rows_ = rows;
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device || cols < 2 || rows < 2) return nullptr;
  const uint64_t vertices = uint64_t(cols) * uint64_t(rows);
  const uint64_t faces = 2 * (uint64_t(cols) - 1) * (uint64_t(rows) - 1);
  if (vertices > kMaxMeshVertices || faces > kMaxMeshFaces) return nullptr;
  // Indices are vertex numbers: 16 bits serve as long as the vertices do.
  const uint32_t options = D3DXMESH_MANAGED | (vertices > 0xFFFE ? D3DXMESH_32BIT : 0);
  ID3DXMesh* created = nullptr;
  if (FAILED(D3DXCreateMeshFVF(static_cast<uint32_t>(faces), static_cast<uint32_t>(vertices), options, kMeshFvf, device,
                               &created)))
    return nullptr;
  if (mesh_) mesh_->Release();
  mesh_ = created;
  FillGridIndices(cols - 1, rows - 1, cols);
  return mesh_;
}

bool C3DMesh::SaveX(const char* path) {
  if (!mesh_) return false;
  D3DXMATERIAL material;
  material.MatD3D.Diffuse = D3DCOLORVALUE{1, 1, 1, 1};
  material.MatD3D.Ambient = D3DCOLORVALUE{1, 1, 1, 1};
  material.MatD3D.Specular = D3DCOLORVALUE{0, 0, 0, 1};
  material.MatD3D.Emissive = D3DCOLORVALUE{0, 0, 0, 1};
  material.MatD3D.Power = 0;
  std::string file, texture_name;
  uint32_t format = D3DXF_FILEFORMAT_BINARY;
  if (path && *path) {
    file = path;
    if (!texture_) {
      texture_name = GetFileNamePart(file);
      if (!texture_name.empty()) texture_name.pop_back();
      texture_name += "jpg";
    }
  } else {
    const int n = g_save_counter.fetch_add(1);
    const std::string folder = AppOptions().work_dir;
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    file = folder + FormatC("mesh%d.x", n);
    format = D3DXF_FILEFORMAT_TEXT;
    if (texture_) {
      CBitmap picture;
      texture_name = FormatC("mesh%d.jpg", n);
      if (FAILED(TextureToBitmap(texture_, &picture)) || !SaveImageFile(picture, folder + texture_name)) {
        AppLog("3D: the texture of %s cannot be written", file.c_str());
        texture_name.clear();
      }
    }
  }
  material.pTextureFilename = texture_name.c_str();
  return SUCCEEDED(D3DXSaveMeshToX(file.c_str(), mesh_, nullptr, &material, nullptr, 1, format));
}

}  // namespace velmora

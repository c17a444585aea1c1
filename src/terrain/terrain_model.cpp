// The terrain model: builds on a worker, committed to the device, drawn, saved as .x.
#include "terrain/terrain_model.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

#include "core/format.h"
#include "core/imaging.h"
#include "core/log.h"
#include "core/settings.h"
#include "exchange/tiles_export_ctrl.h"
#include "platform/gfx/image_codec.h"
#include "platform/r3d/d3dx_mesh.h"
#include "platform/r3d/d3dx_texture.h"
#include "terrain/d3d_context.h"
#include "terrain/elevation_store.h"
#include "terrain/x_file_writer.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

struct ColorVertex {
  float x, y, z;
  uint32_t color;
};
struct TextureVertex {
  float x, y, z, u, v;
};
static_assert(sizeof(ColorVertex) == 16 && sizeof(TextureVertex) == 20);

}  // namespace

CTerrainModel::CTerrainModel() { SetName("terrain"); }

CTerrainModel::~CTerrainModel() {
  CancelBuild();
  ReleaseGeometry();
}

void CTerrainModel::SetSources(CElevationStore* elevation, CTileManager* tiles) {
  elevation_ = elevation;
  tiles_ = tiles;
}

void CTerrainModel::SetReadyCallback(std::function<void()> ready) { ready_ = std::move(ready); }

CElevationStore& CTerrainModel::Elevation() const { return elevation_ ? *elevation_ : ElevationStore(); }

void CTerrainModel::ReleaseGeometry() {
  if (vertex_buffer_) vertex_buffer_->Release();
  if (index_buffer_) index_buffer_->Release();
  if (texture_) texture_->Release();
  vertex_buffer_ = nullptr;
  index_buffer_ = nullptr;
  texture_ = nullptr;
  vertices_.clear();
}

bool CTerrainModel::Build() {
  IMapViewState* map = CurrentMapView();
  if (!map) {
    error_ = "没有二维地图视图";
    return false;
  }
  float top_left[2], bottom_right[2];
  map->GetViewBounds(top_left, bottom_right);
  layers_ = map->CopyLayerList();
  return Build(map->GetCamera(), top_left, bottom_right);
}

bool CTerrainModel::Build(const MapCamera& camera, const float top_left[2], const float bottom_right[2]) {
  error_.clear();
  TerrainGrid grid;
  const int samples = ProgramSettings().GetInt(kDemSampleKey, kDefaultDemSample);
  if (!PlanTerrainGrid(camera, top_left, bottom_right, samples, &grid, &error_)) {
    CancelBuild();
    ReleaseGeometry();
    grid_ = TerrainGrid{};
    whole_earth_zoom_ = -1;
    AppLog("terrain: %s", error_.c_str());
    return false;
  }
  planned_ = grid;
  centre_lng_ = static_cast<float>(grid.centre_lng);
  centre_lat_ = static_cast<float>(grid.centre_lat);
  // The whole earth of this integer zoom is already there (or on its way): nothing to do. After a
  // regional build the stored zoom is cleared, so coming back below zoom 4 rebuilds the earth.
  if (grid.whole_earth && whole_earth_zoom_ == static_cast<float>(grid.zoom)) return true;
  CancelBuild();
  ReleaseGeometry();
  whole_earth_zoom_ = grid.whole_earth ? static_cast<float>(grid.zoom) : -1.0f;
  const bool textured = ProgramSettings().GetBool(kTerrainTextureKey, false);
  {
    std::lock_guard<std::mutex> lock(result_mutex_);
    result_ready_ = false;
    result_vertices_.clear();
    result_picture_.reset();
    computing_ = true;
  }
  cancel_.store(false);
  progress_.store(0);
  const bool started = worker_.Start("TerrainBuild", [this, grid, textured] {
    worker_.SignalReady();
    BuildMesh(grid, textured);
    std::lock_guard<std::mutex> lock(result_mutex_);
    computing_ = false;
    done_.notify_all();
  });
  if (!started) {
    std::lock_guard<std::mutex> lock(result_mutex_);
    computing_ = false;
    error_ = "地形计算线程无法启动";
    return false;
  }
  return true;
}

void CTerrainModel::BuildMesh(const TerrainGrid& grid, bool textured) {
  std::unique_ptr<CBitmap> picture;
  if (textured) {
    CTileManager& tiles = tiles_ ? *tiles_ : TileManager();
    CTilesExportCtrl composer(tiles, layers_);
    if (grid.whole_earth) {
      picture = composer.ComposeTile(grid.zoom);
    } else {
      const double east = grid.centre_lng + grid.columns * grid.step / 2;
      const double south = grid.centre_lat - grid.rows * grid.step / 2;
      picture = composer.ComposeAreaImage(grid.west, grid.north, east, south, kTerrainTextureSize, kTerrainTextureSize);
    }
    if (!picture) AppLog("terrain: no map picture: %s", composer.LastError().c_str());
  }
  if (cancel_.load()) return;
  const IntPair factor = ProgramSettings().GetIntPair(kDemFactorKey, kDefaultDemFactor);
  std::vector<TerrainVertex> vertices;
  if (!ComputeTerrainVertices(grid, factor, Elevation(), &vertices, &cancel_, &progress_)) return;
  {
    std::lock_guard<std::mutex> lock(result_mutex_);
    result_grid_ = grid;
    result_textured_ = textured;
    result_vertices_ = std::move(vertices);
    result_picture_ = std::move(picture);
    result_ready_ = true;
  }
  if (ready_ && !cancel_.load()) ready_();
}

bool CTerrainModel::CommitBuild() {
  TerrainGrid grid;
  bool textured = false;
  std::vector<TerrainVertex> vertices;
  std::unique_ptr<CBitmap> picture;
  {
    std::lock_guard<std::mutex> lock(result_mutex_);
    if (!result_ready_) return false;
    result_ready_ = false;
    grid = result_grid_;
    textured = result_textured_;
    vertices = std::move(result_vertices_);
    picture = std::move(result_picture_);
  }
  worker_.OnExit();
  ReleaseGeometry();
  grid_ = grid;
  textured_ = textured;
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device || vertices.empty()) return false;
  std::lock_guard<std::recursive_mutex> device_lock(g_D3DContext.DeviceLock());
  const uint32_t stride = textured ? 20 : 16;
  const uint64_t vb_bytes = uint64_t(vertices.size()) * stride;
  const std::vector<uint32_t> indices = TerrainStripIndices(grid.columns, grid.rows);
  const uint64_t ib_bytes = uint64_t(indices.size()) * 4;
  if (vb_bytes > kMaxResourceBytes || ib_bytes > kMaxResourceBytes ||
      FAILED(device->CreateVertexBuffer(static_cast<uint32_t>(vb_bytes), 0, textured ? kTerrainTextureFvf : kTerrainColorFvf,
                                        D3DPOOL_MANAGED, &vertex_buffer_)) ||
      FAILED(device->CreateIndexBuffer(static_cast<uint32_t>(ib_bytes), 0, D3DFMT_INDEX32, D3DPOOL_MANAGED,
                                       &index_buffer_))) {
    error_ = "地形缓冲区无法创建";
    AppLog("terrain: %s (%d x %d)", error_.c_str(), grid.columns, grid.rows);
    ReleaseGeometry();
    return false;
  }
  void* data = nullptr;
  D3DXVECTOR3 lo(3e38f, 3e38f, 3e38f), hi(-3e38f, -3e38f, -3e38f);
  if (SUCCEEDED(vertex_buffer_->Lock(0, 0, &data, 0))) {
    for (size_t i = 0; i < vertices.size(); ++i) {
      const TerrainVertex& t = vertices[i];
      if (textured) {
        const TextureVertex v{t.x, t.y, t.z, t.u, t.v};
        std::memcpy(static_cast<uint8_t*>(data) + i * 20, &v, 20);
      } else {
        const ColorVertex v{t.x, t.y, t.z, t.color};
        std::memcpy(static_cast<uint8_t*>(data) + i * 16, &v, 16);
      }
      lo = D3DXVECTOR3(std::min(lo.x, t.x), std::min(lo.y, t.y), std::min(lo.z, t.z));
      hi = D3DXVECTOR3(std::max(hi.x, t.x), std::max(hi.y, t.y), std::max(hi.z, t.z));
    }
    vertex_buffer_->Unlock();
  }
  if (SUCCEEDED(index_buffer_->Lock(0, 0, &data, 0))) {
    std::memcpy(data, indices.data(), indices.size() * 4);
    index_buffer_->Unlock();
  }
  SetBounds(lo, hi);
  if (textured && picture && picture->Width() > 0) {
    if (FAILED(D3DXCreateTexture(device, static_cast<uint32_t>(picture->Width()), static_cast<uint32_t>(picture->Height()),
                                 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture_)) ||
        FAILED(FillTextureFromBitmap(texture_, *picture))) {
      AppLog("terrain: the map picture cannot become a texture");
      if (texture_) texture_->Release();
      texture_ = nullptr;
    }
  }
  vertices_ = std::move(vertices);
  return true;
}

bool CTerrainModel::WaitBuild(unsigned ms) {
  std::unique_lock<std::mutex> lock(result_mutex_);
  if (ms == kInfinite) {
    done_.wait(lock, [this] { return !computing_; });
    return true;
  }
  return done_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !computing_; });
}

bool CTerrainModel::BuildAndWait(const MapCamera& camera, const float top_left[2], const float bottom_right[2]) {
  if (!Build(camera, top_left, bottom_right)) return false;
  WaitBuild(kInfinite);
  CommitBuild();
  return HasGeometry();
}

void CTerrainModel::CancelBuild() {
  cancel_.store(true);
  worker_.Stop(kInfinite);
  std::lock_guard<std::mutex> lock(result_mutex_);
  result_ready_ = false;
  result_vertices_.clear();
  result_picture_.reset();
}

bool CTerrainModel::IsBuilding() const {
  std::lock_guard<std::mutex> lock(result_mutex_);
  return computing_;
}

void CTerrainModel::Draw() {
  IDirect3DDevice9* d = g_pD3DDevice;
  if (!d || !vertex_buffer_ || !index_buffer_ || grid_.rows < 2) return;
  const uint32_t columns = static_cast<uint32_t>(grid_.columns);
  d->SetStreamSource(0, vertex_buffer_, 0, textured_ ? 20 : 16);
  d->SetFVF(textured_ ? kTerrainTextureFvf : kTerrainColorFvf);
  d->SetIndices(index_buffer_);
  d->SetTexture(0, textured_ ? texture_ : nullptr);
  uint32_t cull = 0;
  d->GetRenderState(D3DRS_CULLMODE, &cull);
  d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  for (uint32_t r = 0; r + 1 < static_cast<uint32_t>(grid_.rows); ++r)
    d->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 0, columns * r, 2 * columns, 2 * columns * r, 2 * columns - 2);
  d->SetRenderState(D3DRS_CULLMODE, cull);
  d->SetTexture(0, nullptr);
}

bool CTerrainModel::SaveX(const std::string& path) {
  error_.clear();
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device || !vertex_buffer_ || vertices_.empty() || grid_.rows < 2 || grid_.columns < 2) {
    error_ = "没有地形可以保存";
    return false;
  }
  const uint32_t columns = static_cast<uint32_t>(grid_.columns), rows = static_cast<uint32_t>(grid_.rows);
  const uint32_t faces = (rows - 1) * (columns - 1) * 2;
  const uint32_t fvf = D3DFVF_XYZ | D3DFVF_NORMAL | (textured_ ? D3DFVF_TEX1 : D3DFVF_DIFFUSE);
  ID3DXMesh* mesh = nullptr;
  std::lock_guard<std::recursive_mutex> device_lock(g_D3DContext.DeviceLock());
  if (FAILED(D3DXCreateMeshFVF(faces, static_cast<uint32_t>(vertices_.size()), D3DXMESH_32BIT | D3DXMESH_MANAGED, fvf,
                               device, &mesh))) {
    error_ = "地形模型无法创建";
    return false;
  }
  const uint32_t stride = mesh->GetNumBytesPerVertex();
  void* data = nullptr;
  if (SUCCEEDED(mesh->LockVertexBuffer(0, &data))) {
    auto* bytes = static_cast<uint8_t*>(data);
    for (size_t i = 0; i < vertices_.size(); ++i) {
      const TerrainVertex& t = vertices_[i];
      uint8_t* v = bytes + i * stride;
      const float position[3] = {t.x, t.y, t.z}, normal[3] = {0, 0, 0};
      std::memcpy(v, position, 12);
      std::memcpy(v + 12, normal, 12);
      if (textured_) {
        const float uv[2] = {t.u, t.v};
        std::memcpy(v + 24, uv, 8);
      } else {
        std::memcpy(v + 24, &t.color, 4);
      }
    }
    mesh->UnlockVertexBuffer();
  }
  // The strips as triangles: every other triangle of a strip turns its first two corners over
  // so that all keep the strip's facing (outward from the earth).
  if (SUCCEEDED(mesh->LockIndexBuffer(0, &data))) {
    auto* out = static_cast<uint32_t*>(data);
    for (uint32_t r = 0; r + 1 < rows; ++r)
      for (uint32_t k = 0; k < 2 * columns - 2; ++k) {
        auto strip = [&](uint32_t s) { return s % 2 == 0 ? (r + 1) * columns + s / 2 : r * columns + s / 2; };
        const uint32_t a = strip(k), b = strip(k + 1), c = strip(k + 2);
        *out++ = k % 2 == 0 ? a : b;
        *out++ = k % 2 == 0 ? b : a;
        *out++ = c;
      }
    mesh->UnlockIndexBuffer();
  }
  // Adjacency and the vertex-cache reordering change no geometry and are left out.
  D3DXComputeNormals(mesh, nullptr);

  D3DXMATERIAL material;
  material.MatD3D.Diffuse = material.MatD3D.Ambient = D3DCOLORVALUE{1, 1, 1, 1};
  material.MatD3D.Specular = material.MatD3D.Emissive = D3DCOLORVALUE{1, 1, 1, 1};
  material.MatD3D.Power = 128;
  std::string texture_name;
  if (textured_ && texture_) {
    texture_name = GetFileNamePart(path);
    const size_t dot = texture_name.rfind('.');
    if (dot != std::string::npos) texture_name.resize(dot);
    texture_name += ".jpg";
    const size_t slash = path.rfind('/');
    const std::string picture_path = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + texture_name;
    CBitmap picture;
    std::string why;
    if (FAILED(TextureToBitmap(texture_, &picture))) {
      why = "贴图无法读取";
    } else {
      StampLogo(picture, std::max(1, picture.Width() / 256), std::max(1, picture.Height() / 256));
      StampImageProperties(picture);
      if (!SaveImageFile(picture, picture_path, ImageType::kJpeg, EncodeOptions{}, &why)) why = "贴图无法写入: " + why;
    }
    if (!why.empty()) {
      mesh->Release();
      error_ = why;
      AppLog("terrain: %s (%s)", why.c_str(), picture_path.c_str());
      return false;
    }
  }
  material.pTextureFilename = texture_name.c_str();
  const HRESULT hr = D3DXSaveMeshToX(path.c_str(), mesh, nullptr, &material, nullptr, 1, D3DXF_FILEFORMAT_COMPRESSED);
  mesh->Release();
  if (FAILED(hr)) {
    error_ = "模型文件无法写入: " + path;
    return false;
  }
  return true;
}

}  // namespace velmora

// CTerrainModel: the terrain surface of the 3D globe view: the elevation grid of the area the 2D
// map shows (or of the whole earth below zoom 4) lifted onto the earth sphere with the height
// formula "REG_DEM_FACTOR", coloured by height or draped with the map picture of the same area
// ("TERRAIN_TEXTURE"), drawn as one triangle strip per pair of rows, and saved as a .x model with
// a JPEG picture beside it.
//
// Threads: Build plans the grid on the calling (user-interface) thread and hands the elevation
// look-ups and the picture to a worker "TerrainBuild", which reports its progress; a new Build or
// the model's end cancels a build under way. The worker never touches the device: CommitBuild,
// called on the user-interface thread (the ready callback tells when), makes the buffers and the
// texture from what it computed. Draw and SaveX run on the user-interface thread too.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/work_thread.h"
#include "platform/gfx/bitmap.h"
#include "platform/r3d/device.h"
#include "terrain/3d_object.h"
#include "terrain/terrain_grid.h"

namespace velmora {

class CElevationStore;
class CTileManager;

// Vertex formats of the two looks.
inline constexpr uint32_t kTerrainColorFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;  // 16 bytes
inline constexpr uint32_t kTerrainTextureFvf = D3DFVF_XYZ | D3DFVF_TEX1;   // 20 bytes

class CTerrainModel : public C3DObject, public C3DTexture {
 public:
  CTerrainModel();
  // Cancels a build under way and releases the buffers (the texture goes with C3DTexture).
  ~CTerrainModel() override;
  CTerrainModel(const CTerrainModel&) = delete;
  CTerrainModel& operator=(const CTerrainModel&) = delete;

  // The elevation store and tile manager to read (null: the application's).
  void SetSources(CElevationStore* elevation, CTileManager* tiles);
  // The map layers the picture is composed of (Build() takes the 2D view's).
  void SetLayers(std::vector<MapLayer> layers) { layers_ = std::move(layers); }
  // Called on the worker when a build has finished computing (not when it was cancelled); the
  // owner then calls CommitBuild on the user-interface thread.
  void SetReadyCallback(std::function<void()> ready);

  // Rebuilds from the current 2D map view (CurrentMapView()); false when there is none.
  bool Build();
  // Rebuilds for the 2D view's camera and window corners with the settings of the moment. Below
  // zoom 4 the whole earth is built, unless the whole earth of that integer zoom is what the
  // model already holds. Otherwise the old geometry is released and a build starts; false
  // (reason in LastError(), model left empty) when the grid cannot be made: window of no size,
  // sample count outside 2..4096, or a grid beyond the device's limits.
  bool Build(const MapCamera& camera, const float top_left[2], const float bottom_right[2]);
  // Computes the vertices and composes the picture (the worker's part; also usable alone).
  void BuildMesh(const TerrainGrid& grid, bool textured);
  // Makes the buffers and the texture of a finished build; true when it did (false: nothing
  // finished, or the buffers could not be made).
  bool CommitBuild();
  // Waits up to `ms` for the worker to end; true when no build is under way.
  bool WaitBuild(unsigned ms);
  // Build, wait for the worker, commit: the whole build on the calling thread's time.
  bool BuildAndWait(const MapCamera& camera, const float top_left[2], const float bottom_right[2]);
  void CancelBuild();
  bool IsBuilding() const;
  // The part of the build done, 0 to 1.
  float Progress() const { return progress_.load(std::memory_order_relaxed); }

  // One triangle strip per pair of rows, untextured vertices in their colours, textured ones
  // with the texture (or none when the picture could not be had). Nothing without geometry.
  void Draw() override;

  // Saves the surface as a .x model (text form) with normals, one white material and, when the
  // model has a texture, the texture name "<file name>.jpg" and that JPEG (stamped with the logo
  // and the picture properties) beside it; an untextured model keeps its vertex colours and names
  // no texture. False (reason in LastError()) when there is no surface or a file cannot be
  // written.
  bool SaveX(const std::string& path);

  const std::string& LastError() const { return error_; }
  const TerrainGrid& Grid() const { return grid_; }
  // The grid of the last Build that planned one (what is on its way or held).
  const TerrainGrid& PlannedGrid() const { return planned_; }
  int Columns() const { return grid_.columns; }
  int Rows() const { return grid_.rows; }
  bool Textured() const { return textured_; }
  bool HasGeometry() const { return vertex_buffer_ != nullptr; }
  IDirect3DVertexBuffer9* VertexBuffer() const { return vertex_buffer_; }
  IDirect3DIndexBuffer9* IndexBuffer() const { return index_buffer_; }
  float CentreLng() const { return centre_lng_; }
  float CentreLat() const { return centre_lat_; }
  // The vertices of the last committed build (kept for the exports).
  const std::vector<TerrainVertex>& Vertices() const { return vertices_; }

 private:
  void ReleaseGeometry();
  CElevationStore& Elevation() const;

  float centre_lng_ = 0, centre_lat_ = 0;
  float whole_earth_zoom_ = -1;  // integer zoom of the whole earth held, -1 when none
  IDirect3DVertexBuffer9* vertex_buffer_ = nullptr;
  IDirect3DIndexBuffer9* index_buffer_ = nullptr;
  TerrainGrid grid_;
  TerrainGrid planned_;
  bool textured_ = false;
  std::vector<TerrainVertex> vertices_;
  std::string error_;

  CElevationStore* elevation_ = nullptr;
  CTileManager* tiles_ = nullptr;
  std::function<void()> ready_;

  // The build under way and its result, handed from the worker under result_mutex_.
  CWorkThread worker_;
  std::atomic<bool> cancel_{false};
  std::atomic<float> progress_{0};
  mutable std::mutex result_mutex_;
  std::condition_variable done_;
  bool computing_ = false;  // from Build until the worker has finished
  bool result_ready_ = false;
  TerrainGrid result_grid_;
  bool result_textured_ = false;
  std::vector<TerrainVertex> result_vertices_;
  std::unique_ptr<CBitmap> result_picture_;
  std::vector<MapLayer> layers_;  // copied for the worker's picture
};

}  // namespace velmora

// C3DTileView: the child view "3DTileView" (view kind 2) that shows the current map source's
// tiles draped over the elevation on a 3D earth, loading them progressively, with the map's
// polylines as 3D lines. The main frame makes it on first use and hands it the camera of the view
// shown before it (slot 7); when it is left, the 2D map takes its camera back.
//
// Its camera, the tiles in sight, the mesh pool and the loader thread "LoadTiles" are the
// domain's (terrain/tile_view_camera.h, terrain/tile_mesh_pool.h); this class is their window.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "terrain/3d_globe.h"
#include "terrain/3d_line.h"
#include "terrain/tile_mesh_pool.h"
#include "terrain/tile_view_camera.h"
#include "terrain/ui/render_wnd.h"
#include "tiles/map_view_state.h"

namespace velmora {

class CTileManager;
class CElevationStore;

constexpr UINT ID_3D_EXPORT_MODEL = 32716;
constexpr UINT ID_3D_REFRESH = 32765;
// The profile section and keys of the view's tilt.
inline constexpr const char k3DTileViewSection[] = "3dtileview";
inline constexpr const char k3DTileViewName[] = "3DTileView";
// The colour of tiles whose picture is on its way, and of the globe without its picture.
inline constexpr D3DCOLOR kPendingTileColor = 0xFF505860u;
inline constexpr D3DCOLOR kBareGlobeColor = 0xFF1E3C5Au;

class C3DTileView : public CRenderWnd {
 public:
  C3DTileView();
  // Destroys the window (stopping the loader) and the meshes.
  ~C3DTileView() override;

  // Before the window is made: the tile manager and elevation store to read (null: the
  // application's) and the layers (none: the 2D map view's at creation, else the catalogue's
  // first map source).
  void SetSources(CTileManager* tiles, CElevationStore* elevation);
  void SetLayers(std::vector<MapLayer> layers);

  // ---- IChildView ----
  int GetViewKind() const override { return kViewTiles3D; }
  std::string GetName() const override { return k3DTileViewName; }
  void GetSourceIds(std::vector<int>& ids) const override { ids.push_back(2); }
  // Takes the camera of the view passed in (FollowView).
  void UpdateSatellites(IChildView* source) override { FollowView(source); }
  void GetCamera(double* lng, double* lat, double* level) const override;
  // Nothing when the camera is the same (a repaint); else clamped (longitude wrapped, latitude
  // kept on the map, level 2 to 22.9), shown in the status bar, and the tiles in sight updated.
  void SetCamera(double lng, double lat, double level, bool history) override;
  // Deletes the 3D lines.
  void ClearObjects() override;
  // Enabled while there are lines.
  void UpdateClearObjects(CCmdUI& cmd) override;
  // Takes the shapes (it deletes them all): each polyline (type 40021) becomes a 3D line; with
  // `centre` the camera moves to the middle of the line made from the last shape, keeping its
  // level. Returns 1.
  int LoadShapes(std::vector<CMapShape*>& shapes, bool centre) override;

  // Takes the camera of the view passed in; from the 2D map it also takes its polylines as 3D
  // lines (CopyPolylinesTo3D), in place of those it took the time before.
  void FollowView(IChildView* source);
  // The map's polylines as 3D lines (what the 2D view's copy of its polylines hands over); with
  // `centre` the camera moves to the middle of the last line, keeping its level. Returns the
  // lines made.
  size_t AddPolylines(const std::vector<PolylinePoints>& lines, bool centre);
  size_t LineCount() const { return lines_.size() + map_lines_.size(); }

  // The tilt, in degrees (kept in the profile). The tiles in sight follow.
  void SetTilt(float yaw, float pitch);
  const TileViewCamera& Camera() const { return camera_; }

  // The tiles in sight for the camera and the window's size, handed to the pool (which wakes
  // the loader); nothing in sight at level 4 or below.
  void UpdateVisibleTiles();
  // The ray through a window pixel, in world coordinates (kilometres).
  void ScreenToRay(int x, int y, D3DXVECTOR3* origin, D3DXVECTOR3* direction);

  CTileMeshPool& Pool() { return pool_; }
  // Tile meshes drawn in the last frame.
  size_t LastDrawnTiles() const { return last_drawn_; }
  int SourceId() const { return layer_.source_id; }
  int ProjectionKind() const { return layer_.kind; }

  // The tiles in sight as a Wavefront OBJ file with its MTL file and the tiles' pictures beside
  // it; false when nothing is in sight or a file cannot be written.
  bool ExportObj(const std::string& path);
  // Every tile in sight as a .x file in the work folder.
  bool ExportX();

  // ---- the scene ----
  void SetupCamera() override;
  void DrawScene() override;

 protected:
  int OnCreate() override;
  void OnDestroy() override;
  void OnSize(int width, int height) override;
  void OnMouseMove(UINT flags, int x, int y) override;
  void OnMouseWheel(int delta, int x, int y) override;
  void OnKeyDown(UINT key) override;
  void OnLButtonDown(UINT flags, int x, int y) override;
  void OnLButtonUp(UINT flags, int x, int y) override;
  void OnMButtonDown(UINT flags, int x, int y) override;
  void OnShowWindow(bool shown);
  void OnExportModel();

 private:
  // The camera moved over a line's centre, at the current level.
  void CentreOn(const C3DLine& line);
  void PickLayer();
  bool PickEarth(int x, int y, double* lng, double* lat);

  CTileMeshPool pool_;
  C3DGlobe globe_;
  TileViewCamera camera_;
  std::vector<std::unique_ptr<C3DLine>> lines_;      // handed over as shapes or points
  std::vector<std::unique_ptr<C3DLine>> map_lines_;  // the 2D map's polylines, copied when it hands over
  std::vector<MapLayer> layers_;
  bool layers_set_ = false;
  MapLayer layer_;
  CTileManager* tiles_ = nullptr;
  CElevationStore* elevation_ = nullptr;
  IDirect3DTexture9* pending_ = nullptr;
  IDirect3DTexture9* bare_globe_ = nullptr;
  size_t last_drawn_ = 0;
};

}  // namespace velmora

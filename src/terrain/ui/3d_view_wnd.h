// C3DViewWnd: the child view "3DView" (view kind 1, "三维地球" in the "视图" menu): the terrain
// of the area the 2D map shows (CTerrainModel), the map's polylines as 3D lines and the shown
// satellites of the library panel "卫星库" moving in real time, seen through the arcball camera.
//
// Threads: the worker "OrbitCalcThread" moves the satellite objects once a second under the
// view's satellite lock and posts a repaint; the terrain's worker posts when its vertices are
// ready and the view commits them on the user-interface thread. Everything else runs on the
// user-interface thread.
#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/work_thread.h"
#include "terrain/3d_line.h"
#include "terrain/3d_satellite.h"
#include "terrain/terrain_model.h"
#include "terrain/ui/render_wnd.h"

namespace velmora {

class CElevationStore;
class CTileManager;

inline constexpr const char k3DViewName[] = "3DView";
inline constexpr const char kOrbitThreadName[] = "OrbitCalcThread";
// The save-model command of the 3D views (the current view's own handler).
constexpr UINT ID_3D_SAVE_X = 32716;
// What the view's workers post to it.
constexpr UINT WM_TERRAIN_READY = WM_USER + 0x137;
constexpr UINT WM_ORBIT_MOVED = WM_USER + 0x138;
// The frame's caption colour.
inline constexpr D3DCOLOR k3DViewTextColor = 0xFFFF00FFu;

class C3DViewWnd : public CRenderWnd {
 public:
  C3DViewWnd();
  // Destroys the window (stopping the orbit thread and the terrain's build).
  ~C3DViewWnd() override;

  // Before the window is made: the elevation store and tile manager of the terrain (null: the
  // application's), and the clock of the orbit thread and of newly shown satellites (Julian
  // date; default JulianDateNow).
  void SetSources(CElevationStore* elevation, CTileManager* tiles);
  void SetClock(std::function<double()> julian_now) { clock_ = std::move(julian_now); }

  // ---- IChildView ----
  int GetViewKind() const override { return kViewGlobe3D; }
  std::string GetName() const override { return k3DViewName; }
  void GetSourceIds(std::vector<int>& ids) const override { ids.push_back(1); }
  // Rebuild.
  void UpdateSatellites(IChildView* source) override;
  // The 2D view's camera (the call is passed on to it).
  void GetCamera(double* lng, double* lat, double* level) const override;
  void ShowSatellites(const SatElements& sat, bool shown) override { AddSatelliteObjects(sat, shown); }

  // One satellite shown or hidden: under the lock the last object of that satellite number is
  // deleted (hide) or made when missing, given the record and placed at the present moment
  // (show). Repaints.
  void AddSatelliteObjects(const SatElements& sat, bool show);
  // The satellite objects made to match the shown satellites of the panel "卫星库" (nothing
  // without the panel): objects of satellites still shown take their new records, the others
  // go, and shown satellites without one get one.
  void RefreshSatelliteLayer();
  // Camera reset, terrain rebuilt for the 2D view's area, the 2D view's polylines as 3D lines,
  // then RefreshSatelliteLayer.
  void Rebuild();
  // One pass of the orbit thread: every satellite moved to its position at the clock's date.
  void MoveSatellites();

  // The disabling and enabling of the window.
  void DisableView() { EnableWindow(false); }
  void EnableView() { EnableWindow(true); }

  // ---- the scene ----
  // Black, the fill mode, the satellites under the lock, the owned objects, the terrain without
  // lighting, and "Velmora" at the top left; all with this frame's camera.
  void DrawScene() override { RenderFrame(); }
  void RenderFrame();

  CTerrainModel& Terrain() { return terrain_; }
  bool OrbitThreadRunning() const { return orbit_thread_.IsRunning(); }
  size_t SatelliteCount() const;
  // (satellite number, position) of each satellite object, in the list's order.
  std::vector<std::pair<uint32_t, D3DXVECTOR3>> SatellitePositions() const;
  size_t LineCount() const { return lines_.size(); }
  // The camera put where the terrain's area is seen from above (the whole earth below zoom 4).
  void ResetCamera();

 protected:
  int OnCreate() override;
  void OnDestroy() override;
  void OnMButtonDown(UINT flags, int x, int y) override;
  void OnLButtonDblClk();
  void OnSaveX();

 private:
  double Now() const;
  void StartOrbitThread();

  std::vector<std::unique_ptr<C3DObject>> lines_;  // the owned 3D objects
  CTerrainModel terrain_;
  mutable std::mutex satellites_mutex_;
  std::vector<std::unique_ptr<C3DSatellite>> satellites_;  // guarded by satellites_mutex_
  CWorkThread orbit_thread_;
  std::function<double()> clock_;
};

}  // namespace velmora

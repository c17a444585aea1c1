// The 3D globe view: terrain, lines, live satellites, the camera and the view's commands.
#include "terrain/ui/3d_view_wnd.h"

#include <cmath>

#include "core/geodesy.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/ui/file_dialog.h"
#include "shapes/polyline_shape.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "terrain/d3d_context.h"
#include "terrain/ui/dlg_terrain_settings.h"
#include "terrain/ui/satellite_tree.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

constexpr unsigned kOrbitPassMs = 1000;
constexpr unsigned kOrbitStopMs = 3000;
// While the terrain is computed the frame shows its progress, repainted this often.
constexpr UINT_PTR kProgressTimer = 0x3D71;
constexpr unsigned kProgressMs = 250;

}  // namespace

C3DViewWnd::C3DViewWnd() {
  MapCommand(ID_3D_SAVE_X, [this] { OnSaveX(); });
  MapMessage(WM_LBUTTONDBLCLK, [this](WPARAM, LPARAM) -> LRESULT {
    OnLButtonDblClk();
    return 0;
  });
  MapMessage(WM_TERRAIN_READY, [this](WPARAM, LPARAM) -> LRESULT {
    if (terrain_.CommitBuild()) Invalidate();
    return 0;
  });
  MapTimer(kProgressTimer, [this] {
    if (!terrain_.IsBuilding()) KillTimer(kProgressTimer);
    Invalidate();
  });
  MapMessage(WM_ORBIT_MOVED, [this](WPARAM, LPARAM) -> LRESULT {
    Invalidate();
    return 0;
  });
  // The terrain's worker asks for the commit on this window's thread.
  terrain_.SetReadyCallback([this] { PostMessage(WM_TERRAIN_READY, 0, 0); });
}

C3DViewWnd::~C3DViewWnd() {
  DestroyWindow();
  orbit_thread_.Stop(kInfinite);
  terrain_.CancelBuild();
}

void C3DViewWnd::SetSources(CElevationStore* elevation, CTileManager* tiles) { terrain_.SetSources(elevation, tiles); }

double C3DViewWnd::Now() const { return clock_ ? clock_() : JulianDateNow(); }

int C3DViewWnd::OnCreate() {
  CRenderWnd::OnCreate();
  if (AppOptions().satellite_switch) StartOrbitThread();
  return 0;
}

void C3DViewWnd::StartOrbitThread() {
  orbit_thread_.Start(kOrbitThreadName, [this] {
    orbit_thread_.SignalReady();
    do {
      MoveSatellites();
      // Repaint after the lock is released.
      PostMessage(WM_ORBIT_MOVED, 0, 0);
    } while (!orbit_thread_.WaitQuit(kOrbitPassMs));
  });
}

void C3DViewWnd::MoveSatellites() {
  // The present as a Julian date straight from the calendar (no two-digit year on the way).
  const double jd = Now();
  CSatOrbit orbit;
  std::lock_guard<std::mutex> lock(satellites_mutex_);
  for (const auto& satellite : satellites_) {
    orbit.SetElements(satellite->Elements());
    if (!orbit.ComputeAt(jd)) continue;
    float x = 0, y = 0, z = 0;
    orbit.GetXYZ(&x, &y, &z);
    satellite->SetPosition(x, y, z);
  }
}

void C3DViewWnd::OnDestroy() {
  lines_.clear();
  if (!orbit_thread_.Stop(kOrbitStopMs)) AppLog("3D view: the orbit thread did not stop within %u ms", kOrbitStopMs);
  terrain_.CancelBuild();
  {
    std::lock_guard<std::mutex> lock(satellites_mutex_);
    satellites_.clear();
  }
  CRenderWnd::OnDestroy();
}

void C3DViewWnd::UpdateSatellites(IChildView*) { Rebuild(); }

void C3DViewWnd::GetCamera(double* lng, double* lat, double* level) const {
  CKovraHomeExApp* app = GetApp();
  IChildView* map = app ? app->FindView(kViewMap2D) : nullptr;
  if (map && map != this) {
    map->GetCamera(lng, lat, level);
    return;
  }
  IChildView::GetCamera(lng, lat, level);
}

void C3DViewWnd::AddSatelliteObjects(const SatElements& sat, bool show) {
  {
    std::lock_guard<std::mutex> lock(satellites_mutex_);
    auto found = satellites_.end();
    for (auto it = satellites_.begin(); it != satellites_.end(); ++it)
      if ((*it)->Elements().satellite_number == sat.satellite_number) found = it;
    if (!show) {
      if (found != satellites_.end()) satellites_.erase(found);
    } else {
      if (found == satellites_.end()) {
        satellites_.push_back(std::make_unique<C3DSatellite>(sat));
        found = satellites_.end() - 1;
      }
      C3DSatellite& object = **found;
      object.SetElements(sat);
      const double jd = Now();
      object.UpdatePosition(jd);
      CSatOrbit orbit(sat);
      if (orbit.ComputeAt(jd)) {
        float x = 0, y = 0, z = 0;
        orbit.GetXYZ(&x, &y, &z);
        object.SetPosition(x, y, z);
      }
    }
  }
  Invalidate();
}

void C3DViewWnd::RefreshSatelliteLayer() {
  CKovraHomeExApp* app = GetApp();
  CMainFrame* frame = app ? app->MainFrame() : nullptr;
  auto* panel = dynamic_cast<CSatelliteTree*>(frame ? frame->FindSideBarPanel(CSatelliteTree::kPanelName) : nullptr);
  if (!panel) return;
  const std::vector<SatElements> shown = panel->ShownSatellites();
  const double jd = Now();
  {
    std::lock_guard<std::mutex> lock(satellites_mutex_);
    std::vector<std::unique_ptr<C3DSatellite>> kept;
    std::vector<bool> has_object(shown.size(), false);
    for (auto& object : satellites_) {
      bool listed = false;
      for (size_t i = 0; i < shown.size(); ++i) {
        if (has_object[i] || shown[i].satellite_number != object->Elements().satellite_number) continue;
        object->SetElements(shown[i]);
        has_object[i] = listed = true;
        break;
      }
      if (listed) kept.push_back(std::move(object));
    }
    for (size_t i = 0; i < shown.size(); ++i) {
      if (has_object[i]) continue;
      auto object = std::make_unique<C3DSatellite>(shown[i]);
      object->UpdatePosition(jd);
      CSatOrbit orbit(shown[i]);
      if (orbit.ComputeAt(jd)) {
        float x = 0, y = 0, z = 0;
        orbit.GetXYZ(&x, &y, &z);
        object->SetPosition(x, y, z);
      }
      kept.push_back(std::move(object));
    }
    satellites_ = std::move(kept);
  }
  Invalidate();
}

void C3DViewWnd::Rebuild() {
  if (!terrain_.Build())
    AppLog("3D view: no terrain: %s", terrain_.LastError().c_str());
  else if (terrain_.IsBuilding())
    SetTimer(kProgressTimer, kProgressMs);
  ResetCamera();
  lines_.clear();
  CKovraHomeExApp* app = GetApp();
  if (const auto* map = dynamic_cast<const CPDView*>(app ? app->FindView(kViewMap2D) : nullptr)) {
    map->CopyPolylinesTo3D([this](const CPolylineShape& shape) {
      auto line = std::make_unique<C3DLine>(shape);
      if (line->Buffer()) lines_.push_back(std::move(line));
    });
  }
  RefreshSatelliteLayer();
  Invalidate();
}

void C3DViewWnd::ResetCamera() {
  const TerrainGrid& g = terrain_.PlannedGrid();
  float centre[3] = {0, 0, 0};
  float radius = static_cast<float>(kEarthRadiusKm * 3.0);
  if (!g.whole_earth && g.rows > 0) {
    LngLatToXYZ(static_cast<float>(g.centre_lng), static_cast<float>(g.centre_lat), 0.0f, &centre[0], &centre[1],
                &centre[2]);
    const double span_km = std::max(g.rows, g.columns) * g.step * kMetresPerDegree * 0.001;
    radius = static_cast<float>(std::max(span_km * 0.9, 1.0));
  }
  // Yaw and pitch that turn the area's outward direction toward the camera.
  const double lng = g.rows > 0 ? g.centre_lng : kDefaultCameraLng, lat = g.rows > 0 ? g.centre_lat : kDefaultCameraLat;
  const float angles[2] = {static_cast<float>(lng), static_cast<float>(lat)};
  ArcBall().Init(centre, radius, angles);
}

size_t C3DViewWnd::SatelliteCount() const {
  std::lock_guard<std::mutex> lock(satellites_mutex_);
  return satellites_.size();
}

std::vector<std::pair<uint32_t, D3DXVECTOR3>> C3DViewWnd::SatellitePositions() const {
  std::lock_guard<std::mutex> lock(satellites_mutex_);
  std::vector<std::pair<uint32_t, D3DXVECTOR3>> out;
  for (const auto& s : satellites_) out.emplace_back(s->Elements().satellite_number, s->Position());
  return out;
}

void C3DViewWnd::RenderFrame() {
  IDirect3DDevice9* d = g_pD3DDevice;
  if (!d) return;
  d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000u, 1.0f, 0);
  d->SetRenderState(D3DRS_FILLMODE, static_cast<uint32_t>(g_D3DContext.FillMode()));
  // The scene's render step has set this frame's camera before drawing anything.
  d->SetTransform(D3DTS_WORLD, &world_);
  {
    std::lock_guard<std::mutex> lock(satellites_mutex_);
    for (const auto& satellite : satellites_) satellite->Draw();
  }
  d->SetTransform(D3DTS_WORLD, &world_);
  for (const auto& object : lines_) object->Draw();
  d->SetRenderState(D3DRS_LIGHTING, 0);
  d->SetTransform(D3DTS_WORLD, &world_);
  terrain_.Draw();
  d->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
  if (terrain_.IsBuilding())
    DrawText3D(("地形 " + std::to_string(static_cast<int>(terrain_.Progress() * 100)) + "%").c_str(), 0, 20,
               k3DViewTextColor);
  DrawText3D("Velmora", 0, 0, k3DViewTextColor);
}

void C3DViewWnd::OnMButtonDown(UINT flags, int x, int y) {
  ArcBall().Reset();
  ResetCamera();
  Invalidate();
  CRenderWnd::OnMButtonDown(flags, x, y);
}

void C3DViewWnd::OnLButtonDblClk() {
  CDlgTerrainSettings dialog(this, this);
  if (dialog.DoModal() == IDOK) Invalidate();
}

void C3DViewWnd::OnSaveX() {
  CFileDialog dialog(false, "x", "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, "x Model(*.x)|*.x||", this);
  if (dialog.DoModal() != IDOK || dialog.GetPathName().empty()) return;
  if (terrain_.SaveX(dialog.GetPathName()))
    MessageBox("Ok", kAppTitle, MB_OK);
  else
    MessageBox("三维模型保存失败: " + terrain_.LastError(), kAppTitle, MB_OK | MB_ICONERROR);
}

}  // namespace velmora

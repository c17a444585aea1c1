// IChildView: the interface through which the main frame drives every view it can show in its
// client area (2D map, 3D globe, 3D tiles, the two earth views, the web map page). The view kind
// tells views apart and is also the view's child window id.
#pragma once
#include <string>
#include <vector>

#include "platform/ui/ui_types.h"

namespace velmora {

class CCmdUI;
class CMapShape;
class CWnd;
class IScreenTerrainSource;
struct SatElements;

// View kinds (IChildView::GetViewKind).
constexpr int kViewMap2D = 0;
constexpr int kViewGlobe3D = 1;
constexpr int kViewTiles3D = 2;
constexpr int kViewEarthApp = 3;
constexpr int kViewEarthPlugin = 4;
constexpr int kViewWebMap = 5;

// The camera a view reports when it has none of its own.
constexpr double kDefaultCameraLng = 120.0;
constexpr double kDefaultCameraLat = 36.0;
constexpr double kDefaultCameraLevel = 10.0;

// ShowRegion's longitude value that means "no region".
constexpr float kNoRegion = 3.4028235e38f;

class IChildView {
 public:
  virtual ~IChildView() = default;
  virtual int GetViewKind() const = 0;
  // The view's name, also its window's name ("3DTileView", "GEAppView", ...).
  virtual std::string GetName() const = 0;
  // Creates the view's window as a child of `parent` named by GetName with the id GetViewKind.
  // The default does so through GetWnd.
  virtual bool CreateView(uint32_t style, CWnd* parent);
  // The window part of the view.
  virtual CWnd* GetWnd() = 0;
  // Appends the ids of the map sources this view shows.
  virtual void GetSourceIds(std::vector<int>& ids) const { (void)ids; }
  virtual void ZoomStep(int step) { (void)step; }
  // Receives another child view (it may take that view's camera); null re-reads own state.
  virtual void UpdateSatellites(IChildView* source) { (void)source; }
  virtual void GetCamera(double* lng, double* lat, double* level) const;
  // Centres the view on the point at the level; `history` pushes the position on the view
  // history.
  virtual void SetCamera(double lng, double lat, double level, bool history) {
    (void)lng, (void)lat, (void)level, (void)history;
  }
  virtual bool IsTileMode() const { return true; }
  // Shows a region (two corners); lon1 >= kNoRegion removes it.
  virtual void ShowRegion(float lon1, float lat1, float lon2, float lat2) {
    (void)lon1, (void)lat1, (void)lon2, (void)lat2;
  }
  virtual void ClearObjects() {}
  virtual void UpdateClearObjects(CCmdUI& cmd) { (void)cmd; }
  // Shows or hides one satellite.
  virtual void ShowSatellites(const SatElements& sat, bool shown) { (void)sat, (void)shown; }
  virtual void ImportKml(const std::string& path) { (void)path; }
  // Takes the shapes (ownership passes to the view, which deletes those it does not keep) and
  // returns non-zero; `centre` moves the camera to them. A view that returns 0 took nothing: the
  // shapes stay the caller's.
  virtual int LoadShapes(std::vector<CMapShape*>& shapes, bool centre);
  // The terrain the elevation tools sample in their screen mode (tiles/screen_terrain_source.h):
  // the earth views hand out theirs; null for views without one. The view owns it.
  virtual IScreenTerrainSource* GetScreenTerrainSource() { return nullptr; }
};

}  // namespace velmora

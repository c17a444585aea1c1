// CVEView: the web map page view (view kind 5, "VEView"). The main frame shows it in place of the
// 2D map; it hosts the program's page "msve" (a web map on OpenLayers 2 that draws the current
// map source's tiles from the local tile store, see WebMapTileResource) and drives its script:
// setCenter(lng, lat, zoom) when the application moves the camera, setPoints(text, kind) for the
// user's polylines and polygons, setPoints("null", 0) to clear them.
//
// Calls into a page people see are asynchronous: when the document completes the view asks the
// page which of its functions exist, and every later call goes out in order and reports back on
// the user-interface thread. Shapes are sent one call after another, so that the first failing
// call stops the rest.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "earth/ui/html_view_ex.h"
#include "view/child_view.h"

namespace velmora {

class CMapShape;

// The name of the page in the scrambled data files.
inline constexpr char kWebMapPageName[] = "msve";
// Shown when the page is missing; the view stays empty and the program goes on.
inline constexpr char kWebMapPageMissing[] = "缺少网页地图页面文件(msve.kmp),网页地图视图无法显示。";
// The host of the tile addresses the page loads: "velmora://tile/<source>/<z>/<x>/<y>".
inline constexpr char kWebMapTileHost[] = "tile";

// The text setPoints gets for one shape: for every point its longitude, ",", its latitude and
// " ", each number written as "%f" with trailing '0's and then a trailing '.' removed (the float
// widened to double first). Empty for a shape without points.
std::string WebMapPointsText(const CMapShape& shape);
// setPoints' kind of a shape: 2 for a polygon (40022), else 1.
int WebMapShapeKind(const CMapShape& shape);

// The map source the page shows: the 2D view's base layer when its projection is a spherical
// Web Mercator kind, else (or without a 2D view) the catalogue's first such map source; 0 when
// the catalogue holds none.
int WebMapSourceId();

// A tile for the page: `path` is "/<source>/<z>/<x>/<y>" (y counted from the north). The stored
// bytes of that tile of the local tile store with their image type, or nothing when the address
// is not a tile of a map source or the tile is not stored; in that case a running tile manager is
// asked for the tile, so that it is there when the page asks again. Any thread. Every CVEView
// registers it as the page resource source of kWebMapTileHost.
std::optional<PageResource> WebMapTileResource(std::string_view path);

class CVEView : public CHtmlViewEx, public IChildView {
 public:
  CVEView();
  ~CVEView() override;

  // ---- IChildView ----
  int GetViewKind() const override { return kViewWebMap; }
  std::string GetName() const override { return "VEView"; }
  bool CreateView(uint32_t style, CWnd* parent) override { return LoadPage(style, parent); }
  CWnd* GetWnd() override { return this; }
  void GetSourceIds(std::vector<int>& ids) const override { ids.push_back(kViewWebMap); }
  bool IsTileMode() const override { return true; }
  // Clamped as the Web-Mercator kinds are (longitude wrapped into [-180, 180), latitude into
  // [-90, 90), zoom 2-22.9), then setCenter(lng, lat, zoom truncated to an integer). A camera
  // set before the page is ready is sent when it is; without one the first page opens at the 2D
  // map view's camera.
  void SetCamera(double lng, double lat, double level, bool history) override;
  void ClearObjects() override { ClearPoints(); }
  // Sends the shapes to the page. The view keeps no shapes: when it sent them it deletes them
  // and returns 1; otherwise it returns 0 and they stay the caller's.
  int LoadShapes(std::vector<CMapShape*>& shapes, bool centre) override;

  // Creates the view window (0, 0, 500, 500) under `parent` with the id GetViewKind, navigates
  // to a blank document and loads "msve". False when the window cannot be made. A missing page
  // shows kWebMapPageMissing and leaves the view empty (true: the view exists).
  bool LoadPage(uint32_t style, CWnd* parent);

  // One setPoints call per shape with points, in list order, each after the previous one
  // answered; the first failing call stops the rest. False (nothing sent) when the page is not
  // ready, lacks setPoints, or no shape has points. `done` gets whether the last call made
  // succeeded (false at once when nothing was sent).
  bool SetPoints(const std::vector<const CMapShape*>& shapes, std::function<void(bool)> done = {});
  // setPoints("null", 0). False when the page is not ready or lacks setPoints.
  bool ClearPoints(std::function<void(bool)> done = {});

  // The page is loaded and its functions are known.
  bool IsPageReady() const { return ready_; }
  bool HasSetCenter() const { return has_set_center_; }
  bool HasSetPoints() const { return has_set_points_; }
  // The page was missing when the view was created.
  bool IsPageMissing() const { return page_missing_; }
  // Told each time the page became ready (tests and callers that wait for it).
  void SetReadyListener(std::function<void()> listener) { ready_listener_ = std::move(listener); }

 protected:
  void OnDocumentComplete(const std::string& url) override;
  void OnDestroy() override;

 private:
  struct PendingCamera {
    double lng, lat;
    int zoom;
  };
  void SendCenter(const PendingCamera& camera);
  void SendSource();
  void SendNextShape(std::shared_ptr<std::vector<std::pair<std::string, int>>> calls, size_t index,
                     std::function<void(bool)> done);

  bool ready_ = false;
  bool has_set_center_ = false;
  bool has_set_points_ = false;
  bool has_set_source_ = false;
  bool page_missing_ = false;
  bool page_pending_ = false;  // "msve" was handed to LoadHtml; its completion is next
  bool centred_once_ = false;  // the page was ready once (it then opened at the 2D map's camera)
  int generation_ = 0;         // counts documents, so that a late probe answer is dropped
  std::optional<PendingCamera> pending_camera_;
  std::function<void()> ready_listener_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velmora

// CPDView: the 2D map view (child view kind 0). A window of the window model that paints the tile
// engine's map into the canvas the front end hands it and turns mouse, wheel and key messages
// into camera moves: drag to pan, wheel to zoom about the cursor, arrows and +/- keys, the
// navigation control; the box tool (rubber band, then the area dialog) and the free-region tool.
// It reports its centre, level and the cursor position to the status bar and its positions to
// the view history through sinks the application sets (the view knows nothing of the shell),
// keeps its centre in the registry profile and the user's objects in the drawn-item database,
// and publishes its engine as the current map view (tiles/map_view_state.h).
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/window.h"
#include "shapes/polygon_shape.h"
#include "shapes/polyline_shape.h"
#include "view/child_view.h"
#include "view/select_tracker.h"
#include "view/tile_engine.h"

namespace velmora {

class CDrawItemDB;

// Where the view reports what the shell shows.
struct MapViewSinks {
  std::function<void(float lng, float lat, float level)> view_center;  // status bar panes 2 and 3
  std::function<void(float lng, float lat, float altitude)> cursor;    // status bar pane 1
  std::function<void(double lng, double lat, double level)> push_history;
  std::function<void(const std::string& text)> message;                // status bar message line
};

class CPDView : public CWnd, public IChildView {
 public:
  static constexpr const char* kName = "PDView";
  // Registry profile section of the saved centre ("Lng", "Lat", "Level") and base source.
  static constexpr const char* kProfileSection = "PDView";
  // Commands of the view that later dialogs take over (MapCommand on the view).
  static constexpr UINT ID_CONTOUR = 32711;
  static constexpr UINT ID_DEM_FETCH = 32768;
  // The frame's map tools, taken by the view when it is current: browse (drag pans), box (a
  // rubber band, then the area dialog), free region (clicks add corners, a double click closes
  // the ring, a right click clears it). The earth views map the same ids.
  static constexpr UINT ID_TOOL_BROWSE = 32749;
  static constexpr UINT ID_TOOL_BOX = 32716;
  static constexpr UINT ID_TOOL_REGION = 32779;
  // Zoom levels per wheel notch (120 units); finer wheels zoom in proportion.
  static constexpr double kWheelStep = 0.5;
  // A press and release closer than this many pixels is a click, not a drag.
  static constexpr int kClickSlop = 3;
  // Rubber bands narrower or lower than this are ignored.
  static constexpr int kMinBand = 11;

  enum class Tool { kPan, kBox, kRegion };

  // `db` null: the program's drawn-item database.
  explicit CPDView(MapViewSinks sinks = {}, TileEngineOptions options = {}, CDrawItemDB* db = nullptr);
  ~CPDView() override;

  // ---- IChildView ----
  int GetViewKind() const override { return kViewMap2D; }
  std::string GetName() const override { return kName; }
  CWnd* GetWnd() override { return this; }
  void GetSourceIds(std::vector<int>& ids) const override;
  void ZoomStep(int step) override;
  void GetCamera(double* lng, double* lat, double* level) const override;
  void SetCamera(double lng, double lat, double level, bool history) override;
  void ShowRegion(float lon1, float lat1, float lon2, float lat2) override;
  void ClearObjects() override;
  void UpdateClearObjects(CCmdUI& cmd) override;
  void ImportKml(const std::string& path) override;
  int LoadShapes(std::vector<CMapShape*>& shapes, bool centre) override;

  // ---- window ----
  bool OnPaint(CBitmap& canvas) override;
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;

  // ---- the map ----
  CTileEngine& Engine() { return engine_; }
  const CTileEngine& Engine() const { return engine_; }
  double GetZoom() const { return engine_.GetCamera().zoom; }
  // The base map (a source of the layer manager's catalogue, not a geocoder); kept in the
  // profile as the view's saved source. False (nothing changes) for an unknown id.
  bool SetBaseSource(int source_id);
  void SetSinks(MapViewSinks sinks) { sinks_ = std::move(sinks); }

  // ---- objects ----
  // A contour line (a polyline named `name`) on the tracks layer.
  void AddContourLine(const std::string& name, const std::vector<ShapePoint>& points);
  // Takes a shape for the tracks layer and redraws; false (the shape is destroyed) when it has
  // no point.
  bool AddTrackShapes(std::unique_ptr<CMapShape> shape, int reserved1 = 0, int reserved2 = 0);
  // The user's own object; with `store` it is kept in the drawn-item database. False when it
  // was refused, or could not be stored: then it is shown for this run only and the message
  // sink says so.
  bool AddObject(std::unique_ptr<CMapShape> shape, bool store);
  // Boundary regions: earlier ones removed first with `clear`; the camera fits them with
  // `centre`. Rings of fewer than three valid points are skipped.
  void ShowBoundary(const std::vector<std::vector<ShapePoint>>& polygons, bool clear, bool centre);
  // The same with polygons made by the caller (names and looks kept).
  void ShowBoundary(std::vector<std::unique_ptr<CPolygonShape>> polygons, bool clear, bool centre);
  // Hands every polyline (type 40021) to `make_line` (the 3D view makes its line objects);
  // returns how many.
  size_t CopyPolylinesTo3D(const std::function<void(const CPolylineShape&)>& make_line) const;
  // The shape the last click selected, or null.
  const CMapShape* SelectedShape() const { return selected_; }

  // ---- tools ----
  void SetTool(Tool tool);
  Tool GetTool() const { return tool_; }
  // The free region being drawn or the last one closed (null when none).
  CRegionShape* FreeRegion() { return region_.get(); }
  std::unique_ptr<CRegionShape> TakeFreeRegion() { return std::move(region_); }
  // What the box tool does with a band: by default the area dialog, then the region is shown.
  void SetBoxHandler(std::function<void(const float top_left[2], const float bottom_right[2])> handler);
  const CSelectTracker& Tracker() const { return tracker_; }

  // ---- weather ----
  void SetWeather(std::vector<std::string> lines, std::shared_ptr<const CBitmap> icon);
  void ShowWeather(bool shown);

 protected:
  int OnCreate() override;
  void OnDestroy() override;

 private:
  void ReportCenter();
  void ReportCursor(int x, int y);
  void SaveCamera() const;
  void Zoom(double new_zoom, double x, double y);
  void OnButtonDown(int x, int y);
  void OnMove(int x, int y, WPARAM flags);
  void OnButtonUp(int x, int y);
  void OnDoubleClick(int x, int y);
  void OnWheel(int delta, int x, int y);
  bool OnKey(UINT key);
  void OnBox(const RECT& band);

  MapViewSinks sinks_;
  CTileEngine engine_;
  CDrawItemDB* db_;
  Tool tool_ = Tool::kPan;
  CSelectTracker tracker_;
  std::unique_ptr<CRegionShape> region_;
  std::function<void(const float[2], const float[2])> box_handler_;
  const CMapShape* selected_ = nullptr;

  // The drag in progress.
  bool dragging_ = false;
  bool moved_ = false;
  int drag_x_ = 0, drag_y_ = 0;
  double drag_lng_ = 0, drag_lat_ = 0;
  // The last cursor position in the window (keys zoom about it), -1 when outside.
  int cursor_x_ = -1, cursor_y_ = -1;
};

// A 2D map view for the view registry (kind 0).
std::unique_ptr<IChildView> CreatePDView(MapViewSinks sinks);

}  // namespace velmora

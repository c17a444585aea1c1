// The 2D map view: messages to camera moves and tools, painting, the child-view slots, the
// saved centre and the stored objects.
#include "view/pd_view.h"

#include <algorithm>
#include <cmath>

#include "core/log.h"
#include "core/settings.h"
#include "platform/gfx/graphics.h"
#include "shapes/draw_item_db.h"
#include "view/dlg_area_setting.h"

namespace velmora {

CPDView::CPDView(MapViewSinks sinks, TileEngineOptions options, CDrawItemDB* db)
    : sinks_(std::move(sinks)), engine_(options), db_(db ? db : &DrawItemDB()) {
  engine_.SetRedrawSink([this] { Invalidate(); });
  const std::pair<UINT, Tool> tools[] = {{ID_TOOL_BROWSE, Tool::kPan}, {ID_TOOL_BOX, Tool::kBox}, {ID_TOOL_REGION, Tool::kRegion}};
  for (auto [id, tool] : tools) {
    MapCommand(id, [this, tool = tool] { SetTool(tool); });
    MapUpdateCommandUI(id, [this, tool = tool](CCmdUI& ui) { ui.SetCheck(tool_ == tool ? 1 : 0); });
  }
}

CPDView::~CPDView() {
  DestroyWindow();
  engine_.Stop();
  if (CurrentMapView() == &engine_) SetCurrentMapView(nullptr);
}

// ---- life ---------------------------------------------------------------------------------------

int CPDView::OnCreate() {
  // The centre and the base map of the last run.
  double lng = GetProfileDouble(kProfileSection, "Lng", CTileEngine::kDefaultLng);
  double lat = GetProfileDouble(kProfileSection, "Lat", CTileEngine::kDefaultLat);
  double level = GetProfileDouble(kProfileSection, "Level", CTileEngine::kDefaultZoom);
  int source = GetProfileInt(kProfileSection, "Source", -1);
  if (source >= 0) engine_.SetBaseSource(source);
  engine_.SetCamera(lng, lat, level);
  RECT r = GetWindowRect();
  engine_.SetWindowSize(r.Width(), r.Height());

  // The user's stored objects. A damaged database is reported by the database and left alone;
  // the objects then live for this run only.
  if (db_->IsOpen()) {
    std::vector<std::unique_ptr<CMapShape>> stored;
    if (db_->LoadItems("SELECT * FROM data ORDER BY id", stored) >= 0) engine_.Objects().Add(std::move(stored), false);
    engine_.Objects().SetDatabase(db_);
  } else if (sinks_.message) {
    std::string why = db_->LastError();
    sinks_.message("标注数据库无法使用" + (why.empty() ? std::string() : ": " + why));
  }
  SetCurrentMapView(&engine_);
  engine_.Start();
  ReportCenter();
  return 0;
}

void CPDView::OnDestroy() {
  engine_.Stop();
  SaveCamera();
  if (CurrentMapView() == &engine_) SetCurrentMapView(nullptr);
}

void CPDView::SaveCamera() const {
  MapCamera c = engine_.GetCamera();
  WriteProfileDouble(kProfileSection, "Lng", c.lng);
  WriteProfileDouble(kProfileSection, "Lat", c.lat);
  WriteProfileDouble(kProfileSection, "Level", c.zoom);
  WriteProfileInt(kProfileSection, "Source", engine_.BaseSourceId());
}

// ---- reports ------------------------------------------------------------------------------------

void CPDView::ReportCenter() {
  MapCamera c = engine_.GetCamera();
  if (sinks_.view_center) sinks_.view_center(float(c.lng), float(c.lat), float(c.zoom));
}

void CPDView::ReportCursor(int x, int y) {
  LngLat at = engine_.ScreenToLngLat(x, y);
  if (sinks_.cursor) sinks_.cursor(float(at.lng), float(at.lat), 0.0f);
}

// ---- painting -----------------------------------------------------------------------------------

bool CPDView::OnPaint(CBitmap& canvas) {
  engine_.Paint(canvas);
  CGraphics g(canvas);
  if (region_ && !region_->IsClosed()) region_->DrawPixelRing(g);
  else if (region_) region_->Draw(g, engine_.Projector());
  tracker_.Draw(g);
  return true;
}

// ---- messages -----------------------------------------------------------------------------------

LRESULT CPDView::WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  const int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
  switch (msg) {
    case WM_SIZE:
      engine_.SetWindowSize(static_cast<int>(LOWORD(static_cast<WPARAM>(lparam))),
                            static_cast<int>(HIWORD(static_cast<WPARAM>(lparam))));
      Invalidate();
      return 0;
    case WM_LBUTTONDOWN:
      OnButtonDown(x, y);
      return 0;
    case WM_MOUSEMOVE:
      OnMove(x, y, wparam);
      return 0;
    case WM_LBUTTONUP:
      OnButtonUp(x, y);
      return 0;
    case WM_LBUTTONDBLCLK:
      OnDoubleClick(x, y);
      return 0;
    case WM_RBUTTONUP:
      // A right click clears the free region (drawn or closed) and a band under way; with neither
      // it goes on to the message map (a mark's pop-up editor, say).
      if (region_ || tracker_.IsTracking()) {
        tracker_.Cancel();
        region_.reset();
        Invalidate();
        return 0;
      }
      break;
    case WM_MOUSEWHEEL:
      OnWheel(GET_WHEEL_DELTA_WPARAM(wparam), x, y);
      return 0;
    case WM_KEYDOWN:
      if (OnKey(static_cast<UINT>(wparam))) return 0;
      break;
    default:
      break;
  }
  return CWnd::WindowProc(msg, wparam, lparam);
}

void CPDView::Zoom(double new_zoom, double x, double y) {
  engine_.ZoomAt(new_zoom, x, y);
  ReportCenter();
  Invalidate();
}

void CPDView::OnButtonDown(int x, int y) {
  SetFocus();
  cursor_x_ = x, cursor_y_ = y;
  MapCamera c = engine_.GetCamera();
  switch (engine_.HitNavigation(x, y)) {
    case NavHit::kNone: break;
    case NavHit::kZoomIn: Zoom(std::floor(c.zoom + 1e-9) + 1, c.width * 0.5, c.height * 0.5); return;
    case NavHit::kZoomOut: Zoom(std::ceil(c.zoom - 1e-9) - 1, c.width * 0.5, c.height * 0.5); return;
    case NavHit::kPanNorth: engine_.PanBy(0, c.height / 4.0); ReportCenter(); Invalidate(); return;
    case NavHit::kPanSouth: engine_.PanBy(0, -c.height / 4.0); ReportCenter(); Invalidate(); return;
    case NavHit::kPanWest: engine_.PanBy(c.width / 4.0, 0); ReportCenter(); Invalidate(); return;
    case NavHit::kPanEast: engine_.PanBy(-c.width / 4.0, 0); ReportCenter(); Invalidate(); return;
  }
  switch (tool_) {
    case Tool::kPan:
      dragging_ = true;
      moved_ = false;
      drag_x_ = x, drag_y_ = y;
      drag_lng_ = c.lng, drag_lat_ = c.lat;
      break;
    case Tool::kBox:
      tracker_.TrackRubberBand(this, x, y, true);
      break;
    case Tool::kRegion: {
      if (!region_ || region_->IsClosed()) region_ = std::make_unique<CRegionShape>();
      region_->AddPixelPoint(float(x), float(y));
      LngLat at = engine_.ScreenToLngLat(x, y);
      region_->AddPoint(float(at.lng), float(at.lat));
      Invalidate();
      break;
    }
  }
}

void CPDView::OnMove(int x, int y, WPARAM flags) {
  cursor_x_ = x, cursor_y_ = y;
  if (dragging_) {
    if (!(LOWORD(flags) & MK_LBUTTON)) {
      // The button went up outside the window: the drag ends where it is.
      dragging_ = false;
      ReportCursor(x, y);
      return;
    }
    int dx = x - drag_x_, dy = y - drag_y_;
    if (std::abs(dx) + std::abs(dy) >= kClickSlop) moved_ = true;
    if (moved_) {
      engine_.PanFrom(drag_lng_, drag_lat_, dx, dy);
      ReportCenter();
      Invalidate();
    }
  } else if (tracker_.IsTracking()) {
    tracker_.OnMouseMove(x, y);
  }
  // After any pan, so that the readout names the point now under the cursor.
  ReportCursor(x, y);
}

void CPDView::OnButtonUp(int x, int y) {
  if (dragging_) {
    dragging_ = false;
    int dx = x - drag_x_, dy = y - drag_y_;
    if (moved_ || std::abs(dx) + std::abs(dy) >= kClickSlop) {
      engine_.PanFrom(drag_lng_, drag_lat_, dx, dy);
      ReportCenter();
      MapCamera c = engine_.GetCamera();
      if (sinks_.push_history) sinks_.push_history(c.lng, c.lat, c.zoom);
    } else {
      selected_ = engine_.HitTestShapes(x, y);
    }
    Invalidate();
    return;
  }
  if (tracker_.IsTracking()) {
    tracker_.OnButtonUp(x, y);
    RECT band = tracker_.NormalizedRect();
    if (band.Width() >= kMinBand && band.Height() >= kMinBand) OnBox(band);
    Invalidate();
  }
}

void CPDView::OnDoubleClick(int x, int y) {
  if (tool_ == Tool::kRegion && region_ && !region_->IsClosed()) {
    region_->ClosePixelRing();
    tool_ = Tool::kPan;
    Invalidate();
    return;
  }
  if (tool_ == Tool::kPan) Zoom(engine_.GetCamera().zoom + 1, x, y);
}

void CPDView::OnWheel(int delta, int x, int y) {
  if (delta == 0) return;
  Zoom(engine_.GetCamera().zoom + delta / 120.0 * kWheelStep, x, y);
}

bool CPDView::OnKey(UINT key) {
  MapCamera c = engine_.GetCamera();
  const bool inside = cursor_x_ >= 0 && cursor_y_ >= 0 && cursor_x_ < c.width && cursor_y_ < c.height;
  const double zx = inside ? cursor_x_ : c.width * 0.5, zy = inside ? cursor_y_ : c.height * 0.5;
  const double step_x = std::max(1, c.width / 8), step_y = std::max(1, c.height / 8);
  switch (key) {
    case VK_LEFT: engine_.PanBy(step_x, 0); break;
    case VK_RIGHT: engine_.PanBy(-step_x, 0); break;
    case VK_UP: engine_.PanBy(0, step_y); break;
    case VK_DOWN: engine_.PanBy(0, -step_y); break;
    case VK_ADD:
    case VK_PRIOR:
    case VK_OEM_PLUS:
      Zoom(c.zoom + 1, zx, zy);
      return true;
    case VK_SUBTRACT:
    case VK_NEXT:
    case VK_OEM_MINUS:
      Zoom(c.zoom - 1, zx, zy);
      return true;
    case VK_ESCAPE:
      tracker_.Cancel();
      if (region_ && !region_->IsClosed()) region_.reset();
      dragging_ = false;
      Invalidate();
      return true;
    default:
      return false;
  }
  ReportCenter();
  Invalidate();
  return true;
}

void CPDView::OnBox(const RECT& band) {
  LngLat tl = engine_.ScreenToLngLat(band.left, band.top);
  LngLat br = engine_.ScreenToLngLat(band.right, band.bottom);
  float top_left[2] = {float(tl.lng), float(tl.lat)};
  float bottom_right[2] = {float(br.lng), float(br.lat)};
  if (box_handler_) {
    box_handler_(top_left, bottom_right);
    return;
  }
  CDlgAreaSetting dialog(0, this, this);
  dialog.SetCorners(top_left[0], top_left[1], bottom_right[0], bottom_right[1]);
  if (dialog.DoModal() == IDOK) ShowRegion(dialog.m_lt[0], dialog.m_lt[1], dialog.m_rb[0], dialog.m_rb[1]);
}

bool CPDView::SetBaseSource(int source_id) {
  if (!engine_.SetBaseSource(source_id)) return false;
  if (IsWindow()) SaveCamera();
  ReportCenter();
  Invalidate();
  return true;
}

void CPDView::SetBoxHandler(std::function<void(const float[2], const float[2])> handler) {
  box_handler_ = std::move(handler);
}

void CPDView::SetTool(Tool tool) {
  tracker_.Cancel();
  dragging_ = false;
  tool_ = tool;
}

// ---- child-view slots ---------------------------------------------------------------------------

void CPDView::GetSourceIds(std::vector<int>& ids) const {
  for (const MapLayer& l : engine_.CopyLayerList())
    if (l.visible) ids.push_back(l.source_id);
}

void CPDView::ZoomStep(int step) {
  MapCamera c = engine_.GetCamera();
  Zoom(c.zoom + step, c.width * 0.5, c.height * 0.5);
}

void CPDView::GetCamera(double* lng, double* lat, double* level) const {
  MapCamera c = engine_.GetCamera();
  if (lng) *lng = c.lng;
  if (lat) *lat = c.lat;
  if (level) *level = c.zoom;
}

void CPDView::SetCamera(double lng, double lat, double level, bool history) {
  engine_.SetCamera(lng, lat, level);
  MapCamera c = engine_.GetCamera();
  if (history && sinks_.push_history) sinks_.push_history(c.lng, c.lat, c.zoom);
  if (IsWindow()) SaveCamera();
  ReportCenter();
  Invalidate();
}

void CPDView::ShowRegion(float lon1, float lat1, float lon2, float lat2) {
  engine_.ShowRegion(lon1, lat1, lon2, lat2);
  Invalidate();
}

void CPDView::ClearObjects() {
  selected_ = nullptr;
  engine_.Objects().Clear(false);
  engine_.Tracks().Clear(false);
  engine_.Boundaries().Clear(false);
  region_.reset();
  Invalidate();
}

void CPDView::UpdateClearObjects(CCmdUI& cmd) {
  cmd.Enable(engine_.Objects().Count() + engine_.Tracks().Count() + engine_.Boundaries().Count() > 0 || region_);
}

void CPDView::ImportKml(const std::string& path) {
  // KML files come in through the import tasks, which hand their shapes to LoadShapes.
  AppLog("map view: KML import of %s is left to the import tasks", path.c_str());
}

int CPDView::LoadShapes(std::vector<CMapShape*>& shapes, bool centre) {
  std::vector<std::unique_ptr<CMapShape>> owned;
  for (CMapShape*& s : shapes) {
    owned.emplace_back(s);
    s = nullptr;  // the view owns them now, also those it refuses (destroyed here)
  }
  shapes.clear();
  GeoBox box;
  for (const auto& s : owned) {
    if (!s) continue;
    GeoBox b = s->Bounds();
    if (!b.Empty()) box.Add(b.west, b.south), box.Add(b.east, b.north);
  }
  size_t taken = engine_.Tracks().Add(std::move(owned), false);
  if (centre && taken > 0) {
    engine_.FitBounds(box);
    ReportCenter();
  }
  Invalidate();
  return static_cast<int>(taken);
}

// ---- objects ------------------------------------------------------------------------------------

void CPDView::AddContourLine(const std::string& name, const std::vector<ShapePoint>& points) {
  auto line = std::make_unique<CPolylineShape>();
  line->SetName(name);
  line->SetPoints(points);
  line->editable = false;
  AddTrackShapes(std::move(line));
}

bool CPDView::AddTrackShapes(std::unique_ptr<CMapShape> shape, int, int) {
  bool taken = engine_.Tracks().Add(std::move(shape), false);
  Invalidate();
  return taken;
}

bool CPDView::AddObject(std::unique_ptr<CMapShape> shape, bool store) {
  bool stored = true;
  bool taken = engine_.Objects().Add(std::move(shape), store, &stored);
  Invalidate();
  if (taken && !stored) {
    // Shown for this run, but gone at the next start: the person must know.
    if (sinks_.message) sinks_.message(std::string(CDrawItemDB::kSaveFailedText) + ": " + db_->LastError());
    return false;
  }
  return taken;
}

void CPDView::ShowBoundary(const std::vector<std::vector<ShapePoint>>& polygons, bool clear, bool centre) {
  std::vector<std::unique_ptr<CPolygonShape>> shapes;
  for (const auto& ring : polygons) {
    auto polygon = std::make_unique<CPolygonShape>();
    polygon->SetPoints(ring);
    polygon->line_color = 0xFFE04040u;
    polygon->fill_color = 0x20E04040u;
    shapes.push_back(std::move(polygon));
  }
  ShowBoundary(std::move(shapes), clear, centre);
}

void CPDView::ShowBoundary(std::vector<std::unique_ptr<CPolygonShape>> polygons, bool clear, bool centre) {
  if (clear) engine_.Boundaries().Clear(false);
  std::vector<std::unique_ptr<CMapShape>> rings;
  GeoBox box;
  for (auto& polygon : polygons) {
    if (!polygon || polygon->PointCount() < 3) continue;
    polygon->editable = false;
    GeoBox b = polygon->Bounds();
    box.Add(b.west, b.south), box.Add(b.east, b.north);
    rings.push_back(std::move(polygon));
  }
  engine_.Boundaries().Add(std::move(rings), false);
  if (centre && !box.Empty()) {
    engine_.FitBounds(box);
    ReportCenter();
  }
  Invalidate();
}

size_t CPDView::CopyPolylinesTo3D(const std::function<void(const CPolylineShape&)>& make_line) const {
  std::vector<CMapShape*> lines;
  engine_.GetShapesByType(kShapePolyline, lines);
  for (CMapShape* s : lines) make_line(static_cast<const CPolylineShape&>(*s));
  return lines.size();
}

void CPDView::SetWeather(std::vector<std::string> lines, std::shared_ptr<const CBitmap> icon) {
  engine_.SetWeather(std::move(lines), std::move(icon));
  Invalidate();
}

void CPDView::ShowWeather(bool shown) {
  engine_.ShowWeather(shown);
  Invalidate();
}

std::unique_ptr<IChildView> CreatePDView(MapViewSinks sinks) { return std::make_unique<CPDView>(std::move(sinks)); }

}  // namespace velmora

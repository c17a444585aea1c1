// The earth application view: capture of the render window, region tools, camera exchange, the
// region boundary and the live satellites.
#include "earth/ui/ge_app_view.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "core/gdip_text_renderer.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/page_options.h"
#include "core/settings.h"
#include "earth/ge_mosaic_job.h"
#include "earth/ui/dlg_ge_features.h"
#include "earth/ui/dlg_ge_mosaic.h"
#include "earth/ui/earth_link.h"
#include "earth/ui/earth_page.h"
#include "earth/ui/earth_plugin_object.h"
#include "earth/ui/ge_mosaic_command.h"
#include "exchange/kml_file.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/graphics.h"
#include "platform/fs.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "shapes/polygon_shape.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/screen_dem_extract.h"
#include "view/dlg_area_setting.h"

namespace velmora {

namespace {

constexpr UINT_PTR kStateTimer = 1;
constexpr unsigned kStateTimerMs = 50;
constexpr int kCameraEveryTicks = 10;  // the camera is asked for every 500 ms
constexpr char kSatLibraryPanel[] = "卫星库";

// The first `count` numbers of a page answer (finite, read without the locale), or nothing.
std::optional<std::vector<double>> ParseNumbers(const std::optional<std::string>& text, size_t count) {
  if (!text) return std::nullopt;
  return ParsePluginNumbers(*text, count, ' ');
}

// The zoom of the 2D view (the default level without one): the export altitude's default.
double MapViewLevel() {
  double lng = 0, lat = 0, level = kDefaultCameraLevel;
  if (CKovraHomeExApp* app = GetApp())
    if (IChildView* map = app->Views().Find(kViewMap2D)) map->GetCamera(&lng, &lat, &level);
  return level;
}

const CBitmap& Logo() {
  static const CBitmap* logo = [] {
    auto* b = new CBitmap;  // shared by every view for the life of the process
    std::string why;
    if (!LoadImageFile(AppOptions().program_dir + "images/logo.png", b, &why)) AppLog("logo not loaded: %s", why.c_str());
    return b;
  }();
  return *logo;
}

}  // namespace

CGEAppView::CGEAppView() : feed_(AppOptions().data_dir) {
  camera_.lng = 120.0;
  camera_.lat = 36.0;
  camera_.range = 100000.0;
  MapTimer(kStateTimer, [this] { OnStateTimer(); });
  auto tool = [this](UINT id, int mode) {
    MapCommand(id, [this, mode] { SetMode(mode_ == mode ? kBrowse : mode); });
    MapUpdateCommandUI(id, [this, mode](CCmdUI& ui) { ui.SetCheck(mode_ == mode ? 1 : 0); });
  };
  tool(ID_GE_TOOL_MOSAIC, kFramedMosaic);
  tool(ID_GE_TOOL_DEM, kDemExport);
  tool(ID_GE_TOOL_REGION, kFreeRegion);
  MapCommand(ID_GE_TOOL_BROWSE, [this] {
    SetMode(kBrowse);
    DeleteRegion();
  });
  MapUpdateCommandUI(ID_GE_TOOL_BROWSE, [this](CCmdUI& ui) { ui.SetCheck(mode_ == kBrowse ? 1 : 0); });
  MapCommand(ID_GE_MOSAIC, [this] { OnMosaic(); });
  MapCommand(ID_GE_REGION_BOUND, [this] { OnRegionBound(); });
  MapUpdateCommandUI(ID_GE_REGION_BOUND, [this](CCmdUI& ui) {
    ui.Enable(GetPageOptions().dem.contour_method != 0 && region_ && region_->Points().size() > 1);
  });
  MapCommand(ID_GE_CAPTURE, [this] { Capture(); });
  MapCommand(ID_GE_RELEASE, [this] { Release(); });
}

CGEAppView::~CGEAppView() {
  if (IsWindow()) DestroyWindow();
  *alive_ = false;
}

bool CGEAppView::CreateView(uint32_t style, CWnd* parent) {
  return Create(parent, kViewEarthApp, kGEAppViewName, style, RECT{0, 0, 0, 0});
}

std::string CGEAppView::DataFolder() const { return AppOptions().data_dir; }

// ---- life ------------------------------------------------------------------------------------

int CGEAppView::OnCreate() {
  if (CMainFrame* frame = GetMainFrame())
    panel_ = dynamic_cast<CDlgGEFeatures*>(frame->FindSideBarPanel(kGEAppFeaturesPanel));
  if (CKovraHomeExApp* app = GetApp(); app && app->GetCurrentView()) previous_kind_ = app->GetCurrentView()->GetViewKind();
  const bool running = EarthApplication(false) != nullptr;
  link_ = EarthApplication(true);
  const EarthPageStatus status = link_ ? link_->Status() : EarthPageStatus::kFailed;
  if (status == EarthPageStatus::kFailed || status == EarthPageStatus::kGone) {
    // Known at once: no page file, no library, no engine that draws. No view is made.
    AppLog("earth application view: %s", link_ ? link_->Failure().c_str() : "no application window");
    link_.reset();
    if (!running) CloseEarthApplication();
    ShowMessageBox(kGEAppStartError, MB_OK | MB_ICONERROR);
    return -1;
  }
  // The application window stays hidden; the page comes into the view once it is up.
  if (!running)
    if (CWnd* window = EarthApplicationWindow()) window->ShowWindow(SW_HIDE);
  app_ = std::make_unique<CGoogleEarthApp>(link_, &stop_);
  SetTimer(kStateTimer, kStateTimerMs);
  if (AppOptions().satellite_switch) feed_.Start();
  return 0;
}

void CGEAppView::PreDestroyWindow() {
  // The page is the application's: it goes back before the view's children are destroyed.
  if (captured_) {
    RestoreEarthApplicationPage();
    if (CEarthPage* page = EarthApplicationPage()) page->EnableWindow(true);
    captured_ = false;
  }
}

void CGEAppView::OnDestroy() {
  KillTimer(kStateTimer);
  stop_.Set();
  tracker_.Cancel();
  if (link_) {
    // Our own application window: closed once when the option says so, else shown again.
    if (GetPageOptions().earth.close_earth_on_exit)
      CloseEarthApplication();
    else if (CWnd* window = EarthApplicationWindow())
      window->ShowWindow(SW_SHOW);
  }
  if (!feed_.Stop(kSatStopLimitMs)) AppLog("%s did not end in %u ms", kSatOrbitThreadName, kSatStopLimitMs);
  feed_.Clear();
  // An extraction sampling the application through this view stops before it goes.
  if (app_) CloseScreenDemExtract(app_.get());
  app_.reset();
  link_.reset();
  *alive_ = false;
  CWnd::OnDestroy();
}

bool CGEAppView::IsPageReady() const { return link_ && link_->Status() == EarthPageStatus::kReady; }

bool CGEAppView::IsCaptured() const {
  CEarthPage* page = EarthApplicationPage();
  return captured_ && page && page->GetParent() == this;
}

void CGEAppView::OnStateTimer() {
  if (!link_) return;
  const EarthPageStatus status = link_->Status();
  if (status == EarthPageStatus::kReady && !was_ready_) {
    was_ready_ = true;
    Capture();
    if (camera_pending_) {
      camera_pending_ = false;
      link_->Post("setCamera", {ScriptValue::Number(camera_.lat), ScriptValue::Number(camera_.lng), ScriptValue::Number(0),
                                ScriptValue::Number(1), ScriptValue::Number(camera_.range), ScriptValue::Number(0),
                                ScriptValue::Number(0), ScriptValue::Number(4.0)});
    }
    // Satellites shown before the page was up reach it now.
    if (feed_.Count() != 0) WriteSatellites();
    if (panel_) panel_->Fill(this);
    if (ready_listener_) ready_listener_();
  }
  if ((status == EarthPageStatus::kFailed || status == EarthPageStatus::kGone) && !failed_) {
    // A later failure (the page found no WebGL, or went away): told, and the previous view back.
    failed_ = true;
    AppLog("earth application view: %s", link_->Failure().c_str());
    if (captured_) Release();
    ShowMessageBox(kGEAppStartError, MB_OK | MB_ICONERROR);
    SwitchBack();
    return;
  }
  if (status != EarthPageStatus::kReady) return;
  static_assert(kStateTimerMs * kCameraEveryTicks == 500);
  if (++camera_tick_ % kCameraEveryTicks == 0 && !camera_asked_ && IsCaptured() && IsWindowVisible()) {
    camera_asked_ = true;
    std::weak_ptr<bool> alive = alive_;
    const uint64_t sets = camera_sets_;
    link_->CallAsync("camera", {}, [this, alive, sets](std::optional<std::string> answer) {
      if (alive.expired()) return;
      camera_asked_ = false;
      // An answer asked for before the latest camera we sent tells where the page was, not where
      // it is going: the camera we sent stands.
      if (sets == camera_sets_) OnCameraAnswer(answer);
    });
  }
  if (locate_start_) {
    const EarthPageState state = link_->State();
    const bool done = locate_seq_ != 0 && state.seq >= locate_seq_ && state.progress >= 100;
    if (done || TickCount64() - locate_start_ > kLocateTimeoutMs) {
      if (!done) AppLog("earth application view: the flight did not complete in %u ms", kLocateTimeoutMs);
      locate_start_ = 0;
      locate_seq_ = 0;
      if (CEarthPage* page = EarthApplicationPage(); page && IsCaptured()) page->EnableWindow(mode_ == kBrowse);
    }
  }
}

void CGEAppView::OnCameraAnswer(const std::optional<std::string>& answer) {
  std::optional<std::vector<double>> v = ParseNumbers(answer, 6);
  if (!v || locate_start_) return;  // a flight's camera is not the one to hand over yet
  camera_ = EarthCamera{(*v)[0], (*v)[1], (*v)[2], (*v)[3], (*v)[4], (*v)[5]};
}

void CGEAppView::SwitchBack() {
  CKovraHomeExApp* app = GetApp();
  if (!app || app->GetCurrentView() != this) return;
  if (previous_kind_ >= 0 && previous_kind_ != kViewEarthApp && app->SwitchView(previous_kind_)) return;
  if (app->Views().HasFactory(kViewMap2D)) app->SwitchView(kViewMap2D);
}

// ---- capture -----------------------------------------------------------------------------------

void CGEAppView::Capture() {
  CEarthPage* page = EarthApplicationPage();
  if (!page || IsCaptured()) return;
  home_ = page->GetParent();
  page->SetParent(this);
  captured_ = true;
  if (CWnd* window = EarthApplicationWindow()) window->ShowWindow(SW_HIDE);
  page->EnableWindow(mode_ == kBrowse && !locate_start_);
  RecalcLayout();
  DrawRegionOverlay();
  Invalidate();
}

void CGEAppView::Release() {
  if (!captured_) return;
  captured_ = false;
  RestoreEarthApplicationPage();
  if (CEarthPage* page = EarthApplicationPage()) page->EnableWindow(true);
  if (CWnd* window = EarthApplicationWindow()) window->ShowWindow(SW_SHOW);
  Invalidate();
}

void CGEAppView::RecalcLayout(int cx, int cy) {
  if (cx == 0 && cy == 0) {
    cx = width_;
    cy = height_;
    if (cx == 0 && cy == 0) {
      const RECT r = GetWindowRect();
      cx = r.Width();
      cy = r.Height();
    }
  }
  if (!IsCaptured() || cx <= 0 || cy <= 0) return;
  EarthApplicationPage()->MoveWindow(RECT{0, 0, cx, cy});
}

bool CGEAppView::OnPaint(CBitmap& canvas) {
  if (IsCaptured()) return false;  // the page shows the globe
  const int w = canvas.Width(), h = canvas.Height();
  CGraphics g(canvas);
  g.Clear(0xFF000000u);
  const CBitmap& logo = Logo();
  if (!logo.IsEmpty()) {
    const ColorKey key{0xFFFEFEFEu, 0xFFFFFFFFu};
    const GfxRect whole{0, 0, float(logo.Width()), float(logo.Height())};
    g.DrawImage(logo, GfxRect{float((w - logo.Width()) / 2), float((h - logo.Height()) / 2), whole.width, whole.height},
                whole, &key);
  }
  CGdipTextRenderer text;
  text.SelectColor(0xFFFFFF00u);
  text.DrawTextF(g, float(w / 2 - 45), 10.0f, "%s", kGEAppNotCaptured);
  return true;
}

// ---- page calls --------------------------------------------------------------------------------

void CGEAppView::CallPage(const std::string& name, std::vector<ScriptValue> args,
                          std::function<void(std::optional<std::string>)> done) {
  if (!link_) return;  // no page: nothing will answer
  std::weak_ptr<bool> alive = alive_;
  link_->CallAsync(name, std::move(args), [alive, done = std::move(done)](std::optional<std::string> answer) {
    if (!alive.expired() && done) done(std::move(answer));
  });
}

bool CGEAppView::OpenKmlAsync(const std::string& path) {
  std::string error;
  std::optional<std::string> url = PrepareEarthKml(path, &error);
  if (!url || !link_) {
    AppLog("earth application view: %s: %s", path.c_str(), url ? "no page" : error.c_str());
    return false;
  }
  link_->Post("openKml", {ScriptValue::String(*url)});
  return true;
}

// ---- camera ------------------------------------------------------------------------------------

void CGEAppView::GetCamera(double* lng, double* lat, double* level) const {
  *lng = camera_.lng;
  *lat = camera_.lat;
  *level = AltitudeToZoom(camera_.range);
}

void CGEAppView::SetCamera(double lng, double lat, double level, bool history) {
  ClampViewMercator(lng, lat, level);
  const double altitude = ZoomToAltitude(static_cast<float>(level));
  camera_ = EarthCamera{lng, lat, 0, altitude, 0, 0};
  ++camera_sets_;
  if (IsPageReady())
    link_->Post("setCamera", {ScriptValue::Number(lat), ScriptValue::Number(lng), ScriptValue::Number(altitude),
                              ScriptValue::Number(1), ScriptValue::Number(0), ScriptValue::Number(0),
                              ScriptValue::Number(0), ScriptValue::Number(4.0)});
  else
    camera_pending_ = true;
  if (history)
    if (CKovraHomeExApp* app = GetApp()) app->PushViewHistory(lng, lat, level);
  if (CEarthPage* page = EarthApplicationPage(); page && IsCaptured()) page->SetFocus();
}

void CGEAppView::LocateBound(float lon1, float lat1, float lon2, float lat2) {
  const double x1 = MercatorLngToX(lon1, 20), y1 = MercatorLatToY(lat1, 20);
  const double x2 = MercatorLngToX(lon2, 20), y2 = MercatorLatToY(lat2, 20);
  const double lng = MercatorXToLng((x1 + x2) / 2, 20), lat = MercatorYToLat((y1 + y2) / 2, 20);
  const double range = std::max(std::fabs(x2 - x1), std::fabs(y2 - y1)) * 0.8957464252169092;
  if (!IsPageReady()) return;
  if (CEarthPage* page = EarthApplicationPage(); page && IsCaptured()) page->EnableWindow(false);
  locate_start_ = std::max<uint64_t>(TickCount64(), 1);
  locate_seq_ = 0;
  camera_ = EarthCamera{lng, lat, 0, range, 0, 0};
  ++camera_sets_;
  CallPage("setCamera",
           {ScriptValue::Number(lat), ScriptValue::Number(lng), ScriptValue::Number(0), ScriptValue::Number(1),
            ScriptValue::Number(range), ScriptValue::Number(0), ScriptValue::Number(0), ScriptValue::Number(4.0)},
           [this](std::optional<std::string> answer) {
             if (!answer) {
               AppLog("earth application view: the flight was refused");
               locate_start_ = std::max<uint64_t>(1, TickCount64() - kLocateTimeoutMs - 1);  // ends at the next tick
               return;
             }
             locate_seq_ = std::max<uint64_t>(link_ ? link_->AnsweredSeq() : 1, 1);
           });
}

void CGEAppView::ShowRegion(float lon1, float lat1, float lon2, float lat2) {
  if (!GetPageOptions().earth.draw_region_frame || !link_) return;
  if (CEarthPage* page = EarthApplicationPage(); page && IsCaptured()) page->EnableWindow(mode_ == kBrowse);
  if (lon1 >= kNoRegion) {
    link_->Post("hideTemporary", {ScriptValue::String(kRegionBoundPrefix)});
    link_->Post("lookReset", {});
    return;
  }
  CPolygonShape ring;
  ring.AddPoint(lon1, lat1);
  ring.AddPoint(lon2, lat1);
  ring.AddPoint(lon2, lat2);
  ring.AddPoint(lon1, lat2);
  const std::string path = DataFolder() + kRegionBoundFile;
  std::string error;
  FILE* f = OpenKmlFile(path, {}, &error);
  if (!f || !ring.ExportKml(f) || !CloseKmlFile(f, &error)) {
    if (f) CloseKmlFile(f);
    AppLog("%s: %s", path.c_str(), error.c_str());
    return;
  }
  link_->Post("dropKml", {ScriptValue::String(kRegionBoundPrefix)});
  OpenKmlAsync(path);
}

void CGEAppView::ClearObjects() {
  if (link_) link_->Post("hideTemporary", {ScriptValue::Null()});
}

void CGEAppView::ImportKml(const std::string& path) { OpenKmlAsync(path); }

// ---- satellites --------------------------------------------------------------------------------

void CGEAppView::UpdateSatellites(IChildView* source) {
  if (CMainFrame* frame = GetMainFrame())
    if (auto* library = dynamic_cast<ISatelliteLibrary*>(frame->FindSideBarPanel(kSatLibraryPanel))) {
      feed_.Sync(library->ShownSatellites());
      WriteSatellites();
    }
  if (source && source != this) {
    double lng = 0, lat = 0, level = 0;
    source->GetCamera(&lng, &lat, &level);
    SetCamera(lng, lat, level, false);
  }
}

void CGEAppView::ShowSatellites(const SatElements& sat, bool shown) {
  feed_.Show(sat, shown);
  WriteSatellites();
}

void CGEAppView::WriteSatellites() {
  std::string error;
  if (!feed_.WriteOrbitFile(&error)) {
    AppLog("%s: %s", feed_.OrbitPath().c_str(), error.c_str());
    return;
  }
  if (link_) link_->Post("dropKml", {ScriptValue::String("s")});
  OpenKmlAsync(feed_.OrbitPath());
}

// ---- tools -------------------------------------------------------------------------------------

void CGEAppView::SetMode(int mode) {
  if (tracker_.IsTracking()) tracker_.Cancel();
  mode_ = mode;
  // The page takes no input in the region tools: the mouse reaches the view.
  if (CEarthPage* page = EarthApplicationPage(); page && IsCaptured()) page->EnableWindow(mode == kBrowse && !locate_start_);
  SetWindowCursor(mode == kFreeRegion                                  ? CursorKind::kFreeRegion
                  : mode == kFramedMosaic || mode == kDemExport ? CursorKind::kSelection
                                                                       : CursorKind::kDefault);
}

LRESULT CGEAppView::WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  const int x = static_cast<short>(LOWORD(lparam)), y = static_cast<short>(HIWORD(lparam));
  switch (msg) {
    case WM_SIZE:
      width_ = LOWORD(lparam);
      height_ = HIWORD(lparam);
      RecalcLayout(width_, height_);
      break;
    case WM_LBUTTONDOWN:
      if (mode_ == kFreeRegion) {
        AddRegionPoint(x, y);
        return 0;
      }
      if (mode_ == kFramedMosaic || mode_ == kDemExport) {
        tracker_.TrackRubberBand(this, x, y, true);
        return 0;
      }
      break;
    case WM_MOUSEMOVE:
      if (tracker_.IsTracking()) {
        tracker_.OnMouseMove(x, y);
        return 0;
      }
      break;
    case WM_LBUTTONUP:
      if (tracker_.IsTracking()) {
        tracker_.OnButtonUp(x, y);
        OnBandDone(tracker_.NormalizedRect());
        return 0;
      }
      break;
    case WM_RBUTTONDOWN:
      DeleteRegion();
      return 0;
    case WM_SETFOCUS:
      // The globe takes the keys.
      if (IsCaptured()) EarthApplicationPage()->SetFocus();
      break;
    default: break;
  }
  return CWnd::WindowProc(msg, wparam, lparam);
}

void CGEAppView::AddRegionPoint(int x, int y) {
  if (!region_) region_ = std::make_unique<CRegionShape>();
  CRegionShape* region = region_.get();
  CallPage("pickPixel", {ScriptValue::Number(x), ScriptValue::Number(y)},
           [this, region, x, y](std::optional<std::string> answer) {
             if (region_.get() != region) return;  // deleted meanwhile
             std::optional<std::vector<double>> p = ParseNumbers(answer, 3);
             if (!p) {
               AppLog("free region: no terrain under %d, %d", x, y);
               return;
             }
             region_->AddPixelPoint(float(x), float(y));
             region_->AddPoint(float((*p)[0]), float((*p)[1]));
             DrawRegionOverlay();
           });
}

void CGEAppView::DrawRegionOverlay() {
  if (!link_ || !IsPageReady()) return;
  std::vector<ScriptValue> xy;
  if (region_)
    for (const GfxPoint& p : region_->PixelPoints()) {
      xy.push_back(ScriptValue::Number(p.x));
      xy.push_back(ScriptValue::Number(p.y));
    }
  link_->Post("regionOverlay", std::move(xy));
}

void CGEAppView::DeleteRegion() {
  if (!region_) return;
  region_.reset();
  DrawRegionOverlay();
}

void CGEAppView::OnBandDone(const RECT& band) {
  if (band.right - band.left < kGEMinBand || band.bottom - band.top < kGEMinBand) return;
  const bool mosaic = mode_ == kFramedMosaic;
  // Both corners from the page, then the area dialog (posted: not inside a page answer).
  auto corners = std::make_shared<std::vector<double>>();
  auto next = [this, corners, band, mosaic](std::optional<std::string> answer) {
    std::optional<std::vector<double>> p = ParseNumbers(answer, 3);
    if (!p) {
      AppLog("earth application view: no terrain under the band's corner");
      SetMode(kBrowse);
      return;
    }
    corners->push_back((*p)[0]);
    corners->push_back((*p)[1]);
    if (corners->size() < 4) return;
    std::weak_ptr<bool> alive = alive_;
    UiDispatcher().PostCall([this, alive, corners, band, mosaic] {
      if (alive.expired()) return;
      double lt[2] = {(*corners)[0], (*corners)[1]}, rb[2] = {(*corners)[2], (*corners)[3]};
      RunAreaDialog(mosaic, band, lt, rb);
    });
  };
  CallPage("pickPixel", {ScriptValue::Number(band.left), ScriptValue::Number(band.top)}, next);
  CallPage("pickPixel", {ScriptValue::Number(band.right), ScriptValue::Number(band.bottom)}, next);
}

void CGEAppView::RunAreaDialog(bool mosaic, const RECT& band, double lt[2], double rb[2]) {
  CDlgAreaSetting area(0, mosaic ? this : nullptr, this);
  area.SetCorners(float(lt[0]), float(lt[1]), float(rb[0]), float(rb[1]));
  const float preset[4] = {area.m_lt[0], area.m_lt[1], area.m_rb[0], area.m_rb[1]};
  const bool ok = area.DoModal() == IDOK;
  SetMode(kBrowse);
  if (!ok) return;
  const std::string section = mosaic ? "exp" : "dem_exp";
  ProgramSettings().SetPointF(section + "lt", {area.m_lt[0], area.m_lt[1]});
  ProgramSettings().SetPointF(section + "br", {area.m_rb[0], area.m_rb[1]});
  if (mosaic) {
    std::error_code ec;
    std::filesystem::remove(DataFolder() + kGeResumeFile, ec);
    ExportImage(area.m_lt, area.m_rb);
    return;
  }
  const bool changed = area.m_lt[0] != preset[0] || area.m_lt[1] != preset[1] || area.m_rb[0] != preset[2] ||
                       area.m_rb[1] != preset[3];
  if (!changed) {
    const std::vector<LngLatF> ring = {{float(band.left), float(band.top)},
                                       {float(band.right), float(band.top)},
                                       {float(band.right), float(band.bottom)},
                                       {float(band.left), float(band.bottom)},
                                       {float(band.left), float(band.top)}};
    OpenScreenDemExtract(ring, app_.get());
    return;
  }
  // The person changed the corners: the page turns them into render-window pixels.
  const float w = area.m_lt[0], n = area.m_lt[1], e = area.m_rb[0], s = area.m_rb[1];
  const std::vector<std::pair<float, float>> corners = {{w, n}, {e, n}, {e, s}, {w, s}};
  struct Pending {
    LngLatF points[4];
    int answered = 0;
    bool failed = false;
  };
  auto pending = std::make_shared<Pending>();
  for (int i = 0; i < 4; ++i)
    CallPage("toPixel", {ScriptValue::Number(corners[i].first), ScriptValue::Number(corners[i].second)},
             [this, pending, i](std::optional<std::string> answer) {
               std::optional<std::vector<double>> p = ParseNumbers(answer, 2);
               if (p)
                 pending->points[i] = LngLatF{float((*p)[0]), float((*p)[1])};
               else
                 pending->failed = true;
               if (++pending->answered < 4) return;
               if (pending->failed) {
                 AppLog("elevation export: a corner of the area lies outside the view");
                 return;
               }
               std::vector<LngLatF> ring(pending->points, pending->points + 4);
               ring.push_back(ring.front());
               OpenScreenDemExtract(ring, app_.get());
             });
}

void CGEAppView::OnRegionBound() {
  if (!region_ || region_->Points().size() < 2) return;
  const std::string path = DataFolder() + kRegionBoundFile;
  std::string error;
  FILE* f = OpenKmlFile(path, {}, &error);
  if (f && region_->ExportKml(f) && CloseKmlFile(f, &error)) {
    if (link_) link_->Post("dropKml", {ScriptValue::String(kRegionBoundPrefix)});
    OpenKmlAsync(path);
  } else {
    if (f) CloseKmlFile(f);
    AppLog("%s: %s", path.c_str(), error.c_str());
  }
  std::vector<LngLatF> ring;
  for (const GfxPoint& p : region_->PixelPoints()) ring.push_back({p.x, p.y});
  if (!ring.empty() && (ring.front().lng != ring.back().lng || ring.front().lat != ring.back().lat))
    ring.push_back(ring.front());
  OpenScreenDemExtract(ring, app_.get());
  DeleteRegion();
  SetMode(kBrowse);
}

// ---- mosaic ------------------------------------------------------------------------------------

void CGEAppView::OnMosaic() {
  RunGeMosaicCommand(this, this, ZoomToAltitude(static_cast<float>(MapViewLevel() + 3)) / 1000.0,
                     [this] { RecalcLayout(); });
}

bool CGEAppView::ExportImage(const float lt[2], const float br[2]) {
  if (link_) link_->Post("lookReset", {});
  return GeExportImage(this, lt, br, ZoomToAltitude(static_cast<float>(MapViewLevel() + 3)) / 1000.0, nullptr,
                       [this] { RecalcLayout(); });
}

bool CGEAppView::OnExportImage(const std::string& path, const float lt[2], const float br[2], float altitude_m,
                               int delay_ms, bool full_screen, bool coordinates) {
  GeExportPreset preset;
  preset.path = path;
  preset.altitude_m = altitude_m;
  preset.delay_ms = delay_ms;
  preset.full_screen = full_screen;
  preset.coordinates = coordinates;
  if (link_) link_->Post("lookReset", {});
  return GeExportImage(this, lt, br, 0, &preset, [this] { RecalcLayout(); });
}

}  // namespace velmora

// ---- registration --------------------------------------------------------------------------------

namespace velmora {

bool ImportGeProject(const std::string& path) {
  std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(path);
  GeMosaicJob job;
  std::string layer, error;
  if (!bytes || !ParseGeProjectText(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()), &job,
                                    &layer, &error)) {
    AppLog("%s: %s", path.c_str(), bytes ? error.c_str() : "cannot be read");
    ShowMessageBox(kGeProjectUnreadable, MB_OK | MB_ICONERROR);
    return false;
  }
  if (layer != "GE") {
    ShowMessageBox(kGeProjectNotEarth, MB_OK | MB_ICONINFORMATION);
    return false;
  }
  CKovraHomeExApp* app = GetApp();
  auto* view = dynamic_cast<CGEAppView*>(app ? app->SwitchView(kViewEarthApp) : nullptr);
  if (!view) return false;
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const float lt[2] = {job.left, job.top}, br[2] = {job.right, job.bottom};
  return view->OnExportImage(folder + job.output_path, lt, br, job.altitude, static_cast<int>(job.delay_ms),
                             job.full_screen != 0, job.coordinates != 0);
}

namespace {

void RegisterTableEntries() {
  CCommandTable& table = AppCommands();
  // Capture and release: reached from the side panel's buttons, no menu item.
  for (UINT id : {ID_GE_CAPTURE, ID_GE_RELEASE}) {
    if (table.Find(id)) continue;
    AppCommand c;
    c.id = id;
    c.prompt = id == ID_GE_CAPTURE ? "把地球窗口放回视图中\n捕获" : "把地球窗口交还地球程序\n释放";
    table.Register(std::move(c));
  }
  AppCommand import;
  import.id = ID_GE_IMPORT_PROJECT;
  import.menu = "文件";
  import.text = "导入拼图工程...";
  import.prompt = "打开谷歌地球拼图工程(.kep),按工程设置重新拼图\n导入拼图工程";
  import.order = 60;
  import.handler = [] {
    CFileDialog file(true, "kep", "", OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, "拼图工程 (*.kep)|*.kep||");
    file.SetTitle(kGeImportProjectTitle);
    if (file.DoModal() == IDOK) ImportGeProject(file.GetPathName());
  };
  table.Register(std::move(import));
  // The switch to the view hands it the camera of the view it replaces.
  AppCommand view;
  if (std::optional<AppCommand> plain = table.Find(ID_VIEW_KIND_FIRST + kViewEarthApp)) view = *plain;
  view.id = ID_VIEW_KIND_FIRST + kViewEarthApp;
  if (view.menu.empty()) {
    view.menu = "视图";
    view.text = "谷歌地球";
    view.order = 100 + kViewEarthApp;
  }
  view.handler = [] {
    CKovraHomeExApp* app = GetApp();
    if (!app) return;
    IChildView* previous = app->GetCurrentView();
    IChildView* shown = app->SwitchView(kViewEarthApp);
    if (shown && previous && previous != shown) shown->UpdateSatellites(previous);
  };
  table.Register(std::move(view));
}

}  // namespace

void RegisterGEAppView(CKovraHomeExApp& app) {
  app.Views().RegisterFactory(kViewEarthApp, [] { return std::make_unique<CGEAppView>(); });
  AppStep step;
  step.name = "earth application view";
  step.phase = AppPhase::kFrame;
  auto tools = std::make_shared<std::vector<UINT>>();
  step.start = [tools](CKovraHomeExApp& a) {
    // The shared tools keep the entries another earth view registered first.
    *tools = RegisterEarthToolCommands();
    RegisterTableEntries();
    if (CMainFrame* frame = a.MainFrame(); frame && !frame->FindSideBarPanel(kGEFeaturesPanelName)) {
      auto panel = std::make_unique<CDlgGEFeatures>();
      if (panel->CreatePanel(frame)) frame->AddSideBarPanel(std::move(panel));
    }
    return true;
  };
  step.stop = [tools](CKovraHomeExApp&) {
    for (UINT id : *tools) AppCommands().Unregister(id);
    tools->clear();
    for (UINT id : {ID_GE_CAPTURE, ID_GE_RELEASE, ID_GE_IMPORT_PROJECT}) AppCommands().Unregister(id);
  };
  app.RegisterStep(std::move(step));
}

}  // namespace velmora

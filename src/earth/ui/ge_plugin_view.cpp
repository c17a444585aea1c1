// The plug-in view: its page and the page's messages, the camera, the mouse tools, the waiting
// screen and the registration of the view, its commands and the "地球插件" panel.
#include "earth/ui/ge_plugin_view.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <filesystem>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/log.h"
#include "core/settings.h"
#include "earth/ui/dlg_ge_plugin_options.h"
#include "earth/ui/gp_export_command.h"
#include "earth/ui/gp_plugin_export.h"
#include "earth/ui/region_bound.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/graphics.h"
#include "platform/gfx/image_codec.h"
#include "platform/ui/ui_dispatcher.h"
#include "shapes/polygon_shape.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "earth/ui/earth_tool_commands.h"
#include "shell/screen_dem_extract.h"
#include "tiles/map_view_state.h"
#include "view/dlg_area_setting.h"

namespace velmora {

namespace {

constexpr int kPageChildId = 1;
constexpr int kTrackerStyle = CSelectTracker::kSolidLine | CSelectTracker::kHatchedBorder | CSelectTracker::kResizeOutside;

void SaveCornersUnder(const char* section, const float lt[2], const float rb[2]) {
  ProgramSettings().SetPointF(std::string(section) + "lt", {lt[0], lt[1]});
  ProgramSettings().SetPointF(std::string(section) + "br", {rb[0], rb[1]});
}

// The logo of the data folder; the shipped copy seeds it there the first time.
bool LoadWaitingLogo(CBitmap* logo) {
  const std::string data = AppOptions().data_dir + CGEPluginView::kLogoImage;
  std::error_code ec;
  if (!std::filesystem::exists(data, ec)) {
    const std::string shipped = AppOptions().program_dir + CGEPluginView::kLogoImage;
    std::filesystem::create_directories(std::filesystem::path(data).parent_path(), ec);
    std::filesystem::copy_file(shipped, data, ec);
  }
  return LoadImageFile(data, logo);
}

}  // namespace

CGEPluginView::CGEPluginView() {
  MapCommand(ID_TOOL_BROWSE, [this] {
    SetTool(kToolBrowse);
    DeleteRegion();
  });
  MapCommand(ID_TOOL_BOX, [this] {
    ToggleTool(kToolBox);
    DeleteRegion();
  });
  MapCommand(ID_TOOL_DEM, [this] {
    ToggleTool(kToolDem);
    DeleteRegion();
  });
  MapCommand(ID_TOOL_REGION, [this] { SetTool(tool_mode_ == kToolRegion ? kToolBrowse : kToolRegion); });
  MapCommand(ID_MOSAIC, [this] { OnMosaic(); });
  MapCommand(ID_REGION_BOUND, [this] { OnRegionBound(); });
  auto check = [this](UINT id, int mode) {
    MapUpdateCommandUI(id, [this, mode](CCmdUI& ui) { ui.SetCheck(tool_mode_ == mode ? 1 : 0); });
  };
  check(ID_TOOL_BROWSE, kToolBrowse);
  check(ID_TOOL_BOX, kToolBox);
  check(ID_TOOL_DEM, kToolDem);
  check(ID_TOOL_REGION, kToolRegion);
  MapUpdateCommandUI(ID_REGION_BOUND, [this](CCmdUI& ui) { OnUpdateRegionBound(ui); });

  MapMessage(WM_SIZE, [this](WPARAM, LPARAM) -> LRESULT {
    PlaceChildren();
    return 0;
  });
  MapMessage(WM_LBUTTONDOWN, [this](WPARAM flags, LPARAM point) -> LRESULT {
    OnToolClick(static_cast<UINT>(flags), GET_X_LPARAM(point), GET_Y_LPARAM(point));
    return 0;
  });
  MapMessage(WM_MOUSEMOVE, [this](WPARAM, LPARAM point) -> LRESULT {
    if (tracker_ && tracker_->IsTracking()) {
      tracker_->OnMouseMove(GET_X_LPARAM(point), GET_Y_LPARAM(point));
      DrawOverlay();
    }
    return 0;
  });
  MapMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM point) -> LRESULT {
    if (tracker_ && tracker_->IsTracking()) {
      tracker_->OnButtonUp(GET_X_LPARAM(point), GET_Y_LPARAM(point));
      const RECT band = tracker_->NormalizedRect();
      DrawOverlay();
      OnBandDone(band);
    }
    return 0;
  });
  MapMessage(WM_RBUTTONDOWN, [this](WPARAM, LPARAM) -> LRESULT {
    // The free region tool: a right click clears the region.
    if (tool_mode_ == kToolRegion) DeleteRegion();
    return 0;
  });
  // Outside the move tool the wheel moves nothing.
  MapMessage(WM_MOUSEWHEEL, [](WPARAM, LPARAM) -> LRESULT { return 0; });
}

CGEPluginView::~CGEPluginView() {
  view_alive_.reset();
  if (IsWindow()) DestroyWindow();
}

bool CGEPluginView::CreateView(uint32_t style, CWnd* parent) {
  if (IsWindow()) return true;
  return Create(parent, GetViewKind(), GetName(), style | WS_CHILD, RECT{0, 0, 500, 500});
}

int CGEPluginView::OnCreate() {
  // The options panel of the side bar, when the frame has one.
  CMainFrame* frame = GetMainFrame();
  ISideBarPanel* panel = frame ? frame->FindSideBarPanel(kPanelName) : nullptr;
  SetOptionsPanel(panel ? panel->GetPanelWnd() : nullptr);
  ModifyStyleEx(WS_EX_CLIENTEDGE, 0);
  AttachMessageWindow(this);
  std::weak_ptr<bool> alive = view_alive_;
  page_.SetMessageListener([this, alive](const std::string& message) {
    if (alive.lock()) OnPageMessage(message);
  });
  page_.SetMouseTaker([this]() -> CWnd* { return tool_mode_ == kToolBrowse ? nullptr : this; });
  const RECT rect = GetWindowRect();
  page_.CreatePage(this, RECT{0, 0, std::max(1, rect.Width()), std::max(1, rect.Height())});
  // The page shows once the plug-in object is there; until then the waiting screen.
  page_.ShowWindow(SW_HIDE);
  return 0;
}

void CGEPluginView::OnDestroy() {
  // An extraction sampling this view stops before the view goes.
  CloseScreenDemExtract(static_cast<IScreenTerrainSource*>(this));
  SetPluginObject(nullptr);
  if (tracker_) tracker_->Cancel();
  region_.reset();
  CWnd::OnDestroy();
}

void CGEPluginView::PlaceChildren() {
  const RECT rect = GetWindowRect();
  if (page_.IsWindow()) page_.MoveWindow(RECT{0, 0, rect.Width(), rect.Height()});
}

void CGEPluginView::Reload() {
  SetPluginObject(nullptr);
  page_.ShowWindow(SW_HIDE);
  Invalidate();
  std::string error;
  std::optional<std::string> text = LoadEarthPageText(&error);
  if (!text || !page_.LoadHtml(*text)) AppLog("plug-in view: the page cannot be loaded again: %s", error.c_str());
}

// ---- the page's messages ----------------------------------------------------------------------

bool CGEPluginView::OnPageMessage(const std::string& message) {
  auto body = [&message](std::string_view name) -> std::optional<std::string> {
    if (message.size() > name.size() && message.compare(0, name.size(), name) == 0 && message[name.size()] == ' ')
      return message.substr(name.size() + 1);
    return std::nullopt;
  };
  bool ok = false;
  if (auto text = body("SetGEPluginObject")) {
    ok = SetGEPluginObject(*text);
  } else if (auto change = body("OnViewChange")) {
    ok = OnViewChange(*change);
  } else if (auto end = body("OnViewChangeEnd")) {
    ok = OnViewChangeEnd(*end);
  } else if (auto mouse = body("OnMouseCoordChange")) {
    ok = OnMouseCoordChange(*mouse);
  } else if (auto kml = body("ge:kml")) {
    std::optional<std::vector<double>> v = ParsePluginNumbers(*kml, 2, ' ');
    if ((ok = v.has_value())) OnKmlLoaded(static_cast<long long>((*v)[0]), (*v)[1] != 0);
  } else if (message == "ge:features") {
    FillFeatureTree();
    ok = true;
  }
  if (listener_) listener_(message);
  return ok;
}

bool CGEPluginView::SetGEPluginObject(const std::string& hand_over) {
  std::shared_ptr<CEarthPluginObject> plugin = CEarthPluginObject::FromHandOver(page_.Link(), hand_over);
  if (!plugin) return false;
  SetPluginObject(plugin);
  page_.ShowWindow(SW_SHOW);
  PlaceChildren();
  Invalidate();
  FillPanelOnHandOver();
  // A camera asked for before the object came is applied now, once; without one the globe opens
  // where the 2D map is.
  std::array<double, 3> camera = LastCamera();
  if (!camera_asked_) {
    if (IMapViewState* map = CurrentMapView()) {
      MapCamera c = map->GetCamera();
      ClampViewMercator(c.lng, c.lat, c.zoom);
      camera = {c.lng, c.lat, ZoomToAltitude(static_cast<float>(c.zoom))};
    }
  }
  camera_asked_ = false;
  SetLastCamera(camera[0], camera[1], camera[2]);
  plugin->SetLookAt(camera[0], camera[1], camera[2]);
  DrawOverlay();
  return true;
}

bool CGEPluginView::OnViewChange(const std::string& text) {
  std::optional<std::vector<double>> v = ParsePluginNumbers(text, 3, ',');
  if (!v) return false;
  MapStatusBar().SetViewCenter(static_cast<float>((*v)[0]), static_cast<float>((*v)[1]),
                               static_cast<float>(AltitudeToZoom((*v)[2])));
  return true;
}

bool CGEPluginView::OnViewChangeEnd(const std::string& text) {
  std::optional<std::vector<double>> v = ParsePluginNumbers(text, 3, ',');
  if (!v) return false;
  SetLastCamera((*v)[0], (*v)[1], (*v)[2]);
  ViewChangeEvent().Set();
  MapStatusBar().SetViewCenter(static_cast<float>((*v)[0]), static_cast<float>((*v)[1]),
                               static_cast<float>(AltitudeToZoom((*v)[2])));
  return true;
}

bool CGEPluginView::OnMouseCoordChange(const std::string& text) {
  std::optional<std::vector<double>> v = ParsePluginNumbers(text, 3, ',');
  if (!v) return false;
  MapStatusBar().SetCursorPos(static_cast<float>((*v)[0]), static_cast<float>((*v)[1]), static_cast<float>((*v)[2]));
  return true;
}

// ---- the camera -----------------------------------------------------------------------------

void CGEPluginView::UpdateSatellites(IChildView* source) {
  if (!source || source == this) return;
  double lng = 0, lat = 0, level = 0;
  source->GetCamera(&lng, &lat, &level);
  SetCamera(lng, lat, level, false);
}

void CGEPluginView::GetCamera(double* lng, double* lat, double* level) const {
  const std::array<double, 3> camera = LastCamera();
  *lng = camera[0];
  *lat = camera[1];
  *level = AltitudeToZoom(camera[2]);
}

void CGEPluginView::SetCamera(double lng, double lat, double level, bool history) {
  (void)history;
  ClampViewMercator(lng, lat, level);
  if (!std::isfinite(lng) || !std::isfinite(lat) || !std::isfinite(level)) return;
  const double alt = ZoomToAltitude(static_cast<float>(level));
  if (!PluginObject()) {
    SetLastCamera(lng, lat, alt);
    camera_asked_ = true;
    return;
  }
  PluginObject()->SetLookAt(lng, lat, alt);
}

// ---- tools ----------------------------------------------------------------------------------

void CGEPluginView::SetTool(int mode) {
  tool_mode_ = mode;
  if (tracker_ && tracker_->IsTracking() && mode != kToolBox && mode != kToolDem) tracker_->Cancel();
  DrawOverlay();
  Invalidate();
}

void CGEPluginView::ToggleTool(int mode) {
  if (!tracker_) tracker_ = std::make_unique<CSelectTracker>(kTrackerStyle, 8);
  SetTool(tool_mode_ == mode ? kToolBrowse : mode);
}

void CGEPluginView::DeleteRegion() {
  region_.reset();
  DrawOverlay();
  Invalidate();
}

void CGEPluginView::DrawOverlay() {
  if (!PluginObject()) return;
  std::string ring, band;
  if (region_) {
    for (const GfxPoint& p : region_->PixelPoints()) {
      if (!ring.empty()) ring += ' ';
      ring += FormatC("%g,%g", p.x, p.y);
    }
  }
  if (tracker_ && tracker_->IsTracking()) {
    const RECT r = tracker_->NormalizedRect();
    band = FormatC("%d %d %d %d", r.left, r.top, r.Width(), r.Height());
  }
  PluginObject()->DrawOverlay(ring, band);
}

void CGEPluginView::OnToolClick(UINT flags, int x, int y) {
  (void)flags;
  switch (tool_mode_) {
    case kToolRegion: {
      std::weak_ptr<bool> alive = view_alive_;
      HitTestAsync(x, y, false, [this, alive, x, y](std::optional<std::array<double, 3>> point) {
        if (!alive.lock() || !point || tool_mode_ != kToolRegion) return;
        if (!region_) region_ = std::make_unique<CRegionShape>();
        region_->AddPixelPoint(static_cast<float>(x), static_cast<float>(y));
        region_->AddPoint(static_cast<float>((*point)[0]), static_cast<float>((*point)[1]));
        DrawOverlay();
      });
      return;
    }
    case kToolBox:
    case kToolDem:
      if (band_busy_) return;
      if (!tracker_) tracker_ = std::make_unique<CSelectTracker>(kTrackerStyle, 8);
      tracker_->TrackRubberBand(this, x, y);
      return;
    default:
      return;
  }
}

void CGEPluginView::OnBandDone(const RECT& band) {
  if (band.Width() <= kMinBand || band.Height() <= kMinBand) return;  // the tool stays
  band_busy_ = true;
  const int mode = tool_mode_;
  std::weak_ptr<bool> alive = view_alive_;
  auto finish = [this, alive] {
    if (!alive.lock()) return;
    band_busy_ = false;
    SetTool(kToolBrowse);
  };
  HitTestAsync(band.left, band.top, false, [this, alive, band, mode, finish](std::optional<std::array<double, 3>> lt) {
    if (!alive.lock()) return;
    HitTestAsync(band.right, band.bottom, false, [this, alive, band, mode, finish, lt](std::optional<std::array<double, 3>> rb) {
      if (!alive.lock()) return;
      if (!lt || !rb) {
        AppLog("plug-in view: the band's corners show no globe");
        return finish();
      }
      CDlgAreaSetting area(mode == kToolBox ? 0 : 1, this, this);
      area.SetCorners(static_cast<float>((*lt)[0]), static_cast<float>((*lt)[1]), static_cast<float>((*rb)[0]),
                      static_cast<float>((*rb)[1]));
      const bool ok = area.DoModal() == IDOK;
      if (!alive.lock()) return;
      if (ok && mode == kToolBox) {
        SaveCornersUnder("exp", area.m_lt, area.m_rb);
        std::error_code ec;
        std::filesystem::remove(AppOptions().data_dir + "gp.exp", ec);
        finish();
        OnExport(area.m_lt, area.m_rb);
        return;
      }
      if (ok && mode == kToolDem) {
        SaveCornersUnder("dem_exp", area.m_lt, area.m_rb);
        const float l = static_cast<float>(band.left), t = static_cast<float>(band.top);
        const float r = static_cast<float>(band.right), b = static_cast<float>(band.bottom);
        const LngLatF ring[] = {{l, t}, {r, t}, {r, b}, {l, b}, {l, t}};
        finish();
        if (!OpenScreenDemExtract(ring, this)) AppLog("plug-in view: the elevation extraction is not there");
        return;
      }
      finish();
    });
  });
}

// ---- filled in by the export and the region overlay ------------------------------------------

namespace {

// The export's view of the plug-in view: its controller's calls, its page as the render window.
GpExportContext ExportContext(CGEPluginView& view, IGpExportPlugin& plugin) {
  GpExportContext context;
  context.plugin = &plugin;
  context.parent = &view;
  context.render_window = &view.Page();
  context.view = &view;
  context.get_center = [&view](double out[3]) { return view.GetCenter(out); };
  context.hide_overlay = [&view] { view.ShowRegionBound(kNoRegion, 0, 0, 0); };
  return context;
}

}  // namespace

void CGEPluginView::OnExport(const float* top_left, const float* bottom_right) {
  CGpPluginExport plugin(*this);
  OnGpExport(ExportContext(*this, plugin), top_left, bottom_right);
}

void CGEPluginView::OnMosaic() {
  CGpPluginExport plugin(*this);
  OnGpMosaic(ExportContext(*this, plugin));
}

void CGEPluginView::ShowRegionBound(float left, float top, float right, float bottom) {
  if (!HasPluginObject()) return;
  velmora::ShowRegionBound(PluginObject(), left >= kNoRegion ? FLT_MAX : left, top, right, bottom);
}

void CGEPluginView::OnRegionBound() {
  RunRegionBound(*this, region_);
  // Back to the move tool, as its command does.
  SetTool(kToolBrowse);
}

void CGEPluginView::OnUpdateRegionBound(CCmdUI& cmd) { cmd.Enable(RegionBoundEnabled(region_.get())); }

// ---- the waiting screen ---------------------------------------------------------------------

bool CGEPluginView::OnPaint(CBitmap& canvas) {
  if (HasPluginObject()) return false;
  CGraphics g(canvas);
  if (!g.IsValid()) return false;
  const int w = canvas.Width(), h = canvas.Height();
  g.Clear(0xFF000000u);
  CBitmap logo;
  if (LoadWaitingLogo(&logo)) {
    const ColorKey key{0xFFFEFEFEu, 0xFFFFFFFFu};
    const float x = static_cast<float>((w - logo.Width()) / 2), y = static_cast<float>((h - logo.Height()) / 2);
    g.DrawImage(logo, GfxRect{x, y, float(logo.Width()), float(logo.Height())},
                GfxRect{0, 0, float(logo.Width()), float(logo.Height())}, &key);
  }
  g.DrawString(kWaitText, CFont(), 0xFFFFFF00u, static_cast<float>(w / 2 - 45), 10.0f, 0);
  return true;
}

// ---- registration ---------------------------------------------------------------------------

void RegisterGEPluginView(CKovraHomeExApp& app) {
  app.Views().RegisterFactory(kViewEarthPlugin, [] { return std::make_unique<CGEPluginView>(); });
  auto registered = std::make_shared<std::vector<UINT>>();
  AppStep step;
  step.name = "earth plug-in view";
  step.phase = AppPhase::kFrame;
  step.start = [registered](CKovraHomeExApp& a) {
    // The ids other modules registered first keep their entries; the view maps its handlers.
    for (UINT id : RegisterEarthToolCommands()) registered->push_back(id);
    if (CMainFrame* frame = a.MainFrame(); frame && !frame->FindSideBarPanel(CGEPluginView::kPanelName)) {
      auto panel = std::make_unique<CDlgGEPluginOptions>();
      if (panel->CreatePanel(frame)) frame->AddSideBarPanel(std::move(panel));
    }
    return true;
  };
  step.stop = [registered](CKovraHomeExApp&) {
    for (UINT id : *registered) AppCommands().Unregister(id);
    registered->clear();
  };
  app.RegisterStep(std::move(step));
}

}  // namespace velmora

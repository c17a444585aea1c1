// The plug-in controller: operations on the user-interface thread over the plug-in object, the
// marshalled calls of workers, the capture, KML files, the feature tree and the options panel.
#include "earth/ui/ge_plugin_ctrl.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <thread>

#include "core/format.h"
#include "core/geodesy.h"
#include "core/imaging.h"
#include "core/log.h"
#include "earth/ui/earth_link.h"
#include "earth/ui/earth_page.h"
#include "platform/gfx/bitmap.h"
#include "platform/gfx/graphics.h"
#include "platform/ui/controls.h"
#include "platform/ui/tree_ctrl.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/window.h"

namespace velmora {

namespace {

constexpr int kCaptureLeftPx = 5, kCaptureTopPx = 70;
constexpr int kMinRenderWidth = 89, kMinRenderHeight = 164;
constexpr unsigned kPollMs = 10;

// The panel's check boxes, in the order Refresh reads them, with the option or layer behind each.
struct OptionBox {
  int id;
  const char* option;  // a display option of the page, or null for a layer
  const char* layer;   // the layer's constant
};
constexpr OptionBox kRefreshBoxes[] = {
    {1244, "atmosphere", nullptr},
    {1243, "grid", nullptr},
    {1247, "overviewMap", nullptr},
    {1235, "statusBar", nullptr},
    {1246, "scaleLegend", nullptr},
    {1236, "historicalImagery", nullptr},
    {1237, "sun", nullptr},
    {1240, nullptr, "LAYER_TERRAIN"},
    {1238, nullptr, "LAYER_BORDERS"},
    {1239, nullptr, "LAYER_ROADS"},
    {1241, nullptr, "LAYER_BUILDINGS"},
    {1245, nullptr, "LAYER_BUILDINGS_LOW_RESOLUTION"},
    {1242, nullptr, "LAYER_TREES"},
};

std::string LayerKey(const CEarthPluginObject& plugin, const char* layer) {
  return "layer" + FormatC("%.0f", plugin.Constant(layer, -1));
}

}  // namespace

std::string PluginErrorMessage(long code) {
  const unsigned long u = static_cast<unsigned long>(code) & 0xFFFFFFFFul;
  if (u >= 0x80040200ul && u <= 0x8004FFFFul) return FormatC("IDispatch error #%d", static_cast<int>(u - 0x80040200ul));
  switch (u) {
    case 0x80004003ul: return "Invalid pointer";
    case 0x80004005ul: return "Unspecified error";
    case 0x80004004ul: return "Operation aborted";
    default: return FormatC("Unknown error 0x%0lX", u);
  }
}

std::string CaptureCornerText(double lon, double lat) { return FormatC("%.7f, %7f", lon, lat); }

// ---- the shared record -------------------------------------------------------------------------

void GEPluginRequest::Finish(bool ok) {
  std::lock_guard lock(mutex_);
  if (done_) return;
  done_ = true;
  ok_ = ok;
  cv_.notify_all();
}

bool GEPluginRequest::Done() const {
  std::lock_guard lock(mutex_);
  return done_;
}

bool GEPluginRequest::Wait(const Event* quit, unsigned timeout_ms, const std::atomic<bool>* gone) {
  const uint64_t start = TickCount64();
  std::unique_lock lock(mutex_);
  while (!done_) {
    if (quit && quit->IsSet()) return false;
    if (gone && gone->load()) return false;
    if (TickCount64() - start > timeout_ms) return false;
    cv_.wait_for(lock, std::chrono::milliseconds(kPollMs));
  }
  return ok_;
}

// ---- life ------------------------------------------------------------------------------------

CGEPluginCtrl::CGEPluginCtrl() { plugin_gone_ = true; }

CGEPluginCtrl::~CGEPluginCtrl() {
  alive_.reset();
  has_plugin_ = false;
  plugin_gone_ = true;
  DropPending();
}

void CGEPluginCtrl::AttachMessageWindow(CWnd* window) {
  message_window_ = window ? window->GetSafeHwnd() : 0;
  if (window) window->MapMessage(kGEPluginRequestMessage, [this](WPARAM code, LPARAM block) { return OnUserRequest(code, block); });
}

void CGEPluginCtrl::SetPluginObject(std::shared_ptr<CEarthPluginObject> plugin) {
  plugin_ = std::move(plugin);
  {
    std::lock_guard lock(mutex_);
    link_plugin_ = plugin_;
  }
  has_plugin_ = plugin_ != nullptr;
  plugin_gone_ = plugin_ == nullptr;
  if (!plugin_) DropPending();
}

void CGEPluginCtrl::DropPending() {
  std::vector<std::weak_ptr<GEPluginRequest>> pending;
  {
    std::lock_guard lock(mutex_);
    pending.swap(pending_);
  }
  for (const std::weak_ptr<GEPluginRequest>& weak : pending)
    if (std::shared_ptr<GEPluginRequest> request = weak.lock()) request->Finish(false);
}

void CGEPluginCtrl::SetLastCamera(double lon, double lat, double alt) {
  std::lock_guard lock(mutex_);
  last_camera_ = {lon, lat, alt};
}

std::array<double, 3> CGEPluginCtrl::LastCamera() const {
  std::lock_guard lock(mutex_);
  return last_camera_;
}

bool CGEPluginCtrl::RenderSize(int* width, int* height) const {
  std::shared_ptr<CEarthPluginObject> plugin;
  {
    // The object pointer itself is the user-interface thread's; the link it holds is shared.
    std::lock_guard lock(mutex_);
    plugin = link_plugin_;
  }
  if (!plugin || !plugin->IsAlive()) return false;
  const EarthPageState state = plugin->Link()->State();
  if (state.width <= 0 || state.height <= 0) return false;
  *width = state.width;
  *height = state.height;
  return true;
}

HWND CGEPluginCtrl::RenderWindow() const {
  std::lock_guard lock(mutex_);
  return link_plugin_ ? link_plugin_->Link()->RenderWindow() : 0;
}

std::string CGEPluginCtrl::LastTrace() const {
  std::lock_guard lock(mutex_);
  return last_trace_;
}

void CGEPluginCtrl::TraceError(const char* operation, long code, const std::string& description) {
  std::string line = FormatC("%s [0x%08x], [%s], %s", operation, static_cast<unsigned>(code),
                             PluginErrorMessage(code).c_str(), description.c_str());
  Trace("%s", line.c_str());
  std::lock_guard lock(mutex_);
  last_trace_ = std::move(line);
}

// ---- marshalling -----------------------------------------------------------------------------

bool CGEPluginCtrl::Marshal(int code, const std::shared_ptr<GEPluginRequest>& request, const Event* quit) {
  if (UiDispatcher().IsUiThread()) {
    Start(code, request);
    return true;
  }
  const HWND window = message_window_.load();
  if (!window || !has_plugin_.load()) return false;
  {
    std::lock_guard lock(mutex_);
    std::erase_if(pending_, [](const std::weak_ptr<GEPluginRequest>& r) { return r.expired(); });
    pending_.push_back(request);
  }
  // The posted call holds the record: the handler gets it even when this worker gave up.
  UiDispatcher().PostCall([window, code, request] {
    if (UiDispatcher().IsWindow(window))
      UiDispatcher().SendMessage(window, kGEPluginRequestMessage, static_cast<WPARAM>(code),
                                 reinterpret_cast<LPARAM>(request.get()));
    if (!request->started) request->Finish(false);
  });
  return request->Wait(quit, call_timeout_ms_.load(), &plugin_gone_);
}

LRESULT CGEPluginCtrl::OnUserRequest(WPARAM code, LPARAM block) {
  auto* raw = reinterpret_cast<GEPluginRequest*>(block);
  if (!raw) return 1;
  const int op = static_cast<int>(code);
  if (!(op >= kGEPushCamera && op <= kGESetTerrainLayer) && op != kGEGetCenter && op != kGESetFlyToSpeed) return 1;
  std::shared_ptr<GEPluginRequest> request = raw->shared_from_this();
  Start(op, request);
  return 1;
}

void CGEPluginCtrl::Start(int code, const std::shared_ptr<GEPluginRequest>& r) {
  r->started = true;
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  if (!plugin) {
    r->Finish(false);
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  auto fail = [this, alive, r](const char* operation, const std::string& why) {
    if (operation && alive.lock()) TraceError(operation, kGECallError, why);
    r->Finish(false);
  };
  switch (code) {
    case kGEPushCamera:
      plugin->CopyAsCamera([this, alive, r, fail](std::optional<GEPluginCamera> camera) {
        if (!camera || !alive.lock()) return fail("gPushCamera Error", "the camera cannot be copied");
        saved_camera_ = *camera;
        r->Finish(true);
      });
      return;
    case kGEPopCamera:
      if (!saved_camera_) {
        r->Finish(true);
        return;
      }
      plugin->SetAbstractView(*saved_camera_, false, [r](bool ok) { r->Finish(ok); });
      return;
    case kGESetCameraParam: {
      const double lon = r->lon, lat = r->lat, alt = r->alt;
      if (!std::isfinite(lon) || !std::isfinite(lat) || !std::isfinite(alt) || std::fabs(lat) > 90)
        return fail("SetCameraParam Error", "camera values out of range");
      plugin->CopyAsCamera([plugin, r, fail, lon, lat, alt](std::optional<GEPluginCamera> camera) {
        if (!camera) return fail("SetCameraParam Error", "the camera cannot be copied");
        camera->lon = lon;
        camera->lat = lat;
        camera->alt = alt;
        plugin->SetAbstractView(*camera, false, [r, fail](bool ok) {
          if (!ok) return fail("SetCameraParam Error", "the view cannot be set");
          r->Finish(true);
        });
      });
      return;
    }
    case kGECoordByPos:
    case kGECoordByPosTerrain:
      plugin->HitTest(r->x, r->y, code == kGECoordByPosTerrain,
                      [r, fail](std::optional<std::array<double, 3>> point) {
        if (!point) return fail("GetCoordByPos Error", "no globe under the point");
        r->out[0] = (*point)[0];
        r->out[1] = (*point)[1];
        r->out[2] = (*point)[2];
        r->Finish(true);
      });
      return;
    case kGEMoveLT:
      MoveLTRound(r, 0);
      return;
    case kGEStreamingPercent:
      r->percent = plugin->GetStreamingPercent();
      r->Finish(true);
      return;
    case kGESetTerrainLayer: {
      const bool on = r->flag != 0;
      plugin->EnableLayerById(plugin->Constant("LAYER_TERRAIN", 1), on, [this, alive, r, on](bool ok) {
        if (!alive.lock()) return r->Finish(false);
        if (ok) layer_flags_ = on ? (layer_flags_.load() | kGELayerTerrain) : (layer_flags_.load() & ~kGELayerTerrain);
        Refresh();
        r->Finish(ok);
      });
      return;
    }
    case kGEGetCenter:
      plugin->CopyAsCamera([r, fail](std::optional<GEPluginCamera> camera) {
        if (!camera) return fail("GetCenter Error", "the camera cannot be copied");
        r->out[0] = camera->lon;
        r->out[1] = camera->lat;
        r->out[2] = camera->alt;
        r->Finish(true);
      });
      return;
    case kGESetFlyToSpeed:
      plugin->SetOption("flyToSpeed", FlyToSpeedOf(r->flag), [r](bool ok) { r->Finish(ok); });
      return;
    default:
      r->Finish(false);
  }
}

void CGEPluginCtrl::MoveLTRound(const std::shared_ptr<GEPluginRequest>& r, int round) {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  std::weak_ptr<bool> alive = alive_;
  auto fail = [this, alive, r](const std::string& why) {
    if (alive.lock()) TraceError("MoveLT Error", kGECallError, why);
    r->Finish(false);
  };
  int w = 0, h = 0;
  if (!plugin || !RenderSize(&w, &h)) return fail("no render window");
  const double lon = r->lon, lat = r->lat;
  plugin->HitTest(kCaptureLeftPx, kCaptureTopPx, false, [this, alive, plugin, r, fail, lon, lat, round](
                                                            std::optional<std::array<double, 3>> p) {
    if (!p || !alive.lock()) return fail("no globe under the corner");
    if (std::fabs((*p)[0] - lon) < kMoveLTTolerance && std::fabs((*p)[1] - lat) < kMoveLTTolerance)
      return r->Finish(true);
    if (round >= kMoveLTMaxRounds) return fail("the corner does not settle");
    plugin->CopyAsCamera([this, alive, plugin, r, fail, lon, lat, p, round](std::optional<GEPluginCamera> camera) {
      if (!camera || !alive.lock()) return fail("the camera cannot be copied");
      // The camera moves by the corner's miss: in longitude directly, in latitude in Mercator
      // pixels at zoom 20. Taken from the camera's own position (not from the point under the
      // centre pixel), so that an eye not exactly above that point still converges.
      camera->lon += lon - (*p)[0];
      camera->lat = MercatorYToLat(MercatorLatToY(camera->lat, 20) - MercatorLatToY((*p)[1], 20) + MercatorLatToY(lat, 20), 20);
      // Each round jumps, so that the next probe sees where the camera is.
      plugin->SetAbstractView(*camera, true, [this, alive, r, fail, round](bool ok) {
        if (!ok || !alive.lock()) return fail("the view cannot be set");
        MoveLTRound(r, round + 1);
      });
    });
  });
}

double CGEPluginCtrl::FlyToSpeedOf(int index) const {
  if (index == -1) return plugin_ ? plugin_->Constant("SPEED_TELEPORT", 5) : 5;
  if (index == -2) {
    int selection = 0;
    if (panel_)
      if (auto* combo = panel_->GetDlgItemAs<CComboBox>(1227)) selection = std::max(0, combo->GetCurSel());
    return selection * 0.5;
  }
  return index * 0.5;
}

// ---- the operations' entry points ---------------------------------------------------------------

bool CGEPluginCtrl::GetCoordByPos(int x, int y, EarthCoordRecord& record, const Event* quit) {
  if (UiDispatcher().IsUiThread()) return false;  // the answer would come later
  auto r = std::make_shared<GEPluginRequest>();
  r->x = x;
  r->y = y;
  if (!Marshal(kGECoordByPos, r, quit)) return false;
  record.lng = r->out[0];
  record.lat = r->out[1];
  return true;
}

bool CGEPluginCtrl::GetCoordByPos(int x, int y, double out[3], const Event* quit) {
  if (UiDispatcher().IsUiThread()) return false;
  auto r = std::make_shared<GEPluginRequest>();
  r->x = x;
  r->y = y;
  if (!Marshal(kGECoordByPosTerrain, r, quit)) return false;
  out[0] = r->out[0];
  out[1] = r->out[1];
  out[2] = r->out[2];
  return true;
}

bool CGEPluginCtrl::PushCamera(const Event* quit) {
  return Marshal(kGEPushCamera, std::make_shared<GEPluginRequest>(), quit);
}

bool CGEPluginCtrl::PopCamera(const Event* quit) {
  return Marshal(kGEPopCamera, std::make_shared<GEPluginRequest>(), quit);
}

bool CGEPluginCtrl::SetCameraParam(double lon, double lat, double alt, int flag, const Event* quit) {
  auto r = std::make_shared<GEPluginRequest>();
  r->lon = lon;
  r->lat = lat;
  r->alt = alt;
  r->flag = flag;
  return Marshal(kGESetCameraParam, r, quit);
}

bool CGEPluginCtrl::MoveLT(double lon, double lat, int word, const Event* quit) {
  if (UiDispatcher().IsUiThread()) return false;
  auto r = std::make_shared<GEPluginRequest>();
  r->lon = lon;
  r->lat = lat;
  r->flag = word;
  return Marshal(kGEMoveLT, r, quit);
}

double CGEPluginCtrl::GetStreamingPercent(const Event* quit) {
  auto r = std::make_shared<GEPluginRequest>();
  if (!Marshal(kGEStreamingPercent, r, quit) || !r->Done()) return 0.0;
  return r->percent;
}

bool CGEPluginCtrl::SetTerrainLayer(bool on, const Event* quit) {
  auto r = std::make_shared<GEPluginRequest>();
  r->flag = on ? 1 : 0;
  return Marshal(kGESetTerrainLayer, r, quit);
}

bool CGEPluginCtrl::GetCenter(double out[3], const Event* quit) {
  if (UiDispatcher().IsUiThread()) {
    if (!plugin_) return false;
    const std::array<double, 3> last = LastCamera();
    out[0] = last[0];
    out[1] = last[1];
    out[2] = last[2];
    return true;
  }
  auto r = std::make_shared<GEPluginRequest>();
  if (!Marshal(kGEGetCenter, r, quit)) return false;
  out[0] = r->out[0];
  out[1] = r->out[1];
  out[2] = r->out[2];
  return true;
}

bool CGEPluginCtrl::SetFlyToSpeed(int index, const Event* quit) {
  auto r = std::make_shared<GEPluginRequest>();
  r->flag = index;
  return Marshal(kGESetFlyToSpeed, r, quit);
}

bool CGEPluginCtrl::GetCaptureBounds(double* left, double* top, double* right, double* bottom, const Event* quit) {
  int w = 0, h = 0;
  if (!RenderSize(&w, &h)) return false;
  EarthCoordRecord a, b;
  // Both corners or nothing: a failed corner never leaves the other's or older numbers behind.
  if (!GetCoordByPos(kCaptureLeftPx, kCaptureTopPx, a, quit) || !GetCoordByPos(w - 83, h - 93, b, quit)) return false;
  *left = a.lng;
  *top = a.lat;
  *right = b.lng;
  *bottom = b.lat;
  return true;
}

double CGEPluginCtrl::GetCaptureCornerLat(const Event* quit) {
  int w = 0, h = 0;
  EarthCoordRecord r;
  if (!RenderSize(&w, &h) || !GetCoordByPos(kCaptureLeftPx, h - 93, r, quit)) return std::numeric_limits<double>::quiet_NaN();
  return r.lat;
}

double CGEPluginCtrl::GetCaptureCornerLon(const Event* quit) {
  int w = 0, h = 0;
  EarthCoordRecord r;
  if (!RenderSize(&w, &h) || !GetCoordByPos(w - 83, kCaptureTopPx, r, quit)) return std::numeric_limits<double>::quiet_NaN();
  return r.lng;
}

std::unique_ptr<CBitmap> CGEPluginCtrl::CaptureRender(const Event* quit) {
  if (UiDispatcher().IsUiThread()) return nullptr;
  int w = 0, h = 0;
  if (!RenderSize(&w, &h) || w < kMinRenderWidth || h < kMinRenderHeight) return nullptr;
  double left = 0, top = 0, right = 0, bottom = 0;
  if (!GetCaptureBounds(&left, &top, &right, &bottom, quit)) return nullptr;
  std::shared_ptr<CEarthPluginObject> plugin;
  {
    std::lock_guard lock(mutex_);
    plugin = link_plugin_;
  }
  if (!plugin) return nullptr;
  CBitmap whole;
  std::string error;
  if (!plugin->Link()->Grab(&whole, quit, call_timeout_ms_.load(), &error)) {
    AppLog("plug-in capture: %s", error.c_str());
    return nullptr;
  }
  if (whole.Width() < kMinRenderWidth || whole.Height() < kMinRenderHeight) return nullptr;
  const int width = whole.Width() - 88, height = whole.Height() - 163;
  auto picture = std::make_unique<CBitmap>(whole.Crop(kCaptureLeftPx, kCaptureTopPx, width, height));
  if (picture->IsEmpty()) return nullptr;
  {
    CGraphics g(*picture);
    g.SetAntialias(false);
    // The frame's lines on the pixels 5 and width - 6 (height - 6), as a rectangle from (5, 5) to
    // (width - 5, height - 5) covers them.
    g.DrawRectangle(Pen{0xFF000000u, 1.0f}, GfxRect{5.5f, 5.5f, float(width - 11), float(height - 11)});
    const CFont font("Microsoft Sans Serif", 13);
    g.DrawString(CaptureCornerText(left, top), font, 0xFFFFFF00u, 0, 0, 0);
    g.DrawString(CaptureCornerText(right, bottom), font, 0xFFFFFF00u, 0, float(height - 20), 0);
  }
  StampLogo(*picture, width / 256, height / 256);
  return picture;
}

bool CGEPluginCtrl::WaitStreaming(const Event* quit, unsigned timeout_ms) {
  const uint64_t start = TickCount64();
  std::shared_ptr<CEarthPluginObject> plugin;
  {
    std::lock_guard lock(mutex_);
    plugin = link_plugin_;
  }
  // Two rounds of a frame asked for and a progress of 100 after it: the frames that follow a
  // camera change are the ones that ask for the new tiles, so a progress from before them may
  // still read 100.
  const int rounds = UiDispatcher().IsUiThread() ? 1 : 2;
  for (int round = 0; round < rounds; ++round) {
    if (!plugin || !has_plugin_.load()) return false;
    if (!UiDispatcher().IsUiThread() && !plugin->Link()->Call("frame", {}, quit, timeout_ms)) return false;
    for (;;) {
      if (!has_plugin_.load()) return false;
      if (GetStreamingPercent(quit) >= 100.0) break;
      if (quit && quit->IsSet()) return false;
      if (TickCount64() - start > timeout_ms) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
  }
  return true;
}

// ---- the user-interface thread's operations ---------------------------------------------------

void CGEPluginCtrl::LookReset() {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  if (!plugin) return;
  std::weak_ptr<bool> alive = alive_;
  plugin->CopyAsCamera([this, alive, plugin](std::optional<GEPluginCamera> camera) {
    if (!alive.lock()) return;
    if (!camera) return TraceError("LookReset Error", kGECallError, "the camera cannot be copied");
    camera->heading = camera->tilt = camera->roll = 0.0;
    plugin->SetAbstractView(*camera, false);
  });
}

void CGEPluginCtrl::HitTestAsync(int x, int y, bool terrain,
                                 std::function<void(std::optional<std::array<double, 3>>)> done) {
  if (!plugin_) {
    UiDispatcher().PostCall([done] {
      if (done) done(std::nullopt);
    });
    return;
  }
  plugin_->HitTest(x, y, terrain, std::move(done));
}

bool CGEPluginCtrl::OpenKmz(const std::string& path, std::function<void(bool)> done) {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  auto refuse = [this](const std::string& why) {
    TraceError("OpenKmz Error", kGECallError, why);
    return false;
  };
  if (!plugin) return refuse("no plug-in object");
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  if (ec) return refuse("the file cannot be opened: " + path);
  if (size > kMaxPluginKmlBytes) return refuse("the file is larger than " + std::to_string(kMaxPluginKmlBytes >> 20) + " MB: " + path);
  std::string error;
  std::optional<std::string> url = PrepareEarthKml(path, &error, kMaxPluginKmlBytes);
  if (!url) return refuse(error);
  std::weak_ptr<bool> alive = alive_;
  plugin->ParseKml(*url, [this, alive, done](std::optional<long long> token) {
    if (!alive.lock()) return;
    if (!token) {
      TraceError("OpenKmz Error", kGECallError, "the page refused the file");
      if (done) done(false);
      return;
    }
    // The page's report of the file may have come before this answer (they travel apart).
    if (auto early = kml_early_.find(*token); early != kml_early_.end()) {
      const bool added = early->second;
      kml_early_.erase(early);
      FinishKml(done, added);
      return;
    }
    kml_waiting_[*token] = done ? done : [](bool) {};
  });
  return true;
}

void CGEPluginCtrl::OnKmlLoaded(long long token, bool added) {
  auto it = kml_waiting_.find(token);
  if (it == kml_waiting_.end()) {
    // Not asked for yet: kept for the answer that names it (a few at most; the oldest go).
    kml_early_[token] = added;
    while (kml_early_.size() > 16) kml_early_.erase(kml_early_.begin());
    return;
  }
  std::function<void(bool)> done = std::move(it->second);
  kml_waiting_.erase(it);
  FinishKml(done, added);
}

void CGEPluginCtrl::FinishKml(const std::function<void(bool)>& done, bool added) {
  if (!added) TraceError("OpenKmz Error", kGECallError, "the plug-in cannot parse the file");
  if (added) Refresh();
  if (done) done(added);
}

void CGEPluginCtrl::SetOption(int id, int value) {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  if (!plugin || id < 1235 || id > 1248) return;
  const bool on = value != 0;
  std::weak_ptr<bool> alive = alive_;
  auto then = [this, alive](bool) {
    if (alive.lock()) Refresh();
  };
  switch (id) {
    case 1235: plugin->SetOption("statusBar", on, then); return;
    case 1236:
      plugin->SetOption("historicalImagery", on);
      plugin->SetOption("timeControl", on, then);
      return;
    case 1237: plugin->SetOption("sun", on, then); return;
    case 1238: plugin->EnableLayerById(plugin->Constant("LAYER_BORDERS", 2), on, then); return;
    case 1239: plugin->EnableLayerById(plugin->Constant("LAYER_ROADS", 3), on, then); return;
    case 1240: SetTerrainLayer(on); return;  // refreshes itself
    case 1241: plugin->EnableLayerById(plugin->Constant("LAYER_BUILDINGS", 4), on, then); return;
    case 1242: plugin->EnableLayerById(plugin->Constant("LAYER_TREES", 6), on, then); return;
    case 1243: plugin->SetOption("grid", on, then); return;
    case 1244: plugin->SetOption("atmosphere", on, then); return;
    case 1245: plugin->EnableLayerById(plugin->Constant("LAYER_BUILDINGS_LOW_RESOLUTION", 5), on, then); return;
    case 1246: plugin->SetOption("scaleLegend", on, then); return;
    case 1247: plugin->SetOption("overviewMap", on, then); return;
    case 1248: plugin->SetOption("flyToSpeed", FlyToSpeedOf(on ? -1 : -2), then); return;
    default: return;
  }
}

void CGEPluginCtrl::SetTerrainExaggeration(int index) {
  if (plugin_) plugin_->SetOption("terrainExaggeration", index * 0.2 + 1.0);
}

void CGEPluginCtrl::SetMapMode(int index) {
  if (!plugin_ || (index != 0 && index != 1)) return;
  plugin_->SetOption("mapType", index == 0 ? plugin_->Constant("MAP_TYPE_EARTH", 1) : plugin_->Constant("MAP_TYPE_SKY", 2));
}

void CGEPluginCtrl::SetNavigationControl(int index) {
  if (!plugin_ || index < 0 || index > 2) return;
  static const char* const kNames[] = {"VISIBILITY_SHOW", "VISIBILITY_AUTO", "VISIBILITY_HIDE"};
  static const double kDefaults[] = {1, 2, 0};
  plugin_->SetOption("navigationControl", plugin_->Constant(kNames[index], kDefaults[index]));
}

void CGEPluginCtrl::Refresh(std::function<void()> done) {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  if (!plugin) {
    if (done) done();
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  plugin->GetOptions([this, alive, plugin, done](std::optional<std::map<std::string, double>> options) {
    if (!alive.lock()) return;
    if (!options) {
      if (done) done();
      return;
    }
    auto value = [&](const std::string& key) {
      auto it = options->find(key);
      return it != options->end() && it->second != 0;
    };
    uint32_t flags = 0;
    if (value(LayerKey(*plugin, "LAYER_TERRAIN"))) flags |= kGELayerTerrain;
    if (value(LayerKey(*plugin, "LAYER_BORDERS"))) flags |= kGELayerBorders;
    if (value(LayerKey(*plugin, "LAYER_ROADS"))) flags |= kGELayerRoads;
    layer_flags_ = flags;
    if (!panel_) {
      if (done) done();
      return;
    }
    for (const OptionBox& box : kRefreshBoxes)
      panel_->CheckDlgButton(box.id, value(box.option ? std::string(box.option) : LayerKey(*plugin, box.layer)) ? 1 : 0);
    auto speed = options->find("flyToSpeed");
    panel_->CheckDlgButton(1248, speed != options->end() && speed->second == plugin->Constant("SPEED_TELEPORT", 5) ? 1 : 0);
    FillFeatureTree(done);
  });
}

void CGEPluginCtrl::FillPanelOnHandOver(std::function<void()> done) {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  if (!plugin || !panel_) {
    Refresh(std::move(done));
    return;
  }
  panel_->SetDlgItemText(1234, "谷歌地球: " + plugin->GetEarthVersion() + "\n地球插件: " + plugin->GetPluginVersion());
  std::weak_ptr<bool> alive = alive_;
  Refresh([this, alive, plugin, done] {
    if (!alive.lock()) return;
    plugin->GetOptions([this, alive, done](std::optional<std::map<std::string, double>> options) {
      if (!alive.lock()) return;
      if (panel_) {
        auto select = [this](int id, int index) {
          if (auto* combo = panel_->GetDlgItemAs<CComboBox>(id))
            combo->SetCurSel(std::clamp(index, 0, std::max(0, combo->GetCount() - 1)));
        };
        select(1225, 0);
        select(1226, 2);
        if (options) {
          auto speed = options->find("flyToSpeed");
          auto exaggeration = options->find("terrainExaggeration");
          if (speed != options->end()) select(1227, static_cast<int>(speed->second * 2));
          // The nearest entry: truncating (1.2 - 1.0) × 5.0 = 0.999... would show entry 0.
          if (exaggeration != options->end())
            select(1228, static_cast<int>(std::lround((exaggeration->second - 1.0) * 5.0)));
        }
      }
      if (done) done();
    });
  });
}

void CGEPluginCtrl::FillFeatureTree(std::function<void()> done) {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  if (!plugin) {
    if (done) done();
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  plugin->GetFeatures([this, alive, done](std::optional<std::vector<GEPluginFeature>> features) {
    if (!alive.lock()) return;
    if (features) {
      // The vector goes with the tree: every refresh starts both anew.
      features_ = std::move(*features);
      if (CTreeCtrl* tree = panel_ ? panel_->GetDlgItemAs<CTreeCtrl>(1268) : nullptr) {
        tree->DeleteAllItems();
        std::vector<HTREEITEM> parents;
        for (size_t i = 0; i < features_.size(); ++i) {
          const GEPluginFeature& f = features_[i];
          const size_t depth = std::min<size_t>(static_cast<size_t>(f.depth), parents.size());
          parents.resize(depth);
          const HTREEITEM parent = parents.empty() ? TVI_ROOT : parents.back();
          const int image = f.visible ? 1 : 0;
          const HTREEITEM item = tree->InsertItem(f.name, image, image, parent, TVI_LAST);
          tree->SetItemData(item, i);
          tree->SetCheck(item, f.visible);
          parents.push_back(item);
        }
      }
    }
    if (done) done();
  });
}

void CGEPluginCtrl::ToggleFeature(CTreeCtrl& tree, HTREEITEM item, std::function<void(bool)> done) {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  const uintptr_t index = item && tree.ItemExists(item) ? tree.GetItemData(item) : uintptr_t(-1);
  // Item data from an older tree, or none, is no feature of the current list.
  if (!plugin || index >= features_.size()) {
    if (done) done(false);
    return;
  }
  const long long id = features_[index].id;
  const bool visible = !features_[index].visible;
  std::weak_ptr<bool> alive = alive_;
  CTreeCtrl* tree_ptr = &tree;
  plugin->SetFeatureVisibility(id, visible, [this, alive, tree_ptr, item, index, id, visible, done](bool ok) {
    if (!alive.lock()) return;
    if (ok && index < features_.size() && features_[index].id == id) {
      features_[index].visible = visible;
      if (tree_ptr->ItemExists(item) && tree_ptr->GetItemData(item) == index) {
        tree_ptr->SetItemImage(item, visible ? 1 : 0, visible ? 1 : 0);
        tree_ptr->SetCheck(item, visible);
      }
    }
    if (done) done(ok);
  });
}

void CGEPluginCtrl::ClearFeatures(std::function<void(bool)> done) {
  std::shared_ptr<CEarthPluginObject> plugin = plugin_;
  if (!plugin) {
    if (done) done(false);
    return;
  }
  std::weak_ptr<bool> alive = alive_;
  plugin->RemoveAllFeatures([this, alive, done](bool ok) {
    if (!alive.lock()) return;
    if (!ok) TraceError("OpenKmz Error", kGECallError, "the features cannot be removed");
    FillFeatureTree();
    if (done) done(ok);
  });
}

// ---- the screen terrain ---------------------------------------------------------------------

bool CGEPluginCtrl::GetClientSize(int* width, int* height) { return RenderSize(width, height); }

bool CGEPluginCtrl::ScreenToTerrain(double x, double y, double* lng, double* lat, double* alt) {
  double out[3];
  if (!std::isfinite(x) || !std::isfinite(y) || !GetCoordByPos(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)), out, nullptr))
    return false;
  *lng = out[0];
  *lat = out[1];
  *alt = out[2];
  return true;
}

bool CGEPluginCtrl::PrepareTerrain(Event* stop) {
  if (!has_plugin_.load() || UiDispatcher().IsUiThread()) return false;
  if (!(layer_flags_.load() & kGELayerTerrain)) {
    if (!SetTerrainLayer(true, stop)) return false;
    terrain_switched_ = true;
  }
  return WaitStreaming(stop, call_timeout_ms_.load() * 4);
}

void CGEPluginCtrl::FinishTerrain() {
  if (terrain_switched_.exchange(false)) SetTerrainLayer(false);
}

bool CGEPluginCtrl::OpenKmlFile(const std::string& path) {
  if (UiDispatcher().IsUiThread()) return OpenKmz(path);
  bool ok = false;
  return UiDispatcher().SendCall([this, &ok, &path] { ok = OpenKmz(path); }) && ok;
}

}  // namespace velmora

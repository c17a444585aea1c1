// The earth application's automation over its page's call channel.
#include "earth/ui/google_earth_app.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <thread>

#include "core/imaging.h"
#include "core/log.h"
#include "earth/ui/earth_link.h"
#include "earth/ui/earth_page.h"
#include "platform/gfx/bitmap.h"
#include "platform/sync.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/window.h"

namespace velmora {

namespace {

constexpr unsigned kCallTimeoutMs = 30000;
constexpr unsigned kStartTimeoutMs = 60000;
// Bounds of the corrections of StepCamera and MoveLT: the page's camera is exact, so a loop that
// needs more rounds does not settle.
constexpr int kMaxStepRounds = 5;
constexpr int kMaxMoveRounds = 12;
constexpr uint64_t kMaxSettleMs = 120000;

std::vector<double> Numbers(const std::string& text, size_t count) {
  std::vector<double> values;
  const char* p = text.data();
  const char* end = p + text.size();
  while (p < end && values.size() < count) {
    while (p < end && *p == ' ') ++p;
    double v = 0;
    auto [next, ec] = std::from_chars(p, end, v);
    if (ec != std::errc() || next == p) break;
    values.push_back(v);
    p = next;
  }
  if (values.size() != count) throw CEarthError(kEarthCallError, "the earth page answered \"" + text + "\"");
  return values;
}

bool Near(double a, double b) { return std::fabs(a - b) <= kEarthFocusTolerance; }

int Tick() { return static_cast<int>(TickCount64()); }

}  // namespace

CGoogleEarthApp::CGoogleEarthApp(Event* stop_event) : stop_event_(stop_event) {
  std::string error;
  link_ = StartEarthApplication(stop_event, kStartTimeoutMs, &error);
  if (!link_) throw CEarthError(kEarthPointerError, "the earth application cannot start: " + error);
  render_window_ = link_->RenderWindow();
}

CGoogleEarthApp::CGoogleEarthApp(HWND render_window, Event* stop_event)
    : stop_event_(stop_event), render_window_(render_window) {
  std::string error;
  link_ = StartEarthApplication(stop_event, kStartTimeoutMs, &error);
  if (!link_) AppLog("earth application: %s", error.c_str());
}

CGoogleEarthApp::CGoogleEarthApp(std::shared_ptr<CEarthLink> link, Event* stop_event)
    : stop_event_(stop_event), link_(std::move(link)) {
  if (link_) render_window_ = link_->RenderWindow();
}

CGoogleEarthApp::~CGoogleEarthApp() = default;

std::shared_ptr<CEarthLink> CGoogleEarthApp::Link() {
  if (!link_) throw CEarthError(kEarthPointerError, "no earth application");
  return link_;
}

std::string CGoogleEarthApp::Run(const std::string& name, std::vector<ScriptValue> args) {
  std::shared_ptr<CEarthLink> link = Link();
  std::string error;
  std::optional<std::string> answer = link->Call(name, std::move(args), stop_event_, kCallTimeoutMs, &error);
  if (!answer) {
    if (stop_event_ && stop_event_->IsSet()) throw CEarthError(kEarthStopped, name + ": stopped");
    throw CEarthError(kEarthCallError, name + ": " + error);
  }
  return *answer;
}

// ---- camera -----------------------------------------------------------------------------------

EarthCamera CGoogleEarthApp::GetCamera() {
  std::vector<double> v = Numbers(Run("camera", {}), 6);
  return EarthCamera{v[0], v[1], v[2], v[3], v[4], v[5]};
}

void CGoogleEarthApp::SetCameraParams(double lat, double lng, double alt, int alt_mode, double range, double tilt,
                                      double azimuth, double speed) {
  Run("setCamera", {ScriptValue::Number(lat), ScriptValue::Number(lng), ScriptValue::Number(alt),
                    ScriptValue::Number(alt_mode), ScriptValue::Number(range), ScriptValue::Number(tilt),
                    ScriptValue::Number(azimuth), ScriptValue::Number(speed)});
}

void CGoogleEarthApp::SetCamera(const EarthCamera& camera, double speed) {
  SetCameraParams(camera.lat, camera.lng, camera.alt, 2, camera.range, camera.tilt, camera.azimuth, speed);
}

double CGoogleEarthApp::ElevationExaggeration() { return Numbers(Run("exaggeration", {}), 1)[0]; }

int CGoogleEarthApp::StreamingProgressPercentage() {
  std::shared_ptr<CEarthLink> link = Link();
  const EarthPageState state = link->State();
  return state.seq >= link->AnsweredSeq() ? state.progress : std::min(state.progress, 99);
}

void CGoogleEarthApp::GetPointOnTerrainFromScreenCoords(double x, double y, double out[3]) {
  std::vector<double> v = Numbers(Run("pick", {ScriptValue::Number(x), ScriptValue::Number(y)}), 3);
  out[0] = v[0];
  out[1] = v[1];
  out[2] = v[2];
}

void CGoogleEarthApp::LookReset() {
  try {
    if (UiDispatcher().IsUiThread())
      Link()->Post("lookReset", {});
    else
      Run("lookReset", {});
  } catch (const CEarthError& e) {
    AppLog("earth application: LookReset: %s", e.what());
  }
}

void CGoogleEarthApp::SaveCamera() {
  try {
    saved_camera_ = GetCamera();
  } catch (const CEarthError& e) {
    AppLog("earth application: SaveCamera: %s", e.what());
  }
}

void CGoogleEarthApp::RestoreCamera() {
  if (!saved_camera_) throw CEarthError(kEarthPointerError, "no saved camera");
  SetCamera(*saved_camera_, 4.0);
}

void CGoogleEarthApp::GetCameraParam(double out[3]) {
  out[0] = 120.0;
  out[1] = 36.0;
  out[2] = 100000.0;
  try {
    const EarthCamera camera = GetCamera();
    out[0] = camera.lng;
    out[1] = camera.lat;
    out[2] = camera.range;
  } catch (const CEarthError& e) {
    AppLog("earth application: GetCameraParam: %s", e.what());
  }
}

void CGoogleEarthApp::SetTerrain(double exaggeration) {
  try {
    if (UiDispatcher().IsUiThread())
      Link()->Post("exaggeration", {ScriptValue::Number(exaggeration)});
    else
      Run("exaggeration", {ScriptValue::Number(exaggeration)});
  } catch (const CEarthError& e) {
    AppLog("earth application: SetTerrain: %s", e.what());
  }
}

static int VersionPart(const std::string& version, int index) {
  size_t at = 0;
  for (int i = 0; i < index; ++i) {
    at = version.find('.', at);
    if (at == std::string::npos) return 0;
    ++at;
  }
  int value = 0;
  std::from_chars(version.data() + at, version.data() + version.size(), value);
  return value;
}

int CGoogleEarthApp::VersionMajor() { return VersionPart(Link()->Version(), 0); }
int CGoogleEarthApp::VersionMinor() { return VersionPart(Link()->Version(), 1); }
int CGoogleEarthApp::VersionBuild() { return VersionPart(Link()->Version(), 2); }

// ---- points -----------------------------------------------------------------------------------

void CGoogleEarthApp::ClientSize(int* width, int* height) {
  std::shared_ptr<CEarthLink> link = Link();
  if (link->Status() != EarthPageStatus::kReady) throw CEarthError(kEarthPointerError, "the earth page is gone");
  EarthPageState state = link->State();
  if (state.width <= 0 || state.height <= 0) {
    std::vector<double> v = Numbers(Run("size", {}), 2);
    state.width = static_cast<int>(v[0]);
    state.height = static_cast<int>(v[1]);
  }
  if (state.width <= 0 || state.height <= 0) throw CEarthError(kEarthCallError, "the render window has no size");
  *width = state.width;
  *height = state.height;
}

void CGoogleEarthApp::PickPixel(double px, double py, double out[3]) {
  // The page normalises against its own size of the moment: a pushed size may lag a resize.
  std::vector<double> v = Numbers(Run("pickPixel", {ScriptValue::Number(px), ScriptValue::Number(py)}), 3);
  out[0] = v[0];
  out[1] = v[1];
  out[2] = v[2];
}

void CGoogleEarthApp::GetCoordByPos(int x, int y, EarthCoordRecord& record) {
  double p[3];
  PickPixel(x, y, p);
  record.lng = p[0];
  record.lat = p[1];
}

void CGoogleEarthApp::GetCoordByPos(int x, int y, double out[3]) { PickPixel(x, y, out); }

void CGoogleEarthApp::GetTerrainPoint(double x, double y, double* lng, double* lat) {
  double p[3];
  GetPointOnTerrainFromScreenCoords(x, y, p);
  *lng = p[0];
  *lat = p[1];
}

void CGoogleEarthApp::GetTerrainAltitude(double x, double y, double* lng, double* lat, double* alt) {
  double p[3];
  GetPointOnTerrainFromScreenCoords(x, y, p);
  *lng = p[0];
  *lat = p[1];
  *alt = p[2];
}

void CGoogleEarthApp::NormalizeScreenPoints(HWND window, float* points, int count) {
  int w = 0, h = 0;
  if (window == render_window_ || window == 0) {
    ClientSize(&w, &h);
  } else {
    RECT r{};
    auto read = [&] {
      if (CWnd* wnd = UiDispatcher().FromHandle(window)) r = wnd->GetWindowRect();
    };
    if (UiDispatcher().IsUiThread())
      read();
    else
      UiDispatcher().SendCall(read, stop_event_);
    w = r.Width();
    h = r.Height();
  }
  if (w <= 0 || h <= 0) throw CEarthError(kEarthCallError, "the window has no size");
  const double cx = w / 2.0, cy = h / 2.0;
  for (int i = 0; i < count; ++i) {
    points[2 * i] = static_cast<float>(2.0 * (points[2 * i] - cx) / w);
    points[2 * i + 1] = static_cast<float>(2.0 * (cy - points[2 * i + 1]) / h);
  }
}

void CGoogleEarthApp::GetCaptureBounds(double* left, double* top, double* right, double* bottom) {
  int w = 0, h = 0;
  ClientSize(&w, &h);
  double a[3], b[3];
  PickPixel(kCaptureLeft, kCaptureTop, a);
  PickPixel(w - 83, h - 93, b);
  *left = a[0];
  *top = a[1];
  *right = b[0];
  *bottom = b[1];
}

double CGoogleEarthApp::GetCaptureCornerLon() {
  int w = 0, h = 0;
  ClientSize(&w, &h);
  double p[3];
  PickPixel(w - 83, h - 93, p);
  return p[0];
}

double CGoogleEarthApp::GetCaptureCornerLat() {
  int w = 0, h = 0;
  ClientSize(&w, &h);
  double p[3];
  PickPixel(w - 83, h - 93, p);
  return p[1];
}

// ---- pictures ---------------------------------------------------------------------------------

bool CGoogleEarthApp::WaitPicture() { return WaitPictureOn(stop_event_); }

bool CGoogleEarthApp::WaitPictureOn(Event* stop) {
  std::shared_ptr<CEarthLink> link = Link();
  const uint64_t wanted = link->AnsweredSeq();
  EarthPageState last = link->State();
  uint64_t last_change = TickCount64();
  for (;;) {
    ++polls_;
    if (stop ? stop->Wait(poll_ms_) : (std::this_thread::sleep_for(std::chrono::milliseconds(poll_ms_)), false))
      return false;
    const EarthPageStatus status = link->Status();
    if (status != EarthPageStatus::kReady) throw CEarthError(kEarthPointerError, "the earth page is gone");
    const EarthPageState state = link->State();
    // A 100 sent before the latest command ran says nothing about that command's picture.
    if (state.seq >= wanted && state.progress >= 100) return true;
    const uint64_t now = TickCount64();
    if (state.seq != last.seq || state.progress != last.progress) {
      last = state;
      last_change = now;
    } else if (now - last_change > stall_ms_) {
      std::string detail;
      try {
        detail = Run("debug", {});
      } catch (const CEarthError&) {
      }
      throw CEarthError(kEarthStalled, "the earth page stopped loading at " + std::to_string(state.progress) + "% (" +
                                           detail + ")");
    }
  }
}

std::unique_ptr<CBitmap> CGoogleEarthApp::CaptureRender() {
  int w = 0, h = 0;
  ClientSize(&w, &h);
  if (w < kCaptureMinWidth || h < kCaptureMinHeight)
    throw CEarthError(kEarthCallError, "the render window (" + std::to_string(w) + " x " + std::to_string(h) +
                                           ") is smaller than 89 x 164 pixels: nothing to capture");
  // The picture of the latest command, drawn.
  Run("frame", {});
  if (!WaitPicture()) return nullptr;
  CBitmap whole;
  std::string error;
  if (!Link()->Grab(&whole, stop_event_, kCallTimeoutMs, &error)) {
    if (stop_event_ && stop_event_->IsSet()) return nullptr;
    throw CEarthError(kEarthCallError, "capture: " + error);
  }
  w = whole.Width();
  h = whole.Height();
  if (w < kCaptureMinWidth || h < kCaptureMinHeight) throw CEarthError(kEarthCallError, "capture: the picture is too small");
  auto picture = std::make_unique<CBitmap>(whole.Crop(kCaptureLeft, kCaptureTop, w - 88, h - 163));
  if (picture->IsEmpty()) return nullptr;
  StampLogo(*picture, (w - 88) / 256, (h - 163) / 256);
  return picture;
}

// ---- places -----------------------------------------------------------------------------------

bool CGoogleEarthApp::OpenKmlFile(const std::string& path) {
  try {
    std::string error;
    std::optional<std::string> url = PrepareEarthKml(path, &error);
    if (!url) throw CEarthError(kEarthCallError, error);
    Run("openKml", {ScriptValue::String(*url)});
    return true;
  } catch (const CEarthError& e) {
    AppLog("earth application: OpenKmlFile %s: %s", path.c_str(), e.what());
    return false;
  }
}

void CGoogleEarthApp::HideTemporaryPlaces(const char* prefix) {
  Run("hideTemporary", {prefix ? ScriptValue::String(prefix) : ScriptValue::Null()});
}

// ---- moves ------------------------------------------------------------------------------------

bool CGoogleEarthApp::GiveUp(const char* what) {
  AppLog("earth application: %s does not settle; the job stops", what);
  if (stop_event_) stop_event_->Set();
  return false;
}

bool CGoogleEarthApp::MeasureSteps() {
  int w = 0, h = 0;
  ClientSize(&w, &h);
  double centre[3], next[3];
  GetPointOnTerrainFromScreenCoords(0, 0, centre);
  GetPointOnTerrainFromScreenCoords(2.0 / w, 2.0 / h, next);
  const double lng_step = next[0] - centre[0];
  const double lat_step = next[1] - centre[1];
  // A step of 0 would make every later tolerance and the world file's pixel size 0.
  if (!std::isfinite(lng_step) || !std::isfinite(lat_step) || lng_step == 0 || lat_step == 0)
    return GiveUp("the measure of a pixel");
  lng_step_ = lng_step;
  lat_step_ = lat_step;
  return true;
}

bool CGoogleEarthApp::StepCamera(double lng, double lat, double alt, bool absolute) {
  try {
    return StepCameraOnce(lng, lat, alt, absolute);
  } catch (const CEarthError& e) {
    if (e.Code() == kEarthStopped) return false;  // a stop during a call ends the step as one during a wait
    throw;
  }
}

bool CGoogleEarthApp::MoveLT(double lng, double lat, FILE* log) {
  try {
    return MoveLTOnce(lng, lat, log);
  } catch (const CEarthError& e) {
    if (e.Code() == kEarthStopped) return false;
    throw;
  }
}

bool CGoogleEarthApp::StepCameraOnce(double lng, double lat, double alt, bool absolute) {
  ElevationExaggeration();  // asked, as the application is before every step
  EarthCamera camera = GetCamera();
  if (camera.lng == lng && camera.lat == lat && camera.alt == alt) return MeasureSteps();
  const int mode = absolute ? 2 : 1;
  SetCameraParams(lat, lng, alt, mode, 0.0, 0.0, 0.0, 4.0);
  if (!WaitPicture()) return false;
  const uint64_t start = TickCount64();
  for (int round = 0;; ++round) {
    camera = GetCamera();
    // The camera stands at the target looking down, so its focus is the terrain below the
    // target: only longitude and latitude can meet the target's.
    if (Near(camera.lng, lng) && Near(camera.lat, lat)) {
      double centre[3];
      GetPointOnTerrainFromScreenCoords(0, 0, centre);
      if (Near(centre[0], lng) && Near(centre[1], lat)) return MeasureSteps();
    }
    if (round + 1 >= kMaxStepRounds || TickCount64() - start > kMaxSettleMs) {
      AppLog("earth application: StepCamera to %.9f, %.9f: focus %.9f, %.9f", lng, lat, camera.lng, camera.lat);
      return GiveUp("StepCamera");
    }
    SetCameraParams(lat, lng, alt, mode, 0.0, 0.0, 0.0, 4.0);
    if (!WaitPicture()) return false;
    if (stop_event_ && stop_event_->Wait(poll_ms_)) return false;
  }
}

bool CGoogleEarthApp::MoveLTOnce(double lng, double lat, FILE* log) {
  auto note = [log](const char* text) {
    if (log) std::fprintf(log, "\n%d : %s", Tick(), text);
  };
  note("MoveLT...");
  if (!(lng_step_ != 0 && lat_step_ != 0) && !MeasureSteps()) return false;
  const uint64_t start = TickCount64();
  double centre[3], corner[3];
  // One axis: move the focus by the offset of the corner from the target until the corner stays
  // put or lies within a pixel of it.
  auto settle = [&](bool longitude) -> int {
    GetPointOnTerrainFromScreenCoords(0, 0, centre);
    PickPixel(kCaptureLeft, kCaptureTop, corner);
    const int axis = longitude ? 0 : 1;
    const double target = longitude ? lng : lat;
    const double step = std::fabs(longitude ? lng_step_ : lat_step_);
    double offset = target - corner[axis];
    for (int round = 0; round < kMaxMoveRounds && TickCount64() - start < kMaxSettleMs; ++round) {
      note(longitude ? "Lng put..." : "Lat put...");
      EarthCamera camera = GetCamera();
      (longitude ? camera.lng : camera.lat) = centre[axis] + offset;
      SetCamera(camera, 4.0);
      if (!WaitPicture()) return 0;
      note(longitude ? "Lng put Ok" : "Lat put Ok");
      GetPointOnTerrainFromScreenCoords(0, 0, centre);
      PickPixel(kCaptureLeft, kCaptureTop, corner);
      const double next = target - corner[axis];
      if (next == offset || std::fabs(next) < step) return 1;
      offset = next;
    }
    return -1;
  };
  int r = settle(true);
  if (r == 0) return false;
  if (r < 0) return GiveUp("MoveLT (longitude)");
  r = settle(false);
  if (r == 0) return false;
  if (r < 0) return GiveUp("MoveLT (latitude)");
  note("MoveLT Ok");
  return true;
}

// ---- IScreenTerrainSource ---------------------------------------------------------------------

bool CGoogleEarthApp::GetClientSize(int* width, int* height) {
  try {
    ClientSize(width, height);
    return true;
  } catch (const CEarthError&) {
    return false;
  }
}

bool CGoogleEarthApp::ScreenToTerrain(double x, double y, double* lng, double* lat, double* alt) {
  try {
    double p[3];
    PickPixel(x, y, p);
    *lng = p[0];
    *lat = p[1];
    *alt = p[2];
    return true;
  } catch (const CEarthError&) {
    return false;
  }
}

bool CGoogleEarthApp::PrepareTerrain(Event* stop) {
  try {
    Run("frame", {});
    return WaitPictureOn(stop);
  } catch (const CEarthError& e) {
    AppLog("earth application: terrain: %s", e.what());
    return false;
  }
}

}  // namespace velmora

// CGoogleEarthApp: the program's automation of the earth application (the earth page of
// earth_page.h): camera reads and moves, screen points to terrain, KML files, temporary places,
// the captured picture and the moves that put a coordinate on the capture's top-left corner.
//
// Every operation runs on the thread that calls it and talks to the page through its link: a
// worker waits for each answer (checking the stop event every 10 ms); the user-interface thread
// never waits on the page, so there only LookReset and SetTerrain work (they are sent without
// waiting) and the other calls fail. Failures of the page are raised as CEarthError, as the
// application's failed calls were: LookReset, SaveCamera, GetCameraParam and SetTerrain catch
// them; the others pass them on.
//
// The page's camera: the focus is the terrain point under the centre of the view (the ellipsoid
// when the centre shows no terrain); range, tilt and azimuth are measured in the focus's local
// frame. SetCameraParams puts the camera `range` metres from the target (altitude mode 1: above
// the terrain, 2: absolute) and range 0 at the target itself, looking straight down; speed 4.0
// flies there in a quarter of a second, 5 and more jump.
#pragma once
#include <atomic>
#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "earth/ui/earth_ctrl_base.h"
#include "platform/script/script_value.h"
#include "platform/ui/ui_types.h"
#include "tiles/screen_terrain_source.h"

namespace velmora {

class CBitmap;
class CEarthLink;
class Event;

// The application's failure codes.
inline constexpr long kEarthPointerError = static_cast<long>(0x80004003);  // no application
inline constexpr long kEarthCallError = static_cast<long>(0x80004005);     // a call failed
inline constexpr long kEarthStalled = static_cast<long>(0x800705B4);       // the picture never completed
inline constexpr long kEarthStopped = static_cast<long>(0x800704C7);       // the stop event ended a call

class CEarthError : public std::runtime_error {
 public:
  CEarthError(long code, const std::string& what) : std::runtime_error(what), code_(code) {}
  long Code() const { return code_; }

 private:
  long code_;
};

// A camera as the application describes it.
struct EarthCamera {
  double lng = 0, lat = 0, alt = 0;  // focus point (degrees, metres above the sea)
  double range = 0;                  // metres from the focus to the camera
  double tilt = 0;                   // degrees from straight down
  double azimuth = 0;                // degrees clockwise from north
};

// The capture rectangle of a render window of width x height: from (5, 70), (width - 88) x
// (height - 163); its corners (5, 70) and (width - 83, height - 93) place pictures on the earth.
inline constexpr int kCaptureLeft = 5;
inline constexpr int kCaptureTop = 70;
inline constexpr int kCaptureMinWidth = 89;   // smaller windows leave no capture
inline constexpr int kCaptureMinHeight = 164;
// How close (degrees) the centre must come to a target: single precision's epsilon.
inline constexpr double kEarthFocusTolerance = 1.1920928955078125e-07;

class CGoogleEarthApp : public CEarthCtrlBase, public IScreenTerrainSource {
 public:
  // Starts the application (or attaches to the running one) and waits until its page is up;
  // raises kEarthPointerError when it cannot (no page, no library, no WebGL, stopped). Any thread
  // but the user-interface one.
  explicit CGoogleEarthApp(Event* stop_event);
  // The same with the render window given; does not raise: a failed start makes the first call
  // raise kEarthPointerError.
  CGoogleEarthApp(HWND render_window, Event* stop_event);
  // Over a page link of the caller's (a view that holds its own page).
  CGoogleEarthApp(std::shared_ptr<CEarthLink> link, Event* stop_event);
  ~CGoogleEarthApp() override;
  // The page answered the start (false: every call raises kEarthPointerError).
  bool Started() const { return link_ != nullptr; }

  // ---- CEarthCtrlBase ----
  void LookReset() override;
  void GetCoordByPos(int x, int y, EarthCoordRecord& record) override;
  void GetCoordByPos(int x, int y, double out[3]) override;

  // Normalised points (-1..1, y up) to terrain.
  void GetTerrainPoint(double x, double y, double* lng, double* lat);
  void GetTerrainAltitude(double x, double y, double* lng, double* lat, double* alt);
  // Window pixels to normalised coordinates in place, against `window`'s client rectangle.
  void NormalizeScreenPoints(HWND window, float* points, int count);
  // Longitude and latitude under the capture's top-left and bottom-right corners.
  void GetCaptureBounds(double* left, double* top, double* right, double* bottom);
  double GetCaptureCornerLon();
  double GetCaptureCornerLat();
  // The capture rectangle of the render window once the page's frame is drawn, with the program
  // icon stamped on it. Null when the stop event was set; raises when the window is under
  // 89 x 164 pixels or the page cannot be grabbed.
  std::unique_ptr<CBitmap> CaptureRender();
  void SaveCamera();
  void RestoreCamera();
  // Opens a KML or KMZ file on the globe. One function serves the application's call and the
  // screen-terrain interface, so a failure is answered false (and logged) rather than raised.
  bool OpenKmlFile(const std::string& path) override;
  // Hides every temporary place (null) or those whose document name begins with `prefix`.
  void HideTemporaryPlaces(const char* prefix);
  // Longitude, latitude and range of the camera; 120.0, 36.0, 100000.0 when it cannot be read.
  void GetCameraParam(double out[3]);
  void SetTerrain(double exaggeration);
  // Flies to the point (range 0, straight down, north up) and waits for the picture; measures the
  // degrees per pixel at the centre. False when stopped, or (with the stop event set) when the
  // centre never comes to the target.
  bool StepCamera(double lng, double lat, double alt, bool absolute);
  // Moves the view until the coordinate lies under the capture's top-left corner. False when
  // stopped, or (with the stop event set) when it does not settle.
  bool MoveLT(double lng, double lat, FILE* log);

  // ---- the application's own calls ----
  EarthCamera GetCamera();
  void SetCamera(const EarthCamera& camera, double speed);
  void SetCameraParams(double lat, double lng, double alt, int alt_mode, double range, double tilt, double azimuth,
                       double speed);
  double ElevationExaggeration();
  int StreamingProgressPercentage();
  // Normalised point to longitude, latitude, altitude; raises when it shows no terrain.
  void GetPointOnTerrainFromScreenCoords(double x, double y, double out[3]);
  HWND GetRenderHwnd() const { return render_window_; }
  int VersionMajor();
  int VersionMinor();
  int VersionBuild();
  // Waits until the page's progress is 100 for the latest command (polling every 10 ms). False
  // when stopped; raises kEarthStalled when the page's state does not change for the stall time.
  bool WaitPicture();

  double LngStepPerPixel() const { return lng_step_; }
  double LatStepPerPixel() const { return lat_step_; }
  Event* StopEvent() const { return stop_event_; }

  // ---- IScreenTerrainSource ----
  bool GetClientSize(int* width, int* height) override;
  bool ScreenToTerrain(double x, double y, double* lng, double* lat, double* alt) override;
  bool PrepareTerrain(Event* stop) override;
  void FinishTerrain() override {}

  // ---- tests ----
  // Polls of the picture waits so far.
  int PollCount() const { return polls_; }
  void SetStallTimeout(unsigned ms) { stall_ms_ = ms; }

 private:
  std::shared_ptr<CEarthLink> Link();
  std::string Run(const std::string& name, std::vector<ScriptValue> args);
  void ClientSize(int* width, int* height);
  void PickPixel(double px, double py, double out[3]);
  bool MeasureSteps();
  bool StepCameraOnce(double lng, double lat, double alt, bool absolute);
  bool MoveLTOnce(double lng, double lat, FILE* log);
  bool GiveUp(const char* what);
  bool WaitPictureOn(Event* stop);

  Event* stop_event_ = nullptr;
  HWND render_window_ = 0;
  std::shared_ptr<CEarthLink> link_;
  double lng_step_ = 0;
  double lat_step_ = 0;
  std::optional<EarthCamera> saved_camera_;
  unsigned poll_ms_ = 10;
  unsigned stall_ms_ = 60000;
  std::atomic<int> polls_{0};
};

}  // namespace velmora

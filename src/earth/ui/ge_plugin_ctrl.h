// CGEPluginCtrl: the controller of the plug-in view's globe. It drives the plug-in object
// (CEarthPluginObject, the view's own earth page): reset the view, window pixels to longitude,
// latitude and altitude, push, pop and set the camera, put a coordinate under the capture
// rectangle's top-left corner, streaming progress, the terrain layer, KML files and their feature
// tree, the captured picture, and the display options of the "地球插件" panel.
//
// The plug-in object lives on the user-interface thread, which never waits on the page: there the
// operations start and their results come later. A worker thread's call of a marshalled operation
// (codes below) is posted to the controller's message window as message 0x401 with the code and a
// request record; the window's handler (OnUserRequest) runs the operation on the user-interface
// thread, which writes the results into the record when the page has answered. The worker waits
// on that record, shared by both sides, for its quit request, a time-out or the plug-in object
// going away; a page answer that comes after the worker gave up lands in the record, never on the
// worker's stack.
#pragma once
#include <array>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "earth/ui/earth_ctrl_base.h"
#include "earth/ui/earth_plugin_object.h"
#include "platform/sync.h"
#include "platform/ui/ui_types.h"
#include "tiles/screen_terrain_source.h"

namespace velmora {

class CBitmap;
class CTreeCtrl;
class CWnd;

// The message of the marshalled operations, and its codes (WPARAM).
inline constexpr UINT kGEPluginRequestMessage = 0x401;
enum GEPluginRequestCode : int {
  kGEPushCamera = 0,
  kGEPopCamera = 1,
  kGESetCameraParam = 2,
  kGECoordByPos = 3,         // globe hit test into a coordinate record
  kGECoordByPosTerrain = 4,  // terrain hit test with the altitude
  kGEMoveLT = 5,
  kGEStreamingPercent = 6,
  kGESetTerrainLayer = 7,
  // Codes of our own for the further calls a worker makes (above the range the handler ignores).
  kGEGetCenter = 0x100,
  kGESetFlyToSpeed = 0x101,
};

// Bits of the layer flags that Refresh reads (the export tests bit 0).
inline constexpr uint32_t kGELayerTerrain = 1;
inline constexpr uint32_t kGELayerBorders = 2;
inline constexpr uint32_t kGELayerRoads = 4;

// MoveLT gives up after this many rounds (FALSE, "MoveLT Error").
inline constexpr int kMoveLTMaxRounds = 20;
// How close MoveLT brings the coordinate to the corner (degrees).
inline constexpr double kMoveLTTolerance = 1e-6;
// OpenKmz refuses a file (and a KMZ entry) larger than this.
inline constexpr uint64_t kMaxPluginKmlBytes = uint64_t(64) << 20;

// The failure codes of the traces.
inline constexpr long kGEPointerError = static_cast<long>(0x80004003);
inline constexpr long kGECallError = static_cast<long>(0x80004005);

// The message text of a failure code in the traces: the system's text for the codes known here,
// "IDispatch error #%d" for 0x80040200 to 0x8004FFFF, else "Unknown error 0x%0lX".
std::string PluginErrorMessage(long code);

// The text CaptureRender writes at a corner: "%.7f, %7f" of longitude and latitude.
std::string CaptureCornerText(double lon, double lat);

// The record a marshalled call shares with the user-interface thread.
struct GEPluginRequest : std::enable_shared_from_this<GEPluginRequest> {
  // arguments
  double lon = 0, lat = 0, alt = 0;
  int x = 0, y = 0;
  int flag = 0;
  // results (written on the user-interface thread before Finish)
  double out[3] = {0, 0, 0};
  double percent = 0;
  // The handler took the record (user-interface thread only).
  bool started = false;

  // The first call wins; wakes the waiting worker.
  void Finish(bool ok);
  bool Done() const;
  // Waits until finished (its result), the quit request is set, the time-out passes or `gone`
  // turns true (false).
  bool Wait(const Event* quit, unsigned timeout_ms, const std::atomic<bool>* gone);

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  bool ok_ = false;
};

class CGEPluginCtrl : public CEarthCtrlBase, public IScreenTerrainSource {
 public:
  CGEPluginCtrl();
  ~CGEPluginCtrl() override;

  // ---- set-up (user-interface thread) ----
  // The window that receives message 0x401 (the view's own): the handler is mapped on it.
  void AttachMessageWindow(CWnd* window);
  HWND MessageWindow() const { return message_window_.load(); }
  // The "地球插件" panel whose controls the controller fills (null: none).
  void SetOptionsPanel(CWnd* panel) { panel_ = panel; }
  CWnd* OptionsPanel() const { return panel_; }
  // Hands over the plug-in object (null drops it: waiting workers fail at once).
  void SetPluginObject(std::shared_ptr<CEarthPluginObject> plugin);
  const std::shared_ptr<CEarthPluginObject>& PluginObject() const { return plugin_; }
  // Any thread.
  bool HasPluginObject() const { return has_plugin_.load(); }
  // How long a worker waits for one marshalled call (milliseconds; 30 s unless set).
  void SetCallTimeout(unsigned ms) { call_timeout_ms_ = ms; }
  unsigned CallTimeout() const { return call_timeout_ms_.load(); }

  // ---- state (any thread) ----
  // Auto-reset; set each time the page reports the end of a view change.
  Event& ViewChangeEvent() { return view_change_; }
  uint32_t LayerFlags() const { return layer_flags_.load(); }
  // The view the page last reported, or the one asked for before the plug-in object arrived.
  void SetLastCamera(double lon, double lat, double alt);
  std::array<double, 3> LastCamera() const;
  // The render window's client size as the page last reported it; false without a page.
  bool RenderSize(int* width, int* height) const;
  // The render window: the page's own window (no search among children); 0 without a page.
  HWND RenderWindow() const;
  // The last failure trace ("%s [0x%08x], [%s], %s").
  std::string LastTrace() const;

  // ---- CEarthCtrlBase ----
  // Started on the user-interface thread (not marshalled).
  void LookReset() override;
  // Marshalled (codes 3 and 4); a failure leaves the output as the caller set it.
  void GetCoordByPos(int x, int y, EarthCoordRecord& record) override { GetCoordByPos(x, y, record, nullptr); }
  void GetCoordByPos(int x, int y, double out[3]) override { GetCoordByPos(x, y, out, nullptr); }
  bool GetCoordByPos(int x, int y, EarthCoordRecord& record, const Event* quit);
  bool GetCoordByPos(int x, int y, double out[3], const Event* quit);

  // ---- marshalled operations ----
  // From a worker each waits for its result (false on failure, quit, time-out or when the plug-in
  // object goes). On the user-interface thread the operation is started and the call returns at
  // once: true when it was started, except for the calls whose result it would need (hit tests,
  // MoveLT, GetCaptureBounds, the corners, CaptureRender), which fail there; GetStreamingPercent
  // and GetCenter answer at once from what the page last reported.
  bool PushCamera(const Event* quit = nullptr);
  // Nothing (true) without an earlier PushCamera.
  bool PopCamera(const Event* quit = nullptr);
  // Camera at (lon, lat) and `alt` metres, heading, tilt and roll kept; `flag` is not used.
  bool SetCameraParam(double lon, double lat, double alt, int flag = 0, const Event* quit = nullptr);
  // Moves the view until (lon, lat) lies under the capture's top-left corner (5, 70) within
  // kMoveLTTolerance; FALSE after a failed page call or kMoveLTMaxRounds rounds.
  bool MoveLT(double lon, double lat, int word = 0, const Event* quit = nullptr);
  // 0 to 100; 0.0 without a plug-in object (or when the call failed).
  double GetStreamingPercent(const Event* quit = nullptr);
  // The terrain layer on or off, then Refresh. A worker's switch goes through code 7 only.
  bool SetTerrainLayer(bool on, const Event* quit = nullptr);
  // The camera's longitude, latitude and altitude into out.
  bool GetCenter(double out[3], const Event* quit = nullptr);
  // Longitude and latitude under (5, 70) and (W - 83, H - 93); false (outputs untouched) when
  // either point fails.
  bool GetCaptureBounds(double* left, double* top, double* right, double* bottom, const Event* quit = nullptr);
  // The latitude under (5, H - 93), the longitude under (W - 83, 70); NaN on failure.
  double GetCaptureCornerLat(const Event* quit = nullptr);
  double GetCaptureCornerLon(const Event* quit = nullptr);
  // The capture rectangle (from (5, 70), W - 88 by H - 163) with a frame, the corners' longitude
  // and latitude in yellow and the program icon stamped. Workers only; null on failure.
  std::unique_ptr<CBitmap> CaptureRender(const Event* quit = nullptr);
  // -2: the panel's combo 1227 selection × 0.5 (entry 0 without a panel); -1: SPEED_TELEPORT;
  // else index × 0.5.
  bool SetFlyToSpeed(int index, const Event* quit = nullptr);
  // Waits until the streaming percent reaches 100 (true), or the quit request, the time-out or
  // the plug-in object going away ends the wait (false). Workers only.
  bool WaitStreaming(const Event* quit, unsigned timeout_ms);

  // ---- the view's and the panel's operations (user-interface thread) ----
  // Opens a KML or KMZ file in the plug-in and flies to it; false when the file cannot be read,
  // is larger than kMaxPluginKmlBytes, or there is no plug-in object (`done` is then never
  // called). Otherwise `done` hears later whether the page added it.
  bool OpenKmz(const std::string& path, std::function<void(bool)> done = {});
  // Options panel check boxes 1235-1248; other ids are ignored. Then Refresh.
  void SetOption(int control_id, int value);
  // index × 0.2 + 1.0.
  void SetTerrainExaggeration(int index);
  // 0: earth, 1: sky; other indexes change nothing.
  void SetMapMode(int index);
  // 0: shown, 1: automatic, 2: hidden.
  void SetNavigationControl(int index);
  // Reads the switches back: the layer flags always, the panel's boxes and feature tree when a
  // panel is attached. `done` when read (or failed).
  void Refresh(std::function<void()> done = {});
  // The panel after the plug-in object arrived: version text 1234, Refresh, combos 1225 = 0,
  // 1226 = 2, 1227 from the fly-to speed, 1228 from the exaggeration (nearest entry).
  void FillPanelOnHandOver(std::function<void()> done = {});
  // Rebuilds the tree (1268) from the plug-in's features; item data = index in Features().
  void FillFeatureTree(std::function<void()> done = {});
  // Inverts the visibility of the item's feature; an item whose data is no feature does nothing.
  void ToggleFeature(CTreeCtrl& tree, HTREEITEM item, std::function<void(bool)> done = {});
  // Removes every top-level feature.
  void ClearFeatures(std::function<void(bool)> done = {});
  const std::vector<GEPluginFeature>& Features() const { return features_; }
  // The hit test for the user-interface thread's own use: `done` hears the point later.
  void HitTestAsync(int x, int y, bool terrain, std::function<void(std::optional<std::array<double, 3>>)> done);
  // The page's "ge:kml <token> <1|0>" message.
  void OnKmlLoaded(long long token, bool added);

  // ---- the message window's handler ----
  // Runs the operation of `code` with the record `block` points at; codes above 7 other than the
  // controller's own do nothing. Returns 1.
  LRESULT OnUserRequest(WPARAM code, LPARAM block);

  // ---- IScreenTerrainSource ----
  bool GetClientSize(int* width, int* height) override;
  bool ScreenToTerrain(double x, double y, double* lng, double* lat, double* alt) override;
  bool PrepareTerrain(Event* stop) override;
  void FinishTerrain() override;
  bool OpenKmlFile(const std::string& path) override;

 private:
  bool Marshal(int code, const std::shared_ptr<GEPluginRequest>& request, const Event* quit);
  void Start(int code, const std::shared_ptr<GEPluginRequest>& request);
  void MoveLTRound(const std::shared_ptr<GEPluginRequest>& request, int round);
  void TraceError(const char* operation, long code, const std::string& description);
  void DropPending();
  double FlyToSpeedOf(int index) const;

  std::shared_ptr<CEarthPluginObject> plugin_;  // user-interface thread
  std::atomic<bool> has_plugin_{false};
  std::atomic<bool> plugin_gone_{false};        // set while there is no plug-in object
  CWnd* panel_ = nullptr;
  std::atomic<HWND> message_window_{0};
  std::atomic<unsigned> call_timeout_ms_{30000};
  Event view_change_{false, false};
  std::atomic<uint32_t> layer_flags_{kGELayerTerrain};
  mutable std::mutex mutex_;                    // guards the fields below
  std::array<double, 3> last_camera_{120.0, 36.0, 100000.0};
  std::string last_trace_;
  std::vector<std::weak_ptr<GEPluginRequest>> pending_;
  std::shared_ptr<CEarthPluginObject> link_plugin_;  // plugin_ for other threads' reads
  // user-interface thread
  std::optional<GEPluginCamera> saved_camera_;
  std::vector<GEPluginFeature> features_;
  std::map<long long, std::function<void(bool)>> kml_waiting_;
  std::map<long long, bool> kml_early_;  // reports of files whose answer has not come yet
  void FinishKml(const std::function<void(bool)>& done, bool added);
  std::atomic<bool> terrain_switched_{false};   // PrepareTerrain turned terrain on
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace velmora

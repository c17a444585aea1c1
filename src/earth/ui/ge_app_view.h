// CGEAppView: the earth application shown inside the main window (view kind 3, "GEAppView"). It
// starts or attaches to the earth application, takes the application's render window (the earth
// page) out of the application's own window into the view and keeps it fitted to the view, while
// the application window stays hidden. Over the globe it offers the region tools of the map views
// (framed snapshot mosaic, elevation export, free region), camera exchange with the other views,
// the region boundary as KML and the shown satellites as live KML ("s.kml", "c.kml").
//
// The user-interface thread never waits on the page: the view sends its commands and takes the
// answers when they come (CEarthLink::CallAsync); waits for the page (its start, a flight's end)
// are timers. The camera the other views read is the last one the page reported.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "earth/ui/earth_tool_commands.h"
#include "earth/ui/google_earth_app.h"
#include "platform/sync.h"
#include "platform/ui/window.h"
#include "terrain/sat_kml_feed.h"
#include "view/child_view.h"
#include "view/select_tracker.h"

namespace velmora {

class CEarthLink;
class CKovraHomeExApp;
class CRegionShape;
class CDlgGEFeatures;

inline constexpr char kGEAppViewName[] = "GEAppView";
inline constexpr int kGEAppHelpId = 10005;
inline constexpr char kGEAppStartError[] = "启动Google Earth出现错误";
inline constexpr char kGEAppNotCaptured[] = "Google Earth 没有捕获.";
inline constexpr char kGEAppFeaturesPanel[] = "谷歌地球";
inline constexpr char kRegionBoundFile[] = "region_bound.kml";
inline constexpr char kRegionBoundPrefix[] = "region_bound";

// Commands of the view's own message map.
inline constexpr UINT ID_GE_TOOL_BROWSE = 32749;
inline constexpr UINT ID_GE_TOOL_MOSAIC = 32716;
inline constexpr UINT ID_GE_TOOL_REGION = 32779;
inline constexpr UINT ID_GE_REGION_BOUND = 32768;
inline constexpr UINT ID_GE_CAPTURE = 32708;
inline constexpr UINT ID_GE_RELEASE = 32772;
// Bands narrower or lower than this (pixels) are ignored.
inline constexpr int kGEMinBand = 11;
// The longest wait for a flight of LocateBound before the render window is enabled again.
inline constexpr unsigned kLocateTimeoutMs = 60000;

class CGEAppView : public CWnd, public IChildView {
 public:
  enum Mode { kBrowse = 1, kFreeRegion = 3, kFramedMosaic = 8, kDemExport = 9 };

  CGEAppView();
  ~CGEAppView() override;

  // ---- IChildView ----
  int GetViewKind() const override { return kViewEarthApp; }
  std::string GetName() const override { return kGEAppViewName; }
  bool CreateView(uint32_t style, CWnd* parent) override;
  CWnd* GetWnd() override { return this; }
  void GetSourceIds(std::vector<int>& ids) const override { ids.push_back(kViewEarthApp); }
  void UpdateSatellites(IChildView* source) override;
  // The last camera the page reported: longitude, latitude and the range as a level; 120, 36 and
  // the level of 100000 m while the page has not reported one.
  void GetCamera(double* lng, double* lat, double* level) const override;
  void SetCamera(double lng, double lat, double level, bool history) override;
  bool IsTileMode() const override { return true; }
  void ShowRegion(float lon1, float lat1, float lon2, float lat2) override;
  void ClearObjects() override;
  void ShowSatellites(const SatElements& sat, bool shown) override;
  void ImportKml(const std::string& path) override;
  int LoadShapes(std::vector<CMapShape*>&, bool) override { return 0; }
  IScreenTerrainSource* GetScreenTerrainSource() override { return app_.get(); }

  // Flies to the box without waiting: the render window is disabled until the page reports the
  // flight done and the picture complete, or kLocateTimeoutMs passed.
  virtual void LocateBound(float lon1, float lat1, float lon2, float lat2);
  bool Locating() const { return locate_start_ != 0; }

  // Fits the captured render window to cx x cy (the view's size when both are 0).
  void RecalcLayout(int cx = 0, int cy = 0);
  // The mosaic set-up over the two corners; true when the export file dialog was confirmed.
  bool ExportImage(const float lt[2], const float br[2]);
  // The same with the values of a mosaic project file preset in the export file dialog.
  bool OnExportImage(const std::string& path, const float lt[2], const float br[2], float altitude_m, int delay_ms,
                     bool full_screen, bool coordinates);
  void OnMosaic();
  void OnRegionBound();
  void Capture();
  void Release();

  // ---- state (tests and the side panel) ----
  bool IsCaptured() const;
  bool IsPageReady() const;
  int Mode() const { return mode_; }
  const CRegionShape* FreeRegion() const { return region_.get(); }
  CGoogleEarthApp* App() const { return app_.get(); }
  const std::shared_ptr<CEarthLink>& Link() const { return link_; }
  CSatKmlFeed& Satellites() { return feed_; }
  // Called once each time the page is up and captured (tests and the side panel).
  void SetReadyListener(std::function<void()> listener) { ready_listener_ = std::move(listener); }
  // Sends a command to the page and hands the answer to `done` later (user-interface thread);
  // without a page nothing is sent and `done` is not called.
  void CallPage(const std::string& name, std::vector<ScriptValue> args,
                std::function<void(std::optional<std::string>)> done = {});
  // Opens a KML file on the globe without waiting; false when the page cannot read it.
  bool OpenKmlAsync(const std::string& path);

 protected:
  int OnCreate() override;
  void PreDestroyWindow() override;
  void OnDestroy() override;
  bool OnPaint(CBitmap& canvas) override;
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;

 private:
  void SetMode(int mode);
  void OnStateTimer();
  void OnCameraAnswer(const std::optional<std::string>& answer);
  void OnBandDone(const RECT& band);
  void RunAreaDialog(bool mosaic, const RECT& band, double lt[2], double rb[2]);
  void AddRegionPoint(int x, int y);
  void DrawRegionOverlay();
  void DeleteRegion();
  void WriteSatellites();
  void SwitchBack();
  std::string DataFolder() const;

  std::shared_ptr<CEarthLink> link_;
  std::unique_ptr<CGoogleEarthApp> app_;
  Event stop_;
  CWnd* home_ = nullptr;       // the render window's parent in the application
  bool captured_ = false;
  bool was_ready_ = false;     // the page reported ready once
  bool failed_ = false;        // the page failed after the view was made
  int previous_kind_ = -1;     // the view current when this one was made
  int mode_ = kBrowse;
  int width_ = 0, height_ = 0;
  CDlgGEFeatures* panel_ = nullptr;
  CSelectTracker tracker_{21, 8};
  std::unique_ptr<CRegionShape> region_;
  CSatKmlFeed feed_;
  EarthCamera camera_;         // last reported (range as the level's altitude when set here)
  bool camera_pending_ = false;  // set before the page was up: sent when it is
  bool camera_asked_ = false;
  uint64_t camera_sets_ = 0;     // cameras sent to the page (SetCamera, LocateBound)
  int camera_tick_ = 0;
  uint64_t locate_start_ = 0;  // tick of the running LocateBound, 0 when none
  uint64_t locate_seq_ = 0;    // the page's command count that answered the flight, 0 before
  std::function<void()> ready_listener_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// "文件/导入拼图工程...": a mosaic project file (".kep") of the earth application ("LAYER: GE")
// opens the earth application view's export set-up with the project's values.
inline constexpr UINT ID_GE_IMPORT_PROJECT = 0x8E71;
inline constexpr char kGeImportProjectTitle[] = "导入拼图工程";
inline constexpr char kGeProjectNotEarth[] = "该工程不是谷歌地球拼图工程。";
inline constexpr char kGeProjectUnreadable[] = "无法读取拼图工程文件。";
// Reads the project, switches to the earth application view and runs its OnExportImage with the
// project's values (the output path in the project's folder). False when the file cannot be read,
// is not the earth application's (both told), the view cannot be made, or the export dialog was
// cancelled.
bool ImportGeProject(const std::string& path);

// The earth application view as the program's view kind 3 (its "视图" command comes from the
// frame), its table entries (capture, release, elevation export tool, mosaic) and the side panel
// "谷歌地球" made with the frame.
void RegisterGEAppView(CKovraHomeExApp& app);

}  // namespace velmora

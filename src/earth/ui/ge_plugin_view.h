// CGEPluginView: the plug-in view (view kind 4, "GEPluginView"). It holds its own earth page
// (map.html with the plug-in's script, data/earth/plugin.js) inside its window, receives the
// plug-in object from the page and drives it as the controller (CGEPluginCtrl). It shows the view
// centre and the cursor in the status bar and offers four mouse tools over the globe: move (the
// globe's own navigation), box mosaic, free region and elevation export. Outside the move tool the
// page's mouse comes to this window and the page never sees it; the free region and the rubber
// band are drawn over the globe by the page. Until the plug-in object arrives the view shows its
// waiting screen and remembers camera requests.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "earth/ui/earth_page.h"
#include "earth/ui/earth_tool_commands.h"
#include "earth/ui/ge_plugin_ctrl.h"
#include "view/child_view.h"
#include "view/select_tracker.h"

namespace velmora {

class CRegionShape;

class CGEPluginView : public CWnd, public IChildView, public CGEPluginCtrl {
 public:
  static constexpr const char* kName = "GEPluginView";
  static constexpr const char* kRuntimeClass = "CGEPluginView";
  static constexpr const char* kPanelName = "地球插件";
  static constexpr const char* kWaitText = "等待谷歌地球插件初始化完成...";
  static constexpr const char* kLogoImage = "images/logo.png";
  // Commands.
  static constexpr UINT ID_TOOL_BROWSE = 32749;
  static constexpr UINT ID_TOOL_BOX = 32716;
  static constexpr UINT ID_TOOL_REGION = 32779;
  static constexpr UINT ID_TOOL_DEM = ID_GE_TOOL_DEM;
  static constexpr UINT ID_MOSAIC = ID_GE_MOSAIC;
  static constexpr UINT ID_REGION_BOUND = 32768;
  // Tool modes.
  static constexpr int kToolBrowse = 1;
  static constexpr int kToolRegion = 3;
  static constexpr int kToolBox = 8;
  static constexpr int kToolDem = 9;
  // A band must be wider and higher than this (pixels).
  static constexpr int kMinBand = 10;

  CGEPluginView();
  ~CGEPluginView() override;

  // ---- IChildView ----
  int GetViewKind() const override { return kViewEarthPlugin; }
  std::string GetName() const override { return kName; }
  // The window (0, 0, 500, 500) with the child id 4 under `parent`, the page in it (loaded).
  bool CreateView(uint32_t style, CWnd* parent) override;
  CWnd* GetWnd() override { return this; }
  void GetSourceIds(std::vector<int>& ids) const override { ids.push_back(kViewEarthPlugin); }
  void UpdateSatellites(IChildView* source) override;
  void GetCamera(double* lng, double* lat, double* level) const override;
  void SetCamera(double lng, double lat, double level, bool history) override;
  bool IsTileMode() const override { return true; }
  void ShowRegion(float lon1, float lat1, float lon2, float lat2) override { ShowRegionBound(lon1, lat1, lon2, lat2); }
  void ClearObjects() override { ClearFeatures(); }
  void ImportKml(const std::string& path) override { OpenKmz(path); }
  IScreenTerrainSource* GetScreenTerrainSource() override { return this; }

  // ---- the page ----
  CEarthPage& Page() { return page_; }
  // Drops the plug-in object and loads the page again.
  void Reload();
  // The page's messages; false when the text is refused.
  bool OnPageMessage(const std::string& message);
  bool SetGEPluginObject(const std::string& hand_over);
  bool OnViewChange(const std::string& text);
  bool OnViewChangeEnd(const std::string& text);
  bool OnMouseCoordChange(const std::string& text);

  // ---- tools ----
  int ToolMode() const { return tool_mode_; }
  CRegionShape* FreeRegion() const { return region_.get(); }
  const CSelectTracker* Tracker() const { return tracker_.get(); }
  // The left press of the tools (window pixels).
  void OnToolClick(UINT flags, int x, int y);

  // ---- what the export and the region overlay fill in ----
  // The snapshot mosaic of the rectangle (top-left and bottom-right longitude/latitude); null
  // corners: the job in "gp.exp" goes on.
  virtual void OnExport(const float* top_left, const float* bottom_right);
  // Command 32770.
  virtual void OnMosaic();
  // The region overlay; left >= kNoRegion removes it.
  virtual void ShowRegionBound(float left, float top, float right, float bottom);
  // Command 32768 and its state.
  virtual void OnRegionBound();
  virtual void OnUpdateRegionBound(CCmdUI& cmd);

  // The waiting screen (drawn while there is no plug-in object).
  bool OnPaint(CBitmap& canvas) override;

  // Tests: told after each page message was handled.
  void SetMessageListener(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

 protected:
  int OnCreate() override;
  void OnDestroy() override;

 private:
  void SetTool(int mode);
  void ToggleTool(int mode);
  void DeleteRegion();
  void DrawOverlay();
  void OnBandDone(const RECT& band);
  void PlaceChildren();

  CEarthPage page_;
  int tool_mode_ = kToolBrowse;
  std::unique_ptr<CSelectTracker> tracker_;
  std::unique_ptr<CRegionShape> region_;
  bool camera_asked_ = false;   // a camera was set before the plug-in object arrived
  bool band_busy_ = false;      // the band's corners are being asked or its dialog is open
  std::function<void(const std::string&)> listener_;
  std::shared_ptr<bool> view_alive_ = std::make_shared<bool>(true);
};

// The "视图/…" view factory of kind 4, the commands 32782 and 32770, and the panel "地球插件".
class CKovraHomeExApp;
void RegisterGEPluginView(CKovraHomeExApp& app);

}  // namespace velmora

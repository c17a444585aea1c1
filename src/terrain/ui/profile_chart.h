// CProfileChart: a static control that draws the height profile of a line against the distance
// along it (green on black, a dotted grid every 100 pixels with distance and height labels),
// follows the mouse with a crosshair, marks the point under it and shows its longitude, latitude
// and height in a tool tip, moves the current view to a point that is double-clicked, and writes
// the line's hiking summary ("徒步分析...", from its context menu) to the "walk" folder of the
// data folder. Points without data (-9999) leave gaps in the profile.
#pragma once
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/ui/controls.h"
#include "platform/ui/tool_tip_ctrl.h"
#include "terrain/elevation_profile.h"

namespace velmora {

class CElevationStore;
class CMapShape;
class IChildView;

class CProfileChart : public CStatic {
 public:
  static constexpr UINT ID_HIKING_ANALYSIS = 32777;
  static constexpr const char* kHikingMenuText = "徒步分析...";
  static constexpr const char* kCannotCreateFile = "无法创建文件";
  // Colours (straight ARGB).
  static constexpr Argb kBackColor = 0xFF000000u;
  static constexpr Argb kProfileColor = 0xFF00FF00u;
  static constexpr Argb kGridColor = 0x6400FF00u;
  static constexpr Argb kDistanceColor = 0xFFFF00FFu;
  static constexpr Argb kHeightColor = 0xFFFFFF00u;
  static constexpr Argb kCrosshairColor = 0x64FF0000u;
  static constexpr Argb kMarkColor = 0xFFFF0000u;
  static constexpr int kGridSpacing = 100;
  static constexpr int kHoverSlop = 3;
  static constexpr unsigned kToolTipDelay = 10000000;
  static constexpr float kLabelPixels = 12.0f;

  CProfileChart();
  ~CProfileChart() override;

  // Where heights come from (null: the program's store) and which view a double-click moves
  // (null: the application's current view).
  void SetElevationStore(CElevationStore* store) { store_ = store; }
  void SetTargetView(IChildView* view) { view_ = view; }

  // Takes the shape's name, points and per-point values (a polyline or a labelled polyline);
  // when the values are not one per point, samples one height per point at the map view's
  // resolution (behind the progress dialog in the web modes). Then DrawAxes. False when the shape
  // is no line or the sampling was cancelled (the chart then keeps what it showed).
  bool LoadTrack(const CMapShape& shape);
  // The line as given: its name, points and one height per point.
  void SetLine(std::string name, std::vector<ShapePoint> points, std::vector<float> heights);
  // Lays the profile out for the client size and renders the chart picture, then repaints.
  void DrawAxes();
  // Writes the hiking summary and opens it; shows kCannotCreateFile when the file cannot be
  // made. False when nothing was written.
  bool OnHikingAnalysis();

  // ---- state ----
  const std::string& LineName() const { return name_; }
  const std::vector<ShapePoint>& Points() const { return points_; }
  const std::vector<float>& Heights() const { return heights_; }
  const ProfileLayout& Layout() const { return layout_; }
  int HoveredPoint() const { return hovered_; }
  const CToolTipCtrl& ToolTip() const { return tip_; }
  // The text the tool tip shows for a point.
  std::string TipText(int point) const;

  bool OnPaint(CBitmap& canvas) override;
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;

 protected:
  int OnCreate() override;
  void OnDestroy() override;

 private:
  void OnMouseMove(int x, int y);
  void OnDoubleClick();
  void OnContextMenu(int screen_x, int screen_y);
  void Render();

  // Screen points, total length, lowest height and range of the profile.
  ProfileLayout layout_;
  std::vector<ShapePoint> points_;
  std::vector<float> heights_;
  CBitmap bitmap_;
  int width_ = 0;
  int height_ = 0;
  int mouse_x_ = -1;
  int mouse_y_ = -1;
  int hovered_ = -1;
  std::string name_;
  CToolTipCtrl tip_;
  CElevationStore* store_ = nullptr;
  IChildView* view_ = nullptr;
};

}  // namespace velmora

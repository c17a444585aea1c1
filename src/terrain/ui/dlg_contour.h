// CDlgContour: the contour dialog of the 2D map view (template 205, modeless). It samples the
// heights of a longitude/latitude box (by default the map view's) into its elevation preview,
// traces contour lines at an interval, lists them by level and point count, highlights the line
// selected in the list and adds a double-clicked line to the map as a polyline named by its
// level.
#pragma once
#include <string>

#include "shell/dialog_ex.h"
#include "shell/link_static.h"
#include "shell/list_ctrl_ex.h"
#include "terrain/ui/elev_profile_ctrl.h"

namespace velmora {

class CPDView;

class CDlgContour : public CDialogEx {
 public:
  static constexpr int IDD = 205;
  static constexpr int kIdViewBox = 1527;
  static constexpr int kIdList = 1401;
  static constexpr int kIdChart = 1510;
  static constexpr int kIdInterval = 1321;
  static constexpr int kIdIntervalUp = 1323;    // the up-down arrows of the interval, by 10
  static constexpr int kIdIntervalDown = 1324;
  static constexpr int kIdCount = 1350;
  static constexpr int kIdWest = 1337;          // first corner: top left
  static constexpr int kIdNorth = 1338;
  static constexpr int kIdEast = 1307;          // second corner: bottom right
  static constexpr int kIdSouth = 1308;
  static constexpr UINT kCmdSample = 1024;
  static constexpr UINT kCmdCompute = 1035;

  static constexpr int kMinInterval = 10;
  static constexpr int kMaxInterval = 2000;
  static constexpr int kIntervalStep = 10;
  static constexpr int kDefaultInterval = 10;
  static constexpr int kDefaultCount = 200;
  static constexpr int kMinCount = 2;
  // The interval's validation message.
  static std::string IntervalMessage();

  explicit CDlgContour(CWnd* parent = nullptr);
  ~CDlgContour() override;

  // The view that double-clicked lines are added to (null: the application's 2D view).
  void SetMapView(CPDView* view) { view_ = view; }

  // The commands (also reachable as buttons and list actions).
  bool OnSample();
  bool OnCompute();
  void OnViewBox();
  void AddLineToMap(int row);

  CElevProfileCtrl& Chart() { return chart_; }
  CListCtrlEx& List() { return list_; }

 protected:
  bool OnInitDialog() override;

 private:
  struct Values {
    int interval = 0;
    int count = 0;
    float west = 0, north = 0, east = 0, south = 0;
  };
  // Reads and checks the edits; shows the message of the first bad value and returns false.
  bool ReadValues(Values* values);
  void StepInterval(int delta);
  void ClearList();
  CPDView* MapView() const;

  CLinkStatic link_;
  CListCtrlEx list_;
  CElevProfileCtrl chart_;
  CPDView* view_ = nullptr;
};

}  // namespace velmora

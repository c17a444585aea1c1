// CDlgBoundaryProp: "边界详细设置" (template 245), the details of one boundary polygon: its points
// (list 1411), fill colour (1514) and line colour (1521) boxes that change the polygon at once and
// redraw the view, "显示选中点" (1136: the point selected in the list is marked on the map while
// the dialog is open), line width (combo 1210: "无", 1-10), fill (1118) and name (1339), taken on
// OK. Opened from the boundary panel's region list.
#pragma once
#include "platform/ui/controls.h"
#include "platform/ui/list_ctrl.h"
#include "shell/color_static.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CPDView;
class CPolygonShape;

class CDlgBoundaryProp : public CDialogEx {
 public:
  static constexpr int kTemplateId = 245;
  static constexpr int kIdPoints = 1411, kIdFill = 1514, kIdLine = 1521, kIdShowPoint = 1136;
  static constexpr int kIdWidth = 1210, kIdFilled = 1118, kIdName = 1339;

  CDlgBoundaryProp(CPolygonShape* polygon, CPDView* view, CWnd* parent = nullptr);
  ~CDlgBoundaryProp() override;

  void OnOK() override;

 protected:
  bool OnInitDialog() override;
  void OnDestroy() override;

 private:
  void Redraw();
  void MarkSelectedPoint();

  CPolygonShape* polygon_;
  CPDView* view_;
  CListCtrl points_;
  CColorStatic fill_, line_;
};

}  // namespace velmora

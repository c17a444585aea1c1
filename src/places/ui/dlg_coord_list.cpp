// The point list dialog: the shell's point list fitted to the client area.
#include "places/ui/dlg_coord_list.h"

#include "places/ui/coord_dialog_templates.h"

namespace velmora {

CDlgCoordList::CDlgCoordList(CWnd* parent) : CDialogEx(RegisterCoordDialogTemplates(kCoordListTemplateId), parent) {
  BindControl(kIdList, list_);
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM lparam) {
    int cx = GET_X_LPARAM(lparam), cy = GET_Y_LPARAM(lparam);
    if (list_.IsWindow() && cx > 0 && cy > 0) list_.MoveWindow(RECT{0, 0, cx, cy});
    return LRESULT{0};
  });
}

void CDlgCoordList::SetPoints(const std::vector<Point3D>* points) {
  points_ = points;
  if (list_.IsWindow()) list_.SetPoints(points_);
}

bool CDlgCoordList::OnInitDialog() {
  list_.SetPoints(points_);
  return true;
}

}  // namespace velmora

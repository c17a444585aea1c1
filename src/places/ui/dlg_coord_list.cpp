// The point list dialog.
#include "places/ui/dlg_coord_list.h"

#include <cmath>

#include "core/format.h"
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

std::string CDlgCoordList::ItemText(int item, int sub_item) const {
  if (!points_ || item < 0 || static_cast<size_t>(item) >= points_->size()) return {};
  const Point3D& p = (*points_)[static_cast<size_t>(item)];
  const bool dms = AppOptions().coord_format == 1;
  switch (sub_item) {
    case 0: return std::to_string(item + 1);
    case 1: return dms ? FormatDms(p.x) : FormatNumber14(std::round(p.x * 1e8) / 1e8);
    case 2: return dms ? FormatDms(p.y) : FormatNumber14(std::round(p.y * 1e8) / 1e8);
    case 3: return FormatFixed(p.z, 2);
    default: return {};
  }
}

bool CDlgCoordList::OnInitDialog() {
  list_.DeleteAllItems();
  while (list_.GetColumnCount() > 0) list_.DeleteColumn(0);
  list_.InsertColumn(0, "序号", LVCFMT_LEFT, 50);
  list_.InsertColumn(1, "经度", LVCFMT_LEFT, 110);
  list_.InsertColumn(2, "纬度", LVCFMT_LEFT, 110);
  list_.InsertColumn(3, "海拔", LVCFMT_LEFT, 70);
  list_.SetDisplayCallbacks([this](int item, int sub_item) { return ItemText(item, sub_item); });
  list_.SetItemCountEx(points_ ? static_cast<int>(points_->size()) : 0);
  return true;
}

}  // namespace velmora

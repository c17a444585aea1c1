// CDlgCoordList: "坐标" (template 272), a resizable dialog that shows the points its caller hands
// it (序号, 经度, 纬度, 海拔) in a virtual list; the elevation tools show their point lists in it.
#pragma once
#include <vector>

#include "core/settings.h"
#include "shell/dialog_ex.h"
#include "shell/list_ctrl_ex.h"

namespace velmora {

class CDlgCoordList : public CDialogEx {
 public:
  static constexpr int kIdList = 1262;

  explicit CDlgCoordList(CWnd* parent = nullptr);
  // The caller's points (x longitude, y latitude, z height in metres); they must outlive the
  // dialog's window. Longitudes and latitudes show in the global coordinate format.
  void SetPoints(const std::vector<Point3D>* points) { points_ = points; }
  CListCtrlEx& List() { return list_; }

 protected:
  bool OnInitDialog() override;

 private:
  std::string ItemText(int item, int sub_item) const;
  const std::vector<Point3D>* points_ = nullptr;
  CListCtrlEx list_;
};

}  // namespace velmora

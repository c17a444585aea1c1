// CDlgCoordList: "坐标" (template 272), a resizable dialog that shows the points its caller hands
// it (序号, 经度, 纬度, 海拔) in the shell's point list, with its right-click export; the elevation
// tools show their point lists in it.
#pragma once
#include <vector>

#include "core/settings.h"
#include "shell/coord_list.h"
#include "shell/dialog_ex.h"

namespace velmora {

class CDlgCoordList : public CDialogEx {
 public:
  static constexpr int kIdList = 1262;

  explicit CDlgCoordList(CWnd* parent = nullptr);
  // The caller's points (x longitude, y latitude, z height in metres); they must outlive the
  // dialog's window. Longitudes and latitudes show in the global coordinate format.
  void SetPoints(const std::vector<Point3D>* points);
  CCoordList& List() { return list_; }

 protected:
  bool OnInitDialog() override;

 private:
  const std::vector<Point3D>* points_ = nullptr;
  CCoordList list_;
};

}  // namespace velmora

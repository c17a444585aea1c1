// The sampling region dialog.
#include "exchange/ui/dlg_region_set.h"

#include "core/format.h"
#include "core/settings.h"

namespace velmora {
namespace {

int RegisteredTemplate() {
  static const int id = [] {
    DialogTemplate t;
    t.id = CDlgRegionSet::kTemplateId;
    t.caption = "区域设定";
    t.cx = 220;
    t.cy = 100;
    CDlgRegionBase::AddCornerControlsFor(t, 7);
    t.controls.push_back({ControlKind::kStatic, -1, "采样间距(米):", 7, 47, 46, 10, 0});
    t.controls.push_back({ControlKind::kEdit, CDlgRegionSet::kIdDistance, "", 55, 45, 50, 12, 0});
    t.controls.push_back({ControlKind::kDefButton, IDOK, "确定", 106, 79, 50, 14, 0});
    t.controls.push_back({ControlKind::kButton, IDCANCEL, "取消", 163, 79, 50, 14, 0});
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

}  // namespace

CDlgRegionSet::CDlgRegionSet(CWnd* parent)
    : CDlgRegionBase(RegisteredTemplate(), parent),
      distance_(GetProfileInt("region", "dem_distance", kDefaultDistance)) {
  if (distance_ < 1 || distance_ > kMaxDistance) distance_ = kDefaultDistance;
}

bool CDlgRegionSet::OnInitDialog() {
  CDlgRegionBase::OnInitDialog();
  SetDlgItemInt(kIdDistance, distance_);
  return true;
}

void CDlgRegionSet::OnOK() {
  auto d = ParseInt(GetDlgItemText(kIdDistance));
  if (!d || *d < 1 || *d > kMaxDistance) {
    MessageBox(kBadDistance, kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  if (!ReadCorners()) return;
  distance_ = static_cast<int>(*d);
  WriteProfileInt("region", "dem_distance", distance_);
  CDialogEx::OnOK();
}

}  // namespace velmora

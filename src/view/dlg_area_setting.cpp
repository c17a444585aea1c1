// The area dialog: its template, the corners shown with six decimals and read back without the
// locale, checked and normalised.
#include "view/dlg_area_setting.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <optional>

#include "core/format.h"
#include "platform/ui/dialog_template.h"
#include "tiles/map_view_state.h"
#include "view/child_view.h"

namespace velmora {
namespace {

void RegisterTemplate() {
  static std::once_flag once;
  std::call_once(once, [] {
    DialogTemplate t;
    t.id = CDlgAreaSetting::IDD;
    t.caption = "区域设定";
    t.cx = 200;
    t.cy = 110;
    t.controls = {
        {ControlKind::kGroupBox, -1, "左上角", 7, 7, 90, 60},
        {ControlKind::kStatic, -1, "经度", 14, 22, 24, 10},
        {ControlKind::kEdit, CDlgAreaSetting::IDC_LEFT_LNG, "", 40, 20, 52, 14},
        {ControlKind::kStatic, -1, "纬度", 14, 42, 24, 10},
        {ControlKind::kEdit, CDlgAreaSetting::IDC_TOP_LAT, "", 40, 40, 52, 14},
        {ControlKind::kGroupBox, -1, "右下角", 103, 7, 90, 60},
        {ControlKind::kStatic, -1, "经度", 110, 22, 24, 10},
        {ControlKind::kEdit, CDlgAreaSetting::IDC_RIGHT_LNG, "", 136, 20, 52, 14},
        {ControlKind::kStatic, -1, "纬度", 110, 42, 24, 10},
        {ControlKind::kEdit, CDlgAreaSetting::IDC_BOTTOM_LAT, "", 136, 40, 52, 14},
        {ControlKind::kDefButton, IDOK, "确定", 84, 86, 50, 14},
        {ControlKind::kButton, IDCANCEL, "取消", 143, 86, 50, 14},
    };
    RegisterDialogTemplate(t);
  });
}

int RegisteredId() {
  RegisterTemplate();
  return CDlgAreaSetting::IDD;
}

}  // namespace

CDlgAreaSetting::CDlgAreaSetting(int mode, IChildView* view, CWnd* parent)
    : CDialog(RegisteredId(), parent), mode_(mode), view_(view) {}

void CDlgAreaSetting::SetCorners(float left_lng, float top_lat, float right_lng, float bottom_lat) {
  m_lt[0] = left_lng, m_lt[1] = top_lat;
  m_rb[0] = right_lng, m_rb[1] = bottom_lat;
  preset_ = true;
}

bool CDlgAreaSetting::OnInitDialog() {
  if (!preset_ && view_ && view_->GetViewKind() == kViewMap2D) {
    if (IMapViewState* map = CurrentMapView()) map->GetViewBounds(m_lt, m_rb);
  }
  SetDlgItemText(IDC_LEFT_LNG, FormatFixed(m_lt[0], 6));
  SetDlgItemText(IDC_TOP_LAT, FormatFixed(m_lt[1], 6));
  SetDlgItemText(IDC_RIGHT_LNG, FormatFixed(m_rb[0], 6));
  SetDlgItemText(IDC_BOTTOM_LAT, FormatFixed(m_rb[1], 6));
  return true;
}

void CDlgAreaSetting::OnOK() {
  std::optional<double> l = ParseDouble(GetDlgItemText(IDC_LEFT_LNG));
  std::optional<double> t = ParseDouble(GetDlgItemText(IDC_TOP_LAT));
  std::optional<double> r = ParseDouble(GetDlgItemText(IDC_RIGHT_LNG));
  std::optional<double> b = ParseDouble(GetDlgItemText(IDC_BOTTOM_LAT));
  auto lng_ok = [](const std::optional<double>& v) { return v && *v >= -180.0 && *v <= 180.0; };
  auto lat_ok = [](const std::optional<double>& v) { return v && *v >= -90.0 && *v <= 90.0; };
  if (!lng_ok(l) || !lng_ok(r) || !lat_ok(t) || !lat_ok(b) || *l == *r || *t == *b) {
    MessageBox(kBadCorners, kAppTitle, MB_OK | MB_ICONWARNING);
    return;  // the dialog stays open with what was typed
  }
  m_lt[0] = float(std::min(*l, *r));
  m_rb[0] = float(std::max(*l, *r));
  m_lt[1] = float(std::max(*t, *b));
  m_rb[1] = float(std::min(*t, *b));
  EndDialog(IDOK);
}

}  // namespace velmora

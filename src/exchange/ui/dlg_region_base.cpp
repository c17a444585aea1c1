// Region dialog base: corner edits and their settings.
#include "exchange/ui/dlg_region_base.h"

#include <cmath>

#include "core/format.h"
#include "core/settings.h"
#include "platform/ui/dialog_template.h"

namespace velmora {
namespace {

std::optional<double> ParseCoordinate(const std::string& text) {
  if (auto v = ParseDouble(text)) return v;
  double dms = 0;
  if (ParseDms(text, &dms)) return dms;
  return std::nullopt;
}

}  // namespace

std::string FormatCorner(float degrees) {
  std::string s = FormatFixed(degrees, 6);
  if (s.find('.') != std::string::npos) {
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
  }
  return s == "-0" ? "0" : s;
}

void CDlgRegionBase::LoadCorners(const std::string& section) {
  PointF lt = ProgramSettings().GetPointF(section + "lt", {kDefaultTopLeft.lng, kDefaultTopLeft.lat});
  PointF br = ProgramSettings().GetPointF(section + "br", {kDefaultBottomRight.lng, kDefaultBottomRight.lat});
  top_left = {lt.x, lt.y};
  bottom_right = {br.x, br.y};
  if (IsWindow()) ShowCorners();
}

void CDlgRegionBase::SaveCorners(const std::string& section) const {
  ProgramSettings().SetPointF(section + "lt", {top_left.lng, top_left.lat});
  ProgramSettings().SetPointF(section + "br", {bottom_right.lng, bottom_right.lat});
}

void CDlgRegionBase::AddCornerControlsFor(DialogTemplate& t, int y) {
  const char* labels[] = {"左上角经度:", "左上角纬度:", "右下角经度:", "右下角纬度:"};
  const int ids[] = {kIdWest, kIdNorth, kIdEast, kIdSouth};
  for (int i = 0; i < 4; ++i) {
    const int x = (i % 2) ? 110 : 7;
    const int row = y + (i / 2) * 18;
    t.controls.push_back({ControlKind::kStatic, -1, labels[i], x, row + 2, 46, 10, 0});
    t.controls.push_back({ControlKind::kEdit, ids[i], "", x + 48, row, 50, 12, 0});
  }
}

void CDlgRegionBase::ShowCorners() {
  SetDlgItemText(kIdWest, FormatCorner(top_left.lng));
  SetDlgItemText(kIdNorth, FormatCorner(top_left.lat));
  SetDlgItemText(kIdEast, FormatCorner(bottom_right.lng));
  SetDlgItemText(kIdSouth, FormatCorner(bottom_right.lat));
}

bool CDlgRegionBase::OnInitDialog() {
  ShowCorners();
  return true;
}

bool CDlgRegionBase::ReadCorners() {
  auto w = ParseCoordinate(GetDlgItemText(kIdWest));
  auto n = ParseCoordinate(GetDlgItemText(kIdNorth));
  auto e = ParseCoordinate(GetDlgItemText(kIdEast));
  auto s = ParseCoordinate(GetDlgItemText(kIdSouth));
  auto lng_ok = [](const std::optional<double>& v) { return v && *v >= -180 && *v <= 180; };
  auto lat_ok = [](const std::optional<double>& v) { return v && *v >= -90 && *v <= 90; };
  if (!lng_ok(w) || !lng_ok(e) || !lat_ok(n) || !lat_ok(s) || !(*e > *w) || !(*n > *s)) {
    MessageBox(kBadCorners, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  top_left = {static_cast<float>(*w), static_cast<float>(*n)};
  bottom_right = {static_cast<float>(*e), static_cast<float>(*s)};
  return true;
}

void CDlgRegionBase::OnOK() {
  if (!ReadCorners()) return;  // the dialog stays open
  CDialogEx::OnOK();
}

}  // namespace velmora

// The satellite edit dialog.
#include "shell/dlg_sat_edit.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/format.h"
#include "platform/ui/controls.h"

namespace velmora {
namespace {

constexpr double kRadToDeg = 57.29577951308232;
constexpr double kRadPerMinToRevPerDay = 1440.0 / (2.0 * 3.141592653589793);

int RegisteredTemplate() {
  static const int id = [] {
    using K = ControlKind;
    DialogTemplate t;
    t.id = CDlgSatEdit::kTemplateId;
    t.caption = "卫星参数";
    t.cx = 330;
    t.cy = 150;
    t.controls = {
        {K::kStatic, -1, "历元(UTC):", 7, 9, 44, 10, 0},
        {K::kStatic, CDlgSatEdit::kIdEpoch, "", 54, 9, 140, 10, 0},
        {K::kStatic, -1, "轨道根数:", 7, 25, 60, 10, 0},
        {K::kEdit, CDlgSatEdit::kIdElements, "", 7, 37, 316, 44, 0},
        {K::kStatic, -1, "颜色:", 7, 91, 24, 10, 0},
        {K::kStatic, CDlgSatEdit::kIdColor, "", 34, 89, 30, 14, 0},
        {K::kStatic, -1, "图标:", 80, 91, 24, 10, 0},
        {K::kStatic, CDlgSatEdit::kIdIcon, "", 106, 86, 24, 24, 0},
        {K::kDefButton, IDOK, "确定", 212, 128, 50, 14, 0},
        {K::kButton, IDCANCEL, "取消", 273, 128, 50, 14, 0},
    };
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

// Check digit of an element line: the digits' sum plus one for each minus sign, modulo 10.
char CheckDigit(const std::string& line) {
  int sum = 0;
  for (char c : line) {
    if (c >= '0' && c <= '9') sum += c - '0';
    if (c == '-') ++sum;
  }
  return static_cast<char>('0' + sum % 10);
}

// The drag term as " 12345-3": sign, five digits after an implied "0.", exponent.
std::string DragField(double bstar) {
  if (!std::isfinite(bstar) || bstar == 0) return " 00000-0";
  double a = std::fabs(bstar);
  int e = static_cast<int>(std::floor(std::log10(a))) + 1;
  long digits = std::lround(a / std::pow(10.0, e) * 1e5);
  if (digits >= 100000) {
    digits /= 10;
    ++e;
  }
  if (e < -9 || e > 9) return " 00000-0";  // beyond what the field can hold
  return FormatC("%c%05ld%c%d", bstar < 0 ? '-' : ' ', digits, e < 0 ? '-' : '+', std::abs(e));
}

double Degrees(double radians) {
  double d = std::fmod(radians * kRadToDeg, 360.0);
  return d < 0 ? d + 360.0 : d;
}

}  // namespace

CDlgSatEdit::CDlgSatEdit(SatElements* record, CWnd* parent) : CDialogEx(RegisteredTemplate(), parent), record_(record) {
  BindControl(kIdColor, color_);
  BindControl(kIdIcon, icon_);
  MapControlNotify(kIdElements, EN_CHANGE, [this] { ShowEpochOfText(); });
}

std::string CDlgSatEdit::FormatEpoch(double epoch) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  TleEpochToDate(epoch, &year, &month, &day, &hour, &minute, &second);
  return FormatC("%d-%d-%d %d:%d:%d", year, month, day, hour, minute, second);
}

std::string CDlgSatEdit::FormatElementText(const SatElements& r) {
  const unsigned number = r.satellite_number % 100000u;
  const int yy = static_cast<int>(std::floor(r.epoch / 1000.0)) % 100;
  const double day = r.epoch - std::floor(r.epoch / 1000.0) * 1000.0;
  std::string line1 = FormatC("1 %05uU %-8s %02d%012.8f  .00000000  00000-0 %s 0 %4u", number, "", yy, day,
                              DragField(r.bstar).c_str(), r.element_set_number % 10000u);
  line1 += CheckDigit(line1);
  long ecc = std::lround(std::clamp(r.eccentricity, 0.0, 0.9999999) * 1e7);
  std::string line2 = FormatC("2 %05u %8.4f %8.4f %07ld %8.4f %8.4f %11.8f%5d", number, Degrees(r.inclination),
                              Degrees(r.right_ascension), ecc, Degrees(r.argument_of_perigee), Degrees(r.mean_anomaly),
                              r.mean_motion * kRadPerMinToRevPerDay, 0);
  line2 += CheckDigit(line2);
  return r.name + "\r\n" + line1 + "\r\n" + line2;
}

bool CDlgSatEdit::OnInitDialog() {
  SetDlgItemText(kIdEpoch, FormatEpoch(record_->epoch));
  shown_text_ = FormatElementText(*record_);
  SetDlgItemText(kIdElements, shown_text_);
  color_.SetColor(record_->color);
  icon_.SetPicturePath(record_->icon_path);
  return true;
}

void CDlgSatEdit::ShowEpochOfText() {
  CSatOrbit orbit;
  if (orbit.ParseTle(GetDlgItemText(kIdElements))) SetDlgItemText(kIdEpoch, FormatEpoch(orbit.Elements().epoch));
}

void CDlgSatEdit::OnOK() {
  std::string text = GetDlgItemText(kIdElements);
  SatElements edited = *record_;
  if (text != shown_text_) {
    CSatOrbit orbit;
    if (!orbit.ParseTle(text)) {
      MessageBox(kBadElements, kAppTitle, MB_OK | MB_ICONWARNING);
      if (CWnd* edit = GetDlgItem(kIdElements)) edit->SetFocus();
      return;
    }
    edited = orbit.Elements();
    edited.shown = record_->shown;
  }
  edited.color = color_.GetColor();
  edited.icon_path = icon_.GetPicturePath();
  *record_ = edited;
  EndDialog(IDOK);
}

}  // namespace velmora

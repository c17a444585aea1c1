// The bus lines' display settings.
#include "places/ui/dlg_bus_line_display.h"

#include <algorithm>
#include <string>

#include "platform/ui/controls.h"
#include "platform/ui/ui_host.h"

namespace velmora {
namespace {

using K = ControlKind;

DialogTemplate BusLineDisplayTemplate() {
  DialogTemplate t;
  t.id = CDlgBusLineDisplay::kTemplateId;
  t.caption = "公交线路显示设置";
  t.cx = 180;
  t.cy = 130;
  t.controls = {
      {K::kCheckBox, CDlgBusLineDisplay::kIdShowNames, "显示站名", 6, 6, 60, 10, 0},
      {K::kStatic, -1, "线宽:", 6, 24, 24, 8, 0},
      {K::kComboBox, CDlgBusLineDisplay::kIdLineWidth, "", 34, 22, 40, 80, 0},
      {K::kStatic, CDlgBusLineDisplay::kIdLineColor, "线色", 84, 22, 40, 12, 0},
      {K::kStatic, -1, "点宽:", 6, 42, 24, 8, 0},
      {K::kComboBox, CDlgBusLineDisplay::kIdDotWidth, "", 34, 40, 40, 80, 0},
      {K::kStatic, CDlgBusLineDisplay::kIdDotColor, "点色", 84, 40, 40, 12, 0},
      {K::kStatic, CDlgBusLineDisplay::kIdNameFont, "站名字体", 6, 60, 168, 30, 0},
      {K::kDefButton, IDOK, "确定", 80, 110, 44, 14, 0},
      {K::kButton, IDCANCEL, "取消", 130, 110, 44, 14, 0},
  };
  return t;
}

}  // namespace

CDlgBusLineDisplay::CDlgBusLineDisplay(BusLineDisplay& display, std::function<void()> redraw, CWnd* parent)
    : CDialogEx(BusLineDisplayTemplate(), parent), display_(display), redraw_(std::move(redraw)) {
  BindControl(kIdLineColor, line_color_);
  BindControl(kIdDotColor, dot_color_);
  BindControl(kIdNameFont, name_font_);
  MapControlNotify(kIdLineColor, CSN_COLORCHANGED, [this] {
    display_.line_color = line_color_.GetColor();
    if (redraw_) redraw_();
  });
  MapControlNotify(kIdDotColor, CSN_COLORCHANGED, [this] {
    display_.dot_color = dot_color_.GetColor();
    if (redraw_) redraw_();
  });
  MapControlNotify(kIdNameFont, BN_CLICKED, [this] {
    uint32_t argb = display_.name_style.color;
    if (!GetUiHost().ChooseColor(this, &argb)) return;
    display_.name_style.color = argb;
    name_font_.SetTextStyle(display_.name_style);
    if (redraw_) redraw_();
  });
}

bool CDlgBusLineDisplay::OnInitDialog() {
  CheckDlgButton(kIdShowNames, display_.show_names ? BST_CHECKED : BST_UNCHECKED);
  for (int id : {kIdLineWidth, kIdDotWidth}) {
    CComboBox* combo = GetDlgItemAs<CComboBox>(id);
    combo->AddString("无");
    for (int i = 1; i <= 10; ++i) combo->AddString(std::to_string(i));
  }
  GetDlgItemAs<CComboBox>(kIdLineWidth)->SetCurSel(static_cast<int>(std::min(display_.line_width, 10u)));
  GetDlgItemAs<CComboBox>(kIdDotWidth)->SetCurSel(static_cast<int>(std::min(display_.dot_width, 10u)));
  line_color_.SetColor(display_.line_color);
  dot_color_.SetColor(display_.dot_color);
  name_font_.SetTextStyle(display_.name_style);
  return true;
}

void CDlgBusLineDisplay::OnOK() {
  display_.show_names = IsDlgButtonChecked(kIdShowNames) != 0;
  display_.line_width = static_cast<uint32_t>(std::max(0, GetDlgItemAs<CComboBox>(kIdLineWidth)->GetCurSel()));
  display_.dot_width = static_cast<uint32_t>(std::max(0, GetDlgItemAs<CComboBox>(kIdDotWidth)->GetCurSel()));
  if (redraw_) redraw_();
  CDialogEx::OnOK();
}

}  // namespace velmora

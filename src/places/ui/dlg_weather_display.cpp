// The weather display settings.
#include "places/ui/dlg_weather_display.h"

#include <charconv>

#include "platform/text.h"
#include "platform/ui/controls.h"
#include "platform/ui/ui_host.h"

namespace velmora {
namespace {

using K = ControlKind;

DialogTemplate WeatherDisplayTemplate() {
  DialogTemplate t;
  t.id = CDlgWeatherDisplay::kTemplateId;
  t.caption = "天气显示设置";
  t.cx = 180;
  t.cy = 120;
  t.controls = {
      {K::kStatic, CDlgWeatherDisplay::kIdSample, CDlgWeatherDisplay::kSampleText, 6, 6, 168, 28, 0},
      {K::kStatic, -1, "字体:", 6, 42, 24, 8, 0},
      {K::kEdit, CDlgWeatherDisplay::kIdFontName, "", 32, 40, 80, 12, 0},
      {K::kEdit, CDlgWeatherDisplay::kIdFontSize, "", 116, 40, 24, 12, 0},
      {K::kStatic, -1, "背景色:", 6, 60, 30, 8, 0},
      {K::kCustom, CDlgWeatherDisplay::kIdBackground, "", 40, 58, 40, 12, 0},
      {K::kCheckBox, CDlgWeatherDisplay::kIdImage, "图片", 6, 78, 40, 10, 0},
      {K::kCheckBox, CDlgWeatherDisplay::kIdTrans, "透明", 60, 78, 40, 10, 0},
      {K::kDefButton, IDOK, "确定", 80, 100, 44, 14, 0},
      {K::kButton, IDCANCEL, "取消", 130, 100, 44, 14, 0},
  };
  return t;
}

}  // namespace

CDlgWeatherDisplay::CDlgWeatherDisplay(CWnd* parent) : CDialogEx(WeatherDisplayTemplate(), parent) {
  BindControl(kIdSample, sample_);
  BindControl(kIdBackground, background_);
  // A click on the sample (a static's click arrives as code 0) picks the text colour.
  MapControlNotify(kIdSample, BN_CLICKED, [this] {
    uint32_t argb = display_.font_color;
    if (GetUiHost().ChooseColor(this, &argb)) {
      display_.font_color = argb;
      UpdateSample();
    }
  });
  MapControlNotify(kIdFontName, EN_CHANGE, [this] {
    display_.font_name = GetDlgItemText(kIdFontName);
    UpdateSample();
  });
  MapControlNotify(kIdFontSize, EN_CHANGE, [this] {
    const std::string text(TrimAscii(GetDlgItemText(kIdFontSize)));
    int size = 0;
    auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), size);
    if (ec == std::errc() && p == text.data() + text.size() && size >= 4 && size <= 200) {
      display_.font_size = size;
      UpdateSample();
    }
  });
}

bool CDlgWeatherDisplay::OnInitDialog() {
  display_ = WeatherDisplay::Load();
  SetDlgItemText(kIdFontName, display_.font_name);
  SetDlgItemInt(kIdFontSize, display_.font_size);
  background_.SetColor(display_.bg_color);
  CheckDlgButton(kIdImage, display_.image ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kIdTrans, display_.trans ? BST_CHECKED : BST_UNCHECKED);
  UpdateSample();
  return true;
}

void CDlgWeatherDisplay::UpdateSample() {
  CTextStyle style;
  style.face = display_.font_name;
  style.size = static_cast<float>(display_.font_size);
  style.color = display_.font_color;
  sample_.SetTextStyle(style);
}

void CDlgWeatherDisplay::OnOK() {
  display_.bg_color = background_.GetColor();
  display_.image = IsDlgButtonChecked(kIdImage) != 0;
  display_.trans = IsDlgButtonChecked(kIdTrans) != 0;
  display_.Save();
  CDialogEx::OnOK();
}

}  // namespace velmora

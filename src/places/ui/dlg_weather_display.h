// CDlgWeatherDisplay: "天气显示设置" (template 273): the weather text's font shown on a sample
// "北京 晴" (a click on the sample picks the text colour), the background colour box (1507), "图片"
// (1121: draw the icon) and "透明" (1265: no background). It starts from the registry section
// "weather" and writes its six values there on OK.
#pragma once
#include "places/weather.h"
#include "shell/color_static.h"
#include "shell/dialog_ex.h"
#include "places/ui/pick_font_sample.h"

namespace velmora {

class CDlgWeatherDisplay : public CDialogEx {
 public:
  static constexpr int kTemplateId = 273;
  static constexpr int kIdSample = 1515, kIdBackground = 1507, kIdImage = 1121, kIdTrans = 1265;
  static constexpr int kIdFontName = 1339, kIdFontSize = 1340;
  static constexpr const char* kSampleText = "北京 晴";

  explicit CDlgWeatherDisplay(CWnd* parent = nullptr);

  void OnOK() override;
  const WeatherDisplay& Display() const { return display_; }
  CPickFontSample& Sample() { return sample_; }
  CColorStatic& Background() { return background_; }

 protected:
  bool OnInitDialog() override;

 private:
  void UpdateSample();

  WeatherDisplay display_;
  CPickFontSample sample_;
  CColorStatic background_;
};

}  // namespace velmora

// CDlgBusLineDisplay: "公交线路显示设置" (template 204), the bus lines' looks: "显示站名" (1131),
// line width (1210: "无", 1-10), station dot width (1214: "无", 1-10), "线色" (1521) and "点色"
// (1529) colour boxes and the station-name font sample "站名字体" (1515; a click picks the name
// colour). Colour and font changes apply to the settings at once and the owner redraws; OK takes
// the checks and combos.
#pragma once
#include <functional>

#include "places/bus_line.h"
#include "shell/color_static.h"
#include "shell/dialog_ex.h"
#include "places/ui/pick_font_sample.h"

namespace velmora {

class CDlgBusLineDisplay : public CDialogEx {
 public:
  static constexpr int kTemplateId = 204;
  static constexpr int kIdShowNames = 1131, kIdLineWidth = 1210, kIdDotWidth = 1214;
  static constexpr int kIdLineColor = 1521, kIdDotColor = 1529, kIdNameFont = 1515;

  // `display` is changed in place; `redraw` runs after each change.
  CDlgBusLineDisplay(BusLineDisplay& display, std::function<void()> redraw, CWnd* parent = nullptr);

  void OnOK() override;

 protected:
  bool OnInitDialog() override;

 private:
  BusLineDisplay& display_;
  std::function<void()> redraw_;
  CColorStatic line_color_, dot_color_;
  CPickFontSample name_font_;
};

}  // namespace velmora

// CPgOptDem: the options page "高程" (template 264): the elevation source mode (combo 1206, into
// the options object, so running elevation workers see it at their next look-up) and the contour
// settings (page_options.h): colour mode (combo 1207), interval count (edit 1204), line,
// interval and label colours (colour boxes 1202, 1203, 1208), labels on (check 1209), label
// interval (edit 1211), labels at whole multiples (check 1327), generation method (combo 1210)
// and the DXF label scale (edit 1331).
#pragma once
#include "platform/ui/property_sheet.h"
#include "shell/color_static.h"

namespace velmora {

class CPgOptDem : public CPropertyPage {
 public:
  static constexpr int kTemplateId = 264;
  enum : int {
    kIdLineColor = 1202,
    kIdIntervalColor = 1203,
    kIdIntervalCount = 1204,
    kIdSourceMode = 1206,
    kIdColorMode = 1207,
    kIdLabelColor = 1208,
    kIdLabelsOn = 1209,
    kIdMethod = 1210,
    kIdLabelInterval = 1211,
    kIdLabelWhole = 1327,
    kIdDxfLabelScale = 1331,
  };
  // Messages of values the page refuses (the field keeps the focus).
  static constexpr const char* kBadIntervalCount = "计曲线间隔请输入1到100之间的整数。";
  static constexpr const char* kBadLabelInterval = "标注间隔请输入1到1000之间的整数。";
  static constexpr const char* kBadLabelScale = "DXF标注比例请输入大于0且不超过1000的数值。";

  CPgOptDem();

  bool OnKillActive() override;
  bool OnApply() override;

 protected:
  bool OnInitDialog() override;

 private:
  // Enables what the colour mode and the labels switch use.
  void UpdateStates();
  void Changed() { SetModified(true); }

  CColorStatic line_color_, interval_color_, label_color_;
};

// Registers the template (also used by tests that build the page).
int RegisterPgOptDemTemplate();

}  // namespace velmora

// CDlgExportRegionSet: "导出区域设定" (IDD 309), the rectangle of an export, preset with a view's
// bounds; OK gives the chosen corners.
#pragma once
#include "exchange/ui/dlg_region_base.h"

namespace velmora {

class CDlgExportRegionSet : public CDlgRegionBase {
 public:
  static constexpr int kTemplateId = 309;

  // Preset with the bounds of the current map view (CurrentMapView()), else the defaults.
  explicit CDlgExportRegionSet(CWnd* parent = nullptr);
  CDlgExportRegionSet(LngLatF top_left, LngLatF bottom_right, CWnd* parent = nullptr);
};

}  // namespace velmora

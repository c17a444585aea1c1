// The export region dialog.
#include "exchange/ui/dlg_export_region_set.h"

#include "tiles/map_view_state.h"

namespace velmora {
namespace {

int RegisteredTemplate() {
  static const int id = [] {
    DialogTemplate t;
    t.id = CDlgExportRegionSet::kTemplateId;
    t.caption = "导出区域设定";
    t.cx = 220;
    t.cy = 82;
    CDlgRegionBase::AddCornerControlsFor(t, 7);
    t.controls.push_back({ControlKind::kDefButton, IDOK, "确定", 106, 61, 50, 14, 0});
    t.controls.push_back({ControlKind::kButton, IDCANCEL, "取消", 163, 61, 50, 14, 0});
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

}  // namespace

CDlgExportRegionSet::CDlgExportRegionSet(CWnd* parent) : CDlgRegionBase(RegisteredTemplate(), parent) {
  if (IMapViewState* view = CurrentMapView()) {
    float lt[2] = {0, 0}, br[2] = {0, 0};
    view->GetViewBounds(lt, br);
    top_left = {lt[0], lt[1]};
    bottom_right = {br[0], br[1]};
  }
}

CDlgExportRegionSet::CDlgExportRegionSet(LngLatF lt, LngLatF br, CWnd* parent) : CDlgRegionBase(RegisteredTemplate(), parent) {
  top_left = lt;
  bottom_right = br;
}

}  // namespace velmora

// Templates of the map publishing dialogs.
#include "server/ui/map_service_templates.h"

#include <mutex>

#include "platform/ui/dialog_template.h"
#include "platform/ui/ui_types.h"

namespace velmora {
namespace {

using K = ControlKind;

// The services dialog: the service list across the top, the connections of the chosen service
// below on the left and every peer that ever connected beside them.
DialogTemplate MapServicesTemplate() {
  DialogTemplate t;
  t.id = kMapServicesTemplateId;
  t.caption = "地图发布服务";
  t.cx = 336;
  t.cy = 228;
  t.controls = {
      {K::kListView, 1212, "", 7, 7, 322, 110, 0},
      {K::kListView, 1213, "", 7, 122, 122, 99, 0},
      {K::kListView, 1214, "", 134, 122, 195, 99, 0},
  };
  return t;
}

// The service editor: port and name on top, the catalogue's sources on the left, the chosen base
// layers and overlays on the right, the buttons below.
DialogTemplate NewMapServiceTemplate() {
  DialogTemplate t;
  t.id = kNewMapServiceTemplateId;
  t.caption = "新建地图发布服务";
  t.cx = 264;
  t.cy = 259;
  t.controls = {
      {K::kStatic, -1, "端口号", 7, 9, 26, 8, 0},
      {K::kEdit, 1213, "", 36, 7, 50, 12, 0},
      {K::kStatic, -1, "名称", 96, 9, 20, 8, 0},
      {K::kEdit, 1339, "", 118, 7, 139, 12, 0},
      {K::kListView, 1232, "", 7, 26, 120, 206, 0},
      {K::kStatic, -1, "基本图层", 134, 26, 60, 8, 0},
      {K::kListView, 1233, "", 134, 36, 123, 92, 0},
      {K::kStatic, -1, "覆盖图层", 134, 133, 60, 8, 0},
      {K::kListView, 1234, "", 134, 143, 123, 89, 0},
      {K::kDefButton, IDOK, "确定", 150, 238, 50, 14, 0},
      {K::kButton, IDCANCEL, "取消", 207, 238, 50, 14, 0},
  };
  return t;
}

}  // namespace

int RegisterMapServiceTemplates(int id) {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterDialogTemplate(MapServicesTemplate());
    RegisterDialogTemplate(NewMapServiceTemplate());
  });
  return id;
}

}  // namespace velmora

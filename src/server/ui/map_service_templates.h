// The templates of the map publishing dialogs (control ids, captions and sizes in dialog units):
// the services dialog 265 "地图发布服务" and the service editor 266 "新建地图发布服务".
#pragma once

namespace velmora {

inline constexpr int kMapServicesTemplateId = 265;
inline constexpr int kNewMapServiceTemplateId = 266;

// Registers both templates (once; later calls do nothing) and returns `id`, so that a dialog
// constructor can pass it to its base.
int RegisterMapServiceTemplates(int id = 0);

}  // namespace velmora

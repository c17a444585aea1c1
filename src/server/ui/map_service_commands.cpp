// The map services command.
#include "server/ui/map_service_commands.h"

#include "server/ui/dlg_map_services.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"

namespace velmora {

void OnMapService(CWnd* owner) {
  if (!owner) owner = GetMainFrame();
  CDlgMapServices dlg(owner);
  dlg.DoModal();
}

void RegisterMapServiceCommands() {
  AppCommand command;
  command.id = ID_MAP_SERVICE;
  command.menu = "工具";
  command.text = "地图服务(&M)...";
  command.prompt = "管理地图发布服务: 新建、修改、删除、启动和停止服务\n地图服务";
  command.order = 50;
  command.handler = [] { OnMapService(nullptr); };
  AppCommands().Register(std::move(command));
}

}  // namespace velmora

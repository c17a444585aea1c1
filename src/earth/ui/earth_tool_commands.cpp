// The command-table entries of the earth views' shared tools.
#include "earth/ui/earth_tool_commands.h"

#include "shell/command_table.h"

namespace velmora {

std::vector<UINT> RegisterEarthToolCommands() {
  struct Entry {
    UINT id;
    const char* text;
    const char* prompt;
    int order;
  };
  const Entry entries[] = {
      {ID_GE_TOOL_DEM, "高程导出", "等高线生成、高程导出\n高程导出", 4},
      {ID_GE_MOSAIC, "拼图", "拼接谷歌地球插件视图中的区域图片\n拼图", 5},
  };
  std::vector<UINT> added;
  CCommandTable& table = AppCommands();
  for (const Entry& e : entries) {
    if (table.Contains(e.id)) continue;
    AppCommand c;
    c.id = e.id;
    c.menu = "工具";
    c.text = e.text;
    c.prompt = e.prompt;
    c.order = e.order;
    table.Register(std::move(c));
    added.push_back(e.id);
  }
  return added;
}

}  // namespace velmora

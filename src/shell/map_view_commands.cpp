// The map tools and the map-source submenu of the main frame.
#include "shell/map_view_commands.h"

#include <string>

#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "tiles/layer_manager.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

// The 2D map view once it was made, else null.
CPDView* MapView() {
  CKovraHomeExApp* app = GetApp();
  IChildView* view = app ? app->Views().Find(kViewMap2D) : nullptr;
  return dynamic_cast<CPDView*>(view);
}

}  // namespace

CPDView* ShownMapView() {
  CKovraHomeExApp* app = GetApp();
  IChildView* view = app ? app->GetCurrentView() : nullptr;
  return view && view->GetViewKind() == kViewMap2D ? dynamic_cast<CPDView*>(view) : nullptr;
}

CPDView* SwitchToMapView() {
  CKovraHomeExApp* app = GetApp();
  return app ? dynamic_cast<CPDView*>(app->SwitchView(kViewMap2D)) : nullptr;
}

std::vector<UINT> RegisterMapViewCommands() {
  CCommandTable& table = AppCommands();
  std::vector<UINT> ids;
  auto add = [&](AppCommand c) {
    if (table.Contains(c.id)) return;
    ids.push_back(c.id);
    table.Register(std::move(c));
  };
  struct Tool {
    UINT id;
    const char* text;
    const char* prompt;
    const char* icon;
  };
  // The views handle them (no handler here); the texts are the frame's own string table's.
  const Tool tools[] = {
      {CPDView::ID_TOOL_BROWSE, "移动浏览", "移动浏览\n移动", "tool_browse.png"},
      {CPDView::ID_TOOL_BOX, "框选拼图", "拼接框选区域\n框选拼图", "tool_box.png"},
      {CPDView::ID_TOOL_REGION, "任选区域", "任选下载、拼图区域，右键清除区域。\n任选区域", "tool_region.png"},
  };
  int order = 1;
  for (const Tool& t : tools) {
    AppCommand c;
    c.id = t.id;
    c.menu = "工具";
    c.text = t.text;
    c.prompt = t.prompt;
    c.icon = t.icon;
    c.order = order++;
    c.toolbar = true;
    c.separator_before = t.id == CPDView::ID_TOOL_BROWSE;
    add(std::move(c));
  }

  // One item per map source, under its provider's name, in catalogue order.
  const CLayerManager& layers = LayerManager();
  if (!layers.IsLoaded()) return ids;
  const auto& sources = layers.Sources();
  for (size_t i = 0; i < sources.size() && kSourceCommandFirst + i <= kSourceCommandLast; ++i) {
    const MapSourceDef& source = sources[i];
    if (source.IsGeocoder()) continue;
    const int id = source.id;
    AppCommand c;
    c.id = kSourceCommandFirst + static_cast<UINT>(i);
    std::string group = source.group_name.empty() ? std::string("其他") : source.group_name;
    for (char& ch : group)
      if (ch == '/') ch = '-';  // '/' parts menu levels
    c.menu = std::string(kSourceMenu) + "/" + group;
    c.text = source.name;
    c.prompt = "以" + GetSourceTitle(source) + "为二维地图的底图\n" + source.name;
    c.order = 200 + static_cast<int>(i);
    c.handler = [id] {
      if (CPDView* view = MapView()) view->SetBaseSource(id);
    };
    c.update = [id](CCmdUI& ui) {
      CPDView* view = MapView();
      ui.Enable(view != nullptr);
      ui.SetCheck(view && view->Engine().BaseSourceId() == id ? 1 : 0);
    };
    add(std::move(c));
  }
  return ids;
}

void UnregisterMapViewCommands(const std::vector<UINT>& ids) {
  for (UINT id : ids) AppCommands().Unregister(id);
}

}  // namespace velmora

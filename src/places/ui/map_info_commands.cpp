// The map information tools' commands and wiring.
#include "places/ui/map_info_commands.h"

#include <memory>

#include "places/boundary_query.h"
#include "places/ui/bus_line_panel.h"
#include "places/ui/dlg_lb_poly_admin.h"
#include "places/ui/map_tool_views.h"
#include "places/ui/weather_pane.h"
#include "places/weather.h"
#include "platform/ui/ui_dispatcher.h"
#include "shell/command_table.h"
#include "shell/dlg_worker_base.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_status_bar.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

std::unique_ptr<CWeatherPane>& WeatherPaneSlot() {
  static std::unique_ptr<CWeatherPane> pane;
  return pane;
}
std::unique_ptr<CBusLinePanel>& BusPanelSlot() {
  static std::unique_ptr<CBusLinePanel> panel;
  return panel;
}
std::unique_ptr<CDlgLBPolyAdmin>& BoundarySlot() {
  static std::unique_ptr<CDlgLBPolyAdmin> panel;
  return panel;
}

template <class T>
T* ShowTool(std::unique_ptr<T>& slot) {
  if (!slot) slot = std::make_unique<T>(GetMainFrame());
  ShowModelessDialog(slot.get());
  return slot->IsWindow() ? slot.get() : nullptr;
}

// The weather thread's pass reaches the view on the user-interface thread.
void InstallWeatherSink() {
  Weather().SetSink([](const WeatherFields& fields, std::shared_ptr<const CBitmap> icon) {
    std::vector<std::string> lines = WeatherLines(fields);
    UiDispatcher().PostCall([lines = std::move(lines), icon = std::move(icon)]() mutable {
      if (CPDView* view = MapToolView()) view->SetWeather(std::move(lines), std::move(icon));
    });
  });
}

}  // namespace

void ApplyWeatherStyle() {
  CPDView* view = MapToolView();
  if (!view) return;
  const WeatherDisplay d = WeatherDisplay::Load();
  WeatherStyle style;
  style.face = d.font_name;
  style.size = static_cast<float>(d.font_size);
  style.text = d.font_color;
  style.background = d.trans ? 0 : d.bg_color;
  style.show_icon = d.image;
  view->Engine().SetWeatherStyle(std::move(style));
  view->Invalidate();
}

bool StartWeatherWatch(const std::string& py_name, const std::string& city_code) {
  InstallWeatherSink();
  ApplyWeatherStyle();
  if (CPDView* view = MapToolView()) view->ShowWeather(true);
  return Weather().Start(py_name, city_code);
}

CWeatherPane* ShowWeatherPane() { return ShowTool(WeatherPaneSlot()); }
CBusLinePanel* ShowBusLinePanel() { return ShowTool(BusPanelSlot()); }
CDlgLBPolyAdmin* ShowBoundaryPanel() { return ShowTool(BoundarySlot()); }

void CloseMapInfoTools() {
  Weather().Stop(kWeatherStopMs);
  Weather().SetSink({});
  for (CDialog* d : std::initializer_list<CDialog*>{WeatherPaneSlot().get(), BusPanelSlot().get(), BoundarySlot().get()})
    if (d && d->IsWindow()) d->DestroyWindow();
  WeatherPaneSlot().reset();
  BusPanelSlot().reset();
  BoundarySlot().reset();
}

void RegisterMapInfoTools(CKovraHomeExApp& app) {
  SetWeatherNetStateSink([](int state) { MapStatusBar().SetNetState(state); });
  SetBoundaryNetStateSink([](int state) { MapStatusBar().SetNetState(state); });
  struct Entry {
    UINT id;
    const char* text;
    const char* prompt;
    std::function<void()> run;
  };
  const Entry entries[] = {
      {ID_TOOL_WEATHER, "天气", "城市天气，每十分钟更新，显示在地图上\n天气", [] { ShowWeatherPane(); }},
      {ID_TOOL_BUS_LINES, "公交线路", "查询城市公交线路并显示在地图上\n公交线路", [] { ShowBusLinePanel(); }},
      {ID_TOOL_BOUNDARY, "行政边界", "按名称获取省、市、县的边界\n行政边界", [] { ShowBoundaryPanel(); }},
  };
  int order = 0;
  for (const Entry& e : entries) {
    AppCommand command;
    command.id = e.id;
    command.menu = "工具";
    command.text = e.text;
    command.prompt = e.prompt;
    command.order = 300 + order++;
    command.handler = e.run;
    AppCommands().Register(std::move(command));
  }
  AppStep step;
  step.name = "map information tools";
  step.phase = AppPhase::kFrame;
  step.start = [](CKovraHomeExApp&) { return true; };
  step.stop = [](CKovraHomeExApp&) { CloseMapInfoTools(); };
  app.RegisterStep(std::move(step));
}

}  // namespace velmora

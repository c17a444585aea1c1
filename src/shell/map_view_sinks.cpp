// The 2D map view's sinks into the status bar and the view history.
#include "shell/map_view_sinks.h"

#include "shell/kovra_home_ex_app.h"
#include "shell/map_status_bar.h"

namespace velmora {

MapViewSinks ShellMapViewSinks(CKovraHomeExApp* app) {
  MapViewSinks sinks;
  sinks.view_center = [](float lng, float lat, float level) { MapStatusBar().SetViewCenter(lng, lat, level); };
  sinks.cursor = [](float lng, float lat, float altitude) { MapStatusBar().SetCursorPos(lng, lat, altitude); };
  sinks.message = [](const std::string& text) { MapStatusBar().SetMessageText(text); };
  if (app) sinks.push_history = [app](double lng, double lat, double level) { app->PushViewHistory(lng, lat, level); };
  return sinks;
}

}  // namespace velmora

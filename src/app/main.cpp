// The velmora program: the application object with the services of the modules plugged in as
// start-up and shut-down steps. Without a desktop front end it runs headless: questions are
// answered as Enter would answer them and their texts go to the log, until SIGINT or SIGTERM.
#include <string>

#include "core/log.h"
#include "core/settings.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_host.h"
#include "shell/kovra_home_ex_app.h"
#include "tiles/layer_manager.h"

namespace {

using velmora::AppPhase;
using velmora::AppStep;
using velmora::CKovraHomeExApp;

void RegisterServices(CKovraHomeExApp& app) {
  AppStep layers;
  layers.name = "layers";
  layers.phase = AppPhase::kCatalogue;
  layers.start_text = "加载地图源...";
  layers.start = [](CKovraHomeExApp&) {
    velmora::CLayerManager& manager = velmora::LayerManager();
    if (!manager.IsLoaded()) velmora::AppLog("the map-source catalogue could not be loaded");
    manager.LoadState();
    return true;
  };
  layers.stop = [](CKovraHomeExApp&) { velmora::LayerManager().SaveState(); };
  app.RegisterStep(std::move(layers));
}

}  // namespace

int main() {
  velmora::CHeadlessUiHost host;
  host.SetQuestionLog([](const std::string& line) { velmora::AppLog("%s", line.c_str()); });
  velmora::SetUiHost(&host);

  const velmora::CAppOptions& options = velmora::AppOptions();
  velmora::AppLog("velmora: program folder %s, data folder %s", options.program_dir.c_str(),
                  options.data_dir.c_str());

  int code;
  {
    CKovraHomeExApp app;
    RegisterServices(app);
    code = app.RunProgram();
  }
  velmora::SetUiHost(nullptr);
  return code;
}

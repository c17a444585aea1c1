// The velmora program: the application object with the services of the modules plugged in as
// start-up and shut-down steps. With a display it shows the main window (the Qt front end);
// without one it runs headless: questions are answered as Enter would answer them and their texts
// go to the log, until SIGINT or SIGTERM.
#include <string>

#include "app/program_services.h"
#include "core/log.h"
#include "core/settings.h"
#include "frontend/desktop.h"
#include "platform/fs.h"
#include "platform/ui/headless_host.h"
#include "platform/ui/ui_host.h"
#include "shell/kovra_home_ex_app.h"
#include "tiles/tile.h"

int main(int argc, char** argv) {
  // Every store (SQLite files included) then meets a file-size limit as a failed write.
  velmora::IgnoreFileSizeSignal();
  const bool desktop = velmora::DesktopWanted();
  velmora::KeepFreedTileMemory();
  velmora::CHeadlessUiHost host;
  host.SetQuestionLog([](const std::string& line) { velmora::AppLog("%s", line.c_str()); });
  if (!desktop) velmora::SetUiHost(&host);

  const velmora::CAppOptions& options = velmora::AppOptions();
  velmora::AppLog("velmora: program folder %s, data folder %s", options.program_dir.c_str(),
                  options.data_dir.c_str());

  int code;
  {
    velmora::CKovraHomeExApp app;
    velmora::RegisterProgramServices(app);
    if (desktop) {
      code = velmora::RunDesktopProgram(app, argc, argv);
    } else {
      velmora::AppLog("no display (DISPLAY and WAYLAND_DISPLAY are not set): the main window is not shown");
      code = app.RunProgram();
    }
  }
  velmora::SetUiHost(nullptr);
  return code;
}

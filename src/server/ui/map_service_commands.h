// The map publishing dialogs as a command of the main frame: "工具/地图服务" (32881) opens the
// services dialog modally over the main frame. src/app registers it at start-up.
#pragma once
#include "platform/ui/ui_types.h"

namespace velmora {

class CWnd;

inline constexpr UINT ID_MAP_SERVICE = 32881;

// Registers the command in the program's command table (once; later calls replace it).
void RegisterMapServiceCommands();
// The command's handler: opens the services dialog of the program's server modally over
// `owner` (the main frame when null).
void OnMapService(CWnd* owner = nullptr);

}  // namespace velmora

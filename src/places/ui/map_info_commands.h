// The map information tools as commands of the main frame, each opening a tool window over the
// main window (created on first use, kept until the frame closes):
//   工具/天气      32790  the weather pane (CWeatherPane)
//   工具/公交线路  32891  the bus-line panel (CBusLinePanel)
//   工具/行政边界  32892  the boundary panel (CDlgLBPolyAdmin)
// and the wiring of the weather watch to the 2D view and of the network state of the weather and
// boundary requests to the status bar.
#pragma once
#include <string>

#include "platform/ui/ui_types.h"

namespace velmora {

class CBusLinePanel;
class CDlgLBPolyAdmin;
class CKovraHomeExApp;
class CWeatherPane;

inline constexpr UINT ID_TOOL_WEATHER = 32790;
inline constexpr UINT ID_TOOL_BUS_LINES = 32891;
inline constexpr UINT ID_TOOL_BOUNDARY = 32892;

// Starts watching the city (CWeather::Start) and turns the 2D view's weather on with the display
// settings. False when the thread could not be started.
bool StartWeatherWatch(const std::string& py_name, const std::string& city_code);
// Applies the registry's weather display settings to the 2D view.
void ApplyWeatherStyle();

// Opens (creating on first use) and shows the tool windows.
CWeatherPane* ShowWeatherPane();
CBusLinePanel* ShowBusLinePanel();
CDlgLBPolyAdmin* ShowBoundaryPanel();
// Destroys the open tool windows and stops the weather watch (the frame's closing).
void CloseMapInfoTools();

// Registers the commands, the sinks and a shut-down step.
void RegisterMapInfoTools(CKovraHomeExApp& app);

}  // namespace velmora

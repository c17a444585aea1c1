// The 2D map view's reports wired to the shell: centre, level and cursor to the status bar,
// positions to the application's view history, messages to the status bar's message line.
#pragma once
#include "view/pd_view.h"

namespace velmora {

class CKovraHomeExApp;

// Sinks into MapStatusBar() and, when `app` is given, its view history.
MapViewSinks ShellMapViewSinks(CKovraHomeExApp* app);

}  // namespace velmora

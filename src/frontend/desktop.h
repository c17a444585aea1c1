// The desktop front end's entry, free of Qt types so that src/app includes it without Qt.
#pragma once

namespace velmora {

class CKovraHomeExApp;

// True when the program should show its windows: a display is there (DISPLAY or WAYLAND_DISPLAY)
// or a Qt platform was chosen explicitly (QT_QPA_PLATFORM, e.g. "offscreen" for tests and
// benchmarks).
bool DesktopWanted();

// The whole program on the desktop: Qt application, the Qt UiHost, the main window built when
// the frame is created, the splash window, the dispatcher served by Qt's loop; then the
// application's start-up, loop and shut-down (CKovraHomeExApp::RunProgram). Returns its exit
// code. Call from main() before any other thread starts.
int RunDesktopProgram(CKovraHomeExApp& app, int& argc, char** argv);

}  // namespace velmora

// The splash window on Qt: shown while the start-up runs, its status line following
// SetSplashText. Start-up runs on the UI thread before the event loop, so a change made there is
// painted at once; one from another thread is painted on the next serve pass.
#pragma once

namespace velmora {

class CSplashScreen {
 public:
  // Follows the splash model (SplashWnd) from now on; Uninstall closes the window.
  static void Install();
  static void Uninstall();
  // Shows, updates or closes the window to match the model (UI thread).
  static void Update();
  // The window's status line as shown, for tests ("" when no window).
  static const char* ShownText();
};

}  // namespace velmora

// XvfbServer: a virtual X server of a test program's own, for pages that need WebGL (Qt
// WebEngine draws WebGL only on a real platform such as xcb, not on "offscreen").
//
// Start runs `Xvfb -displayfd <fd> -terminate -nolisten tcp -screen 0 <w>x<h>x24`, reads the
// display number the server chose and points the process at it: DISPLAY, QT_QPA_PLATFORM=xcb,
// QTWEBENGINE_CHROMIUM_FLAGS=--ignore-gpu-blocklist, LIBGL_ALWAYS_SOFTWARE=1. Call it before the
// QApplication is made. The destructor ends the server by its pid.
#pragma once
#include <sys/types.h>

#include <string>

namespace velmora::test {

class XvfbServer {
 public:
  XvfbServer() = default;
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // False (reason in *error) when the server cannot be started or names no display in 10 s.
  bool Start(int width, int height, std::string* error);
  void Stop();
  int Display() const { return display_; }

 private:
  pid_t pid_ = -1;
  int display_ = -1;
};

}  // namespace velmora::test

// The test programs' virtual X server.
#include "support/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>

#include "platform/process.h"
#include "platform/sync.h"

namespace velmora::test {

XvfbServer::~XvfbServer() { Stop(); }

void XvfbServer::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    // waitpid itself: a server of a static object ends after the spawner's own records are gone.
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
  display_ = -1;
}

bool XvfbServer::Start(int width, int height, std::string* error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) {
    *error = "no pipe";
    return false;
  }
  SpawnOptions options;
  options.stdout_fd = fds[1];
  // The server writes the display it chose to its standard output (descriptor 1), which is the
  // pipe; its remarks on standard error go nowhere, so that none reaches the pipe once it is
  // closed. The shell replaces itself with the server, so pid_ is the server's.
  char command[160];
  std::snprintf(command, sizeof command,
                "exec Xvfb -displayfd 1 -terminate -nolisten tcp -screen 0 %dx%dx24 2>/dev/null", width, height);
  pid_ = SpawnProgram({"/bin/sh", "-c", command}, options, error);
  close(fds[1]);
  if (pid_ < 0) {
    close(fds[0]);
    return false;
  }
  std::string text;
  const uint64_t start = TickCount64();
  while (TickCount64() - start < 10000) {
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    // The display number is a line of digits of its own; other lines are the server's remarks.
    size_t begin = 0;
    for (size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
      std::string line = text.substr(begin, end - begin);
      bool digits = !line.empty();
      for (char c : line) digits = digits && std::isdigit(static_cast<unsigned char>(c));
      if (digits) display_ = std::stoi(line);
    }
    if (display_ >= 0) break;
  }
  close(fds[0]);
  if (display_ < 0) {
    *error = "Xvfb named no display: " + text;
    Stop();
    return false;
  }
  char display[32];
  std::snprintf(display, sizeof display, ":%d", display_);
  setenv("DISPLAY", display, 1);
  setenv("QT_QPA_PLATFORM", "xcb", 1);
  setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--ignore-gpu-blocklist", 1);
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
  return true;
}

}  // namespace velmora::test

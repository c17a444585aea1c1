// The velmora program: start-up, SIGTERM/SIGINT, orderly shut-down with no thread left, exit code
// 0, and (with the real program) the refusal of a second instance with exit code 1.
#include "velmora_build_paths.h"
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include "core/settings.h"
#include "core/work_thread.h"
#include "platform/fs.h"
#include "platform/ui/headless_host.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/stop_signal.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

// Before any thread exists, as the program does first thing.
const bool kSignalsBlocked = (CStopSignal::BlockStopSignals(), true);

size_t ThreadCount() {
  size_t n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') ++n;
    closedir(dir);
  }
  return n;
}

class ProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options.emplace([this](CAppOptions& o) { o.data_dir = data.path(); });
    host.SetQuestionLog({});
    SetUiHost(&host);
  }
  void TearDown() override { SetUiHost(nullptr); }

  // A service with a worker thread, as the tile manager and the server have.
  void AddService(CKovraHomeExApp& app, const std::string& name, AppPhase phase, CWorkThread& thread,
                  Event* started) {
    AppStep step;
    step.name = name;
    step.phase = phase;
    step.start = [this, name, &thread, started](CKovraHomeExApp&) {
      bool ok = thread.Start(name, [&thread] {
        thread.SignalReady();
        while (!thread.WaitQuit(1000)) {
        }
      });
      events.push_back("start " + name);
      if (started) started->Set();
      return ok;
    };
    step.stop = [this, name, &thread](CKovraHomeExApp&) {
      thread.Stop(kInfinite);
      events.push_back("stop " + name);
    };
    app.RegisterStep(std::move(step));
  }

  test::TempDir data;
  std::optional<ScopedAppOptions> options;
  CHeadlessUiHost host;
  std::vector<std::string> events;
};

TEST_F(ProgramTest, StopSignalAfterStartUpShutsDownInOrderAndLeavesNoThread) {
  ASSERT_TRUE(kSignalsBlocked);
  for (int signal : {SIGTERM, SIGINT}) {
    size_t before = ThreadCount();
    CWorkThread tiles, server;
    Event started;
    events.clear();
    {
      CKovraHomeExApp app;
      AddService(app, "DownloadThread", AppPhase::kTileManager, tiles, nullptr);
      AddService(app, "WmtsAccept", AppPhase::kPublishing, server, &started);
      // The signal may come while the start-up still runs: it waits for the watcher.
      std::thread sender([&] {
        if (started.Wait(20000)) kill(getpid(), signal);
      });
      EXPECT_EQ(app.RunProgram(), 0) << signal;
      sender.join();
    }
    EXPECT_EQ(events, (std::vector<std::string>{"start DownloadThread", "start WmtsAccept", "stop WmtsAccept",
                                                "stop DownloadThread"}));
    EXPECT_EQ(ThreadCount(), before) << signal;
  }
}

// ---- the real program ----

struct Child {
  pid_t pid = -1;
  int err = -1;  // its stderr
  std::string output;
};

// Without `qt_platform` the child has no display and runs headless; with one ("offscreen") it
// shows its windows on that Qt platform.
Child Spawn(const std::string& data_dir, const std::string& config_dir, const char* qt_platform = nullptr) {
  Child c;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return c;
  c.pid = fork();
  if (c.pid == 0) {
    dup2(fds[1], 2);
    setenv("VELMORA_DATA_DIR", data_dir.c_str(), 1);
    setenv("VELMORA_CONFIG_DIR", config_dir.c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    if (qt_platform)
      setenv("QT_QPA_PLATFORM", qt_platform, 1);
    else
      unsetenv("QT_QPA_PLATFORM");
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execl(VELMORA_BUILD_DIR "/src/app/velmora", "velmora", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  c.err = fds[0];
  return c;
}

// Reads the child's stderr until `needle` shows (true) or the pipe closes or 20 s pass.
bool ReadUntil(Child& c, const std::string& needle) {
  uint64_t start = TickCount64();
  while (c.output.find(needle) == std::string::npos) {
    uint64_t elapsed = TickCount64() - start;
    if (elapsed > 20000) return false;
    pollfd p{c.err, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(20000 - elapsed)) <= 0) return false;
    char buf[4096];
    ssize_t n = read(c.err, buf, sizeof buf);
    if (n <= 0) return c.output.find(needle) != std::string::npos;
    c.output.append(buf, static_cast<size_t>(n));
  }
  return true;
}

int ExitCode(Child& c) {
  ReadUntil(c, std::string("\x01never"));  // drain to the end of its output
  int status = 0;
  waitpid(c.pid, &status, 0);
  close(c.err);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(ProgramTest, RealProgramRefusesASecondInstanceAndStopsOnSigterm) {
  if (!std::filesystem::exists(VELMORA_BUILD_DIR "/src/app/velmora")) GTEST_SKIP() << "the program is not built";
  test::TempDir config;
  Child first = Spawn(data.path(), config.path());
  ASSERT_GT(first.pid, 0);
  ASSERT_TRUE(ReadUntil(first, "SIGINT or SIGTERM")) << first.output;
  EXPECT_NE(first.output.find("the main window is not shown"), std::string::npos) << first.output;

  Child second = Spawn(data.path(), config.path());
  ASSERT_GT(second.pid, 0);
  EXPECT_EQ(ExitCode(second), 1);
  EXPECT_NE(second.output.find("\tVelmora\n已经存在一个运行实例!"), std::string::npos) << second.output;

  kill(first.pid, SIGTERM);
  EXPECT_EQ(ExitCode(first), 0);
  size_t saving = first.output.find("保存页面...");
  size_t exiting = first.output.find("开始退出...");
  size_t closing = first.output.find("关闭页面...");
  size_t quited = first.output.find("KovraHomeEx_Quited");
  EXPECT_NE(saving, std::string::npos);
  EXPECT_LT(saving, exiting);
  EXPECT_LT(exiting, closing);
  EXPECT_LT(closing, quited);
  EXPECT_NE(quited, std::string::npos) << first.output;
}

TEST_F(ProgramTest, RealProgramWithADisplayShowsItsWindowAndStopsInOrder) {
  if (!std::filesystem::exists(VELMORA_BUILD_DIR "/src/app/velmora")) GTEST_SKIP() << "the program is not built";
  test::TempDir config;
  Child desktop = Spawn(data.path(), config.path(), "offscreen");
  ASSERT_GT(desktop.pid, 0);
  ASSERT_TRUE(ReadUntil(desktop, "showing the main window")) << desktop.output;
  kill(desktop.pid, SIGTERM);
  EXPECT_EQ(ExitCode(desktop), 0) << desktop.output;
  size_t exiting = desktop.output.find("开始退出...");
  size_t quited = desktop.output.find("KovraHomeEx_Quited");
  EXPECT_NE(exiting, std::string::npos) << desktop.output;
  EXPECT_LT(exiting, quited);
  EXPECT_NE(quited, std::string::npos);
  // The window's place is kept for the next run.
  std::optional<std::vector<uint8_t>> ini = ReadFileBytes(config.path() + "velmora.ini");
  ASSERT_TRUE(ini);
  EXPECT_NE(std::string(ini->begin(), ini->end()).find("[MainFrame]"), std::string::npos);
}

}  // namespace
}  // namespace velmora

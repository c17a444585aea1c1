// Child processes started with posix_spawn.
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

extern char** environ;

namespace velmora {

namespace {

// Children that were started and not yet reaped.
std::mutex g_children_lock;
std::vector<pid_t> g_children;

void ReapLocked() {
  g_children.erase(std::remove_if(g_children.begin(), g_children.end(),
                                  [](pid_t pid) {
                                    int status = 0;
                                    pid_t r = ::waitpid(pid, &status, WNOHANG);
                                    return r == pid || (r < 0 && errno == ECHILD);
                                  }),
                   g_children.end());
}

}  // namespace

pid_t SpawnProgram(const std::vector<std::string>& argv, const SpawnOptions& options, std::string* error) {
  if (argv.empty() || argv[0].empty()) {
    if (error) *error = "no program";
    return -1;
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attributes);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (options.stdout_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, options.stdout_fd, 1);
    posix_spawn_file_actions_adddup2(&actions, options.stdout_fd, 2);
  }
  // Our own descriptors are close-on-exec; this also covers those that libraries open without
  // the flag, and those this process inherited.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (options.new_session) flags |= POSIX_SPAWN_SETSID;
  posix_spawnattr_setflags(&attributes, flags);
  // The child starts with no signal blocked and the stop signals at their default action,
  // whatever this program's threads have blocked or caught.
  sigset_t none, defaults;
  sigemptyset(&none);
  sigemptyset(&defaults);
  for (int s : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD}) sigaddset(&defaults, s);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);

  std::lock_guard<std::mutex> lock(g_children_lock);
  ReapLocked();
  pid_t pid = -1;
  // glibc reports a failed exec as the result of posix_spawn itself.
  int result = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (result != 0) {
    if (error) *error = argv[0] + ": " + std::strerror(result);
    return -1;
  }
  g_children.push_back(pid);
  return pid;
}

int WaitProgram(pid_t pid) {
  int status = 0;
  pid_t r;
  while ((r = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  {
    std::lock_guard<std::mutex> lock(g_children_lock);
    g_children.erase(std::remove(g_children.begin(), g_children.end(), pid), g_children.end());
  }
  if (r != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

void ReapPrograms() {
  std::lock_guard<std::mutex> lock(g_children_lock);
  ReapLocked();
}

size_t RaiseOpenFileLimit(size_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  rlim_t target = std::min<rlim_t>(static_cast<rlim_t>(wanted), limit.rlim_max);
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < target) {
    limit.rlim_cur = target;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::getrlimit(RLIMIT_NOFILE, &limit);
  }
  return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<size_t>(limit.rlim_cur);
}

}  // namespace velmora

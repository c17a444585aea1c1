// Child processes: programs started with posix_spawn (no fork of the threaded program), in a
// session of their own, stdin from /dev/null, and only the three standard descriptors inherited
// (every descriptor the program opens is close-on-exec, and the child closes any other).
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace velmora {

struct SpawnOptions {
  int stdout_fd = -1;  // the child's stdout (and stderr): this descriptor; -1 keeps ours
  bool new_session = true;  // detached from our terminal and process group
};

// Starts argv[0] (searched in PATH when it has no '/') with the arguments. The child's pid, or
// -1 (reason in *error) when it cannot be started, also when the program cannot be executed.
// Children that end are reaped by the next SpawnProgram or ReapPrograms, or by WaitProgram.
pid_t SpawnProgram(const std::vector<std::string>& argv, const SpawnOptions& options = {},
                   std::string* error = nullptr);
// Waits for a child started by SpawnProgram; its exit status (-1 when it did not exit normally).
int WaitProgram(pid_t pid);
// Reaps the children started by SpawnProgram that have ended, without waiting.
void ReapPrograms();

// Raises this process's soft limit of open descriptors towards `wanted` (never above the hard
// limit, never lowers it); the limit now.
size_t RaiseOpenFileLimit(size_t wanted);

}  // namespace velmora

// Shared helpers of the exchange tests: running a second reader (GDAL's command-line tools,
// ezdxf through Debian's python3) on the files we write, and reading its output.
#pragma once
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace velmora::test {

struct CommandResult {
  int status = -1;  // exit status, -1 when the command could not run
  std::string output;  // standard output and standard error
};

inline CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
  int status = ::pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

// Debian's own python3 (the one that sees python3-ezdxf), whatever python3 comes first on PATH.
inline std::string SystemPython() {
  return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
}

inline bool HaveEzdxf() {
  static const bool have = RunCommand(SystemPython() + " -c 'import ezdxf'").status == 0;
  return have;
}

// A path quoted for the shell.
inline std::string Quote(const std::string& path) {
  std::string out = "'";
  for (char c : path) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace velmora::test

// AppLog and its sinks.
#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace velmora {
namespace {

struct LogState {
  std::mutex mutex;
  LogSink sink;
  std::string file;
  bool to_stderr = true;
};

LogState& State() {
  static LogState state;
  return state;
}

void DefaultSink(LogState& s, const std::string& line) {
  if (s.to_stderr) std::fprintf(stderr, "%s\n", line.c_str());
  if (!s.file.empty()) {
    if (FILE* f = std::fopen(s.file.c_str(), "a")) {
      std::time_t now = std::time(nullptr);
      std::tm tm{};
      localtime_r(&now, &tm);
      char stamp[32];
      std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm);
      std::fprintf(f, "%s %s\n", stamp, line.c_str());
      std::fclose(f);
    }
  }
}

}  // namespace

void AppLog(const char* format, ...) {
  char buf[513];
  va_list ap;
  va_start(ap, format);
  std::vsnprintf(buf, sizeof buf, format, ap);
  va_end(ap);
  std::string line(buf);
  LogState& s = State();
  std::lock_guard lock(s.mutex);
  if (s.sink)
    s.sink(line);
  else
    DefaultSink(s, line);
}

bool AppendLogFile(const char* path, const char* format, ...) {
  FILE* f = std::fopen(path, "a");
  if (!f) return false;
  va_list ap;
  va_start(ap, format);
  int n = std::vfprintf(f, format, ap);
  va_end(ap);
  bool ok = n >= 0 && std::fputc('\n', f) != EOF;
  ok = (std::fclose(f) == 0) && ok;
  return ok;
}

void SetLogSink(LogSink sink) {
  LogState& s = State();
  std::lock_guard lock(s.mutex);
  s.sink = std::move(sink);
}

void SetLogFile(const std::string& path) {
  LogState& s = State();
  std::lock_guard lock(s.mutex);
  s.file = path;
}

void SetLogToStderr(bool on) {
  LogState& s = State();
  std::lock_guard lock(s.mutex);
  s.to_stderr = on;
}

}  // namespace velmora

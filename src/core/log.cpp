// AppLog and its sinks.
#include "core/log.h"

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "core/format.h"

namespace velmora {
namespace {

struct LogState {
  std::mutex mutex;
  LogSink sink;
  std::string file;
  bool to_stderr = true;
};

LogState& State() {
  // Never destroyed: threads that log while the program exits must still find it.
  static LogState* state = new LogState;
  return *state;
}

// Set while this thread is inside a sink, so that a sink that logs does not deadlock.
thread_local bool in_sink = false;

void DefaultSink(LogState& s, const std::string& line) {
  if (s.to_stderr) std::fprintf(stderr, "%s\n", line.c_str());
  if (!s.file.empty()) {
    if (FILE* f = std::fopen(s.file.c_str(), "ae")) {  // close-on-exec, like every descriptor
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

std::string CutUtf8(std::string text, size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  // Step back over at most three continuation bytes to the lead byte of the character the cut
  // would split; bytes that are not UTF-8 are cut where asked.
  size_t lead = max_bytes;
  for (int i = 0; i < 3 && lead > 0 && (byte(lead) & 0xC0) == 0x80; ++i) --lead;
  unsigned char c = byte(lead);
  size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  text.resize(lead < max_bytes && c >= 0xC0 && lead + length > max_bytes ? lead : max_bytes);
  return text;
}

void AppLog(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string line = CutUtf8(VFormatC(format, ap), kAppLogMaxChars);
  va_end(ap);
  if (in_sink) {
    // A sink that logs: write the line straight to stderr instead of re-entering the sink.
    std::fprintf(stderr, "%s\n", line.c_str());
    return;
  }
  LogState& s = State();
  std::lock_guard lock(s.mutex);
  in_sink = true;
  try {
    if (s.sink)
      s.sink(line);
    else
      DefaultSink(s, line);
  } catch (...) {
    // A failing log window must not take the caller down with it.
  }
  in_sink = false;
}

bool AppendLogFile(const char* path, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string line = VFormatC(format, ap);
  va_end(ap);
  FILE* f = std::fopen(path, "ae");
  if (!f) return false;
  line.push_back('\n');
  bool ok = std::fwrite(line.data(), 1, line.size(), f) == line.size();
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

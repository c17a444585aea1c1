// The application log: printf-style lines of at most 512 characters to a replaceable sink
// (stderr and the log file now; the log window of a desktop front end later).
#pragma once
#include <cstddef>
#include <functional>
#include <string>

namespace velmora {

inline constexpr size_t kAppLogMaxChars = 512;

// Formats the line (always under the C locale) and hands it to the log sink. A line longer than
// 512 bytes is cut there, at a UTF-8 character boundary.
void AppLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends one formatted line (a '\n' is added) to a text file; returns false when the file
// cannot be opened or written.
bool AppendLogFile(const char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Trace lines exist for the developer's eye only and do nothing in the product.
inline void Trace(const char*, ...) {}

// Where AppLog lines go. The default sink writes to stderr (unless silenced) and, once
// SetLogFile was called, appends a time-stamped line to that file. A new sink replaces the old
// one; an empty function restores the default. Thread-safe: lines reach the sink one at a time,
// and once SetLogSink returns the old sink is no longer running. A sink that itself calls AppLog
// gets that line written to stderr.
using LogSink = std::function<void(const std::string& line)>;
void SetLogSink(LogSink sink);
void SetLogFile(const std::string& path);
void SetLogToStderr(bool on);

// The text cut to at most `max_bytes` bytes without splitting a UTF-8 character.
std::string CutUtf8(std::string text, size_t max_bytes);

}  // namespace velmora

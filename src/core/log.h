// The application log: printf-style lines of at most 512 characters to a replaceable sink
// (stderr and the log file now; the log window of a desktop front end later).
#pragma once
#include <functional>
#include <string>

namespace velmora {

// Formats at most 512 characters (longer output is cut) and hands the line to the log sink.
void AppLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Appends one formatted line (a '\n' is added) to a text file; returns false when the file
// cannot be opened or written.
bool AppendLogFile(const char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Trace lines exist for the developer's eye only and do nothing in the product.
inline void Trace(const char*, ...) {}

// Where AppLog lines go. The default sink writes to stderr (unless silenced) and, once
// SetLogFile was called, appends to that file. A new sink replaces the old one; an empty
// function restores the default. Thread-safe.
using LogSink = std::function<void(const std::string& line)>;
void SetLogSink(LogSink sink);
void SetLogFile(const std::string& path);
void SetLogToStderr(bool on);

}  // namespace velmora

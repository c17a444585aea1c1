// Number and path text helpers that never depend on the locale (120.5 stays "120.5" under a
// German or French locale).
#pragma once
#include <cstdarg>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// printf-style formatting under the C locale, whatever locale the program or a library set;
// no length limit.
std::string FormatC(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string VFormatC(const char* format, va_list args);

// "%.<precision>f" without the locale (precision limited to 0-60); "nan", "inf", "-inf".
std::string FormatFixed(double value, int precision);
// "%.14f" with trailing zeros and then a trailing point removed: 120.5 -> "120.5", 120.0 -> "120".
std::string FormatNumber14(double value);
// "%.3f".
std::string FormatNumber3(double value);
// Degrees to "%d°%02d′%07.4f" with "-" before a negative value. The value is rounded to the
// printed 0.0001 second first, so seconds carry into minutes and degrees instead of printing as
// "60.0000", and a value that rounds to zero has no minus sign.
std::string FormatDms(double degrees);
// "%d°%d′%f″" to decimal degrees: spaces allowed before each number as scanf allows them, the
// second mark optional, ASCII ' and " accepted for the marks, a leading "-" applies to the whole
// angle (also "-0°30′"). Minutes must be 0-59 and seconds in [0, 60). Returns false, leaving
// *degrees alone, when the text is not of that form.
bool ParseDms(std::string_view text, double* degrees);

// Local wall time of a tick (TickCount64 milliseconds) as "%H:%M:%S.mmm", given a wall-clock time
// (milliseconds since the epoch) and the tick read at the same moment.
std::string FormatTickTime(uint64_t tick, int64_t anchor_wall_ms, uint64_t anchor_tick);
// The same with the process's own anchor, taken the first time a tick is formatted.
std::string FormatTickTime(uint64_t tick);
// Whole degrees, whole minutes (truncated) and seconds of |angle|; returns angle >= 0.
bool SplitDegrees(double angle, int* degrees, int* minutes, float* seconds);

// A finite number in C notation, the whole text (spaces around allowed); nullopt otherwise
// (also for "nan", "inf" and values out of the double range).
std::optional<double> ParseDouble(std::string_view text);
// A decimal integer, the whole text (spaces around allowed); nullopt otherwise.
std::optional<long long> ParseInt(std::string_view text);

// The extension in lower case without the dot, "" when none.
std::string GetFileExtLower(std::string_view path);
// The file name without its folder ('/' or '\\').
std::string GetFileNamePart(std::string_view path);

}  // namespace velmora

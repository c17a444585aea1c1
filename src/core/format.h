// Number and path text helpers that never depend on the locale (120.5 stays "120.5" under a
// German or French locale).
#pragma once
#include <charconv>
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
// std::to_chars(first, last, value, std::chars_format::fixed, precision), giving exactly its
// text. Values below 1e9 printed with at most 9 decimals, what coordinates are, take a fast path:
// the value scaled and rounded in double, the rounding checked exactly in 128-bit integers (a tie
// or a doubtful case goes to std::to_chars). With 10 to 14 decimals (FormatNumber14) the
// rounding is done in 128-bit integers outright.
std::to_chars_result ToCharsFixed(char* first, char* last, double value, int precision);
// "%.14f" with trailing zeros and then a trailing point removed: 120.5 -> "120.5", 120.0 -> "120".
std::string FormatNumber14(double value);
// The same text written at `first`, which has room for kNumber14Chars bytes; returns its end.
inline constexpr size_t kNumber14Chars = 400;
char* WriteNumber14(char* first, double value);
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

// The marks of a degrees-minutes-seconds text chosen by the user ("°", "′", "″" or "d", "'",
// "\"", ...). An empty mark stands for nothing between the numbers (spaces then separate them).
struct DmsMarks {
  std::string_view degree;
  std::string_view minute;
  std::string_view second;
};
// ParseDms with the user's marks instead of the fixed ones (exactly these marks; the second mark
// stays optional). Same rules for the sign, minutes and seconds.
bool ParseDms(std::string_view text, const DmsMarks& marks, double* degrees);

// An angle split for printing as degrees, minutes and seconds with a fixed number of decimals of
// the second: |angle| is rounded once to that precision and the rounding carries into minutes and
// degrees, so the seconds never read 60 and the minutes never 60.
struct DmsParts {
  bool negative = false;   // the rounded angle is below zero (a value that rounds to 0 is not)
  long long degrees = 0;
  int minutes = 0;         // 0-59
  int seconds = 0;         // whole seconds, 0-59
  long long fraction = 0;  // the decimals of the second, in units of 10^-second_decimals
};
// `second_decimals` 0-9. False (parts untouched) for NaN, infinities and angles too large to
// count in units of the chosen precision (beyond about 2.5e6 degrees at 9 decimals).
bool SplitDegreesRounded(double angle, int second_decimals, DmsParts* parts);

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
// std::from_chars for a double (general format), giving exactly its results. Plain decimals of at
// most 15 significant digits and 22 decimals, what coordinate text is made of, take a fast path:
// their digits as an integer divided by a power of ten, which IEEE division rounds correctly;
// everything else goes to std::from_chars.
std::from_chars_result FromCharsDouble(const char* first, const char* last, double* value);
// A decimal integer, the whole text (spaces around allowed); nullopt otherwise.
std::optional<long long> ParseInt(std::string_view text);

// The extension in lower case without the dot, "" when none.
std::string GetFileExtLower(std::string_view path);
// The file name without its folder ('/' or '\\').
std::string GetFileNamePart(std::string_view path);

}  // namespace velmora

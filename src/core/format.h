// Number and path text helpers that never depend on the C locale (120.5 stays "120.5" under a
// German or French locale).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// "%.<precision>f" without the locale.
std::string FormatFixed(double value, int precision);
// "%.14f" with trailing zeros and then a trailing point removed: 120.5 -> "120.5", 120.0 -> "120".
std::string FormatNumber14(double value);
// "%.3f".
std::string FormatNumber3(double value);
// Degrees to "%d°%02d′%07.4f" with "-" before a negative value (seconds carry into minutes and
// degrees when they would print as 60).
std::string FormatDms(double degrees);
// "%d°%d′%f″" (the second mark optional; ASCII ' and " accepted too) to decimal degrees.
// Returns false when the text is not of that form.
bool ParseDms(std::string_view text, double* degrees);
// Whole degrees, whole minutes (truncated) and seconds of |angle|; returns angle >= 0.
bool SplitDegrees(double angle, int* degrees, int* minutes, float* seconds);

// A number in C notation, the whole text (spaces around allowed); nullopt otherwise.
std::optional<double> ParseDouble(std::string_view text);
std::optional<long long> ParseInt(std::string_view text);

// The extension in lower case without the dot, "" when none.
std::string GetFileExtLower(std::string_view path);
// The file name without its folder ('/' or '\\').
std::string GetFileNamePart(std::string_view path);

}  // namespace velmora

// Locale-free formatting through std::to_chars / std::from_chars.
#include "core/format.h"

#include <locale.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "platform/sync.h"
#include "platform/text.h"

namespace velmora {
namespace {

locale_t CLocale() {
  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
  return c_locale;
}

// Appends `n` as at least two decimal digits.
void AppendTwoDigits(std::string& out, long long n) {
  if (n < 10) out.push_back('0');
  out += std::to_string(n);
}

}  // namespace

std::string VFormatC(const char* format, va_list args) {
  // uselocale changes this thread's locale only, so other threads are not disturbed.
  locale_t c_locale = CLocale();
  locale_t previous = c_locale ? uselocale(c_locale) : static_cast<locale_t>(nullptr);
  char buf[256];
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(buf, sizeof buf, format, copy);
  va_end(copy);
  std::string out;
  if (n > 0 && static_cast<size_t>(n) < sizeof buf) {
    out.assign(buf, static_cast<size_t>(n));
  } else if (n > 0) {
    out.resize(static_cast<size_t>(n));
    std::vsnprintf(out.data(), out.size() + 1, format, args);
  }
  if (c_locale) uselocale(previous);
  return out;
}

std::string FormatC(const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  std::string out = VFormatC(format, ap);
  va_end(ap);
  return out;
}

std::string FormatFixed(double value, int precision) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  precision = std::clamp(precision, 0, 60);
  // 309 integer digits of the largest double, sign, point and 60 decimals fit.
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
  if (r.ec != std::errc()) return "nan";
  return std::string(buf, r.ptr);
}

std::string FormatNumber14(double value) {
  std::string s = FormatFixed(value, 14);
  if (s.find('.') != std::string::npos) {
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
  }
  if (s == "-0") s = "0";
  return s;
}

std::string FormatNumber3(double value) { return FormatFixed(value, 3); }

bool SplitDegrees(double angle, int* degrees, int* minutes, float* seconds) {
  bool positive = !(angle < 0);
  double a = std::fabs(angle);
  // Keep the integer conversions defined for any input.
  if (!std::isfinite(a)) a = 0;
  if (a >= 2147483647.0) a = 2147483647.0;
  int d = static_cast<int>(a);
  double rest = (a - d) * 60.0;
  int m = static_cast<int>(rest);
  double s = (rest - m) * 60.0;
  if (degrees) *degrees = d;
  if (minutes) *minutes = m;
  if (seconds) *seconds = static_cast<float>(s);
  return positive;
}

std::string FormatDms(double value) {
  if (!std::isfinite(value)) return FormatFixed(value, 0);
  double a = std::fabs(value);
  // Count in units of 0.0001 second, the printed precision, and round once: seconds never print
  // as "60.0000" (they carry into minutes and degrees), and a value that rounds to zero prints
  // without a minus sign.
  double ticks_d = std::round(a * 36000000.0);
  if (ticks_d >= 9.0e18) {
    std::string out = value < 0 ? "-" : "";
    out += FormatFixed(std::floor(a), 0);
    out += "°00′00.0000";
    return out;
  }
  long long ticks = static_cast<long long>(ticks_d);
  long long whole = ticks / 10000;
  long long frac = ticks % 10000;
  std::string out = (value < 0 && ticks != 0) ? "-" : "";
  out += std::to_string(whole / 3600);
  out += "°";
  AppendTwoDigits(out, (whole / 60) % 60);
  out += "′";
  AppendTwoDigits(out, whole % 60);
  out += '.';
  std::string f = std::to_string(frac);
  out.append(4 - f.size(), '0');
  out += f;
  return out;
}

bool ParseDms(std::string_view text, double* degrees) {
  std::string_view s = text;
  auto skip_space = [&] {
    while (!s.empty() && IsAsciiSpace(s.front())) s.remove_prefix(1);
  };
  auto take_integer = [&](long long* out) {
    skip_space();
    auto r = std::from_chars(s.data(), s.data() + s.size(), *out);
    if (r.ec != std::errc() || r.ptr == s.data()) return false;
    s.remove_prefix(static_cast<size_t>(r.ptr - s.data()));
    return true;
  };
  auto take_mark = [&](std::initializer_list<std::string_view> marks) {
    for (std::string_view m : marks)
      if (s.substr(0, m.size()) == m) {
        s.remove_prefix(m.size());
        return true;
      }
    return false;
  };
  // The sign is read apart from the degrees so that "-0°30′0″" keeps it.
  skip_space();
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
    if (s.empty() || s.front() < '0' || s.front() > '9') return false;
  }
  long long d = 0, m = 0;
  double sec = 0;
  if (!take_integer(&d) || d < 0 || !take_mark({"°"})) return false;
  if (!take_integer(&m) || !take_mark({"′", "'"})) return false;
  skip_space();
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  auto r = std::from_chars(s.data(), s.data() + s.size(), sec);
  if (r.ec != std::errc() || r.ptr == s.data()) return false;
  s.remove_prefix(static_cast<size_t>(r.ptr - s.data()));
  take_mark({"″", "\""});
  skip_space();
  if (!s.empty()) return false;
  // NaN fails these comparisons too.
  if (!(m >= 0 && m < 60 && sec >= 0 && sec < 60)) return false;
  double v = static_cast<double>(d) + static_cast<double>(m) / 60.0 + sec / 3600.0;
  if (degrees) *degrees = negative ? -v : v;
  return true;
}

std::optional<double> ParseDouble(std::string_view text) {
  std::string_view s = TrimAscii(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<long long> ParseInt(std::string_view text) {
  std::string_view s = TrimAscii(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  long long v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

std::string GetFileExtLower(std::string_view path) {
  std::string name = GetFileNamePart(path);
  size_t dot = name.rfind('.');
  if (dot == std::string::npos) return "";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

std::string GetFileNamePart(std::string_view path) {
  size_t slash = path.find_last_of("/\\");
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string FormatTickTime(uint64_t tick, int64_t anchor_wall_ms, uint64_t anchor_tick) {
  int64_t ms = anchor_wall_ms + static_cast<int64_t>(tick - anchor_tick);
  int64_t secs = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  int milli = static_cast<int>(ms - secs * 1000);
  time_t t = static_cast<time_t>(secs);
  tm local{};
  localtime_r(&t, &local);
  return FormatC("%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec, milli);
}

std::string FormatTickTime(uint64_t tick) {
  struct Anchor {
    int64_t wall_ms;
    uint64_t tick;
  };
  static const Anchor anchor = [] {
    using namespace std::chrono;
    return Anchor{duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count(), TickCount64()};
  }();
  return FormatTickTime(tick, anchor.wall_ms, anchor.tick);
}

}  // namespace velmora

// Locale-free formatting through std::to_chars / std::from_chars.
#include "core/format.h"

#include <locale.h>
#include <time.h>

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

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

namespace {

// ToCharsFixed for 10 to 14 decimals of a value below 1e9 (what coordinates in metres and
// degrees printed by FormatNumber14 are): |value| = m·2^-k exactly, so |value|·10^p rounded is
// (m·10^p) / 2^k rounded, computed in 128-bit integers (m·10^14 stays below 2^100). A tie goes
// to std::to_chars, which settles it by its own rule. `first` has room for 32 bytes.
template <typename Slow>
std::to_chars_result ToCharsFixedWide(char* first, double value, int precision, Slow slow) {
  uint64_t scale = 1;
  for (int i = 0; i < precision; ++i) scale *= 10;
  const double a = std::fabs(value);
  unsigned __int128 c = 0;
  if (a != 0) {
    uint64_t bits = 0;
    std::memcpy(&bits, &a, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);
    if (biased == 0) return slow();  // subnormal
    const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int k = 1075 - biased;  // at least 23: a is below 2^30
    const unsigned __int128 n = static_cast<unsigned __int128>(m) * scale;
    if (k >= 101) {
      c = 0;  // n < 2^100 <= 2^(k-1): below half a unit of the last decimal, never a tie
    } else {
      const unsigned __int128 one = 1;
      c = n >> k;
      const unsigned __int128 rest = n - (c << k);
      const unsigned __int128 half = one << (k - 1);
      if (rest == half) return slow();
      if (rest > half) ++c;
    }
  }
  // Whole part and decimals without a 128-bit division: the whole part is the truncated value
  // (exact below 1e9), or one more when the rounding carried.
  uint64_t whole = static_cast<uint64_t>(a);
  unsigned __int128 rest = c - static_cast<unsigned __int128>(whole) * scale;
  if (rest >= scale) {
    ++whole;
    rest -= scale;
  }
  char* p = first;
  if (std::signbit(value)) *p++ = '-';
  p = std::to_chars(p, p + 12, whole).ptr;
  *p++ = '.';
  uint64_t frac = static_cast<uint64_t>(rest);
  for (int i = precision - 1; i >= 0; --i) {
    p[i] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  return {p + precision, std::errc()};
}

}  // namespace

std::to_chars_result ToCharsFixed(char* first, char* last, double value, int precision) {
  static constexpr uint64_t kPow10[] = {1,      10,      100,      1000,      10000,
                                        100000, 1000000, 10000000, 100000000, 1000000000};
  auto slow = [&] { return std::to_chars(first, last, value, std::chars_format::fixed, precision); };
  const double a = std::fabs(value);
  if (precision >= 10 && precision <= 14 && a < 1e9 && last - first >= 32) return ToCharsFixedWide(first, value, precision, slow);
  // Sign, ten integer digits, point and nine decimals fit in 21 bytes.
  if (!(a < 1e9) || precision < 0 || precision > 9 || last - first < 24) return slow();
  const uint64_t scale = kPow10[precision];
  uint64_t c = 0;
  if (a != 0) {
    // a = m·2^-k exactly, m below 2^53 (from the bits of the double); k is at least 23 because
    // a is below 2^30. Subnormal and tiny values go the slow way.
    uint64_t bits = 0;
    std::memcpy(&bits, &a, sizeof bits);
    const int biased = static_cast<int>(bits >> 52);
    if (biased == 0) return slow();
    const uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
    const int k = 1075 - biased;
    if (k > 100) return slow();
    c = static_cast<uint64_t>(a * static_cast<double>(scale) + 0.5);
    // c is the rounding of a·10^p when |m·10^p − c·2^k| < 2^(k−1); an equal distance is a tie,
    // which std::to_chars settles by its own rule.
    const unsigned __int128 target = static_cast<unsigned __int128>(m) * scale;
    const unsigned __int128 scaled = static_cast<unsigned __int128>(c) << k;
    const unsigned __int128 distance = target > scaled ? target - scaled : scaled - target;
    if (distance >= (static_cast<unsigned __int128>(1) << (k - 1))) return slow();
  }
  char* p = first;
  if (std::signbit(value)) *p++ = '-';
  p = std::to_chars(p, last, c / scale).ptr;
  if (precision > 0) {
    *p++ = '.';
    uint64_t frac = c % scale;
    for (int i = precision - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    p += precision;
  }
  return {p, std::errc()};
}

std::string FormatFixed(double value, int precision) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  precision = std::clamp(precision, 0, 60);
  // 309 integer digits of the largest double, sign, point and 60 decimals fit.
  char buf[400];
  auto r = ToCharsFixed(buf, buf + sizeof buf, value, precision);
  if (r.ec != std::errc()) return "nan";
  return std::string(buf, r.ptr);
}

char* WriteNumber14(char* first, double value) {
  if (std::isnan(value)) return std::copy_n("nan", 3, first);
  if (std::isinf(value)) return value < 0 ? std::copy_n("-inf", 4, first) : std::copy_n("inf", 3, first);
  auto r = ToCharsFixed(first, first + kNumber14Chars, value, 14);
  if (r.ec != std::errc()) return std::copy_n("nan", 3, first);
  char* end = r.ptr;
  while (end > first && end[-1] == '0') --end;
  if (end > first && end[-1] == '.') --end;
  if (end - first == 2 && first[0] == '-' && first[1] == '0') {
    first[0] = '0';
    return first + 1;
  }
  return end;
}

std::string FormatNumber14(double value) {
  char buf[kNumber14Chars];
  return std::string(buf, WriteNumber14(buf, value));
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

bool SplitDegreesRounded(double angle, int second_decimals, DmsParts* parts) {
  static constexpr long long kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                                         1000000000};
  if (!std::isfinite(angle) || second_decimals < 0 || second_decimals > 9) return false;
  const long long unit = kPow10[second_decimals];
  // Count in units of the printed precision and round once.
  double ticks_d = std::round(std::fabs(angle) * 3600.0 * static_cast<double>(unit));
  if (!(ticks_d < 9.0e18)) return false;
  long long ticks = static_cast<long long>(ticks_d);
  long long whole = ticks / unit;
  if (parts) {
    parts->negative = angle < 0 && ticks != 0;
    parts->degrees = whole / 3600;
    parts->minutes = static_cast<int>((whole / 60) % 60);
    parts->seconds = static_cast<int>(whole % 60);
    parts->fraction = ticks % unit;
  }
  return true;
}

std::string FormatDms(double value) {
  if (!std::isfinite(value)) return FormatFixed(value, 0);
  DmsParts p;
  if (!SplitDegreesRounded(value, 4, &p)) {
    std::string out = value < 0 ? "-" : "";
    out += FormatFixed(std::floor(std::fabs(value)), 0);
    out += "°00′00.0000";
    return out;
  }
  std::string out = p.negative ? "-" : "";
  out += std::to_string(p.degrees);
  out += "°";
  AppendTwoDigits(out, p.minutes);
  out += "′";
  AppendTwoDigits(out, p.seconds);
  out += '.';
  std::string f = std::to_string(p.fraction);
  out.append(4 - f.size(), '0');
  out += f;
  return out;
}

namespace {

// The scanf-like reading shared by both ParseDms forms; each mark is one of its alternatives.
bool ParseDmsWith(std::string_view text, std::initializer_list<std::string_view> degree_marks,
                  std::initializer_list<std::string_view> minute_marks,
                  std::initializer_list<std::string_view> second_marks, double* degrees) {
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
  if (!take_integer(&d) || d < 0 || !take_mark(degree_marks)) return false;
  if (!take_integer(&m) || !take_mark(minute_marks)) return false;
  skip_space();
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  auto r = FromCharsDouble(s.data(), s.data() + s.size(), &sec);
  if (r.ec != std::errc() || r.ptr == s.data()) return false;
  s.remove_prefix(static_cast<size_t>(r.ptr - s.data()));
  take_mark(second_marks);
  skip_space();
  if (!s.empty()) return false;
  // NaN fails these comparisons too.
  if (!(m >= 0 && m < 60 && sec >= 0 && sec < 60)) return false;
  double v = static_cast<double>(d) + static_cast<double>(m) / 60.0 + sec / 3600.0;
  if (degrees) *degrees = negative ? -v : v;
  return true;
}

}  // namespace

bool ParseDms(std::string_view text, double* degrees) {
  return ParseDmsWith(text, {"°"}, {"′", "'"}, {"″", "\""}, degrees);
}

bool ParseDms(std::string_view text, const DmsMarks& marks, double* degrees) {
  return ParseDmsWith(text, {marks.degree}, {marks.minute}, {marks.second}, degrees);
}

std::from_chars_result FromCharsDouble(const char* first, const char* last, double* value) {
  static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                      1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  // Every integer up to 2^53 is exact in a double.
  constexpr uint64_t kMaxMantissa = uint64_t{1} << 53;
  const char* p = first;
  bool negative = p < last && *p == '-';
  if (negative) ++p;
  uint64_t mantissa = 0;
  int decimals = 0;
  bool digits = false;
  auto slow = [&] { return std::from_chars(first, last, *value); };
  while (p < last && static_cast<unsigned>(*p - '0') < 10) {
    if (mantissa > (kMaxMantissa - 9) / 10) return slow();
    mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
    digits = true;
    ++p;
  }
  if (p < last && *p == '.') {
    ++p;
    while (p < last && static_cast<unsigned>(*p - '0') < 10) {
      if (mantissa > (kMaxMantissa - 9) / 10 || decimals == 22) return slow();
      mantissa = mantissa * 10 + static_cast<unsigned>(*p - '0');
      ++decimals;
      digits = true;
      ++p;
    }
  }
  if (!digits || (p < last && (*p == 'e' || *p == 'E'))) return slow();
  double v = static_cast<double>(mantissa);
  if (decimals > 0) v /= kPow10[decimals];
  *value = negative ? -v : v;
  return {p, std::errc()};
}

std::optional<double> ParseDouble(std::string_view text) {
  std::string_view s = TrimAscii(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  auto r = FromCharsDouble(s.data(), s.data() + s.size(), &v);
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

// Locale-free formatting through std::to_chars / std::from_chars.
#include "core/format.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

namespace velmora {
namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
    s.remove_suffix(1);
  return s;
}

}  // namespace

std::string FormatFixed(double value, int precision) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, precision);
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
  if (!std::isfinite(a)) a = 0;
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
  if (!std::isfinite(value)) return "nan";
  bool negative = value < 0;
  double a = std::fabs(value);
  // Round to the printed precision first so that 59.99999 seconds never prints as "60.0000".
  double total_seconds = std::round(a * 3600.0 * 1e4) / 1e4;
  long long whole = static_cast<long long>(total_seconds);
  double frac = total_seconds - static_cast<double>(whole);
  int d = static_cast<int>(whole / 3600);
  int m = static_cast<int>((whole / 60) % 60);
  double s = static_cast<double>(whole % 60) + frac;
  std::string sec = FormatFixed(s, 4);
  if (sec.size() < 7) sec.insert(0, 7 - sec.size(), '0');
  std::string out = negative ? "-" : "";
  out += std::to_string(d);
  out += "°";
  if (m < 10) out += "0";
  out += std::to_string(m);
  out += "′";
  out += sec;
  return out;
}

bool ParseDms(std::string_view text, double* degrees) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  auto take_number = [&](double* out, bool integer) {
    const char* b = s.data();
    const char* e = b + s.size();
    std::from_chars_result r;
    if (integer) {
      long long v = 0;
      r = std::from_chars(b, e, v);
      *out = static_cast<double>(v);
    } else {
      r = std::from_chars(b, e, *out);
    }
    if (r.ec != std::errc() || r.ptr == b) return false;
    s.remove_prefix(static_cast<size_t>(r.ptr - b));
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
  double d = 0, m = 0, sec = 0;
  if (!take_number(&d, true) || !take_mark({"°"})) return false;
  if (!take_number(&m, true) || !take_mark({"′", "'"})) return false;
  if (!take_number(&sec, false)) return false;
  take_mark({"″", "\""});
  if (!Trim(s).empty()) return false;
  if (m < 0 || m >= 60 || sec < 0 || sec >= 60 || d < 0) return false;
  double v = d + m / 60.0 + sec / 3600.0;
  if (degrees) *degrees = negative ? -v : v;
  return true;
}

std::optional<double> ParseDouble(std::string_view text) {
  std::string_view s = Trim(text);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

std::optional<long long> ParseInt(std::string_view text) {
  std::string_view s = Trim(text);
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

}  // namespace velmora

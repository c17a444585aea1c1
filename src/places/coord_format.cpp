// Reading and writing coordinate lines in the three notations of the format converter.
#include "places/coord_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "core/format.h"
#include "core/log.h"
#include "platform/text.h"

namespace velmora {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The first and last bytes are compared before the rest: most values carry no mark.
bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && (prefix.empty() || s.front() == prefix.front()) &&
         s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && (suffix.empty() || s.back() == suffix.back()) &&
         s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

char* WriteInt(char* p, long long v) { return std::to_chars(p, p + 24, v).ptr; }

char* WriteText(char* p, const std::string& text) {
  std::memcpy(p, text.data(), text.size());
  return p + text.size();
}

// Decimal degrees as FormatNumber14 writes them (kDegreeDecimals, then trailing zeros and a
// trailing point removed), written in place. A
// number below 1e15 takes at most kNumberChars bytes; any double at most kHugeNumberChars.
constexpr size_t kNumberChars = 48;
constexpr size_t kHugeNumberChars = 400;
bool IsHuge(double v) { return std::fabs(v) >= 1e15; }

char* WriteDegrees(char* p, double v, int decimals) {
  if (!std::isfinite(v)) return WriteText(p, FormatFixed(v, 0));
  auto r = ToCharsFixed(p, p + kHugeNumberChars, v, decimals);
  char* end = r.ptr;
  while (end > p && end[-1] == '0') --end;
  if (end > p && end[-1] == '.') --end;
  if (end - p == 2 && p[0] == '-' && p[1] == '0') {  // a value that rounds to zero
    p[0] = '0';
    return p + 1;
  }
  return end;
}

std::string Encode(const std::string& utf8, CoordTextEncoding encoding) {
  return encoding == CoordTextEncoding::kGbk ? Utf8ToAnsi(std::string_view(utf8)) : utf8;
}

}  // namespace

const char* CoordLineErrorText(CoordLineError error) {
  switch (error) {
    case CoordLineError::kNone: return "";
    case CoordLineError::kMissingSeparator: return "缺少分隔符";
    case CoordLineError::kBadValue: return "数值无法识别";
    case CoordLineError::kOutOfRange: return "坐标超出范围";
    case CoordLineError::kHemisphereConflict: return "半球标记冲突";
    case CoordLineError::kSignAndHemisphere: return "负号与半球标记重复";
    case CoordLineError::kNotConvertible: return "无法转换";
  }
  return "";
}

// ---- fields ----

CCoordFieldSplitter::CCoordFieldSplitter(std::string_view separator) : separator_(separator) {
  blank_ = !separator_.empty();
  for (char c : separator_)
    if (!IsBlank(c)) blank_ = false;
}

bool CCoordFieldSplitter::Skip(std::string_view* rest, int count) const {
  for (int i = 0; i < count; ++i) {
    bool found = false;
    Next(rest, &found);
    if (!found) return false;
  }
  return true;
}

std::string_view CCoordFieldSplitter::Next(std::string_view* rest, bool* found) const {
  std::string_view s = *rest;
  if (separator_.empty()) {
    *found = false;
    *rest = {};
    return s;
  }
  if (blank_) {
    size_t b = 0;
    while (b < s.size() && IsBlank(s[b])) ++b;
    size_t e = b;
    while (e < s.size() && !IsBlank(s[e])) ++e;
    std::string_view field = s.substr(b, e - b);
    size_t next = e;
    while (next < s.size() && IsBlank(s[next])) ++next;
    *found = next < s.size();  // trailing blanks separate nothing
    *rest = s.substr(next);
    return field;
  }
  size_t pos = s.find(separator_);
  if (pos == std::string_view::npos) {
    *found = false;
    *rest = {};
    return s;
  }
  *found = true;
  *rest = s.substr(pos + separator_.size());
  return s.substr(0, pos);
}

// ---- reading ----

bool ParsePackedDms(std::string_view text, double* degrees) {
  std::string_view s = TrimAscii(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  if (s.empty() || s.front() < '0' || s.front() > '9') return false;
  long long d = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), d);
  if (r.ec != std::errc()) return false;
  s.remove_prefix(static_cast<size_t>(r.ptr - s.data()));
  // A point and two digits each of minutes and seconds, then the decimals of the second.
  if (s.size() < 5 || s.front() != '.') return false;
  s.remove_prefix(1);
  for (char c : s)
    if (c < '0' || c > '9') return false;
  const char* digits = s.data();
  std::string_view fraction = s.substr(4);
  int minutes = (digits[0] - '0') * 10 + (digits[1] - '0');
  int whole_seconds = (digits[2] - '0') * 10 + (digits[3] - '0');
  if (minutes > 59 || whole_seconds > 59) return false;
  double seconds = whole_seconds;
  if (!fraction.empty()) {
    // Digits beyond the seventeenth no longer change a double.
    char buf[24] = "0.";
    size_t n = std::min<size_t>(fraction.size(), 17);
    fraction.copy(buf + 2, n);
    double f = 0;
    std::from_chars(buf, buf + 2 + n, f);
    seconds += f;
  }
  double v = static_cast<double>(d) + minutes / 60.0 + seconds / 3600.0;
  if (!std::isfinite(v)) return false;
  if (degrees) *degrees = negative ? -v : v;
  return true;
}

CCoordLineReader::CCoordLineReader(const CoordFormatSettings& settings)
    : format_(settings.source_format),
      lat_first_(settings.source_lat_first),
      skip_(settings.skip_columns),
      splitter_(settings.source_separator),
      degree_(settings.source_degree_mark),
      minute_(settings.source_minute_mark),
      second_(settings.source_second_mark),
      hemisphere_(settings.source_hemisphere) {}

CoordLineError CCoordLineReader::ReadValue(std::string_view field, Value* out) const {
  std::string_view s = TrimAscii(field);
  int hemisphere = -1;
  for (int h = 0; h < 4; ++h) {
    const std::string& mark = hemisphere_[static_cast<size_t>(h)];
    if (mark.empty()) continue;
    bool prefix = StartsWith(s, mark), suffix = !prefix && EndsWith(s, mark);
    if (!prefix && !suffix) continue;
    if (hemisphere >= 0) return CoordLineError::kHemisphereConflict;
    hemisphere = h;
    s = prefix ? s.substr(mark.size()) : s.substr(0, s.size() - mark.size());
    s = TrimAscii(s);
  }
  bool minus = !s.empty() && s.front() == '-';
  double v = 0;
  bool ok = false;
  switch (format_) {
    case kNotationDegrees: {
      auto parsed = ParseDouble(s);
      ok = parsed.has_value();
      if (ok) v = *parsed;
      break;
    }
    case kNotationDms:
      ok = ParseDms(s, DmsMarks{degree_, minute_, second_}, &v);
      break;
    case kNotationPacked:
      ok = ParsePackedDms(s, &v);
      break;
    default:
      break;
  }
  if (!ok) return CoordLineError::kBadValue;
  if (minus && hemisphere >= 0) return CoordLineError::kSignAndHemisphere;
  if (hemisphere == kHemiWest || hemisphere == kHemiSouth) v = -v;
  out->value = v;
  out->hemisphere = hemisphere;
  return CoordLineError::kNone;
}

CoordLineError CCoordLineReader::Read(std::string_view line, GeoPoint* point) const {
  std::string_view rest = line;
  if (splitter_.Empty() || !splitter_.Skip(&rest, skip_)) return CoordLineError::kMissingSeparator;
  bool found = false;
  std::string_view first = splitter_.Next(&rest, &found);
  if (!found) return CoordLineError::kMissingSeparator;
  std::string_view second = splitter_.Next(&rest, &found);
  Value a, b;
  if (CoordLineError e = ReadValue(first, &a); e != CoordLineError::kNone) return e;
  if (CoordLineError e = ReadValue(second, &b); e != CoordLineError::kNone) return e;
  // 0 longitude, 1 latitude, -1 unmarked.
  auto axis = [](int h) { return h < 0 ? -1 : (h <= kHemiEast ? 0 : 1); };
  int axis_a = axis(a.hemisphere), axis_b = axis(b.hemisphere);
  bool first_is_lat = lat_first_;
  if (axis_a >= 0 && axis_b >= 0) {
    if (axis_a == axis_b) return CoordLineError::kHemisphereConflict;
    first_is_lat = axis_a == 1;
  } else if (axis_a >= 0) {
    first_is_lat = axis_a == 1;
  } else if (axis_b >= 0) {
    first_is_lat = axis_b == 0;
  }
  GeoPoint p = first_is_lat ? GeoPoint{b.value, a.value} : GeoPoint{a.value, b.value};
  if (!(std::fabs(p.lng) <= 180.0) || !(std::fabs(p.lat) <= 90.0)) return CoordLineError::kOutOfRange;
  if (point) *point = p;
  return CoordLineError::kNone;
}

CoordLineError ParseCoordLine(std::string_view line, const CoordFormatSettings& settings, GeoPoint* point) {
  return CCoordLineReader(settings).Read(line, point);
}

// ---- writing ----

CCoordFormatter::CCoordFormatter(const CoordFormatSettings& settings, CoordTextEncoding encoding)
    : format_(settings.target_format == kNotationDms ? kNotationDms : kNotationDegrees),
      lat_first_(settings.target_lat_first),
      degree_decimals_(std::clamp(settings.target_degree_decimals, 0, kDegreeDecimals)),
      separator_(Encode(settings.target_separator, encoding)),
      degree_(Encode(settings.target_degree_mark, encoding)),
      minute_(Encode(settings.target_minute_mark, encoding)),
      second_(Encode(settings.target_second_mark, encoding)) {
  for (size_t i = 0; i < 4; ++i) words_[i] = Encode(settings.target_hemisphere[i], encoding);
}

size_t CCoordFormatter::MaxValueChars(bool huge) const {
  size_t words = 0;
  for (const std::string& w : words_) words = std::max(words, w.size());
  return (huge ? kHugeNumberChars : kNumberChars) + degree_.size() + minute_.size() + second_.size() + words;
}

char* CCoordFormatter::WriteValue(char* p, double value, bool latitude) const {
  if (format_ == kNotationDegrees) return WriteDegrees(p, value, degree_decimals_);
  DmsParts parts;
  if (!SplitDegreesRounded(value, kDmsSecondDecimals, &parts)) return WriteDegrees(p, value, degree_decimals_);
  // The side follows the value itself: 0 and below are west or south, above 0 east or north.
  const bool west_or_south = !(value > 0);
  const std::string& word = words_[latitude ? (west_or_south ? kHemiSouth : kHemiNorth)
                                            : (west_or_south ? kHemiWest : kHemiEast)];
  // One sign only: the west or south word when there is one, else the minus sign.
  if (parts.negative && word.empty()) *p++ = '-';
  p = WriteInt(p, parts.degrees);
  p = WriteText(p, degree_);
  p = WriteInt(p, parts.minutes);
  p = WriteText(p, minute_);
  p = WriteInt(p, parts.seconds);
  // The decimals of the second without trailing zeros (and without the point when none is left).
  long long f = parts.fraction;
  int decimals = kDmsSecondDecimals;
  while (decimals > 0 && f % 10 == 0) {
    f /= 10;
    --decimals;
  }
  if (decimals > 0) {
    *p++ = '.';
    for (int i = decimals - 1; i >= 0; --i) {
      p[i] = static_cast<char>('0' + f % 10);
      f /= 10;
    }
    p += decimals;
  }
  p = WriteText(p, second_);
  return WriteText(p, word);
}

void CCoordFormatter::Append(std::string* out, const GeoPoint& point) const {
  // One resize for the whole point, then the pieces written in place.
  const size_t old_size = out->size();
  const bool huge = IsHuge(point.lng) || IsHuge(point.lat);
  out->resize(old_size + 2 * MaxValueChars(huge) + separator_.size());
  char* const start = out->data() + old_size;
  char* p = start;
  if (lat_first_) {
    p = WriteValue(p, point.lat, true);
    p = WriteText(p, separator_);
    p = WriteValue(p, point.lng, false);
  } else {
    p = WriteValue(p, point.lng, false);
    p = WriteText(p, separator_);
    p = WriteValue(p, point.lat, true);
  }
  out->resize(old_size + static_cast<size_t>(p - start));
}

std::string FormatCoordPoint(const GeoPoint& point, const CoordFormatSettings& settings) {
  std::string out;
  CCoordFormatter(settings, CoordTextEncoding::kUtf8).Append(&out, point);
  return out;
}

std::string CoordErrorLine(size_t line_number, CoordLineError error, std::string_view line_text) {
  std::string out = "# 第";
  out += std::to_string(line_number);
  out += "行";
  out += CoordLineErrorText(error);
  out += ": ";
  out += CutUtf8(std::string(line_text), 200);
  return out;
}

std::string DescribeCoordIssues(const std::vector<CoordLineIssue>& issues, size_t max_listed, bool in_output) {
  if (issues.empty()) return {};
  std::string out = std::to_string(issues.size()) + "行无法转换: ";
  for (size_t i = 0; i < issues.size() && i < max_listed; ++i) {
    if (i > 0) out += "、";
    out += "第" + std::to_string(issues[i].line) + "行(" + CoordLineErrorText(issues[i].error) + ")";
  }
  if (issues.size() > max_listed) out += "…";
  if (in_output) out += "\n结果中这些行以\"#\"开头。";
  return out;
}

CoordTextResult ConvertCoordText(std::string_view text, const CoordFormatSettings& settings,
                                 CoordTextEncoding output_encoding) {
  CoordTextResult result;
  CCoordLineReader reader(settings);
  CCoordFormatter formatter(settings, output_encoding);
  result.output.reserve(text.size() + text.size() / 2 + 16);
  ForEachCoordLine(text, [&](size_t number, std::string_view line) {
    GeoPoint p;
    CoordLineError e = reader.Read(line, &p);
    if (e == CoordLineError::kNone) {
      formatter.Append(&result.output, p);
      ++result.points;
    } else {
      result.issues.push_back({number, e});
      result.output += Encode(CoordErrorLine(number, e, line), output_encoding);
    }
    result.output += "\r\n";
  });
  return result;
}

}  // namespace velmora

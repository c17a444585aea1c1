// Coordinate notations of the format converter: decimal degrees, degrees-minutes-seconds with the
// user's marks and hemisphere words, and the packed "D.FFMM" form. Lines of text are read into
// longitude/latitude points and written back in another notation. A line that cannot be read is
// reported with its line number and written as an error line, never as a point at (0, 0).
#pragma once
#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Notations, in the order of the dialog's combo boxes (the target offers the first two).
enum CoordNotation : int {
  kNotationDegrees = 0,  // "度": 120.39598889
  kNotationDms = 1,      // "度分秒": 120°23′45.5600″
  kNotationPacked = 2,   // "D.FFMM": 120.234556 = 120°23′45.56″
};

// Hemisphere marks and words are kept in this order.
enum HemisphereIndex : int { kHemiWest = 0, kHemiEast = 1, kHemiSouth = 2, kHemiNorth = 3 };

// Seconds are rounded to this many decimals (0.0001″ is about 3 mm on the ground) and printed
// without trailing zeros (30″, 34.56″).
inline constexpr int kDmsSecondDecimals = 4;
// Decimal degrees are printed as FormatNumber14 prints them: 14 decimals, then trailing zeros
// and a trailing point removed, so what the user typed comes back.
inline constexpr int kDegreeDecimals = 14;

struct CoordFormatSettings {
  // ---- source ----
  int source_format = kNotationDms;
  std::string source_separator = ",";
  std::string source_degree_mark = "°";
  std::string source_minute_mark = "′";
  std::string source_second_mark = "″";
  bool source_lat_first = false;
  int skip_columns = 0;
  // Marks that tell the hemisphere of a value, before or after it (west, east, south, north).
  std::array<std::string, 4> source_hemisphere = {"W", "E", "S", "N"};
  // ---- target ----
  int target_format = kNotationDegrees;
  std::string target_separator = ",";
  std::string target_degree_mark = "°";
  std::string target_minute_mark = "′";
  std::string target_second_mark = "″";
  bool target_lat_first = false;
  // Decimals of a decimal-degree value (0-14) before trailing zeros are removed.
  int target_degree_decimals = kDegreeDecimals;
  // Words written after a degrees-minutes-seconds value (west, east, south, north). The word
  // follows the value, not its printed digits: 0 and below take the west or south word (also a
  // value that prints as 0°0′0″), anything above 0 the east or north word. When that word is
  // empty, a negative value is written with a minus sign instead: a value carries either a sign
  // or a word, never both.
  std::array<std::string, 4> target_hemisphere = {"西经", "东经", "南纬", "北纬"};
};

enum class CoordLineError {
  kNone,
  kMissingSeparator,    // fewer fields than the skipped columns and the two values need
  kBadValue,            // a value that is not in the source notation
  kOutOfRange,          // longitude beyond ±180° or latitude beyond ±90°
  kHemisphereConflict,  // two marks in one value, or both values marked for the same axis
  kSignAndHemisphere,   // a minus sign and a west or south mark on the same value
  kNotConvertible,      // PROJ could not convert the point
};
// The reason as the user reads it ("缺少分隔符", ...).
const char* CoordLineErrorText(CoordLineError error);

struct CoordLineIssue {
  size_t line = 0;  // 1-based line number of the input
  CoordLineError error = CoordLineError::kNone;
};

struct GeoPoint {
  double lng = 0;
  double lat = 0;
};

// Cutting a line into fields at the separator. A separator made only of spaces and tabs matches
// any run of them (and blanks before the first field are skipped), so that column-aligned text
// reads as it looks.
class CCoordFieldSplitter {
 public:
  explicit CCoordFieldSplitter(std::string_view separator);
  bool Empty() const { return separator_.empty(); }
  // Moves `rest` past `count` separators; false when there are fewer.
  bool Skip(std::string_view* rest, int count) const;
  // The text up to the next separator (or the end, *found = false), and `rest` moved past it.
  std::string_view Next(std::string_view* rest, bool* found) const;

 private:
  std::string separator_;
  bool blank_ = false;
};

// Reads lines in the source notation; built once per conversion.
class CCoordLineReader {
 public:
  explicit CCoordLineReader(const CoordFormatSettings& settings);
  CoordLineError Read(std::string_view line, GeoPoint* point) const;

 private:
  struct Value {
    double value = 0;
    int hemisphere = -1;  // HemisphereIndex, -1 when unmarked
  };
  CoordLineError ReadValue(std::string_view field, Value* out) const;
  int format_;
  bool lat_first_;
  int skip_;
  CCoordFieldSplitter splitter_;
  std::string degree_, minute_, second_;
  std::array<std::string, 4> hemisphere_;
};

// Reads one line (without its line break) in the source notation. The hemisphere marks belong
// to the value they stand beside; a value marked east/west is the longitude and one marked
// north/south the latitude whatever the order flag says, so "36°N, 120°W" reads right. Fields
// after the second value are ignored.
CoordLineError ParseCoordLine(std::string_view line, const CoordFormatSettings& settings,
                              GeoPoint* point);

// Reads a packed "D.FFMM" value: degrees, a point, two digits of minutes, two digits of seconds
// and the decimals of the second (120.234556 = 120°23′45.56″). All four digits after the point
// are needed: "120.2" or "120" is refused rather than padded with zeros, since it is most likely
// decimal degrees typed under the wrong source notation. The sign comes from the text, so
// "-0.3000" is -0.5°.
bool ParsePackedDms(std::string_view text, double* degrees);

enum class CoordTextEncoding { kUtf8, kGbk };

// Writes points in the target notation. Built once per conversion: the marks are kept in the
// output encoding so that a file conversion writes GBK without converting every line.
class CCoordFormatter {
 public:
  CCoordFormatter(const CoordFormatSettings& settings, CoordTextEncoding encoding);
  // Appends the point's text (no line break).
  void Append(std::string* out, const GeoPoint& point) const;

 private:
  size_t MaxValueChars(bool huge) const;
  char* WriteValue(char* p, double value, bool latitude) const;
  int format_;
  bool lat_first_;
  int degree_decimals_;
  std::string separator_;
  std::string degree_, minute_, second_;
  std::array<std::string, 4> words_;
};

std::string FormatCoordPoint(const GeoPoint& point, const CoordFormatSettings& settings);

// The error line written in place of a line that could not be read: "# 第3行缺少分隔符: A 120 36"
// (UTF-8; no line break). A "#" line is a comment to most coordinate tools.
std::string CoordErrorLine(size_t line_number, CoordLineError error, std::string_view line_text);

// The message that lists the lines that could not be read (the first `max_listed` of them), and
// with `in_output` that the output marks them with "#".
std::string DescribeCoordIssues(const std::vector<CoordLineIssue>& issues, size_t max_listed = 10,
                                bool in_output = true);

struct CoordTextResult {
  std::string output;                  // one line per non-blank input line, each ended by "\r\n"
  size_t points = 0;                   // lines converted
  std::vector<CoordLineIssue> issues;  // lines that could not be read, in input order
};

// Calls `line_fn(number, text)` for every line that is not blank; lines end at CR, LF or CR LF,
// and line numbers count them as a text editor does.
template <typename LineFn>
void ForEachCoordLine(std::string_view text, LineFn&& line_fn) {
  size_t number = 1;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
    const char* stop = lf ? lf : end;
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(stop - p)));
    const char* line_end = cr ? cr : stop;
    for (const char* c = p; c < line_end; ++c) {
      if (*c != ' ' && *c != '\t') {
        line_fn(number, std::string_view(p, static_cast<size_t>(line_end - p)));
        break;
      }
    }
    if (line_end == end) break;
    // CR LF is one line break; a lone CR or LF is one too.
    p = (*line_end == '\r' && line_end + 1 < end && line_end[1] == '\n') ? line_end + 2 : line_end + 1;
    ++number;
  }
}

// Converts UTF-8 text line by line. The output is UTF-8, or GBK for a file.
CoordTextResult ConvertCoordText(std::string_view text, const CoordFormatSettings& settings,
                                 CoordTextEncoding output_encoding = CoordTextEncoding::kUtf8);

}  // namespace velmora

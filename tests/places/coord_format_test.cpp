// The format converter's notations: the examples of the converter with their double-precision
// values, round trips between the three notations over a grid of hard values, hemisphere marks
// and signs, lines that cannot be read, and GBK files with blank and bad lines.
#include "places/coord_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "core/format.h"
#include "places/coord_file.h"
#include "platform/text.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

CoordFormatSettings DmsToDegrees() { return CoordFormatSettings{}; }

CoordFormatSettings DegreesToDms() {
  CoordFormatSettings s;
  s.source_format = kNotationDegrees;
  s.target_format = kNotationDms;
  return s;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    out.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return out;
}

TEST(CoordFormat, ExamplesInDoublePrecision) {
  // The default input: 120°23′45.56″ is 120.395988888..., not the 120.39598890957 that single-
  // precision seconds gave, and 36°12′34.56″ is exactly 36.2096 (not 36.20960001104). Decimal
  // output has 14 decimals less trailing zeros (the "%.14f" of the C library gives the same).
  CoordTextResult r = ConvertCoordText("120°23′45.56″, 36°12′34.56″", DmsToDegrees());
  EXPECT_EQ(r.output, "120.39598888888889,36.2096\r\n");
  EXPECT_EQ(r.points, 1u);
  EXPECT_TRUE(r.issues.empty());

  // Hemisphere marks belong to their own value and tell the axis: this line is latitude first
  // whatever the order flag says, and W makes the longitude west (the converter used to negate
  // the first value and swap the axes).
  r = ConvertCoordText("36°12′34.56″N, 120°23′45.56″W", DmsToDegrees());
  EXPECT_EQ(r.output, "-120.39598888888889,36.2096\r\n");

  // Decimal output drops trailing zeros; the order flag of the target is honoured.
  CoordFormatSettings dd;
  dd.source_format = kNotationDegrees;
  EXPECT_EQ(ConvertCoordText("120.5,36\n120.0,-0.000000000000001", dd).output, "120.5,36\r\n120,0\r\n");
  // Every digit the user typed comes back (eight decimals used to cut them).
  EXPECT_EQ(ConvertCoordText("120.123456789012,-36.00000000001", dd).output, "120.123456789012,-36.00000000001\r\n");
  dd.target_lat_first = true;
  dd.target_separator = " ; ";
  EXPECT_EQ(ConvertCoordText("120.5,36", dd).output, "36 ; 120.5\r\n");

  // Columns to skip; a line without them is reported, not dropped.
  dd = CoordFormatSettings{};
  dd.source_format = kNotationDegrees;
  dd.skip_columns = 1;
  r = ConvertCoordText("A,120,36\nA 120 36", dd);
  EXPECT_EQ(Lines(r.output), (std::vector<std::string>{"120,36", "# 第2行缺少分隔符: A 120 36"}));
  ASSERT_EQ(r.issues.size(), 1u);
  EXPECT_EQ(r.issues[0].line, 2u);
}

TEST(CoordFormat, DmsTargetCarriesOneSignAndRoundsWithCarry) {
  CoordFormatSettings s = DegreesToDms();
  auto one = [&](double lng, double lat) { return FormatCoordPoint(GeoPoint{lng, lat}, s); };
  // A west or south value shows its word, never a minus sign as well; -0.5 keeps its side.
  // Seconds carry no trailing zeros.
  EXPECT_EQ(one(-0.5, -0.5), "0°30′0″西经,0°30′0″南纬");
  EXPECT_EQ(one(-120.5, 36.2096), "120°30′0″西经,36°12′34.56″北纬");
  // The word follows the value, not its printed digits: exactly 0 and a negative value that
  // prints as 0 are west and south, a positive one however small east and north.
  EXPECT_EQ(one(0, -1e-12), "0°0′0″西经,0°0′0″南纬");
  EXPECT_EQ(one(-0.0, 0), "0°0′0″西经,0°0′0″南纬");
  EXPECT_EQ(one(1e-12, 1e-300), "0°0′0″东经,0°0′0″北纬");
  // Seconds that round up to 60 carry into the minutes and degrees; no exponent form.
  EXPECT_EQ(one(10 + 59.0 / 60 + 59.99999 / 3600, 1e-5), "11°0′0″东经,0°0′0.036″北纬");
  EXPECT_EQ(one(179.99999999, -89.99999999), "180°0′0″东经,90°0′0″南纬");
  EXPECT_EQ(one(0.0001 / 3600, -1.2345 / 3600), "0°0′0.0001″东经,0°0′1.2345″南纬");
  // Without words the minus sign carries the side, also between -1° and 0°; a value that
  // prints as 0 has no sign.
  s.target_hemisphere = {"", "", "", ""};
  EXPECT_EQ(one(-0.5, 0.25), "-0°30′0″,0°15′0″");
  EXPECT_EQ(one(-1e-12, 0), "0°0′0″,0°0′0″");
  // A single empty word: that side falls back to the sign.
  s.target_hemisphere = {"", "E", "S", "N"};
  EXPECT_EQ(one(-1.5, -1.5), "-1°30′0″,1°30′0″S");
  s.target_degree_mark = "d";
  s.target_minute_mark = "'";
  s.target_second_mark = "\"";
  EXPECT_EQ(one(1.5, 2.25), "1d30'0\"E,2d15'0\"N");
}

TEST(CoordFormat, PackedDegreesMinutesSeconds) {
  double v = 0;
  ASSERT_TRUE(ParsePackedDms("120.234556", &v));
  EXPECT_NEAR(v, 120 + 23 / 60.0 + 45.56 / 3600, 1e-12);
  // The sign comes from the text, so a value between -1° and 0° keeps it.
  ASSERT_TRUE(ParsePackedDms("-0.3000", &v));
  EXPECT_DOUBLE_EQ(v, -0.5);
  ASSERT_TRUE(ParsePackedDms(" -0.0030 ", &v));
  EXPECT_NEAR(v, -30 / 3600.0, 1e-15);
  ASSERT_TRUE(ParsePackedDms("+36.0000", &v));
  EXPECT_EQ(v, 36);
  // Minutes and seconds need their four digits: decimal degrees typed under this notation
  // (120.2, 120.234, 36) are refused, not read as 120°20′ with zeros added.
  for (const char* bad : {"", "-", ".5", "120.6000", "120.0060", "12a.1", "120.12.3", "1e3", "120,5", "nan",
                          "120.2", "120.234", "36", "+36.", "-0.300", "120.23a4"})
    EXPECT_FALSE(ParsePackedDms(bad, &v)) << bad;

  CoordFormatSettings s;
  s.source_format = kNotationPacked;
  CoordTextResult r = ConvertCoordText("120.234556,36.123456\n-0.3000,0.3000\n120.6000,36\n120.2,36.1234", s);
  EXPECT_EQ(Lines(r.output), (std::vector<std::string>{"120.39598888888889,36.2096", "-0.5,0.5",
                                                       "# 第3行数值无法识别: 120.6000,36",
                                                       "# 第4行数值无法识别: 120.2,36.1234"}));
  ASSERT_EQ(r.issues.size(), 2u);
  EXPECT_EQ(r.issues[1].line, 4u);
}

TEST(CoordFormat, RoundTripsBetweenTheThreeNotations) {
  std::vector<double> grid = {0.0, 0.5, -0.5, 179.9999999, -179.9999999, 1e-9, -1e-9, 0.99999999,
                              -0.99999999, 90.0, -90.0, 180.0, -180.0,
                              // seconds that round to 60 at four decimals
                              10 + 59.0 / 60 + 59.99996 / 3600, -(10 + 59.0 / 60 + 59.99996 / 3600),
                              59.0 / 60 + 59.99999 / 3600, -(59.0 / 60 + 59.99999 / 3600)};
  for (int i = -1799; i <= 1799; i += 37) grid.push_back(i / 10.0 + 0.0123456789 * (i % 7));
  CoordFormatSettings to_dms = DegreesToDms();
  CoordFormatSettings dms_to_dd = DmsToDegrees();
  dms_to_dd.source_hemisphere = to_dms.target_hemisphere;  // reads what the DMS target writes
  CoordFormatSettings packed;
  packed.source_format = kNotationPacked;
  for (double lng : grid) {
    double lat = std::clamp(lng / 2.0, -90.0, 90.0);
    GeoPoint p{lng, lat};
    // degrees -> DMS text -> degrees: within the printed 0.00005″.
    std::string dms = FormatCoordPoint(p, to_dms);
    EXPECT_EQ(dms.find("60."), std::string::npos) << dms;
    EXPECT_EQ(dms.find('e'), std::string::npos) << dms;
    GeoPoint back;
    ASSERT_EQ(ParseCoordLine(dms, dms_to_dd, &back), CoordLineError::kNone) << dms;
    EXPECT_NEAR(back.lng, lng, 0.00005 / 3600 + 1e-12) << dms;
    EXPECT_NEAR(back.lat, lat, 0.00005 / 3600 + 1e-12) << dms;
    // DMS (four decimals) -> degrees text -> DMS: the same text. A positive value that prints
    // as 0°0′0″ is east or north, but reads back as 0, which is west or south.
    std::string dd = ConvertCoordText(dms, dms_to_dd).output;
    CoordFormatSettings dd_to_dms = DegreesToDms();
    auto zero_east = [](double v) { return v > 0 && v * 3600 < 0.00005; };
    if (!zero_east(lng) && !zero_east(lat)) {
      EXPECT_EQ(ConvertCoordText(dd, dd_to_dms).output, dms + "\r\n") << dd;
    }
    // The same angle in the packed notation reads to the same value as its DMS text.
    auto packed_text = [](double v) {
      DmsParts parts;
      EXPECT_TRUE(SplitDegreesRounded(v, kDmsSecondDecimals, &parts));
      return FormatC("%s%lld.%02d%02d%04lld", parts.negative ? "-" : "", parts.degrees, parts.minutes,
                     parts.seconds, parts.fraction);
    };
    GeoPoint from_packed;
    ASSERT_EQ(ParseCoordLine(packed_text(lng) + "," + packed_text(lat), packed, &from_packed),
              CoordLineError::kNone);
    EXPECT_NEAR(from_packed.lng, back.lng, 1e-12);
    EXPECT_NEAR(from_packed.lat, back.lat, 1e-12);
  }
}

TEST(CoordFormat, MarksSignsAndBadLinesAreReportedByLine) {
  CoordFormatSettings s = DmsToDegrees();
  auto read = [&](const std::string& line) {
    GeoPoint p;
    CoordLineError e = ParseCoordLine(line, s, &p);
    return std::make_pair(e, p);
  };
  EXPECT_EQ(read("E120°0′0″, N36°0′0″").first, CoordLineError::kNone);
  EXPECT_EQ(read("120°0′0″S, 36°0′0″N").first, CoordLineError::kHemisphereConflict);
  EXPECT_EQ(read("E120°0′0″W, 36°0′0″").first, CoordLineError::kHemisphereConflict);
  EXPECT_EQ(read("-120°0′0″W, 36°0′0″").first, CoordLineError::kSignAndHemisphere);
  EXPECT_EQ(read("190°0′0″, 36°0′0″").first, CoordLineError::kOutOfRange);
  EXPECT_EQ(read("120°0′0″, 91°0′0″").first, CoordLineError::kOutOfRange);
  EXPECT_EQ(read("120°0′, 36°0′0″").first, CoordLineError::kBadValue);
  EXPECT_EQ(read("120°0′0″").first, CoordLineError::kMissingSeparator);
  auto [e, p] = read("-0°30′0″, 36°0′0″S");
  EXPECT_EQ(e, CoordLineError::kNone);
  EXPECT_DOUBLE_EQ(p.lng, -0.5);
  EXPECT_DOUBLE_EQ(p.lat, -36.0);

  // A mark in a skipped column does not count (the converter used to look anywhere in the line).
  s.skip_columns = 1;
  std::tie(e, p) = read("West Lake,120°0′0″,30°0′0″");
  EXPECT_EQ(e, CoordLineError::kNone);
  EXPECT_EQ(p.lng, 120.0);

  // Line numbers count CR LF, lone CR and LF as an editor does; blank lines yield nothing.
  s.skip_columns = 0;
  CoordTextResult r = ConvertCoordText("120°0′0″,30°0′0″\r\n\r\n  \nbad line\r121°0′0″,31°0′0″\n\n0,0", s);
  EXPECT_EQ(Lines(r.output), (std::vector<std::string>{"120,30", "# 第4行缺少分隔符: bad line", "121,31",
                                                       "# 第7行数值无法识别: 0,0"}));
  EXPECT_EQ(r.points, 2u);
  ASSERT_EQ(r.issues.size(), 2u);
  EXPECT_EQ(r.issues[0].line, 4u);
  EXPECT_EQ(r.issues[1].line, 7u);
  EXPECT_EQ(DescribeCoordIssues(r.issues),
            "2行无法转换: 第4行(缺少分隔符)、第7行(数值无法识别)\n结果中这些行以\"#\"开头。");

  // Blank separators match runs of blanks; an empty separator reads nothing.
  CoordFormatSettings blank;
  blank.source_format = kNotationDegrees;
  blank.source_separator = " ";
  EXPECT_EQ(ConvertCoordText("  120.5 \t  36  \n120.5 ", blank).output,
            "120.5,36\r\n# 第2行缺少分隔符: 120.5 \r\n");
  blank.source_separator = "";
  EXPECT_EQ(ConvertCoordText("120.5,36", blank).issues.size(), 1u);
}

TEST(CoordFile, GbkFilesWithBlankAndBadLines) {
  test::TempDir dir;
  const std::string text =
      "东经120°23′45.56″,北纬36°12′34.56″\r\n"
      "\r\n"
      "站点A\r\n"
      "121°0′0″E,31°30′0″N\r\n";
  // Degree marks and words of the source in Chinese, as such files are written.
  CoordFormatSettings s;
  s.source_hemisphere = {"西经", "东经", "南纬", "北纬"};
  s.target_format = kNotationDms;
  s.target_separator = "\t";
  const std::string input = dir.File("in.txt");
  test::WriteTestFile(input, Utf8ToAnsi(std::string_view(text)));
  const std::string output = dir.File("out.txt");
  CoordFileResult r = ConvertCoordFile(input, output, s);
  ASSERT_EQ(r.status, CoordFileStatus::kOk) << r.error;
  EXPECT_EQ(r.points, 1u);  // "E" and "N" are not this file's marks
  ASSERT_EQ(r.issues.size(), 2u);
  EXPECT_EQ(r.issues[0].line, 3u);
  EXPECT_EQ(r.issues[1].line, 4u);
  const std::string written = test::ReadTestFile(output);
  EXPECT_EQ(AnsiToUtf8(written),
            "120°23′45.56″东经\t36°12′34.56″北纬\r\n"
            "# 第3行缺少分隔符: 站点A\r\n"
            "# 第4行数值无法识别: 121°0′0″E,31°30′0″N\r\n");
  // The file is written in GBK without converting line by line; it equals the plain way of
  // converting the UTF-8 result as a whole.
  EXPECT_EQ(written, Utf8ToAnsi(std::string_view(ConvertCoordText(text, s).output)));

  // A UTF-8 file (with or without its byte-order mark) reads the same.
  test::WriteTestFile(input, "\xEF\xBB\xBF" + text);
  EXPECT_EQ(ConvertCoordFile(input, output, s).points, 1u);
  EXPECT_EQ(test::ReadTestFile(output), written);

  // An input that cannot be read writes nothing; an output that cannot be written keeps the old.
  std::filesystem::remove(output);
  r = ConvertCoordFile(dir.File("missing.txt"), output, s);
  EXPECT_EQ(r.status, CoordFileStatus::kCannotRead);
  EXPECT_FALSE(std::filesystem::exists(output));
  test::WriteTestFile(dir.File("blocker"), "a file where a folder should be");
  r = ConvertCoordFile(input, dir.File("blocker/out.txt"), s);
  EXPECT_EQ(r.status, CoordFileStatus::kCannotWrite);
  EXPECT_EQ(test::ReadTestFile(dir.File("blocker")), "a file where a folder should be");
}

}  // namespace
}  // namespace velmora

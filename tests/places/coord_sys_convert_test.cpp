// The coordinate-system converter's text conversion: UTM zones 1, 51 and 60 in both hemispheres
// against PROJ's own cs2cs on the same lines, refused zones, points PROJ cannot convert, the
// reading of "x,y,z" lines, and the zone and band arithmetic of the zone dialog.
#include "places/coord_sys_convert.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/projection.h"
#include "core/settings.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

// Runs cs2cs over `input` (whitespace-separated lines) and returns its output lines.
std::vector<std::string> RunCs2cs(const std::string& args, const std::string& input) {
  test::TempDir dir;
  test::WriteTestFile(dir.File("in.txt"), input);
  std::string cmd = "cs2cs " + args + " < " + dir.File("in.txt") + " 2>/dev/null";
  std::vector<std::string> lines;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (!pipe) return lines;
  char buf[512];
  while (std::fgets(buf, sizeof buf, pipe)) {
    std::string line(buf);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    lines.push_back(line);
  }
  pclose(pipe);
  return lines;
}

// The numbers of a line, separated by blanks or commas.
std::vector<double> Numbers(std::string line) {
  for (char& ch : line)
    if (ch == ',') ch = ' ';
  std::istringstream in(line);
  std::vector<double> out;
  for (std::string word; in >> word;) out.push_back(std::stod(word));
  return out;
}

// Our line and the peer's hold the same x and y within `tolerance`, our height is `z`, and our
// numbers carry no trailing zeros.
void ExpectSamePoint(const std::string& ours, const std::string& peer, double tolerance, double z) {
  const std::vector<double> a = Numbers(ours), b = Numbers(peer);
  ASSERT_EQ(a.size(), 3u) << ours;
  ASSERT_GE(b.size(), 2u) << peer;
  EXPECT_NEAR(a[0], b[0], tolerance) << ours << " / " << peer;
  EXPECT_NEAR(a[1], b[1], tolerance) << ours << " / " << peer;
  EXPECT_EQ(a[2], z) << ours;
  std::istringstream fields(ours);
  for (std::string f; std::getline(fields, f, ',');) {
    if (f.find('.') != std::string::npos) {
      EXPECT_NE(f.back(), '0') << ours;
    }
  }
}

constexpr double kMillimetre = 0.001;
constexpr double kMillimetreInDegrees = 1e-8;  // about 1 mm on the ground

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

class CoordSysConvertTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v cs2cs >/dev/null 2>&1") != 0) GTEST_SKIP() << "cs2cs is not installed";
  }
  void TearDown() override {
    ProgramSettings().Remove(UtmZoneKey(kSlotConverterSource));
    ProgramSettings().Remove(UtmZoneKey(kSlotConverterTarget));
  }
};

TEST_F(CoordSysConvertTest, UtmZonesOfBothHemispheresAgreeWithCs2cs) {
  struct Case {
    int zone;
    std::vector<std::pair<double, double>> points;  // longitude, latitude near the zone
  };
  const Case cases[] = {
      {1, {{-177.0, 0.0}, {-179.5, 45.25}, {-175.2, -33.75}, {-178.0, -80.0}, {-176.1, 83.9}}},
      {51, {{120.0, 36.0}, {123.0, 30.0}, {121.4, -12.5}, {119.999, 0.001}, {125.9, -79.5}}},
      {60, {{177.0, 0.0}, {179.9999, 60.0}, {174.5, -41.3}, {178.2, -0.0001}, {176.0, 84.0}}},
  };
  for (const Case& c : cases) {
    ProgramSettings().SetInt(UtmZoneKey(kSlotConverterTarget), c.zone);
    ProgramSettings().SetInt(UtmZoneKey(kSlotConverterSource), c.zone);
    std::string ours_in, peer_in;
    for (auto [lng, lat] : c.points) {
      ours_in += FormatC("%.9f,%.9f,12.5\n", lng, lat);
      peer_in += FormatC("%.9f %.9f 12.5\n", lng, lat);
    }
    const std::string utm = FormatC("+proj=utm +zone=%d +ellps=WGS84 +datum=WGS84", c.zone);
    // Forward: metres as FormatNumber14 writes them.
    CoordSysResult forward = ConvertCoordSystemText(ours_in, {kCoordLonLat, kCoordUtm, ",", 0});
    ASSERT_EQ(forward.status, CoordSysStatus::kOk);
    EXPECT_TRUE(forward.issues.empty());
    std::vector<std::string> peer = RunCs2cs("-f %.6f +proj=lonlat +datum=WGS84 +to " + utm, peer_in);
    ASSERT_EQ(peer.size(), c.points.size());
    std::vector<std::string> ours = Lines(forward.output);
    ASSERT_EQ(ours.size(), c.points.size());
    for (size_t i = 0; i < ours.size(); ++i) ExpectSamePoint(ours[i], peer[i], kMillimetre, 12.5);
    // Southern points have negative northings: the table's UTM has no false northing.
    EXPECT_EQ(ours[2].find(",-") != std::string::npos, true) << ours[2];

    // Back: degrees as FormatNumber14 writes them.
    std::string utm_in, utm_peer_in;
    for (const std::string& line : ours) {
      utm_in += line + "\n";
      std::string spaced = line;
      for (char& ch : spaced)
        if (ch == ',') ch = ' ';
      utm_peer_in += spaced + "\n";
    }
    CoordSysResult back = ConvertCoordSystemText(utm_in, {kCoordUtm, kCoordLonLat, ",", 0});
    ASSERT_EQ(back.status, CoordSysStatus::kOk);
    peer = RunCs2cs("-f %.12f " + utm + " +to +proj=lonlat +datum=WGS84", utm_peer_in);
    std::vector<std::string> ours_back = Lines(back.output);
    ASSERT_EQ(peer.size(), ours_back.size());
    for (size_t i = 0; i < peer.size(); ++i) ExpectSamePoint(ours_back[i], peer[i], kMillimetreInDegrees, 12.5);
  }
}

TEST_F(CoordSysConvertTest, ZonesOutsideTheRangeAreRefused) {
  for (int zone : {0, 61, -3}) {
    ProgramSettings().SetInt(UtmZoneKey(kSlotConverterTarget), zone);
    CoordSysResult r = ConvertCoordSystemText("120,36,123", {kCoordLonLat, kCoordUtm, ",", 0});
    EXPECT_EQ(r.status, CoordSysStatus::kBadTargetZone);
    EXPECT_TRUE(r.output.empty());
    EXPECT_EQ(CoordSysStatusText(r), FormatC("目标坐标系的UTM带号%d无效,带号必须在1到60之间", zone));
  }
  ProgramSettings().SetInt(UtmZoneKey(kSlotConverterSource), 61);
  EXPECT_EQ(ConvertCoordSystemText("1,2", {kCoordUtm, kCoordLonLat, ",", 0}).status, CoordSysStatus::kBadSourceZone);
  EXPECT_FALSE(SetUtmZoneOfSlot(kSlotConverterSource, 0));
  EXPECT_FALSE(SetUtmZoneOfSlot(kSlotConverterSource, 61));
  EXPECT_EQ(UtmZoneOfSlot(kSlotConverterSource), 61);
  EXPECT_TRUE(SetUtmZoneOfSlot(kSlotConverterSource, 60));
  EXPECT_EQ(UtmZoneOfSlot(kSlotConverterSource), 60);
}

TEST_F(CoordSysConvertTest, LinesPointsAndErrors) {
  // The default zone of an unset slot is 51; z passes through as typed.
  CoordSysResult r = ConvertCoordSystemText("120,36,123.4567", {kCoordLonLat, kCoordUtm, ",", 0});
  ASSERT_EQ(r.status, CoordSysStatus::kOk);
  EXPECT_EQ(r.target_zone, 51);
  ExpectSamePoint(Lines(r.output)[0], "229578.630 3988111.962", kMillimetre, 123.4567);
  EXPECT_NE(r.output.find(",123.4567\r\n"), std::string::npos) << r.output;

  // One value: reported; two values: z = 0; a one-character separator (also a wide one);
  // columns skipped.
  r = ConvertCoordSystemText("120\n120;36\nname;121;37;5\n\n120;abc", {kCoordLonLat, kCoordMercator, ";", 0});
  std::vector<std::string> lines = Lines(r.output);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "# 第1行缺少分隔符: 120");
  ExpectSamePoint(lines[1], "13358338.895 4275504.934", kMillimetre, 0);
  EXPECT_EQ(lines[2], "# 第3行数值无法识别: name;121;37;5");
  EXPECT_EQ(lines[3], "# 第5行数值无法识别: 120;abc");
  r = ConvertCoordSystemText("name，121，37，5", {kCoordLonLat, kCoordMercator, "，", 1});
  ExpectSamePoint(Lines(r.output)[0], "13469658.386 4413389.889", kMillimetre, 5);
  // Values are separated by one character: with a longer separator no line gives a point.
  r = ConvertCoordSystemText("120;;36;;5\nname;;121;;37", {kCoordLonLat, kCoordMercator, ";;", 0});
  EXPECT_EQ(r.points, 0u);
  EXPECT_EQ(Lines(r.output),
            (std::vector<std::string>{"# 第1行缺少分隔符: 120;;36;;5", "# 第2行缺少分隔符: name;;121;;37"}));
  EXPECT_EQ(ConvertCoordSystemText("name;;121;;37", {kCoordLonLat, kCoordMercator, ";;", 1}).points, 0u);

  // A point PROJ cannot convert is reported with its line, the others are converted.
  r = ConvertCoordSystemText("120,36\n120,91\n121,37", {kCoordLonLat, kCoordMercator, ",", 0});
  EXPECT_EQ(r.status, CoordSysStatus::kOk);
  EXPECT_EQ(r.points, 2u);
  ASSERT_EQ(r.issues.size(), 1u);
  EXPECT_EQ(r.issues[0].line, 2u);
  EXPECT_EQ(r.issues[0].error, CoordLineError::kNotConvertible);
  EXPECT_EQ(Lines(r.output)[1], "# 第2行无法转换: 120,91");

  // Degrees with the digits a double holds, not cut at eight decimals.
  r = ConvertCoordSystemText("13358338.895193,4275504.934233", {kCoordMercator, kCoordLonLat, ",", 0});
  ExpectSamePoint(Lines(r.output)[0], "120 36", 1e-11, 0);
  EXPECT_GT(Lines(r.output)[0].size(), std::string("120.00000000,36.00000000,0").size()) << r.output;

  // Same definition: nothing to do; UTM to UTM across zones is a conversion.
  EXPECT_EQ(ConvertCoordSystemText("1,2", {kCoordMercator, kCoordMercator, ",", 0}).status,
            CoordSysStatus::kSameSystem);
  EXPECT_EQ(ConvertCoordSystemText("1,2", {kCoordUtm, kCoordUtm, ",", 0}).status, CoordSysStatus::kSameSystem);
  ProgramSettings().SetInt(UtmZoneKey(kSlotConverterSource), 50);
  r = ConvertCoordSystemText("500000,3988111.962", {kCoordUtm, kCoordUtm, ",", 0});
  ASSERT_EQ(r.status, CoordSysStatus::kOk);
  ExpectSamePoint(Lines(r.output)[0], "-40815.227 4004806.820", kMillimetre, 0);  // 117° E, far west of zone 51
  EXPECT_EQ(ConvertCoordSystemText("\r\n \n", {kCoordLonLat, kCoordUtm, ",", 0}).status,
            CoordSysStatus::kEmptyInput);
  EXPECT_EQ(ConvertCoordSystemText("1,2", {kCoordLonLat, kCoordUtm, "", 0}).status, CoordSysStatus::kEmptySeparator);
  EXPECT_EQ(ConvertCoordSystemText("1,2", {kCoordLonLat, 3, ",", 0}).status, CoordSysStatus::kBadSystem);
}

TEST(CoordZones, UtmZonesAndGaussKrugerBands) {
  EXPECT_EQ(UtmZoneOfLongitude(120.0), 51);
  EXPECT_EQ(UtmZoneOfLongitude(-180.0), 1);
  EXPECT_EQ(UtmZoneOfLongitude(-177.0), 1);
  EXPECT_EQ(UtmZoneOfLongitude(0.0), 31);
  EXPECT_EQ(UtmZoneOfLongitude(-0.0001), 30);
  EXPECT_EQ(UtmZoneOfLongitude(179.9), 60);
  EXPECT_EQ(UtmZoneOfLongitude(180.0), 60);
  EXPECT_EQ(UtmZoneOfLongitude(std::nan("")), 0);
  EXPECT_EQ(UtmCentralMeridian(51), 123.0);

  auto band = [](double lng, bool three) {
    GaussKrugerBand b = GaussKrugerBandOf(lng, three);
    return std::make_pair(b.band, b.central_meridian);
  };
  // The zone dialog's examples.
  EXPECT_EQ(band(120.0, false), std::make_pair(20, 117.0));
  EXPECT_EQ(band(119.0, false), std::make_pair(20, 117.0));
  EXPECT_EQ(band(121.0, false), std::make_pair(21, 123.0));
  EXPECT_EQ(band(121.4, true), std::make_pair(40, 120.0));
  EXPECT_EQ(band(121.6, true), std::make_pair(41, 123.0));
  // Western longitudes have negative bands, counted from 0° as the eastern ones: a 6° band ends
  // on its eastern edge, a 3° band is centred on its meridian (rounded down, not toward zero,
  // which would put a western longitude one band east).
  EXPECT_EQ(band(-119.0, false), std::make_pair(-19, -117.0));
  EXPECT_EQ(band(-120.0, false), std::make_pair(-20, -123.0));
  EXPECT_EQ(band(-1.0, false), std::make_pair(0, -3.0));
  EXPECT_EQ(band(-121.4, true), std::make_pair(-40, -120.0));
  EXPECT_EQ(band(-121.6, true), std::make_pair(-41, -123.0));
  EXPECT_EQ(band(-1.0, true), std::make_pair(0, 0.0));
  EXPECT_EQ(band(-1.6, true), std::make_pair(-1, -3.0));
  EXPECT_EQ(band(180.0, false), std::make_pair(30, 177.0));
  // Every longitude lies within its band: at most 1.5° or 3° from the meridian.
  for (double lng = -180.0; lng <= 180.0; lng += 0.37) {
    EXPECT_LE(std::fabs(lng - band(lng, true).second), 1.5 + 1e-9) << lng;
    EXPECT_LE(std::fabs(lng - band(lng, false).second), 3.0 + 1e-9) << lng;
  }
}

}  // namespace
}  // namespace velmora

// Orbit model against the verification set of "Revisiting Spacetrack Report #3" (read from the
// installed python3-sgp4 package), and the parser, date and earth-orientation helpers.
#include "terrain/sat_orbit.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace velmora {
namespace {

// ---- verification set ----------------------------------------------------------------------

// The folder holding SGP4-VER.TLE and tcppver.out: VELMORA_SGP4_DIR, else where dpkg says the
// python3-sgp4 package put them, else the usual Debian folder.
std::string VerificationFolder() {
  if (const char* env = std::getenv("VELMORA_SGP4_DIR")) return std::string(env) + "/";
  std::string folder = "/usr/lib/python3/dist-packages/sgp4/";
  if (FILE* p = popen("dpkg -L python3-sgp4 2>/dev/null | grep '/SGP4-VER.TLE$'", "r")) {
    char buf[1024];
    if (std::fgets(buf, sizeof buf, p)) folder = std::string(buf).substr(0, std::string(buf).rfind('/') + 1);
    pclose(p);
  }
  return folder;
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream f(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

struct StopAt {
  long satnum;
  double t;
  SatStatus status;
};

TEST(SatOrbitVerification, MatchesReferencePositionsAndStops) {
  const std::string folder = VerificationFolder();
  const std::vector<std::string> tle = ReadLines(folder + "SGP4-VER.TLE"), out = ReadLines(folder + "tcppver.out");
  ASSERT_FALSE(tle.empty() || out.empty())
      << "SGP4-VER.TLE or tcppver.out not found in " << folder << " (package python3-sgp4)";
  // The reference: per satellite a line "<number> xx", then rows of minutes, position, velocity.
  std::vector<std::pair<long, std::vector<std::array<double, 7>>>> ref;
  for (const std::string& line : out) {
    if (line.find("xx") != std::string::npos) {
      ref.push_back({std::atol(line.c_str()), {}});
      continue;
    }
    ASSERT_FALSE(ref.empty());
    std::array<double, 7> row;
    std::istringstream in(line);
    ASSERT_TRUE(in >> row[0] >> row[1] >> row[2] >> row[3] >> row[4] >> row[5] >> row[6]) << line;
    ref.back().second.push_back(row);
  }

  double worst_r = 0, worst_v = 0;
  int compared = 0;
  size_t block = 0;
  std::vector<StopAt> stops;
  for (size_t i = 0; i + 1 < tle.size(); ++i) {
    if (tle[i].empty() || tle[i][0] != '1') continue;
    const std::string &line1 = tle[i], &line2 = tle[++i];
    // Line 2 carries the start, stop and step of the run in minutes.
    double start = 0, stop = 0, step = 0;
    std::istringstream extra(line2.size() > 69 ? line2.substr(69) : "");
    ASSERT_TRUE(extra >> start >> stop >> step) << line2;
    ASSERT_LT(block, ref.size());
    const auto& [satnum, rows] = ref[block++];
    CSatOrbit orbit;
    // The verification file has no name lines: the two element lines alone.
    ASSERT_EQ(orbit.ParseTle(line1 + "\r\n" + line2 + "\r\n"), 1) << line1;
    ASSERT_EQ(static_cast<long>(orbit.Elements().satellite_number), satnum);

    size_t next = 0;
    bool stopped = false;
    auto run = [&](double t) {
      SatStatus st = orbit.PropagateMinutes(t);
      if (st != kSatOk) {
        stops.push_back({satnum, t, st});
        stopped = true;
        return;
      }
      ASSERT_LT(next, rows.size()) << satnum << " gives a position at " << t << " where the reference stops";
      const std::array<double, 7>& row = rows[next++];
      ASSERT_NEAR(row[0], t, 1e-6);
      const SatState& s = orbit.Last();
      worst_r = std::max(worst_r, std::hypot(s.x - row[1], s.y - row[2], s.z - row[3]));
      worst_v = std::max(worst_v, std::hypot(s.vx - row[4], s.vy - row[5], s.vz - row[6]));
      ++compared;
    };

    run(0.0);
    if (stopped) {
      // The reference printed its previous line again: no position of its own.
      EXPECT_EQ(rows.size(), 1u);
      continue;
    }
    double t = start;
    for (; t <= stop && !stopped; t += step) {
      if (!(t == 0.0 && start == 0.0)) run(t);
      if (HasFatalFailure()) return;
    }
    if (!stopped && t - stop < step - 1e-6) run(stop);
    if (HasFatalFailure()) return;
    EXPECT_EQ(next, rows.size()) << satnum << " stopped before the reference";
  }
  EXPECT_EQ(block, 33u);
  EXPECT_EQ(ref.size(), 33u);

  std::printf("compared %d positions; worst position error %.3f mm, worst velocity error %.6f mm/s\n", compared,
              worst_r * 1e6, worst_v * 1e6);
  EXPECT_EQ(compared, 666);
  // The reference prints 10 µm and 1 µm/s; allow rounding and a few ulps of a different order of
  // operations, nothing more.
  EXPECT_LT(worst_r, 1e-5);  // km
  EXPECT_LT(worst_v, 1e-8);  // km/s

  // Where the reference gives up, and why.
  const StopAt expected[] = {{22312, 494.2028672, kSatEccentricity}, {28350, 1560.0, kSatEccentricity},
                             {28872, 55.0, kSatDecayed},             {29141, 440.0, kSatDecayed},
                             {33333, 25.0, kSatSemiLatusRectum},     {33334, 0.0, kSatPerturbedEccentricity},
                             {20413, 1844345.0, kSatDecayed}};
  ASSERT_EQ(stops.size(), std::size(expected));
  for (size_t i = 0; i < stops.size(); ++i) {
    EXPECT_EQ(stops[i].satnum, expected[i].satnum);
    EXPECT_NEAR(stops[i].t, expected[i].t, 1e-6) << stops[i].satnum;
    EXPECT_EQ(stops[i].status, expected[i].status) << stops[i].satnum;
  }
}

// ---- element text ------------------------------------------------------------------------------

constexpr double kDeg = 0.017453292519943295;
const char kIssLine1[] = "1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927";
const char kIssLine2[] = "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537";
// A geostationary satellite: period about 1436 minutes.
const char kGeoLine1[] = "1 28626U 05008A   06176.46683397 -.00000205  00000-0  10000-3 0  2190";
const char kGeoLine2[] = "2 28626   0.0019 286.9433 0000335  13.7918  55.6504  1.00270176  4891";

std::string Set(const std::string& name, const std::string& l1, const std::string& l2, const std::string& eol) {
  return name + eol + l1 + eol + l2 + eol;
}

// The fields that the parser reads from the two element lines, and the name.
auto Fields(const SatElements& e) {
  return std::tuple(e.satellite_number, e.name, e.inclination, e.right_ascension, e.eccentricity,
                    e.argument_of_perigee, e.mean_anomaly, e.mean_motion, e.epoch, e.bstar, e.element_set_number,
                    e.epoch_julian);
}

TEST(SatOrbitParse, ReadsSetsWithAnyLineEndAndWalksThroughAFile) {
  // Named with blanks around, nameless (named by its catalogue number), and with "\n" ends.
  const std::string file = Set("  ISS (ZARYA)\t ", kIssLine1, kIssLine2, "\r\n") + "\r\n" + std::string(kGeoLine1) +
                           "\r\n" + kGeoLine2 + "\r\n" + Set("ISS again", kIssLine1, kIssLine2, "\n");
  std::vector<CSatOrbit> sets;
  size_t pos = 0;
  while (pos < file.size()) {
    CSatOrbit orbit;
    size_t used = 0;
    if (!orbit.ParseTle(std::string_view(file).substr(pos), &used)) break;
    ASSERT_GT(used, 0u);
    pos += used;
    sets.push_back(orbit);
  }
  EXPECT_EQ(pos, file.size());
  ASSERT_EQ(sets.size(), 3u);
  EXPECT_EQ(sets[1].Elements().name, "28626");
  const SatElements& e = sets[0].Elements();
  EXPECT_EQ(e.name, "ISS (ZARYA)");
  EXPECT_EQ(e.satellite_number, 25544u);
  EXPECT_DOUBLE_EQ(e.epoch, 8264.51782528);
  EXPECT_NEAR(e.epoch_julian, 2454730.01782528, 1e-8);
  EXPECT_DOUBLE_EQ(e.bstar, -0.11606e-4);  // the exponent field "-11606-4"
  EXPECT_EQ(e.element_set_number, 292u);
  // (The angles and the mean motion are checked by the verification set's positions.)
  EXPECT_DOUBLE_EQ(e.inclination, 51.6416 * kDeg);

  // "\r" alone ends lines too; the last line of a file often has no line end at all.
  CSatOrbit cr, open;
  ASSERT_EQ(cr.ParseTle(Set("ISS again", kIssLine1, kIssLine2, "\r")), 1);
  ASSERT_EQ(open.ParseTle("ISS again\n" + std::string(kIssLine1) + "\n" + kIssLine2), 1);
  EXPECT_EQ(Fields(cr.Elements()), Fields(sets[2].Elements()));
  EXPECT_EQ(Fields(open.Elements()), Fields(sets[2].Elements()));
}

TEST(SatOrbitParse, RejectsBrokenTextAndKeepsWhatItHad) {
  CSatOrbit orbit;
  ASSERT_EQ(orbit.ParseTle(Set("GEO", kGeoLine1, kGeoLine2, "\n")), 1);
  const SatElements before = orbit.Elements();
  std::string l1 = kIssLine1, l2 = kIssLine2;

  const std::vector<std::string> broken = {
      "",
      "ISS",                                          // no line end after the name
      "ISS\n" + l1,                                   // no line end after line 1
      "ISS\n" + l1 + "\n",                            // no line 2
      "ISS\n" + l1 + "\n" + l2.substr(0, 60) + "\n",  // line 2 cut before the mean motion
      "ISS\n" + l1.substr(0, 55) + "\n" + l2 + "\n",  // line 1 cut inside the drag term
      "ISS\n" + l2 + "\n" + l1 + "\n",                // lines swapped
      "ISS\n" + l1 + "\n" + l2.substr(0, 8) + "5x.6416" + l2.substr(16) + "\n",   // inclination
      "ISS\n" + l1 + "\n" + l2.substr(0, 26) + "-006703" + l2.substr(33) + "\n",  // eccentricity
      "ISS\n" + l1.substr(0, 18) + "  abcde.5178252" + l1.substr(33) + "\n" + l2 + "\n",  // epoch
  };
  for (const std::string& text : broken) {
    EXPECT_EQ(orbit.ParseTle(text), 0) << text;
    EXPECT_EQ(Fields(orbit.Elements()), Fields(before));
  }

  // A line 1 that ends after the drag term (no element set number) is read with number 0.
  ASSERT_EQ(orbit.ParseTle("ISS\n" + l1.substr(0, 61) + "\n" + l2 + "\n"), 1);
  EXPECT_EQ(orbit.Elements().element_set_number, 0u);
  EXPECT_DOUBLE_EQ(orbit.Elements().bstar, -0.11606e-4);
}

TEST(SatOrbitParse, CutAndScrambledTextIsReadSafely) {
  const std::string good = Set("ISS", kIssLine1, kIssLine2, "\r\n");
  CSatOrbit orbit;
  for (size_t n = 0; n <= good.size(); ++n) {
    // Only texts that reach the mean motion of line 2 can be read.
    const int read = orbit.ParseTle(std::string_view(good).substr(0, n));
    EXPECT_EQ(read, n >= 5 + 71 + 63 ? 1 : 0) << n;
  }
  std::mt19937 random(11);
  for (int round = 0; round < 3000; ++round) {
    std::string text = good;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) {
      const size_t at = random() % text.size();
      const unsigned kind = random() % 3;
      if (kind == 0) text[at] = static_cast<char>(random() % 256);
      if (kind == 1) text.erase(at, 1 + random() % 8);
      if (kind == 2) text.insert(at, 1, "\r\n 0-+.e9"[random() % 9]);
    }
    CSatOrbit o;
    if (!o.ParseTle(text)) continue;
    const double jd0 = o.Elements().epoch_julian;
    for (double d : {0.0, 0.3, 5.0}) {
      if (o.ComputeAt(jd0 + d)) {
        EXPECT_TRUE(std::isfinite(o.Last().latitude) && std::isfinite(o.Last().longitude) &&
                    std::isfinite(o.Last().height) && std::isfinite(o.Last().v))
            << text;
      }
    }
  }
}

// ---- model -------------------------------------------------------------------------------------

CSatOrbit Parsed(const std::string& line1, const std::string& line2) {
  CSatOrbit orbit;
  EXPECT_EQ(orbit.ParseTle(line1 + "\n" + line2 + "\n"), 1);
  return orbit;
}

TEST(SatOrbitModel, GeostationaryStaysOverItsMeridianAndTimeFormsAgree) {
  CSatOrbit geo = Parsed(kGeoLine1, kGeoLine2);
  EXPECT_TRUE(geo.IsDeepSpace());
  const double jd0 = geo.Elements().epoch_julian;
  ASSERT_TRUE(geo.ComputeAt(jd0));
  const double lon0 = geo.Last().longitude;
  EXPECT_NEAR(geo.Last().latitude, 0.0, 0.05);
  EXPECT_NEAR(geo.Last().height, 35786.0, 30.0);
  for (int h = 1; h <= 24; ++h) {
    ASSERT_TRUE(geo.ComputeAt(jd0 + h / 24.0));
    EXPECT_NEAR(geo.Last().longitude, lon0, 0.1) << h;
  }

  // Minutes from the epoch and Julian dates give the same position; a Julian date near 2.45e6
  // carries about 40 µs: a few decimetres of track at most.
  CSatOrbit a = Parsed(kIssLine1, kIssLine2), b = a;
  EXPECT_FALSE(a.IsDeepSpace());
  for (double minutes : {-1440.0, -7.5, 0.0, 93.25, 2000.0}) {
    ASSERT_EQ(a.PropagateMinutes(minutes), kSatOk);
    ASSERT_TRUE(b.ComputeAt(a.Elements().epoch_julian + minutes / 1440.0));
    EXPECT_LT(std::hypot(a.Last().x - b.Last().x, a.Last().y - b.Last().y, a.Last().z - b.Last().z), 1e-3);
  }
}

TEST(SatOrbitModel, RightAscensionOfThePositionKeepsTheArcTangentRange) {
  // Around one orbit the position passes every quadrant: the stored right ascension is
  // atan(y / x), plus π when x < 0, so it is negative in the fourth quadrant, and the longitude
  // follows from it modulo a turn.
  CSatOrbit iss = Parsed(kIssLine1, kIssLine2);
  bool negative_seen = false;
  for (double minutes = 0; minutes < 95; minutes += 2.5) {
    const double jd = iss.Elements().epoch_julian + minutes / 1440.0;
    ASSERT_TRUE(iss.ComputeAt(jd));
    const SatState& s = iss.Last();
    const double expected = s.x > 0 ? std::atan(s.y / s.x) : std::atan(s.y / s.x) + 3.14159265358979323846;
    EXPECT_DOUBLE_EQ(s.right_ascension, expected) << minutes;
    EXPECT_GT(s.right_ascension, -3.14159265358979323846 / 2);
    EXPECT_LE(s.right_ascension, 3 * 3.14159265358979323846 / 2);
    negative_seen = negative_seen || s.right_ascension < 0;
    EXPECT_NEAR(s.longitude, SiderealToLongitude(s.right_ascension, GreenwichSiderealTime(jd)), 1e-9);
  }
  EXPECT_TRUE(negative_seen);
}

TEST(SatOrbitModel, CircularOrbitNeedsNoDivisionByItsEccentricity) {
  std::string circular = kIssLine2, almost = kIssLine2;
  circular.replace(26, 7, "0000000");
  almost.replace(26, 7, "0000001");
  CSatOrbit a = Parsed(kIssLine1, circular), b = Parsed(kIssLine1, almost);
  for (double minutes : {0.0, 45.0, 720.0, 4320.0}) {
    ASSERT_EQ(a.PropagateMinutes(minutes), kSatOk);
    ASSERT_EQ(b.PropagateMinutes(minutes), kSatOk);
    // An eccentricity of 1e-7 moves the satellite by a metre at most.
    EXPECT_NEAR(a.Last().r, b.Last().r, 2e-3);
    EXPECT_NEAR(a.Last().x, b.Last().x, 2e-3);
  }
}

TEST(SatOrbitModel, ExtremeElementsGiveAPositionOrAStatus) {
  // Edges of the element ranges: circular and nearly parabolic, equatorial and retrograde
  // equatorial, very slow and very fast, strong negative and positive drag.
  std::mt19937 random(3);
  const double kPi = 3.14159265358979323846;
  int positions = 0, statuses = 0;
  for (double e : {0.0, 1e-9, 0.5, 0.9999999})
    for (double i : {0.0, 1e-7, 0.2, kPi / 2, kPi - 1e-13, kPi})
      for (double n : {1e-9, 0.001, 0.0043752, 0.0087, 0.07, 0.3})  // radians per minute
        for (double b : {-1.0, 0.0, 1e-4, 0.5}) {
          SatElements el;
          el.eccentricity = e;
          el.inclination = i;
          el.mean_motion = n;
          el.bstar = b;
          el.right_ascension = (random() % 1000) * 0.00628;
          el.argument_of_perigee = (random() % 1000) * 0.00628;
          el.mean_anomaly = (random() % 1000) * 0.00628;
          el.epoch_julian = TleEpochToJulian(el.epoch = 20100.5);
          CSatOrbit o(el);
          for (double d : {-3.0, 0.0, 0.01, 1.0, 30.0}) {
            if (!o.ComputeAt(el.epoch_julian + d)) {
              ++statuses;
              EXPECT_NE(o.LastStatus(), kSatOk);
              continue;
            }
            ++positions;
            const SatState& s = o.Last();
            ASSERT_TRUE(std::isfinite(s.x) && std::isfinite(s.vx) && std::isfinite(s.latitude) &&
                        std::isfinite(s.longitude) && std::isfinite(s.height))
                << e << " " << i << " " << n << " " << b << " " << d;
            EXPECT_GE(s.r, 6378.135 * 0.99);
          }
        }
  EXPECT_GT(positions, 0);
  EXPECT_GT(statuses, 0);
}

TEST(SatOrbitModel, FailuresReportAStatusAndKeepTheLastPosition) {
  CSatOrbit orbit = Parsed(kIssLine1, kIssLine2);
  const double jd0 = orbit.Elements().epoch_julian;
  ASSERT_TRUE(orbit.ComputeAt(jd0));
  const SatState good = orbit.Last();
  // Mean motion 0, and values that are no numbers or out of range, from a damaged library file.
  for (int k = 0; k < 4; ++k) {
    SatElements bad = orbit.Elements();
    if (k == 0) bad.mean_motion = 0;
    if (k == 1) bad.inclination = std::nan("");
    if (k == 2) bad.eccentricity = 1.5;
    if (k == 3) bad.epoch_julian = INFINITY;
    CSatOrbit o(bad);
    EXPECT_FALSE(o.ComputeAt(jd0)) << k;
    EXPECT_EQ(o.LastStatus() == kSatMeanMotion, k == 0) << k;
    EXPECT_NE(o.LastStatus(), kSatOk);
    EXPECT_TRUE(std::isfinite(o.Last().x));
  }
  // A failed computation keeps the last good position (decayed orbits: the verification set).
  EXPECT_FALSE(orbit.ComputeAt(std::nan("")));
  EXPECT_EQ(orbit.Last().x, good.x);
}

// ---- earth orientation and geodesy --------------------------------------------------------------

TEST(SatOrbitGeodetic, SiderealTimeAndLongitudeWrap) {
  // GMST at J2000.0 (2000-01-01 12h UT) is 18h 41m 50.54841s = 280.46061837504°; one mean solar
  // day later the earth turned 360.9856473° of sidereal time.
  EXPECT_NEAR(GreenwichSiderealTime(2451545.0), 280.46061837504 * kDeg, 1e-10);
  EXPECT_NEAR(GreenwichSiderealTime(2451546.0), (280.46061837504 + 0.9856473662) * kDeg, 1e-8);
  EXPECT_EQ(SiderealToLongitude(3.14159265358979323846, 0.0), 180.0);  // +180, not -180
  EXPECT_NEAR(SiderealToLongitude(180.5 * kDeg, 0.0), -179.5, 1e-9);
  EXPECT_NEAR(SiderealToLongitude(0.1, 0.3), -0.2 / kDeg, 1e-9);
  EXPECT_NEAR(SiderealToLongitude(7.0, 0.0), (7.0 - 2 * 3.14159265358979323846) / kDeg, 1e-9);
}

TEST(SatOrbitGeodetic, LatitudeAndHeightOnTheWgs72Ellipsoid) {
  const double a = 6378.135, e2 = 0.006694317778266723;
  for (double lat : {-90.0, -89.9999, -60.0, -0.5, 0.0, 30.0, 45.0, 84.0, 89.99, 90.0}) {
    for (double h : {0.0, 400.0, 35786.0}) {
      const double phi = lat * kDeg;
      const double n = a / std::sqrt(1.0 - e2 * std::sin(phi) * std::sin(phi));
      double got_lat = 0, got_h = 0;
      GeodeticLatitudeHeight(std::fabs((n + h) * std::cos(phi)), (n * (1.0 - e2) + h) * std::sin(phi), &got_lat,
                             &got_h);
      EXPECT_NEAR(got_lat, lat, 1e-8) << lat << " " << h;
      EXPECT_NEAR(got_h, h, 1e-6) << lat << " " << h;
    }
  }
}

// ---- dates -------------------------------------------------------------------------------------

using Date = std::array<int, 6>;  // year, month, day, hour, minute, second
Date ToDate(double epoch) {
  Date d{};
  TleEpochToDate(epoch, &d[0], &d[1], &d[2], &d[3], &d[4], &d[5]);
  return d;
}

TEST(SatOrbitDates, YearPivotLeapDaysAndRounding) {
  EXPECT_DOUBLE_EQ(TleEpochToJulian(1.0), 2451544.5);      // 00001.0: 2000 January 1, 0h
  EXPECT_DOUBLE_EQ(TleEpochToJulian(57001.0), 2435839.5);  // 1957
  EXPECT_DOUBLE_EQ(TleEpochToJulian(56001.0), 2471998.5);  // 2056
  EXPECT_DOUBLE_EQ(JulianDateFromUtc(2000, 1, 1, 12, 0, 0), 2451545.0);
  // "Now" past 2056 cannot go through two-digit years; the direct Julian date can.
  EXPECT_DOUBLE_EQ(JulianDateFromUtc(2060, 1, 1, 0, 0, 0), 2473459.5);
  EXPECT_DOUBLE_EQ(TleEpochToJulian(DateToTleEpoch(2060, 1, 1, 0, 0, 0)), 2436934.5);  // 1960
  EXPECT_DOUBLE_EQ(DateToTleEpoch(2020, 2, 29, 12, 0, 0), 20060.5);
  EXPECT_DOUBLE_EQ(DateToTleEpoch(2019, 3, 1, 0, 0, 0), 19060.0);
  const std::pair<double, Date> dates[] = {
      {56001.5, {2056, 1, 1, 12, 0, 0}},
      // A fraction of .999999 rounds to the next midnight, never 24:00:00.
      {19100.999999, {2019, 4, 11, 0, 0, 0}},
      {20366.999999, {2021, 1, 1, 0, 0, 0}},
      {19059.9999999, {2019, 3, 1, 0, 0, 0}},
      // Day numbers past the year's end run into the next year instead of past December.
      {19367.25, {2020, 1, 2, 6, 0, 0}},
      {19000.0, {2018, 12, 31, 0, 0, 0}},
  };
  for (const auto& [epoch, date] : dates) EXPECT_EQ(ToDate(epoch), date) << epoch;

  // "Now" comes straight from the clock.
  const double before = 2440587.5 + static_cast<double>(std::time(nullptr)) / 86400.0;
  const double now = JulianDateNow();
  EXPECT_GE(now, before);
  EXPECT_LE(now, 2440587.5 + static_cast<double>(std::time(nullptr) + 1) / 86400.0);
}

TEST(SatOrbitDates, RoundTripsOverTheWholeEpochRange) {
  for (int year = 1957; year <= 2056; year += 3) {
    for (int month = 1; month <= 12; ++month) {
      const int last_day =
          month == 2 ? (year % 4 == 0 ? 29 : 28) : (month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31);
      for (int day : {1, 15, last_day}) {
        const Date d{year, month, day, (day * 7) % 24, (day * 13) % 60, (day * 29) % 60};
        const double epoch = DateToTleEpoch(d[0], d[1], d[2], d[3], d[4], d[5]);
        EXPECT_EQ(ToDate(epoch), d) << epoch;
        EXPECT_NEAR(TleEpochToJulian(epoch), JulianDateFromUtc(d[0], d[1], d[2], d[3], d[4], d[5]), 1e-8) << epoch;
      }
    }
  }
}

}  // namespace
}  // namespace velmora

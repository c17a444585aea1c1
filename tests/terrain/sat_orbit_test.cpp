// Orbit model against the verification set of "Revisiting Spacetrack Report #3" (read from the
// installed python3-sgp4 package), and the parser, date and earth-orientation helpers.
#include "terrain/sat_orbit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/geodesy.h"

namespace velmora {
namespace {

// ---- verification set ----------------------------------------------------------------------

// The folder holding SGP4-VER.TLE and tcppver.out: VELMORA_SGP4_DIR, else where dpkg says the
// python3-sgp4 package put them, else the usual Debian folder.
std::string VerificationFolder() {
  if (const char* env = std::getenv("VELMORA_SGP4_DIR")) return std::string(env) + "/";
  if (FILE* p = popen("dpkg -L python3-sgp4 2>/dev/null", "r")) {
    char buf[1024];
    std::string found;
    while (std::fgets(buf, sizeof buf, p)) {
      std::string line(buf);
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
      const std::string tail = "/SGP4-VER.TLE";
      if (line.size() > tail.size() &&
          line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
        found = line.substr(0, line.size() - tail.size() + 1);
    }
    pclose(p);
    if (!found.empty()) return found;
  }
  return "/usr/lib/python3/dist-packages/sgp4/";
}

bool ReadWhole(const std::string& path, std::string* out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  *out = ss.str();
  return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

struct RefRow {
  double t, r[3], v[3];
};
struct RefBlock {
  long satnum;
  std::vector<RefRow> rows;
};
struct VerCase {
  std::string line1, line2;
  double start, stop, step;
};

struct VerificationSet {
  std::vector<VerCase> cases;
  std::vector<RefBlock> blocks;
};

// Loads both files; fails the calling test when they are missing.
void LoadVerificationSet(VerificationSet* set) {
  const std::string folder = VerificationFolder();
  std::string tle, out;
  ASSERT_TRUE(ReadWhole(folder + "SGP4-VER.TLE", &tle))
      << "SGP4-VER.TLE not found in " << folder
      << " (package python3-sgp4, scripts/install-deps.sh)";
  ASSERT_TRUE(ReadWhole(folder + "tcppver.out", &out)) << "tcppver.out not found in " << folder;

  std::vector<std::string> lines = SplitLines(tle);
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].empty() || lines[i][0] != '1') continue;
    VerCase c;
    c.line1 = lines[i];
    c.line2 = lines[i + 1];
    ASSERT_GT(c.line2.size(), 69u);
    std::istringstream extra(c.line2.substr(69));
    ASSERT_TRUE(extra >> c.start >> c.stop >> c.step) << c.line2;
    set->cases.push_back(c);
    ++i;
  }
  for (const std::string& line : SplitLines(out)) {
    if (line.find("xx") != std::string::npos) {
      set->blocks.push_back({std::atol(line.c_str()), {}});
      continue;
    }
    ASSERT_FALSE(set->blocks.empty());
    RefRow row;
    std::istringstream in(line);
    ASSERT_TRUE(in >> row.t >> row.r[0] >> row.r[1] >> row.r[2] >> row.v[0] >> row.v[1] >> row.v[2])
        << line;
    set->blocks.back().rows.push_back(row);
  }
  ASSERT_EQ(set->cases.size(), 33u);
  ASSERT_EQ(set->blocks.size(), set->cases.size());
}

struct StopAt {
  long satnum;
  double t;
  SatStatus status;
};

TEST(SatOrbitVerification, MatchesReferencePositionsAndStops) {
  VerificationSet set;
  ASSERT_NO_FATAL_FAILURE(LoadVerificationSet(&set));

  double worst_r = 0, worst_v = 0;
  std::string worst_r_at, worst_v_at;
  int compared = 0;
  std::vector<StopAt> stops;

  for (size_t k = 0; k < set.cases.size(); ++k) {
    const VerCase& c = set.cases[k];
    const RefBlock& ref = set.blocks[k];
    CSatOrbit orbit;
    // The verification file has no name lines: the two element lines alone.
    ASSERT_EQ(orbit.ParseTle(c.line1 + "\r\n" + c.line2 + "\r\n"), 1) << c.line1;
    ASSERT_EQ(static_cast<long>(orbit.Elements().satellite_number), ref.satnum);

    size_t next = 0;
    bool stopped = false;
    auto run = [&](double t) {
      SatStatus st = orbit.PropagateMinutes(t);
      if (st != kSatOk) {
        stops.push_back({ref.satnum, t, st});
        stopped = true;
        return;
      }
      ASSERT_LT(next, ref.rows.size())
          << ref.satnum << " gives a position at " << t << " where the reference stops";
      const RefRow& row = ref.rows[next++];
      ASSERT_NEAR(row.t, t, 1e-6);
      const SatState& s = orbit.Last();
      double dr = std::hypot(s.x - row.r[0], s.y - row.r[1], s.z - row.r[2]);
      double dv = std::hypot(s.vx - row.v[0], s.vy - row.v[1], s.vz - row.v[2]);
      char at[64];
      std::snprintf(at, sizeof at, "%ld at %.4f min", ref.satnum, t);
      if (dr > worst_r) worst_r = dr, worst_r_at = at;
      if (dv > worst_v) worst_v = dv, worst_v_at = at;
      ++compared;
    };

    run(0.0);
    if (stopped) {
      // The reference printed its previous line again: no position of its own.
      EXPECT_EQ(ref.rows.size(), 1u);
      continue;
    }
    double t = c.start;
    while (t <= c.stop && !stopped) {
      if (!(t == 0.0 && c.start == 0.0)) run(t);
      if (HasFatalFailure()) return;
      t += c.step;
    }
    if (!stopped && t - c.stop < c.step - 1e-6) run(c.stop);
    if (HasFatalFailure()) return;
    EXPECT_EQ(next, ref.rows.size()) << ref.satnum << " stopped before the reference";
  }

  std::printf(
      "compared %d positions; worst position error %.3f mm (%s), worst velocity error "
      "%.6f mm/s (%s)\n",
      compared, worst_r * 1e6, worst_r_at.c_str(), worst_v * 1e6, worst_v_at.c_str());
  EXPECT_EQ(compared, 666);
  // The reference prints 10 µm and 1 µm/s; allow rounding and a few ulps of a different order of
  // operations, nothing more.
  EXPECT_LT(worst_r, 1e-5);  // km
  EXPECT_LT(worst_v, 1e-8);  // km/s

  // Where the reference gives up, and why.
  const std::vector<StopAt> expected = {{22312, 494.2028672, kSatEccentricity},
                                        {28350, 1560.0, kSatEccentricity},
                                        {28872, 55.0, kSatDecayed},
                                        {29141, 440.0, kSatDecayed},
                                        {33333, 25.0, kSatSemiLatusRectum},
                                        {33334, 0.0, kSatPerturbedEccentricity},
                                        {20413, 1844345.0, kSatDecayed}};
  ASSERT_EQ(stops.size(), expected.size());
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

std::string Set(const std::string& name, const std::string& l1, const std::string& l2,
                const std::string& eol) {
  return name + eol + l1 + eol + l2 + eol;
}

void ExpectSameElements(const SatElements& a, const SatElements& b) {
  EXPECT_EQ(a.satellite_number, b.satellite_number);
  EXPECT_EQ(a.name, b.name);
  EXPECT_EQ(a.inclination, b.inclination);
  EXPECT_EQ(a.right_ascension, b.right_ascension);
  EXPECT_EQ(a.eccentricity, b.eccentricity);
  EXPECT_EQ(a.argument_of_perigee, b.argument_of_perigee);
  EXPECT_EQ(a.mean_anomaly, b.mean_anomaly);
  EXPECT_EQ(a.mean_motion, b.mean_motion);
  EXPECT_EQ(a.epoch, b.epoch);
  EXPECT_EQ(a.bstar, b.bstar);
  EXPECT_EQ(a.element_set_number, b.element_set_number);
  EXPECT_EQ(a.epoch_julian, b.epoch_julian);
}

TEST(SatOrbitParse, ReadsEveryFieldOfANamedSet) {
  CSatOrbit orbit;
  ASSERT_EQ(orbit.ParseTle(Set("  ISS (ZARYA)\t ", kIssLine1, kIssLine2, "\r\n")), 1);
  const SatElements& e = orbit.Elements();
  EXPECT_EQ(e.name, "ISS (ZARYA)");
  EXPECT_EQ(e.satellite_number, 25544u);
  EXPECT_DOUBLE_EQ(e.epoch, 8264.51782528);
  EXPECT_NEAR(e.epoch_julian, 2454730.01782528, 1e-8);
  EXPECT_DOUBLE_EQ(e.bstar, -0.11606e-4);  // the exponent field "-11606-4"
  EXPECT_EQ(e.element_set_number, 292u);
  EXPECT_DOUBLE_EQ(e.inclination, 51.6416 * kDeg);
  EXPECT_DOUBLE_EQ(e.right_ascension, 247.4627 * kDeg);
  EXPECT_DOUBLE_EQ(e.eccentricity, 0.0006703);
  EXPECT_DOUBLE_EQ(e.argument_of_perigee, 130.5360 * kDeg);
  EXPECT_DOUBLE_EQ(e.mean_anomaly, 325.0288 * kDeg);
  EXPECT_DOUBLE_EQ(e.mean_motion, 15.72125391 * 2 * 3.14159265358979323846 / 1440.0);
  EXPECT_EQ(e.shown, 1u);
  EXPECT_EQ(e.color >> 24, 0xFFu);
  for (int shift : {0, 8, 16}) {
    uint32_t channel = (e.color >> shift) & 0xFF;
    EXPECT_EQ(channel % 25, 5u);
    EXPECT_LE(channel, 230u);
  }
  ASSERT_GE(e.icon_path.size(), 15u);
  EXPECT_EQ(e.icon_path.substr(e.icon_path.size() - 15, 10), "images/sat");
  EXPECT_EQ(e.icon_path.substr(e.icon_path.size() - 4), ".png");
  EXPECT_FALSE(orbit.IsDeepSpace());
}

TEST(SatOrbitParse, LineEndsAndNamelessSets) {
  CSatOrbit crlf, lf, cr, nameless, last_line_open;
  ASSERT_EQ(crlf.ParseTle(Set("ISS", kIssLine1, kIssLine2, "\r\n")), 1);
  ASSERT_EQ(lf.ParseTle(Set("ISS", kIssLine1, kIssLine2, "\n")), 1);
  ASSERT_EQ(cr.ParseTle(Set("ISS", kIssLine1, kIssLine2, "\r")), 1);
  ExpectSameElements(crlf.Elements(), lf.Elements());
  ExpectSameElements(crlf.Elements(), cr.Elements());

  // A set without its name line is named by its catalogue number.
  ASSERT_EQ(nameless.ParseTle(std::string(kIssLine1) + "\n" + kIssLine2 + "\n"), 1);
  EXPECT_EQ(nameless.Elements().name, "25544");
  EXPECT_EQ(nameless.Elements().inclination, crlf.Elements().inclination);

  // The last line of a file often has no line end: the set still counts.
  ASSERT_EQ(last_line_open.ParseTle("ISS\n" + std::string(kIssLine1) + "\n" + kIssLine2), 1);
  EXPECT_EQ(last_line_open.Elements().mean_motion, crlf.Elements().mean_motion);
}

TEST(SatOrbitParse, ConsumedBytesWalkThroughAFile) {
  const std::string file = Set("ISS", kIssLine1, kIssLine2, "\r\n") + "\r\n" +
                           std::string(kGeoLine1) + "\r\n" + kGeoLine2 + "\r\n" +
                           Set("ISS again", kIssLine1, kIssLine2, "\n");
  std::vector<std::string> names;
  size_t pos = 0;
  while (pos < file.size()) {
    CSatOrbit orbit;
    size_t used = 0;
    if (!orbit.ParseTle(std::string_view(file).substr(pos), &used)) break;
    ASSERT_GT(used, 0u);
    pos += used;
    names.push_back(orbit.Elements().name);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ISS", "28626", "ISS again"}));
  EXPECT_EQ(pos, file.size());
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
    ExpectSameElements(orbit.Elements(), before);
  }

  // A line 1 that ends after the drag term (no element set number) is read with number 0.
  ASSERT_EQ(orbit.ParseTle("ISS\n" + l1.substr(0, 61) + "\n" + l2 + "\n"), 1);
  EXPECT_EQ(orbit.Elements().element_set_number, 0u);
  EXPECT_DOUBLE_EQ(orbit.Elements().bstar, -0.11606e-4);
}

TEST(SatOrbitParse, DragTermExponents) {
  struct Case {
    const char* field;
    double bstar;
  };
  for (const Case& c :
       {Case{"-11606-4", -0.11606e-4}, Case{" 12345+1", 1.2345}, Case{" 00000-0", 0.0},
        Case{" 28098-4", 0.28098e-4}, Case{"-13525-3", -0.13525e-3}}) {
    std::string l1 = kIssLine1;
    l1.replace(53, 8, c.field);
    CSatOrbit orbit;
    ASSERT_EQ(orbit.ParseTle("X\n" + l1 + "\n" + kIssLine2 + "\n"), 1) << c.field;
    EXPECT_NEAR(orbit.Elements().bstar, c.bstar, 1e-15) << c.field;
  }
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
      switch (random() % 3) {
        case 0:
          text[at] = static_cast<char>(random() % 256);
          break;
        case 1:
          text.erase(at, 1 + random() % 8);
          break;
        default:
          text.insert(at, 1, "\r\n 0-+.e9"[random() % 9]);
          break;
      }
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

TEST(SatOrbitModel, DeepSpaceFlagAndGeostationaryPosition) {
  CSatOrbit geo;
  ASSERT_EQ(geo.ParseTle(Set("XM-3", kGeoLine1, kGeoLine2, "\n")), 1);
  EXPECT_TRUE(geo.IsDeepSpace());
  const double jd0 = geo.Elements().epoch_julian;
  ASSERT_TRUE(geo.ComputeAt(jd0));
  const double lon0 = geo.Last().longitude;
  EXPECT_NEAR(geo.Last().latitude, 0.0, 0.05);
  EXPECT_NEAR(geo.Last().height, 35786.0, 30.0);
  EXPECT_NEAR(geo.Last().r, 42164.0, 30.0);
  EXPECT_NEAR(geo.Last().v, 3.075, 0.01);
  // A geostationary satellite stays over the same meridian through the day.
  for (int h = 1; h <= 24; ++h) {
    ASSERT_TRUE(geo.ComputeAt(jd0 + h / 24.0));
    EXPECT_NEAR(geo.Last().longitude, lon0, 0.1) << h;
  }
}

TEST(SatOrbitModel, JulianDateAndMinutesGiveTheSamePosition) {
  CSatOrbit a, b;
  ASSERT_EQ(a.ParseTle(Set("ISS", kIssLine1, kIssLine2, "\n")), 1);
  b = a;
  for (double minutes : {-1440.0, -7.5, 0.0, 93.25, 2000.0}) {
    ASSERT_EQ(a.PropagateMinutes(minutes), kSatOk);
    ASSERT_TRUE(b.ComputeAt(a.Elements().epoch_julian + minutes / 1440.0));
    // A Julian date near 2.45e6 carries about 40 µs: a few decimetres of track at most.
    EXPECT_NEAR(a.Last().x, b.Last().x, 1e-3);
    EXPECT_NEAR(a.Last().y, b.Last().y, 1e-3);
    EXPECT_NEAR(a.Last().z, b.Last().z, 1e-3);
  }
  // An orbit of the space station: about 400 km up, 7.7 km/s, within ±51.64° of geocentric
  // latitude (geodetic latitude runs up to 0.19° further).
  const double jd0 = a.Elements().epoch_julian;
  for (int m = 0; m < 1440; m += 7) {
    ASSERT_TRUE(a.ComputeAt(jd0 + m / 1440.0));
    EXPECT_GT(a.Last().height, 320.0);
    EXPECT_LT(a.Last().height, 440.0);
    EXPECT_NEAR(a.Last().v, 7.7, 0.1);
    EXPECT_LE(std::fabs(a.Last().z) / a.Last().r, std::sin(51.7 * kDeg));
    EXPECT_LE(std::fabs(a.Last().latitude), 51.85);
    EXPECT_GT(a.Last().longitude, -180.0);
    EXPECT_LE(a.Last().longitude, 180.0);
  }
}

TEST(SatOrbitModel, CircularOrbitNeedsNoDivisionByItsEccentricity) {
  std::string circular = kIssLine2, almost = kIssLine2;
  circular.replace(26, 7, "0000000");
  almost.replace(26, 7, "0000001");
  CSatOrbit a, b;
  ASSERT_EQ(a.ParseTle(std::string(kIssLine1) + "\n" + circular + "\n"), 1);
  ASSERT_EQ(b.ParseTle(std::string(kIssLine1) + "\n" + almost + "\n"), 1);
  for (double minutes : {0.0, 45.0, 720.0, 4320.0}) {
    ASSERT_EQ(a.PropagateMinutes(minutes), kSatOk);
    ASSERT_EQ(b.PropagateMinutes(minutes), kSatOk);
    EXPECT_TRUE(std::isfinite(a.Last().r));
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
  const double eccentricities[] = {0.0, 1e-9, 0.5, 0.9999999};
  const double inclinations[] = {0.0, 1e-7, 0.2, kPi / 2, kPi - 1e-13, kPi};
  const double motions[] = {1e-9, 0.001, 0.0043752, 0.0087, 0.07, 0.3};  // radians per minute
  const double drags[] = {-1.0, 0.0, 1e-4, 0.5};
  int positions = 0, statuses = 0;
  for (double e : eccentricities)
    for (double i : inclinations)
      for (double n : motions)
        for (double b : drags) {
          SatElements el;
          el.eccentricity = e;
          el.inclination = i;
          el.mean_motion = n;
          el.bstar = b;
          el.right_ascension = (random() % 1000) * 0.00628;
          el.argument_of_perigee = (random() % 1000) * 0.00628;
          el.mean_anomaly = (random() % 1000) * 0.00628;
          el.epoch = 20100.5;
          el.epoch_julian = TleEpochToJulian(el.epoch);
          CSatOrbit o(el);
          for (double d : {-3.0, 0.0, 0.01, 1.0, 30.0}) {
            if (o.ComputeAt(el.epoch_julian + d)) {
              ++positions;
              const SatState& s = o.Last();
              ASSERT_TRUE(std::isfinite(s.x) && std::isfinite(s.vx) && std::isfinite(s.latitude) &&
                          std::isfinite(s.longitude) && std::isfinite(s.height))
                  << e << " " << i << " " << n << " " << b << " " << d;
              EXPECT_GE(s.r, 6378.135 * 0.99);
            } else {
              ++statuses;
              EXPECT_NE(o.LastStatus(), kSatOk);
            }
          }
        }
  EXPECT_GT(positions, 0);
  EXPECT_GT(statuses, 0);
}

TEST(SatOrbitModel, FailuresReportAStatusAndNeverANumberThatIsNot) {
  CSatOrbit orbit;
  ASSERT_EQ(orbit.ParseTle(Set("ISS", kIssLine1, kIssLine2, "\n")), 1);
  const double jd0 = orbit.Elements().epoch_julian;
  ASSERT_TRUE(orbit.ComputeAt(jd0));
  const SatState good = orbit.Last();

  // Mean motion 0.
  SatElements e = orbit.Elements();
  e.mean_motion = 0;
  CSatOrbit still(e);
  EXPECT_FALSE(still.ComputeAt(jd0));
  EXPECT_EQ(still.LastStatus(), kSatMeanMotion);
  EXPECT_FALSE(still.IsDeepSpace());

  // Values that are no numbers, or out of range, from a damaged library file.
  for (int k = 0; k < 3; ++k) {
    SatElements bad = orbit.Elements();
    if (k == 0) bad.inclination = std::nan("");
    if (k == 1) bad.eccentricity = 1.5;
    if (k == 2) bad.epoch_julian = INFINITY;
    CSatOrbit o(bad);
    EXPECT_FALSE(o.ComputeAt(jd0)) << k;
    EXPECT_NE(o.LastStatus(), kSatOk);
    EXPECT_TRUE(std::isfinite(o.Last().x));
  }

  // A decaying orbit: the model gives up once the satellite is below ground, and the last good
  // position stays.
  CSatOrbit decaying;
  ASSERT_EQ(
      decaying.ParseTle("SL-14 DEB\n"
                        "1 29141U 85108AA  06170.26783845  .99999999  00000-0  13519-0 0   718\n"
                        "2 29141  82.4288 273.4882 0015848 277.2124  83.9133 15.93343074  6828\n"),
      1);
  const double djd = decaying.Elements().epoch_julian;
  ASSERT_TRUE(decaying.ComputeAt(djd + 400.0 / 1440.0));
  const SatState before = decaying.Last();
  EXPECT_FALSE(decaying.ComputeAt(djd + 1.0));
  EXPECT_EQ(decaying.LastStatus(), kSatDecayed);
  EXPECT_EQ(decaying.Last().julian_date, before.julian_date);
  EXPECT_EQ(decaying.Last().x, before.x);

  EXPECT_FALSE(orbit.ComputeAt(std::nan("")));
  EXPECT_EQ(orbit.Last().x, good.x);
}

// ---- earth orientation and geodesy --------------------------------------------------------------

TEST(SatOrbitGeodetic, SiderealTimeAndLongitudeWrap) {
  // GMST at J2000.0 (2000-01-01 12h UT) is 18h 41m 50.54841s = 280.46061837504°.
  EXPECT_NEAR(GreenwichSiderealTime(2451545.0), 280.46061837504 * kDeg, 1e-10);
  // One mean solar day later the earth turned 360.9856473° of sidereal time.
  EXPECT_NEAR(GreenwichSiderealTime(2451546.0), (280.46061837504 + 0.9856473662) * kDeg, 1e-8);

  EXPECT_NEAR(SiderealToLongitude(3.14159265358979323846, 0.0), 180.0, 1e-12);
  EXPECT_GT(SiderealToLongitude(3.14159265358979323846, 0.0), 0.0);
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
      const double rxy = (n + h) * std::cos(phi);
      const double z = (n * (1.0 - e2) + h) * std::sin(phi);
      double got_lat = 0, got_h = 0;
      GeodeticLatitudeHeight(std::fabs(rxy), z, &got_lat, &got_h);
      EXPECT_NEAR(got_lat, lat, 1e-8) << lat << " " << h;
      EXPECT_NEAR(got_h, h, 1e-6) << lat << " " << h;
    }
  }
}

TEST(SatOrbitGeodetic, GlobePointOfTheLastPosition) {
  CSatOrbit orbit;
  ASSERT_EQ(orbit.ParseTle(Set("ISS", kIssLine1, kIssLine2, "\n")), 1);
  ASSERT_TRUE(orbit.ComputeAt(orbit.Elements().epoch_julian + 0.25));
  const SatState& s = orbit.Last();
  float x, y, z, ex, ey, ez;
  orbit.GetXYZ(&x, &y, &z);
  LngLatToXYZ(static_cast<float>(s.longitude), static_cast<float>(s.latitude),
              static_cast<float>(s.height), &ex, &ey, &ez);
  EXPECT_EQ(x, ex);
  EXPECT_EQ(y, ey);
  EXPECT_EQ(z, ez);
  // The right ascension is the direction of the position in the equator plane.
  EXPECT_NEAR(std::atan2(s.y, s.x) + (s.y < 0 ? 2 * 3.14159265358979323846 : 0.0),
              s.right_ascension, 1e-12);
  // Longitude: right ascension less sidereal time.
  EXPECT_NEAR(s.longitude,
              SiderealToLongitude(s.right_ascension, GreenwichSiderealTime(s.julian_date)), 1e-12);
}

// ---- dates -------------------------------------------------------------------------------------

struct Date {
  int year, month, day, hour, minute, second;
  bool operator==(const Date&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Date& d) {
  return os << d.year << "-" << d.month << "-" << d.day << " " << d.hour << ":" << d.minute << ":"
            << d.second;
}
Date ToDate(double epoch) {
  Date d{};
  TleEpochToDate(epoch, &d.year, &d.month, &d.day, &d.hour, &d.minute, &d.second);
  return d;
}

TEST(SatOrbitDates, EpochToJulianDateAndTheYearPivot) {
  EXPECT_DOUBLE_EQ(TleEpochToJulian(1.0), 2451544.5);      // 00001.0: 2000 January 1, 0h
  EXPECT_DOUBLE_EQ(TleEpochToJulian(57001.0), 2435839.5);  // 1957
  EXPECT_DOUBLE_EQ(TleEpochToJulian(56001.0), 2471998.5);  // 2056
  EXPECT_EQ(ToDate(57001.5), (Date{1957, 1, 1, 12, 0, 0}));
  EXPECT_EQ(ToDate(56001.5), (Date{2056, 1, 1, 12, 0, 0}));
  EXPECT_DOUBLE_EQ(JulianDateFromUtc(2000, 1, 1, 12, 0, 0), 2451545.0);
  EXPECT_DOUBLE_EQ(JulianDateFromUtc(1957, 1, 1, 0, 0, 0), 2435839.5);
  // "Now" past 2056 cannot go through two-digit years; the direct Julian date can.
  EXPECT_DOUBLE_EQ(JulianDateFromUtc(2060, 1, 1, 0, 0, 0), 2473459.5);
  EXPECT_DOUBLE_EQ(TleEpochToJulian(DateToTleEpoch(2060, 1, 1, 0, 0, 0)), 2436934.5);  // 1960
}

TEST(SatOrbitDates, LeapDaysAndRounding) {
  EXPECT_DOUBLE_EQ(DateToTleEpoch(2020, 2, 29, 12, 0, 0), 20060.5);
  EXPECT_DOUBLE_EQ(DateToTleEpoch(2020, 3, 1, 0, 0, 0), 20061.0);
  EXPECT_DOUBLE_EQ(DateToTleEpoch(2019, 3, 1, 0, 0, 0), 19060.0);
  EXPECT_DOUBLE_EQ(DateToTleEpoch(2020, 12, 31, 18, 0, 0), 20366.75);
  EXPECT_EQ(ToDate(20060.5), (Date{2020, 2, 29, 12, 0, 0}));
  EXPECT_EQ(ToDate(19060.0), (Date{2019, 3, 1, 0, 0, 0}));
  EXPECT_EQ(ToDate(20366.0), (Date{2020, 12, 31, 0, 0, 0}));
  // A fraction of .999999 rounds to the next midnight, never 24:00:00.
  EXPECT_EQ(ToDate(19100.999999), (Date{2019, 4, 11, 0, 0, 0}));
  EXPECT_EQ(ToDate(20366.999999), (Date{2021, 1, 1, 0, 0, 0}));
  EXPECT_EQ(ToDate(19059.9999999), (Date{2019, 3, 1, 0, 0, 0}));
  // Day numbers past the year's end run into the next year instead of past December.
  EXPECT_EQ(ToDate(19367.25), (Date{2020, 1, 2, 6, 0, 0}));
  EXPECT_EQ(ToDate(19999.0).year, 2021);
  EXPECT_EQ(ToDate(19000.0), (Date{2018, 12, 31, 0, 0, 0}));
}

TEST(SatOrbitDates, RoundTripsOverTheWholeEpochRange) {
  for (int year = 1957; year <= 2056; year += 3) {
    for (int month = 1; month <= 12; ++month) {
      const int last_day = month == 2
                               ? (year % 4 == 0 ? 29 : 28)
                               : (month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31);
      for (int day : {1, 15, last_day}) {
        const Date d{year, month, day, (day * 7) % 24, (day * 13) % 60, (day * 29) % 60};
        const double epoch = DateToTleEpoch(d.year, d.month, d.day, d.hour, d.minute, d.second);
        EXPECT_EQ(ToDate(epoch), d);
        EXPECT_NEAR(TleEpochToJulian(epoch),
                    JulianDateFromUtc(d.year, d.month, d.day, d.hour, d.minute, d.second), 1e-8)
            << d;
      }
    }
  }
}

TEST(SatOrbitDates, NowHasMillisecondsAndAgreesWithTheClock) {
  const double before = 2440587.5 + static_cast<double>(std::time(nullptr)) / 86400.0;
  const double now = JulianDateNow();
  const double after = 2440587.5 + static_cast<double>(std::time(nullptr) + 1) / 86400.0;
  EXPECT_GE(now, before);
  EXPECT_LE(now, after);
}

}  // namespace
}  // namespace velmora

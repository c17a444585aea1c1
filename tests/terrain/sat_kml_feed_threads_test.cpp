// The live satellite KML against the orbit model and an independent XML reader (pugixml): the
// orbit line of one satellite, escaped names, a satellite without a position left out, and
// "c.kml" read over and over while "OrbitCalcThread" rewrites it, the set changed meanwhile under
// the feed's lock, and the thread ended within its limit.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <pugixml.hpp>

#include "support/temp_dir.h"
#include "terrain/sat_kml_feed.h"

namespace velmora {
namespace {

const char kIss[] =
    "ISS\n1 25544U 98067A   08264.51782528 -.00002182  00000-0 -11606-4 0  2927\n"
    "2 25544  51.6416 247.4627 0006703 130.5360 325.0288 15.72125391563537\n";
const char kGeo[] =
    "GEO\n1 28626U 05008A   06176.46683397 -.00000205  00000-0  10000-3 0  2190\n"
    "2 28626   0.0019 286.9433 0000335  13.7918  55.6504  1.00270176  4891\n";
constexpr double kNow = 2454730.0;  // a few days after the ISS epoch

SatElements Sat(const char* text) {
  CSatOrbit orbit;
  EXPECT_EQ(orbit.ParseTle(text), 1);
  return orbit.Elements();
}

std::vector<double> Numbers(const std::string& text) {
  std::vector<double> out;
  const char* p = text.c_str();
  char* end = nullptr;
  for (;;) {
    while (*p == ' ' || *p == '\n' || *p == ',') ++p;
    if (!*p) break;
    const double v = std::strtod(p, &end);
    if (end == p) break;
    out.push_back(v);
    p = end;
  }
  return out;
}

TEST(SatKmlFeedTest, OrbitLineIsTheModelsAndNamesAreEscaped) {
  test::TempDir dir;
  CSatKmlFeed feed(dir.path());
  feed.SetClock([] { return kNow; });
  SatElements iss = Sat(kIss);
  iss.name = "A&B<C>";
  iss.color = 0xFF102030;  // ARGB
  ASSERT_TRUE(feed.Show(iss, true));
  EXPECT_FALSE(feed.Show(iss, true)) << "shown twice is one satellite";
  ASSERT_TRUE(feed.WriteOrbitFile());

  pugi::xml_document doc;
  ASSERT_TRUE(doc.load_file(feed.OrbitPath().c_str())) << "s.kml is not well-formed XML";
  pugi::xml_node document = doc.child("kml").child("Document");
  EXPECT_STREQ(document.child("NetworkLink").child("Link").child_value("href"), "c.kml");
  EXPECT_STREQ(document.child("NetworkLink").child("Link").child_value("refreshMode"), "onInterval");
  pugi::xml_node mark = document.child("Placemark");
  EXPECT_STREQ(mark.child_value("name"), "A&B<C>");
  EXPECT_STREQ(mark.child("Style").child("LineStyle").child_value("color"), "ff302010");
  const std::vector<double> v = Numbers(mark.child("LineString").child_value("coordinates"));
  ASSERT_EQ(v.size(), 3u * kSatOrbitPoints);
  CSatOrbit model(iss);
  const double step = 2 * M_PI / iss.mean_motion / 1440.0 / 360.0;
  for (int i : {0, 119, 120, 359}) {
    ASSERT_TRUE(model.ComputeAt((kNow - 120 * step) + i * step));
    EXPECT_NEAR(v[3 * i], model.Last().longitude, 1e-6) << i;
    EXPECT_NEAR(v[3 * i + 1], model.Last().latitude, 1e-6) << i;
    EXPECT_NEAR(v[3 * i + 2], model.Last().height * 1000.0, 1e-6) << i;
  }

  // A satellite the model cannot place (no mean motion) is left out; the others stay.
  SatElements broken = Sat(kGeo);
  broken.mean_motion = 0;
  ASSERT_TRUE(feed.Show(broken, true));
  ASSERT_TRUE(feed.WriteOrbitFile());
  ASSERT_TRUE(feed.WritePositionFile());
  ASSERT_TRUE(doc.load_file(feed.OrbitPath().c_str()));
  EXPECT_EQ(std::distance(doc.child("kml").child("Document").children("Placemark").begin(),
                          doc.child("kml").child("Document").children("Placemark").end()), 1);
  ASSERT_TRUE(doc.load_file(feed.PositionPath().c_str()));
  pugi::xml_node point = doc.child("kml").child("Document").child("Placemark");
  EXPECT_STREQ(point.child_value("name"), "A&B<C>");
  EXPECT_FALSE(point.next_sibling("Placemark")) << "the broken satellite has no position";
  const std::vector<double> now = Numbers(point.child("Point").child_value("coordinates"));
  ASSERT_TRUE(model.ComputeAt(kNow));
  ASSERT_EQ(now.size(), 3u);
  EXPECT_NEAR(now[0], model.Last().longitude, 1e-6);

  // The library's set replaces the feed's: the kept one stays, dropped ones go.
  feed.Sync({Sat(kGeo)});
  EXPECT_EQ(feed.Numbers(), std::vector<uint32_t>{28626});
}

TEST(SatKmlFeedTest, PositionFileReadWhileRewrittenNeverFails) {
  test::TempDir dir;
  CSatKmlFeed feed(dir.path());
  std::atomic<double> clock{kNow};
  feed.SetClock([&clock] { return clock.load(); });
  feed.SetInterval(1);
  feed.Show(Sat(kIss), true);
  ASSERT_TRUE(feed.Start());
  ASSERT_TRUE(feed.IsRunning());
  // The user-interface side changes the set while the thread writes.
  std::atomic<bool> done{false};
  std::thread ui([&] {
    SatElements geo = Sat(kGeo);
    for (int i = 0; !done; ++i) {
      feed.Show(geo, i % 2 == 0);
      clock = kNow + i * 1e-5;
      std::this_thread::yield();
    }
  });
  while (feed.Rewrites() == 0) std::this_thread::yield();
  int placemarks = 0;
  for (int i = 0; i < 1000; ++i) {
    pugi::xml_document doc;
    pugi::xml_parse_result result = doc.load_file(feed.PositionPath().c_str());
    EXPECT_TRUE(result) << "read " << i << ": " << result.description();
    if (!result) break;  // the writer thread is joined below
    for (pugi::xml_node p : doc.child("kml").child("Document").children("Placemark")) {
      ++placemarks;
      EXPECT_EQ(Numbers(p.child("Point").child_value("coordinates")).size(), 3u);
    }
  }
  done = true;
  ui.join();
  EXPECT_GE(placemarks, 1000);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(feed.Stop(kSatStopLimitMs));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(kSatStopLimitMs));
  EXPECT_FALSE(feed.IsRunning());
  EXPECT_GT(feed.Rewrites(), 1);
}

}  // namespace
}  // namespace velmora

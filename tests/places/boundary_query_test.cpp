// Boundary queries: the rings of recorded replies and their names, hostile pairs, the REST paths
// as the test web server receives them (a quote in the name doubled), and a closed port.
#include <gtest/gtest.h>

#include "core/settings.h"
#include "places/boundary_query.h"
#include "places_test_util.h"
#include "platform/net.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

const test::TempDir& kFolders = test::IsolatedFolders();

TEST(BoundaryRings, RingsOfRepliesAndTheirNames) {
  auto two = NameBoundaryRings(ParseBoundaryRings(test::Recorded("boundary_qingdao_two.json")), "青岛");
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].name, "青岛-0");
  EXPECT_EQ(two[1].name, "青岛-1");
  ASSERT_EQ(two[0].points.size(), 5u);
  EXPECT_FLOAT_EQ(two[0].points[1].x, 120.5f);
  EXPECT_FLOAT_EQ(two[0].points[2].y, 36.4f);
  EXPECT_EQ(two[1].points.size(), 4u);

  auto one = NameBoundaryRings(ParseBoundaryRings(R"({"rings":[[[1,2],[3,4],[5,6]]]})"), "青岛");
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].name, "青岛");

  // Two features: the second one's ring is a ring of its own; its one-point ring is dropped.
  auto features = ParseBoundaryRings(test::Recorded("boundary_two_features.json"));
  ASSERT_EQ(features.size(), 2u);
  EXPECT_EQ(features[0].size(), 4u);
  EXPECT_EQ(features[1].size(), 4u);
  EXPECT_FLOAT_EQ(features[1][0].x, 10.0f);

  EXPECT_TRUE(ParseBoundaryRings("").empty());
  EXPECT_TRUE(ParseBoundaryRings(R"({"error":{"code":400}})").empty());
}

TEST(BoundaryRings, PairsThatAreNotTwoFiniteNumbersAddNoPoint) {
  auto rings = ParseBoundaryRings(
      R"({"rings":[[[1,1],[],[x,2],[2,1],[NaN,3],[1e999,4],[3],[2,2,7],[1,1]]]})");
  ASSERT_EQ(rings.size(), 1u);
  ASSERT_EQ(rings[0].size(), 4u);  // (1,1) (2,1) (2,2) (1,1): no (0,0) anywhere
  for (const PointF& p : rings[0]) EXPECT_FALSE(p.x == 0 && p.y == 0);
  // Cut off in the middle of a pair: the points read so far still make the ring.
  auto cut = ParseBoundaryRings(R"({"rings":[[[1,1],[2,2],[3,)");
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_EQ(cut[0].size(), 2u);
}

TEST(BoundaryRest, PathsAsTheServerReceivesThem) {
  test::HttpTestServer server;
  WriteProfileString(kPolygonSection, "rest_host", "127.0.0.1:" + std::to_string(server.Port()));
  server.RoutePrefix("/arcgis/", [](const test::HttpRequestRecord&) {
    return test::HttpReply::Ok(test::Recorded("boundary_qingdao_two.json"));
  });
  auto reply = FetchBoundary(kBoundaryCity, "O'Hare", nullptr);
  ASSERT_TRUE(reply);
  EXPECT_EQ(ParseBoundaryRings(*reply).size(), 2u);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0].target,
            "/arcgis/rest/services/ch/MapServer/4/query?f=json&where=NAME%20like%20'%25O%27%27Hare%25'"
            "&returnGeometry=true&spatialRel=esriSpatialRelEnvelopeIntersects&outFields=&callback="
            "dojo.io.script.jsonp_dojoIoScript8._jsonpCallback");
  EXPECT_EQ(BoundaryQueryPath(kBoundaryProvince, "山东"),
            "/arcgis/rest/services/ch/MapServer/3/query?f=json&where=NAME%20like%20'%25%E5%B1%B1%E4%B8%9C%25'"
            "&returnGeometry=true&spatialRel=esriSpatialRelEnvelopeIntersects&outFields=&callback="
            "dojo.io.script.jsonp_dojoIoScript7._jsonpCallback");
  EXPECT_EQ(BoundaryQueryPath(kBoundaryCounty, "a"),
            "/arcgis/rest/services/ch/MapServer/5/query?f=json&where=CNAME%20like%20'%25a%25'"
            "&returnGeometry=true&spatialRel=esriSpatialRelEnvelopeIntersects&outFields=&callback="
            "dojo.io.script.jsonp_dojoIoScript10._jsonpCallback");
  EXPECT_EQ(BoundaryQueryPath(kBoundaryScript, "a"), "");

  // Error status and an empty body give nothing.
  server.RoutePrefix("/arcgis/", [](const test::HttpRequestRecord&) { return test::HttpReply::ServerError(); });
  EXPECT_FALSE(FetchBoundary(kBoundaryCity, "x", nullptr));
}

TEST(BoundaryRest, AClosedPortReportsTheNetworkState) {
  int states = 0, last = 0;
  SetBoundaryNetStateSink([&](int s) { ++states, last = s; });
  uint16_t port;
  {
    test::HttpTestServer gone;
    port = gone.Port();
  }
  WriteProfileString(kPolygonSection, "rest_host", "127.0.0.1:" + std::to_string(port));
  EXPECT_FALSE(FetchBoundary(kBoundaryProvince, "x", nullptr));
  EXPECT_EQ(states, 1);
  EXPECT_EQ(last, 2);
  SetBoundaryNetStateSink({});
}

}  // namespace
}  // namespace velmora

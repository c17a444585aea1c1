// CElevCacheDb with real SQLite files in a temporary folder and the test server as the web
// elevation service: the stores and their keys, recorded replies of every kind, the network
// indicator, the reply size limits, and look-ups that must not cost a second request.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

#include "core/format.h"
#include "core/settings.h"
#include "platform/db.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "tiles/tile_manager.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;
using test::HttpTestServer;

const test::TempDir& kFolders = test::IsolatedFolders();

std::string PointReply(double h, double lat, double lng) {
  return FormatC(
      "{\n   \"results\" : [\n      {\n         \"elevation\" : %.10f,\n         \"location\" : {\n"
      "            \"lat\" : %.8f,\n            \"lng\" : %.8f\n         },\n"
      "         \"resolution\" : 152.7032318115234\n      }\n   ],\n   \"status\" : \"OK\"\n}\n",
      h, lat, lng);
}

// The location asked for: "locations=<lat>,<lng>".
bool AskedPoint(const HttpRequestRecord& request, double* lat, double* lng) {
  const size_t at = request.query.find("locations=");
  if (at == std::string::npos) return false;
  const size_t comma = request.query.find(',', at);
  const size_t amp = request.query.find('&', comma);
  const auto a = ParseDouble(request.query.substr(at + 10, comma - at - 10));
  const auto b = ParseDouble(request.query.substr(comma + 1, amp - comma - 1));
  if (!a || !b) return false;
  *lat = *a;
  *lng = *b;
  return true;
}

constexpr char kService[] = "/maps/api/elevation/json";

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // By default the service answers 1000 + latitude at the location asked.
    Serve([](double lat, double lng) { return HttpReply::Ok(PointReply(1000 + lat, lat, lng), "application/json"); });
    WriteProfileString(kElevationProfileSection, kElevationHostKey, server.BaseUrl());
    WriteProfileString(kElevationProfileSection, kElevationApiKey, "");
    net_state = 0;
    SetElevationNetStateSink([this](int state) { net_state = state; });
  }
  void TearDown() override { SetElevationNetStateSink(nullptr); }
  void Serve(std::function<HttpReply(double lat, double lng)> answer) {
    server.RoutePrefix(kService, [answer](const HttpRequestRecord& request) {
      double lat = 0, lng = 0;
      if (!AskedPoint(request, &lat, &lng)) return HttpReply::Status(400, "bad request");
      return answer(lat, lng);
    });
  }
  void Reply(HttpReply reply) {
    server.RoutePrefix(kService, [reply](const HttpRequestRecord&) { return reply; });
  }
  int64_t Rows(const char* file) {
    SqliteDb db;
    EXPECT_TRUE(db.Open(dir.File(file)));
    const DbValue v = db.QueryValue("SELECT count(*) FROM tiles");
    return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : -1;
  }
  int Net() { return net_state.load(); }

  std::atomic<int> net_state{0};
  HttpTestServer server;
  test::TempDir dir;
  CElevCacheDb cache{dir.path()};
};

TEST_F(CacheTest, UnusableDatabasesGiveStatusZeroAndNoRequest) {
  // A file left empty gets its table when opened.
  test::WriteTestFile(dir.File(kLngLatCacheFileName), "");
  ASSERT_TRUE(cache.Open());
  EXPECT_EQ(Rows("gd.kd"), 0);

  test::WriteTestFile(dir.File("plain"), "x");
  CElevCacheDb nowhere(dir.File("plain") + "/data/");
  float lon = 116.4f, lat = 39.9f, h = -1;
  EXPECT_FALSE(nowhere.Open());
  EXPECT_EQ(nowhere.GetByPos(&lon, &lat, &h), kElevNoCache);
  EXPECT_EQ(nowhere.FetchPoint(&lon, &lat, &h), kElevNoCache);
  EXPECT_EQ(nowhere.PutLngLat(116.4, 39.9, 5), kElevNoCache);
  EXPECT_EQ(nowhere.PutByPos(&lon, &lat, 5), kElevNoCache);
  std::vector<int> statuses;
  std::vector<std::array<float, 3>> points;
  const float a[2] = {116, 39}, b[2] = {117, 40};
  nowhere.FetchPath(a, b, 10, statuses, points);
  EXPECT_TRUE(points.empty());
  EXPECT_EQ(h, -1);
  EXPECT_EQ(server.RequestCount(), 0u);

  // A damaged file: the header and the schema read, the table's pages do not.
  for (int i = 0; i < 50; ++i) {
    float lon = 100.0f + i, lat = 10.0f;
    ASSERT_EQ(cache.PutByPos(&lon, &lat, 7.0f), kElevFetched);
  }
  cache.Close();
  std::string bytes = test::ReadTestFile(dir.File("gdem.kdb"));
  ASSERT_GE(bytes.size(), 3u * 4096u);
  for (size_t i = 4096; i < bytes.size(); ++i) bytes[i] = static_cast<char>(0x5A);
  test::WriteTestFile(dir.File("gdem.kdb"), bytes);
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevNoCache);
  EXPECT_EQ(h, -1);
  EXPECT_EQ(server.RequestCount(), 0u);
  // It is not refused for good: the damaged file is set aside as it was and the next look-up
  // starts a new cache (the height is asked of the service again).
  EXPECT_EQ(test::ReadTestFile(dir.File("gdem.kdb.damaged")), bytes);
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevFetched);
  EXPECT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevFound);
  EXPECT_GE(Rows("gdem.kdb"), 1);

  // A file that is not a database at all is set aside at the open.
  cache.Close();
  test::WriteTestFile(dir.File(kLngLatCacheFileName), std::string(8192, 'x'));
  ASSERT_TRUE(cache.Open());
  EXPECT_EQ(test::ReadTestFile(dir.File("gd.kd.damaged")), std::string(8192, 'x'));
  EXPECT_EQ(cache.PutLngLat(116.4, 39.9, 5), kElevFetched);
  EXPECT_EQ(Rows("gd.kd"), 1);
}

TEST_F(CacheTest, PositionKeysAndStores) {
  EXPECT_EQ(ElevPositionKey(1.0f, 2.0f), 0x400000003F800000LL);
  EXPECT_EQ(ElevPositionKey(1.0f, -2.0f), static_cast<int64_t>(0xC00000003F800000ULL));  // negative latitude

  float lon = 0.0001234f, lat = -0.0005678f;
  EXPECT_EQ(cache.PutByPos(&lon, &lat, 52.5f), kElevFetched);
  // Snapped to the 1 m grid in place.
  float expect_lon = 0.0001234f, expect_lat = -0.0005678f;
  CElevationStore::NormalizePosition(&expect_lon, &expect_lat, 1);
  EXPECT_TRUE(lon == expect_lon && lat == expect_lat && lon != 0.0001234f);
  float again_lon = 0.0001234f, again_lat = -0.0005678f;
  EXPECT_EQ(cache.PutByPos(&again_lon, &again_lat, 60.0f), kElevFound);  // the first value stays
  float h = 0;
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevFound);
  EXPECT_EQ(h, 52.5f);

  EXPECT_EQ(cache.PutLngLat(116.3910001, 39.907, 52.5f), kElevFetched);
  EXPECT_EQ(cache.PutLngLat(116.3910001, 39.907, 53.0f), kElevFound);
  EXPECT_EQ(cache.PutLngLat(116.391, 39.907, 53.0f), kElevFetched);  // another longitude
  EXPECT_EQ(cache.PutLngLat(117.0, 40.0, 1.0f), kElevFetched);  // on the box edge
  std::vector<std::array<double, 3>> rows;
  cache.QueryBox(116.0f, 41.0f, 117.0f, 39.0f, rows);
  ASSERT_EQ(rows.size(), 2u);  // 117.0 itself is outside: the bounds are strict
  for (const auto& row : rows) EXPECT_NEAR(row[0], 116.391, 1e-6);
  EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(CacheTest, PositionAskedForIsStoredBesideTheServicesLocation) {
  // The service answers for its own sample location, 0.01 degrees apart.
  Serve([](double lat, double lng) {
    const double slat = std::round(lat * 100) / 100, slng = std::round(lng * 100) / 100;
    return HttpReply::Ok(PointReply(500 + slat, slat, slng), "application/json");
  });
  float lon = 116.391f, lat = 39.907f, h = 0;
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevFetched);
  EXPECT_FLOAT_EQ(h, 539.91f);
  EXPECT_TRUE(lon == 116.391f && lat == 39.907f);  // the caller's position is never changed
  EXPECT_EQ(Net(), kTileNetOk);
  EXPECT_EQ(Rows("gdem.kdb"), 2);  // the service's location and the position asked for
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevFound);
  EXPECT_EQ(server.RequestCount(), 1u);
  // The service's location, snapped to 1 m, is found as well.
  float slon = 116.39f, slat = 39.91f;
  CElevationStore::NormalizePosition(&slon, &slat, 1);
  EXPECT_EQ(cache.GetByPos(&slon, &slat, &h), kElevFound);
  EXPECT_EQ(server.RequestCount(), 1u);

  // FetchPoint moves the position to the service's location on the 1 m grid. The service key is
  // sent percent-encoded.
  WriteProfileString(kElevationProfileSection, kElevationApiKey, "a b&c");
  float flon = 10.123f, flat = 20.456f;
  EXPECT_EQ(cache.FetchPoint(&flon, &flat, &h), kElevFetched);
  EXPECT_EQ(server.Requests().back().query, "locations=20.45599937438965,10.12300014495850&sensor=false&key=a%20b%26c");
  float expect_lon = 10.12f, expect_lat = 20.46f;
  CElevationStore::NormalizePosition(&expect_lon, &expect_lat, 1);
  EXPECT_EQ(flon, expect_lon);
  EXPECT_EQ(flat, expect_lat);
}

TEST_F(CacheTest, SameKeyFromFetchAndLookupIsStoredOnce) {
  // A position on the 1 m grid that the service echoes: the look-up's insert meets the key the
  // fetch stored and is ignored; the status is still 5.
  // Snapping a float to the 1 m grid is not always idempotent: find a point where it is.
  float lon = 8.0f, lat = 47.0f;
  for (int i = 0; i < 10; ++i) CElevationStore::NormalizePosition(&lon, &lat, 1);
  float check_lon = lon, check_lat = lat;
  CElevationStore::NormalizePosition(&check_lon, &check_lat, 1);
  ASSERT_EQ(check_lon, lon);
  ASSERT_EQ(check_lat, lat);
  const std::string reply = FormatC("{\"elevation\" : 400, \"location\" : {\"lat\" : %.9g, \"lng\" : %.9g}}",
                                    static_cast<double>(lat), static_cast<double>(lon));
  Reply(HttpReply::Ok(reply, "application/json"));
  float h = 0;
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevFetched);
  EXPECT_EQ(Rows("gdem.kdb"), 1);
}

TEST_F(CacheTest, OverQuotaReplies) {
  float lon = 116.391f, lat = 39.907f, h = kNoElevation;
  // The refusal in a reply, with an HTTP error status, and a bare 429.
  for (const HttpReply& reply : {HttpReply::Ok("{\n   \"results\" : [],\n   \"status\" : \"OVER_QUERY_LIMIT\"\n}\n"),
                                 HttpReply::Status(403, "{\"status\" : \"OVER_DAILY_LIMIT\"}")}) {
    Reply(reply);
    net_state = 0;
    EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevOverQuota) << reply.body;
    EXPECT_EQ(Net(), kTileNetOverQuota);
  }
  Reply(HttpReply::Status(429, "Too Many Requests"));
  EXPECT_EQ(cache.FetchPoint(&lon, &lat, &h), kElevOverQuota);
  EXPECT_EQ(h, kNoElevation);
  EXPECT_EQ(lon, 116.391f);
  EXPECT_EQ(Rows("gdem.kdb"), 0);
  EXPECT_EQ(Rows("gd.kd"), 0);
}

TEST_F(CacheTest, NoReplyAndUnreadableReplies) {
  float lon = 116.391f, lat = 39.907f, h = kNoElevation;
  struct Case {
    HttpReply reply;
    int status;
  };
  for (const Case& c : {Case{HttpReply::Ok(""), kElevNoReply}, Case{HttpReply::ServerError(), kElevNoReply},
                        Case{HttpReply::NotFound(), kElevNoReply}, Case{HttpReply::Drop(), kElevNoReply},
                        Case{HttpReply::Ok("{\"status\" : \"INVALID_REQUEST\"}"), kElevNoReply}}) {
    Reply(c.reply);
    net_state = 0;
    EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), c.status) << c.reply.body;
    EXPECT_EQ(Net(), kTileNetFailed);
  }
  EXPECT_EQ(h, kNoElevation);

  // The elevation is read, then "lng" is missing: unreadable, but the height was read that far.
  Reply(HttpReply::Ok("{ \"results\" : [ { \"elevation\" : 321.5, \"location\" : { \"lat\" : 39.9 } } ] }"));
  net_state = 0;
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevBadReply);
  EXPECT_EQ(h, 321.5f);
  EXPECT_EQ(Net(), kTileNetFailed);
  // No number where the height should be, a number that is not finite, a location off the globe.
  h = kNoElevation;
  for (const char* body :
       {"{\"elevation\" : null, \"lat\" : 1, \"lng\" : 2}", "{\"elevation\" : nan, \"lat\" : 1, \"lng\" : 2}",
        "{\"elevation\" : 1e999, \"lat\" : 1, \"lng\" : 2}"}) {
    Reply(HttpReply::Ok(body));
    EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevBadReply) << body;
    EXPECT_EQ(h, kNoElevation);
  }
  Reply(HttpReply::Ok("{\"elevation\" : 5, \"lat\" : 91, \"lng\" : 2}"));
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevBadReply);
  EXPECT_EQ(Rows("gdem.kdb"), 0);
  EXPECT_EQ(Rows("gd.kd"), 0);

  // No host configured.
  WriteProfileString(kElevationProfileSection, kElevationHostKey, "");
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevNoReply);
}

TEST_F(CacheTest, ReplyThatFillsTheBuffer) {
  float lon = 116.391f, lat = 39.907f, h = 0;
  // Exactly the 256 KiB the fetch accepts: read (nothing after it is looked at).
  std::string full = PointReply(77.25, 39.907, 116.391);
  full.resize(kPointReplyLimit, ' ');
  Reply(HttpReply::Ok(full, "application/json"));
  EXPECT_EQ(cache.GetByPos(&lon, &lat, &h), kElevFetched);
  EXPECT_EQ(h, 77.25f);
  // One byte more: the reply is cut, so none of it is trusted or stored.
  float lon2 = 100.5f, lat2 = 20.5f;
  std::string longer = PointReply(12, 20.5, 100.5);
  longer.resize(kPointReplyLimit + 1, ' ');
  Reply(HttpReply::Ok(longer, "application/json"));
  EXPECT_EQ(cache.GetByPos(&lon2, &lat2, &h), kElevBadReply);
  EXPECT_EQ(Net(), kTileNetFailed);
  // A reply of nothing but the key at the very end of the buffer: no read past it.
  std::string tail(kPointReplyLimit - 11, ' ');
  tail += "elevation:";
  Reply(HttpReply::Ok(tail));
  EXPECT_EQ(cache.GetByPos(&lon2, &lat2, &h), kElevBadReply);
  EXPECT_EQ(Rows("gd.kd"), 1);
}

TEST_F(CacheTest, FailedStoreIsNotSuccess) {
  ASSERT_TRUE(cache.Open());
  {
    SqliteDb db;
    ASSERT_TRUE(db.Open(dir.File("gd.kd")));
    ASSERT_TRUE(db.Exec("CREATE TRIGGER refuse BEFORE INSERT ON tiles BEGIN SELECT RAISE(ABORT, 'disk full'); END"));
  }
  float lon = 116.391f, lat = 39.907f, h = 0;
  EXPECT_EQ(cache.PutLngLat(116.0, 39.0, 1.0f), kElevBadReply);
  EXPECT_EQ(cache.FetchPoint(&lon, &lat, &h), kElevBadReply);
  float lon2 = 100.25f, lat2 = 20.25f;
  EXPECT_EQ(cache.GetByPos(&lon2, &lat2, &h), kElevBadReply);
}

TEST_F(CacheTest, ScanningFindsEachPartInOrder) {
  ElevReplySample s;
  size_t cursor = 0;
  const char* reply = "{\"elevation\":-12.5e1,\"location\":{\"lat\": +1.25 ,\"lng\":\n-3}}";
  EXPECT_EQ(ScanElevationReply(reply, &cursor, true, &s), 0);
  EXPECT_TRUE(s.elevation == -125.0 && s.lat == 1.25 && s.lng == -3.0);
  EXPECT_EQ(ScanElevationReply(reply, &cursor, true, &s), 1);
  // "lat" must come after the elevation; "lng" after the latitude.
  cursor = 0;
  EXPECT_EQ(ScanElevationReply("{\"lng\" : 4, \"lat\" : 3, \"elevation\" : 2}", &cursor, false, &s), 2);
  EXPECT_TRUE(s.has_elevation);
  cursor = 0;
  EXPECT_EQ(ScanElevationReply("{\"elevation\" : 2, \"lng\" : 4, \"lat\" : 3}", &cursor, false, &s), 2);
  cursor = 0;
  EXPECT_EQ(ScanElevationReply("elevation", &cursor, false, &s), 2);
  EXPECT_FALSE(s.has_elevation);
}

// Three samples on a path, in the service's pretty-printed form.
std::string PathReply() {
  std::string r = "{\n   \"results\" : [\n";
  for (int i = 0; i < 3; ++i) {
    r += FormatC(
        "      {\n         \"elevation\" : %d.5,\n         \"location\" : {\n            \"lat\" : %.6f,\n"
        "            \"lng\" : %.6f\n         },\n         \"resolution\" : 19.08790397644043\n      }%s\n",
        100 * (i + 1), 39.0 + 0.5 * i, 116.0 + 0.5 * i, i < 2 ? "," : "");
  }
  return r + "   ],\n   \"status\" : \"OK\"\n}\n";
}

TEST_F(CacheTest, FetchPathStoresEverySample) {
  EXPECT_EQ(PathReplyLimit(100), 51200u);
  Reply(HttpReply::Ok(PathReply(), "application/json"));
  const float a[2] = {116.0f, 39.0f}, b[2] = {117.0f, 40.0f};
  std::vector<int> statuses;
  std::vector<std::array<float, 3>> points;
  cache.FetchPath(a, b, 3, statuses, points);
  ASSERT_EQ(server.RequestCount(), 1u);
  EXPECT_EQ(server.Requests()[0].query,
            "path=39.00000000000000,116.00000000000000|40.00000000000000,117.00000000000000&samples=3&sensor=false");
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(statuses, (std::vector<int>{kElevFetched, kElevFetched, kElevFetched}));
  for (int i = 0; i < 3; ++i) {
    float lon = 116.0f + 0.5f * i, lat = 39.0f + 0.5f * i;
    CElevationStore::NormalizePosition(&lon, &lat, 1);
    EXPECT_EQ(points[i], (std::array<float, 3>{lon, lat, 100.0f * (i + 1) + 0.5f}));
  }
  EXPECT_EQ(Rows("gd.kd"), 3);
  statuses.clear();
  cache.FetchPath(a, b, 3, statuses, points);
  EXPECT_EQ(statuses, (std::vector<int>{kElevFound, kElevFound, kElevFound}));
  EXPECT_EQ(points.size(), 6u);

  // Longer than samples x 512 (at least 19,456 bytes): not read.
  std::string big = PathReply();
  big.resize(PathReplyLimit(10) + 1, ' ');
  Reply(HttpReply::Ok(big));
  statuses.clear();
  cache.FetchPath(a, b, 10, statuses, points);
  EXPECT_TRUE(statuses.empty());
  big.resize(PathReplyLimit(10));
  Reply(HttpReply::Ok(big));
  cache.FetchPath(a, b, 10, statuses, points);
  EXPECT_EQ(statuses.size(), 3u);

  // Over quota sets the indicator; no samples; no request for no samples.
  Reply(HttpReply::Ok("{\"status\" : \"OVER_QUERY_LIMIT\"}"));
  statuses.clear();
  cache.FetchPath(a, b, 3, statuses, points);
  EXPECT_TRUE(statuses.empty());
  EXPECT_EQ(Net(), kTileNetOverQuota);
  const size_t requests = server.RequestCount();
  cache.FetchPath(a, b, 0, statuses, points);
  EXPECT_EQ(server.RequestCount(), requests);
}

}  // namespace
}  // namespace velmora

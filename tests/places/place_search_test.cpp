// The place search requests against the test web server serving recorded replies: the request
// of each service, the status checks and what they count, storing and caching, the reply size
// limit, wide and empty views, suggestions, hostile replies and the endpoint settings.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "core/format.h"
#include "core/settings.h"
#include "places/place_search_client.h"
#include "places_test_util.h"
#include "platform/text.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"
#include "tiles/tile.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;
using test::HttpTestServer;
using test::Recorded;
using Status = CPlaceSearchClient::RequestStatus;

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

constexpr char kGeocoderPath[] = "/maps/api/geocode/json";
constexpr char kPlacePath[] = "/place/search";
constexpr char kPoiPath[] = "/gss/simple";
constexpr char kSuggestPath[] = "/maps/suggest";

class PlaceSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* key : {"geocoder_host", "place_host", "poi_host", "suggest_host"})
      WriteProfileString(kPlaceSearchSection, key, server.BaseUrl());
    WriteProfileString(kPlaceSearchSection, "place_key", "0123456789abcdef0123456789abcdef");
    WriteProfileString(kPlaceSearchSection, "poi_client_id", "11111111-2222-3333-4444-555555555555");
    WriteProfileString(kPlaceSearchSection, "poi_cookie", "fedcba9876543210fedcba9876543210");
  }
  void Serve(const char* path, HttpReply reply) {
    server.RoutePrefix(path, [reply](const HttpRequestRecord&) { return reply; });
  }
  HttpRequestRecord LastRequest() const {
    auto requests = server.Requests();
    return requests.empty() ? HttpRequestRecord{} : requests.back();
  }

  test::TempDir dir;
  ScopedAppOptions options{[this](CAppOptions& o) { o.data_dir = dir.path(); }};
  HttpTestServer server;
  test::TestMapView view;
  CPlaceSearchClient client;
};

TEST_F(PlaceSearchTest, GeocoderSearchIsStoredAndCached) {
  Serve(kGeocoderPath, HttpReply::Ok(Recorded("geocoder_qingdao.json"), "application/json"));
  ASSERT_TRUE(client.Open(8));
  AddressHitList hits;
  EXPECT_EQ(client.RequestPlaceSearch("青岛 香港中路", hits), Status::kOk);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[1].name, "12号");
  const HttpRequestRecord request = LastRequest();
  EXPECT_EQ(request.path, kGeocoderPath);
  EXPECT_EQ(request.query, "address=" + UrlEncode("青岛 香港中路") + "&sensor=false");
  EXPECT_TRUE(request.cookies.empty());
  std::string cached;
  ASSERT_TRUE(client.ReadCachedReply("青岛 香港中路", &cached));
  EXPECT_EQ(cached, Recorded("geocoder_qingdao.json"));
  AddressHitList local;
  client.Search("12号", local);
  EXPECT_EQ(local.size(), 1u);

  // ZERO_RESULTS passes the check, finds nothing and is cached like any reply.
  Serve(kGeocoderPath, HttpReply::Ok(Recorded("geocoder_zero.json")));
  hits.clear();
  EXPECT_EQ(client.RequestPlaceSearch("无此地", hits), Status::kOk);
  EXPECT_TRUE(hits.empty());
  EXPECT_TRUE(client.ReadCachedReply("无此地", &cached));
}

TEST_F(PlaceSearchTest, FailedChecksAreCountedAndNothingIsKept) {
  ASSERT_TRUE(client.Open(8));
  const uint64_t limit = TileFailureCount(DS_LIMIT), failed = TileFailureCount(DS_FAILED);
  AddressHitList hits;
  std::string cached;
  Serve(kGeocoderPath, HttpReply::Ok(R"({ "results" : [], "status" : "OVER_QUERY_LIMIT" })"));
  EXPECT_EQ(client.RequestPlaceSearch("甲", hits), Status::kRejected);
  EXPECT_EQ(TileFailureCount(DS_LIMIT), limit + 1);
  EXPECT_FALSE(client.ReadCachedReply("甲", &cached));
  Serve(kGeocoderPath, HttpReply::HtmlErrorPage());
  EXPECT_EQ(client.RequestPlaceSearch("乙", hits), Status::kRejected);
  Serve(kGeocoderPath, HttpReply::Ok(R"({ "status" : "REQUEST_DENIED" })"));
  EXPECT_EQ(client.RequestPlaceSearch("丙", hits), Status::kRejected);
  EXPECT_EQ(TileFailureCount(DS_FAILED), failed + 2);
  EXPECT_FALSE(client.ReadCachedReply("乙", &cached));
  // No reply at all counts nothing.
  Serve(kGeocoderPath, HttpReply::ServerError());
  EXPECT_EQ(client.RequestPlaceSearch("丁", hits), Status::kNoReply);
  Serve(kGeocoderPath, HttpReply::Drop());
  EXPECT_EQ(client.RequestPlaceSearch("戊", hits), Status::kNoReply);
  EXPECT_EQ(TileFailureCount(DS_FAILED), failed + 2);
  EXPECT_EQ(TileFailureCount(DS_LIMIT), limit + 1);
  EXPECT_TRUE(hits.empty());
  AddressHitList all;
  client.FillList(all);
  EXPECT_TRUE(all.empty());
}

TEST_F(PlaceSearchTest, PlaceSearchAsksForTheViewBox) {
  Serve(kPlacePath, HttpReply::Ok(Recorded("place_search.json")));
  ASSERT_TRUE(client.Open(111));
  AddressHitList hits;
  EXPECT_EQ(client.RequestPlaceSearch("青岛站", hits), Status::kOk);
  EXPECT_EQ(LastRequest().query, "&query=" + UrlEncode("青岛站") +
                                     "&bounds=36.000000,120.000000,36.500000,120.500000&output=json"
                                     "&key=0123456789abcdef0123456789abcdef");
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].name, "栈桥 - 市南区太平路12号");
  EXPECT_EQ(hits[0].type, 19);
  AddressHitList local;
  client.Search("青岛站", local);
  ASSERT_EQ(local.size(), 1u);
  EXPECT_DOUBLE_EQ(local[0].lng, 120.313049);
}

TEST_F(PlaceSearchTest, PoiSearchSendsRangeCentreAndCookie) {
  Serve(kPoiPath, HttpReply::Ok(Recorded("poi_search.txt")));
  ASSERT_TRUE(client.Open(112));
  AddressHitList hits;
  EXPECT_EQ(client.RequestPlaceSearch("公园", hits), Status::kOk);
  ASSERT_EQ(hits.size(), 2u);
  const HttpRequestRecord request = LastRequest();
  EXPECT_EQ(request.query,
            "encode=utf-8&srctype=POI&number=10&batch=1&range=55659745&resType=json&retvalue=1&sid=1002&rid=700176"
            "&cenX=120.250000&cenY=36.250000&keyword=" +
                UrlEncode("公园") + "&uniqid=11111111-2222-3333-4444-555555555555&ia=1");
  EXPECT_EQ(request.Cookie("key"), "fedcba9876543210fedcba9876543210");
  // A reply that does not begin with "AMap" fails even with places in it.
  Serve(kPoiPath, HttpReply::Ok(Recorded("poi_no_amap.txt")));
  hits.clear();
  EXPECT_EQ(client.RequestPlaceSearch("小青岛", hits), Status::kRejected);
  EXPECT_TRUE(hits.empty());
  std::string cached;
  EXPECT_FALSE(client.ReadCachedReply("小青岛", &cached));
}

TEST_F(PlaceSearchTest, WideEmptyAndWrappedViews) {
  Serve(kPoiPath, HttpReply::Ok(Recorded("poi_search.txt")));
  Serve(kPlacePath, HttpReply::Ok(Recorded("place_search.json")));
  ASSERT_TRUE(client.Open(112));
  AddressHitList hits;
  // 60 degrees is over 6.6e9 range units: the range stops at the largest 32-bit value.
  view.west = -30;
  view.east = 30;
  client.RequestPlaceSearch("a", hits);
  EXPECT_NE(LastRequest().query.find("&range=2147483647&"), std::string::npos) << LastRequest().query;
  EXPECT_NE(LastRequest().query.find("&cenX=0.000000&"), std::string::npos);
  // A view across the antimeridian has its real width and centre.
  view.west = 175;
  view.east = -175;
  client.RequestPlaceSearch("b", hits);
  EXPECT_NE(LastRequest().query.find("&range=1113194907&"), std::string::npos) << LastRequest().query;
  EXPECT_NE(LastRequest().query.find("&cenX=180.000000&"), std::string::npos);
  // A view of no size (corners equal) asks about the whole world.
  ASSERT_TRUE(client.Open(111));
  view.west = view.east = 120;
  view.north = view.south = 36;
  client.RequestPlaceSearch("c", hits);
  EXPECT_NE(LastRequest().query.find("&bounds=-90.000000,-180.000000,90.000000,180.000000&"), std::string::npos);
  EXPECT_EQ(SearchRange(ViewBox{120, 36, 120, 36}), 0);
}

TEST_F(PlaceSearchTest, RepliesAreBoundedAt256KiB) {
  ASSERT_TRUE(client.Open(8));
  std::string exact = Recorded("geocoder_jinan.json");
  exact.resize(CAddressAdo::kMaxReplyBytes, ' ');
  Serve(kGeocoderPath, HttpReply::Ok(exact));
  AddressHitList hits;
  EXPECT_EQ(client.RequestPlaceSearch("济南", hits), Status::kOk);
  EXPECT_EQ(hits.size(), 1u);
  std::string cached;
  ASSERT_TRUE(client.ReadCachedReply("济南", &cached));
  EXPECT_EQ(cached.size(), CAddressAdo::kMaxReplyBytes);
  // One byte more, or 300 KiB: refused whole, never cut, nothing stored.
  for (size_t size : {CAddressAdo::kMaxReplyBytes + 1, size_t(300 * 1024)}) {
    std::string longer = Recorded("geocoder_qingdao.json");
    longer.resize(size, ' ');
    Serve(kGeocoderPath, HttpReply::Ok(longer));
    hits.clear();
    EXPECT_EQ(client.RequestPlaceSearch("青岛", hits), Status::kNoReply);
    EXPECT_TRUE(hits.empty());
    EXPECT_FALSE(client.ReadCachedReply("青岛", &cached));
  }
}

TEST_F(PlaceSearchTest, HostileRepliesOverTheWire) {
  ASSERT_TRUE(client.Open(8));
  const std::string reply = Recorded("geocoder_qingdao.json");
  AddressHitList hits;
  for (size_t n = 1; n < reply.size(); n += 61) {
    Serve(kGeocoderPath, HttpReply::Ok(reply.substr(0, n)));
    client.RequestPlaceSearch(FormatC("cut%zu", n), hits);
  }
  std::string unquoted = reply;
  std::erase(unquoted, '"');
  Serve(kGeocoderPath, HttpReply::Ok(unquoted));
  client.RequestPlaceSearch("unquoted", hits);
  std::string nul = reply;
  for (size_t i = 1; i < nul.size(); i += 13) nul[i] = '\0';
  Serve(kGeocoderPath, HttpReply::Ok(nul));
  client.RequestPlaceSearch("nul", hits);
  // Whatever those gave, the database still answers and the good reply still stores its places.
  Serve(kGeocoderPath, HttpReply::Ok(reply));
  hits.clear();
  EXPECT_EQ(client.RequestPlaceSearch("good", hits), Status::kOk);
  EXPECT_EQ(hits.size(), 2u);
  AddressHitList local;
  client.Search("12号", local);
  EXPECT_EQ(local.size(), 1u);
}

TEST_F(PlaceSearchTest, SuggestionsAroundTheCamera) {
  Serve(kSuggestPath, HttpReply::Ok(Recorded("suggest.txt")));
  view.camera.lng = 120.2;
  view.camera.lat = 36.1;
  view.camera.zoom = 10.7;
  AddressHitList hits;
  ASSERT_TRUE(client.Open(8));
  EXPECT_EQ(client.RequestSuggest("青岛", hits), Status::kNotAsked);  // not the suggestion source
  EXPECT_EQ(server.RequestCount(), 0u);
  EXPECT_FALSE(client.Open(kSearchSourceSuggest));
  EXPECT_EQ(client.RequestSuggest("青岛", hits), Status::kOk);
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_DOUBLE_EQ(hits[0].lat, 36.1234567);
  // zoom 10: the span is 360 / 2^10 degrees.
  EXPECT_EQ(LastRequest().query, "q=" + UrlEncode("青岛") +
                                     "&cp=2&hl=zh-CN&gl=cn&v=2&clid=2&ll=36.100000,120.200000&spn=0.175781,0.351562"
                                     "&src=1&num=20&numps=2");
  // Zoom 31 does not overflow.
  view.camera.zoom = 31.5;
  hits.clear();
  client.RequestSuggest("x", hits);
  EXPECT_NE(LastRequest().query.find("&spn=0.000000,0.000000&"), std::string::npos) << LastRequest().query;
}

TEST_F(PlaceSearchTest, ACancelledRequestEndsWithoutReply) {
  Serve(kGeocoderPath, HttpReply::Delayed(20000, HttpReply::Ok(Recorded("geocoder_qingdao.json"))));
  ASSERT_TRUE(client.Open(8));
  std::atomic<bool> cancel{true};
  client.SetCancelFlag(&cancel);
  AddressHitList hits;
  EXPECT_EQ(client.RequestPlaceSearch("青岛", hits), Status::kNoReply);
  client.SetCancelFlag(nullptr);
  EXPECT_TRUE(hits.empty());
}

TEST_F(PlaceSearchTest, EndpointSettings) {
  WriteProfileString(kPlaceSearchSection, "geocoder_host", "geo.example.org");
  WriteProfileString(kPlaceSearchSection, "place_host", "http://127.0.0.1:8080/");
  WriteProfileString(kPlaceSearchSection, "poi_host", "bad host/path");
  WriteProfileString(kPlaceSearchSection, "suggest_host", "");
  WriteProfileString(kPlaceSearchSection, "poi_cookie", "a;b=c");
  WriteProfileString("hosts", "112", "poi.example.net:81");
  PlaceSearchEndpoints e = PlaceSearchEndpoints::FromProfile();
  EXPECT_EQ(e.geocoder, "https://geo.example.org");
  EXPECT_EQ(e.place, "http://127.0.0.1:8080");
  EXPECT_EQ(e.poi, "http://poi.example.net:81");  // the catalogue's source host, its template's scheme
  EXPECT_EQ(e.suggest, "https://suggest.example.invalid");
  EXPECT_TRUE(e.poi_cookie.empty());
  WriteProfileString("hosts", "112", "");
  EXPECT_EQ(BuildPlaceSearchUrl(8, "", ViewBox{}, e), "");
  EXPECT_EQ(BuildPlaceSearchUrl(9, "x", ViewBox{}, e), "");
}

}  // namespace
}  // namespace velmora

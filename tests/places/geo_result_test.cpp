// The reply parsers on recorded replies of the four services, the zoom of a bounds box, and
// hostile replies: cut at every byte or inside a character, quotes missing, incomplete results,
// NUL bytes, oversized replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "places/geo_result.h"
#include "places_test_util.h"
#include "platform/text.h"

namespace velmora {
namespace {

using test::Recorded;

std::vector<std::string> Names(const GeoResult& r) {
  std::vector<std::string> names;
  for (const AddressComponent& c : r.components) names.push_back(c.name);
  return names;
}

// The text with every `from` replaced by `to`.
std::string Replaced(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  for (size_t at = text.find(from); at != std::string_view::npos; at = text.find(from)) {
    out.append(text.substr(0, at)).append(to);
    text.remove_prefix(at + from.size());
  }
  return out.append(text);
}

TEST(GeocoderReply, ComponentsWidestFirstWithoutThePostalCode) {
  std::deque<GeoResult> out;
  ASSERT_TRUE(ParseGeocoderReply(Recorded("geocoder_qingdao.json"), out));
  ASSERT_EQ(out.size(), 2u);
  // Results come in the reverse of their order in the reply.
  const GeoResult& street = out[1];
  EXPECT_EQ(Names(street), (std::vector<std::string>{"中国", "山东省", "青岛市", "市南区", "香港中路", "12号"}));
  const std::vector<int> types = {5, 6, 10, 11, 2, 21};
  for (size_t i = 0; i < types.size(); ++i) EXPECT_EQ(street.components[i].type, types[i]) << i;
  EXPECT_DOUBLE_EQ(street.lat, 36.0662);
  EXPECT_DOUBLE_EQ(street.lng, 120.3826);
  // Bounds 0.5 degree wide and 0.25 high: n = 720 both ways, zoom 11.
  EXPECT_EQ(street.zoom, 11);
  const GeoResult& district = out[0];
  EXPECT_EQ(Names(district), (std::vector<std::string>{"中国", "山东省", "青岛市", "崂山区"}));
  EXPECT_EQ(district.zoom, 0);  // no bounds
  EXPECT_DOUBLE_EQ(district.lat, 36.1072);
}

TEST(GeocoderReply, ZeroResultsAndOutOfPlaceKeys) {
  std::deque<GeoResult> out;
  EXPECT_TRUE(ParseGeocoderReply(Recorded("geocoder_zero.json"), out));
  EXPECT_TRUE(out.empty());
  // A component before any result is dropped; a location before any result ends the parse.
  EXPECT_TRUE(ParseGeocoderReply(R"({ "long_name" : "孤儿", "types" : [ "route" ] })", out));
  EXPECT_TRUE(out.empty());
  EXPECT_FALSE(ParseGeocoderReply(R"({ "location" : { "lat" : 1, "lng" : 2 } })", out));
  EXPECT_FALSE(ParseGeocoderReply(R"({ "bounds" : { "lat" : 1, "lng" : 2, "lat" : 3, "lng" : 4 } })", out));
  EXPECT_TRUE(out.empty());
  // A second location for one result ends the parse, keeping what was read.
  const char* twice = R"({ "address_components" : [ { "long_name" : "甲", "types" : [ "route" ] } ],
      "location" : { "lat" : 30.5, "lng" : 110.25 }, "location" : { "lat" : 1, "lng" : 2 } })";
  EXPECT_FALSE(ParseGeocoderReply(twice, out));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].lat, 30.5);
  EXPECT_EQ(out[0].lng, 110.25);
}

TEST(GeocoderReply, TypesAreTakenFromTheComponentItself) {
  // The first component lists no type: it must not take the second one's.
  const char* reply = R"({ "address_components" : [
      { "long_name" : "无类型", "types" : [ ] },
      { "long_name" : "中国", "types" : [ "country", "political" ] },
      { "long_name" : "100000", "types" : [ "postal_code_prefix", "postal_code" ] } ] })";
  std::deque<GeoResult> out;
  ASSERT_TRUE(ParseGeocoderReply(reply, out));
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].components.size(), 2u);
  EXPECT_EQ(out[0].components[0].name, "中国");
  EXPECT_EQ(out[0].components[0].type, 5);
  EXPECT_EQ(out[0].components[1].type, 0);
}

TEST(GeocoderReply, EscapesCompactFormAndGbk) {
  // JSON escapes are decoded; the compact form without blanks reads as well.
  std::deque<GeoResult> out;
  ASSERT_TRUE(ParseGeocoderReply(
      R"({"address_components":[{"long_name":"O\"Neil \u9752\u5c9b \ud83d\ude00","types":["route"]}],)"
      R"("location":{"lat":-33.5,"lng":151.25}})",
      out));
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].components.size(), 1u);
  EXPECT_EQ(out[0].components[0].name, "O\"Neil 青岛 \xF0\x9F\x98\x80");
  EXPECT_EQ(out[0].lat, -33.5);
  // Coordinates outside the world, or a latitude without its longitude, drop the result: it is
  // never stored at 0. A location with neither leaves the place unknown.
  out.clear();
  ASSERT_TRUE(ParseGeocoderReply(
      R"({"address_components":[{"long_name":"x","types":["route"]}],"location":{"lat":95,"lng":1e999}},)"
      R"({"address_components":[{"long_name":"y","types":["route"]}],"location":{"lat":30,"lng":-180.5}},)"
      R"({"address_components":[{"long_name":"z","types":["route"]}],"location":{"lat":30.5},"bounds":{}},)"
      R"({"address_components":[{"long_name":"w","types":["route"]}],"location":{"lng":110.5,"lat":-30.25}},)"
      R"({"address_components":[{"long_name":"v","types":["route"]}],"location":{}})",
      out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Names(out[1]), std::vector<std::string>{"w"});  // keys in the other order
  EXPECT_EQ(out[1].lat, -30.25);
  EXPECT_EQ(out[1].lng, 110.5);
  EXPECT_EQ(Names(out[0]), std::vector<std::string>{"v"});
  EXPECT_EQ(out[0].lat, 0);
}

// Each text is converted on its own: a stray byte or a character cut short spoils only the text
// it stands in (the bad byte becomes U+FFFD); every other name of the reply stays whole.
TEST(GeocoderReply, BrokenBytesSpoilOnlyTheirOwnText) {
  std::string reply = Replaced(Recorded("geocoder_qingdao.json"), "青岛市", "青\xFF岛市");  // a stray byte
  reply = Replaced(reply, "香港中路", "香\xE6中路");  // 港 cut after its first byte
  std::deque<GeoResult> out;
  ASSERT_TRUE(ParseGeocoderReply(reply, out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(Names(out[1]), (std::vector<std::string>{"中国", "山东省", "青\uFFFD岛市", "市南区",
                                                      "香\uFFFD中路", "12号"}));
  EXPECT_EQ(Names(out[0]), (std::vector<std::string>{"中国", "山东省", "青\uFFFD岛市", "崂山区"}));
  // A GBK reply's names are not read as UTF-8 names: they come out replaced, never as other
  // Chinese characters.
  out.clear();
  ASSERT_TRUE(ParseGeocoderReply(Utf8ToAnsi(std::string_view(Recorded("geocoder_jinan.json"))), out));
  ASSERT_EQ(out.size(), 1u);
  for (const std::string& name : Names(out[0])) EXPECT_TRUE(IsValidUtf8(name)) << name;
  EXPECT_NE(Names(out[0])[0], "中国");
  // The place and point-of-interest parsers treat their texts alike.
  const std::string place = Replaced(Recorded("place_search.json"), "栈桥", "栈\x80桥");
  out.clear();
  ASSERT_TRUE(ParsePlaceSearchReply(place, out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].components[0].name, "青岛站 - 市南区泰安路2号");
  EXPECT_EQ(out[0].components[0].name, "栈\uFFFD桥 - 市南区太平路12号");
}

TEST(GeocoderReply, ZoomOfBounds) {
  EXPECT_EQ(ZoomFromBounds(36.3, 120.6, 36.05, 120.1), 11);
  EXPECT_EQ(ZoomFromBounds(0, 0, -180, -360), 2);       // the whole world: n = 1
  EXPECT_EQ(ZoomFromBounds(100, 0, -100, -400), 1);     // wider than the world: n = 0 gives 1
  EXPECT_EQ(ZoomFromBounds(10, 20, 0, 20), 6);          // no width: the height decides (n = 18)
  EXPECT_EQ(ZoomFromBounds(36, 120, 36, 120), 0);       // a point: no zoom known
  EXPECT_EQ(ZoomFromBounds(36, 120, 36, 120 - 1e-12), 22);  // tiny: the deepest zoom
}

TEST(PlaceSearchReply, NameAddressAndPosition) {
  std::deque<GeoResult> out;
  ASSERT_TRUE(ParsePlaceSearchReply(Recorded("place_search.json"), out));
  ASSERT_EQ(out.size(), 2u);
  ASSERT_EQ(out[1].components.size(), 1u);
  EXPECT_EQ(out[1].components[0].name, "青岛站 - 市南区泰安路2号");
  EXPECT_EQ(out[1].components[0].type, 19);
  EXPECT_DOUBLE_EQ(out[1].lat, 36.064598);
  EXPECT_DOUBLE_EQ(out[1].lng, 120.313049);
  EXPECT_EQ(out[1].zoom, 0);
  EXPECT_EQ(out[0].components[0].name, "栈桥 - 市南区太平路12号");
  // Without a result list there is nothing.
  out.clear();
  EXPECT_TRUE(ParsePlaceSearchReply(R"({"status":"OK","name":"x"})", out));
  EXPECT_TRUE(out.empty());
}

// An incomplete result (no address, no location, one coordinate only, outside the world) is
// skipped without taking its neighbour's keys; the complete results after it still come out,
// also with their keys in another order. A result cut off at the reply's end is dropped.
TEST(PlaceSearchReply, IncompleteResultsAreSkipped) {
  std::deque<GeoResult> out;
  EXPECT_TRUE(ParsePlaceSearchReply(
      R"({"results":[{"name":"A","location":{"lat":1,"lng":2},"address":"a"},)"
      R"({"name":"B","location":{"lat":3,"lng":4}},)"
      R"({"name":"C","address":"c"},)"
      R"({"name":"D","location":{"lat":7},"address":"d"},)"
      R"({"name":"E","location":{"lat":91,"lng":8},"address":"e"},)"
      R"({"address":"f","location":{"lng":-10.5,"lat":-20.25},"name":"F"},)"
      R"({"name":"G","detail":{"tag":"x"},"location":{"lat":5,"lng":6},"address":"g"},)"
      R"({"name":"H","location":{"lat":36.06,"lng":120.3)",
      out));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[2].components[0].name, "A - a");
  EXPECT_EQ(out[1].components[0].name, "F - f");
  EXPECT_EQ(out[1].lat, -20.25);
  EXPECT_EQ(out[1].lng, -10.5);
  EXPECT_EQ(out[0].components[0].name, "G - g");
  EXPECT_EQ(out[0].lat, 5);
  // Point-of-interest places alike: one without "y", one outside the world, one with its name
  // first; the numbers in their strings must be whole numbers.
  out.clear();
  EXPECT_TRUE(ParsePoiSearchReply(
      R"(AMap([3])({"status":"E0","list":[{"address":"a","name":"A","x":"120.5"},)"
      R"({"address":"b","name":"B","x":"200","y":"30"},{"name":"C","y":"30.5","address":"c","x":"120.25"},)"
      R"({"address":"d","name":"D","x":"12x","y":"30"},{"address":"e","name":"E","y":"-1","x":"-2"}]}))",
      out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].components[0].name, "C - c");
  EXPECT_EQ(out[1].lat, 30.5);
  EXPECT_EQ(out[1].lng, 120.25);
  EXPECT_EQ(out[0].components[0].name, "E - e");
}

TEST(PoiSearchReply, PlacesInEitherCoordinateOrder) {
  std::deque<GeoResult> out;
  ASSERT_TRUE(ParsePoiSearchReply(Recorded("poi_search.txt"), out));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].components[0].name, "小青岛公园 - 市南区太平路");
  EXPECT_DOUBLE_EQ(out[1].lng, 120.322115);
  EXPECT_DOUBLE_EQ(out[1].lat, 36.056202);
  EXPECT_EQ(out[0].components[0].name, "鲁迅公园 - 市南区莱阳路");
  EXPECT_DOUBLE_EQ(out[0].lng, 120.333031);
  EXPECT_DOUBLE_EQ(out[0].lat, 36.058712);
  out.clear();
  EXPECT_FALSE(ParsePoiSearchReply(R"({"status":"E1","list":[]})", out));
}

TEST(SuggestReply, ThreeEntriesInE7Units) {
  AddressHitList hits;
  ASSERT_TRUE(ParseSuggestReply(Recorded("suggest.txt"), hits));
  ASSERT_EQ(hits.size(), 3u);
  EXPECT_EQ(hits[0].name, "青岛");
  EXPECT_DOUBLE_EQ(hits[0].lat, 36.1234567);
  EXPECT_DOUBLE_EQ(hits[0].lng, 120.3456789);
  EXPECT_DOUBLE_EQ(hits[1].lat, 0.05);
  EXPECT_EQ(hits[2].name, "青岛大学");
  for (const AddressHit& h : hits) {
    EXPECT_EQ(h.type, 19);
    EXPECT_EQ(h.zoom, 0);
    EXPECT_EQ(h.parent_id, 0);
    EXPECT_EQ(h.parent_type, 0);
  }
  // An entry without coordinates is passed over, not given the next entry's.
  hits.clear();
  ParseSuggestReply(R"({query:"甲",x:1},{query:"乙",geocode:{lat_e7:10,lng_e7:20}})", hits);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].name, "乙");
}

// Every parser on every prefix of every recorded reply, on copies with their quotes removed one
// at a time, and on NUL bytes: none may read outside the reply (AddressSanitizer checks) and
// each keeps at most the results of the whole reply.
TEST(HostileReplies, CutQuotesAndNulBytes) {
  const std::string replies[] = {Recorded("geocoder_qingdao.json"), Recorded("geocoder_jinan.json"),
                                 Recorded("place_search.json"), Recorded("poi_search.txt"), Recorded("suggest.txt")};
  auto run_all = [](std::string_view bytes) {
    // The parsers see exactly these bytes, in a buffer of their own, so that a read past the
    // end is caught.
    std::vector<char> copy(bytes.begin(), bytes.end());
    std::string_view view(copy.data(), copy.size());
    std::deque<GeoResult> out;
    ParseGeocoderReply(view, out);
    ParsePlaceSearchReply(view, out);
    ParsePoiSearchReply(view, out);
    AddressHitList hits;
    ParseSuggestReply(view, hits);
    return out.size() + hits.size();
  };
  for (const std::string& reply : replies) {
    const size_t whole = run_all(reply);
    for (size_t n = 0; n < reply.size(); ++n) EXPECT_LE(run_all(std::string_view(reply).substr(0, n)), whole);
    for (size_t q = reply.find('"'); q != std::string::npos; q = reply.find('"', q + 1)) {
      std::string cut = reply;
      cut.erase(q, 1);
      run_all(cut);
    }
    std::string nul = reply;
    for (size_t i = 0; i < nul.size(); i += 7) nul[i] = '\0';
    run_all(nul);
  }
  // NUL bytes inside names do not cut them short and never reach the result raw.
  std::deque<GeoResult> out;
  static const char kNul[] = "{ \"address_components\" : [ { \"long_name\" : \"a\0b\", \"types\" : [ \"route\" ] } ] }";
  ParseGeocoderReply(std::string_view(kNul, sizeof kNul - 1), out);
  ASSERT_EQ(out.size(), 1u);
  ASSERT_EQ(out[0].components.size(), 1u);
  EXPECT_EQ(out[0].components[0].name, "a\xEF\xBF\xBD" "b");
}

TEST(HostileReplies, LargeRepliesStayLinear) {
  // 300 KiB of keys that each start a search: every parser finishes and stays inside the bytes.
  std::string big = "{";
  while (big.size() < 300 * 1024) big += R"("address_components" : [ { "long_name" : "x", "types" : [ "route" ] } ], "location" : )";
  std::deque<GeoResult> out;
  ParseGeocoderReply(big, out);
  EXPECT_GT(out.size(), 0u);
  std::string names = R"({"results":[)";
  while (names.size() < 300 * 1024) names += R"({"name":"n","location":{"lat":1)";
  out.clear();
  ParsePlaceSearchReply(names, out);
  EXPECT_TRUE(out.empty());
  std::string queries;
  while (queries.size() < 300 * 1024) queries += R"(query:"q",lat_e7:1)";
  AddressHitList hits;
  ParseSuggestReply(queries, hits);
  EXPECT_TRUE(hits.empty());
}

}  // namespace
}  // namespace velmora

// The search box's web worker beside the user-interface thread: the window stays usable while a
// reply is slow, a newer search supersedes an older one (whose answer is dropped), a source
// change waits for the request under way to end, closing the program during a search does not
// hang, and many searches in a row end with the last one's hits.
#include <chrono>
#include <string>
#include <vector>

#include "core/format.h"
#include "place_search_ui_util.h"
#include "platform/ui/wait_cursor.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;

const test::TempDir& kFolders = test::IsolatedFolders(test::OneGeocoderProgramFolder().c_str());

// A geocoder reply with one street named after the query.
std::string StreetReply(const std::string& street) {
  return FormatC(R"({ "results" : [ { "address_components" : [
      { "long_name" : "%s", "types" : [ "route" ] },
      { "long_name" : "青岛市", "types" : [ "locality", "political" ] } ],
      "geometry" : { "location" : { "lat" : 36.1, "lng" : 120.3 } } } ], "status" : "OK" })",
                 street.c_str());
}

// The text after "address=" (ASCII queries only in these tests).
std::string QueryText(const HttpRequestRecord& request) {
  const size_t at = request.query.find("address=") + 8;
  return request.query.substr(at, request.query.find('&', at) - at);
}

class SearchBoxThreadsTest : public test::PlaceSearchAppTest {
 protected:
  // Queries starting with "slow" are answered after a minute; the others at once.
  void ServeStreets() {
    server.RoutePrefix("/maps/api/geocode/json", [](const HttpRequestRecord& request) {
      const std::string text = QueryText(request);
      HttpReply reply = HttpReply::Ok(StreetReply(text), "application/json");
      return text.starts_with("slow") ? HttpReply::Delayed(60000, reply) : reply;
    });
  }
  static double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
  }
};

TEST_F(SearchBoxThreadsTest, ANewerSearchSupersedesASlowOne) {
  Start();
  ServeStreets();
  Type("slowroad");
  Enter();
  // The window is not held: the request runs on the worker.
  EXPECT_TRUE(box->IsSearchingWeb());
  EXPECT_GT(WaitCursorCount(), 0);
  ASSERT_TRUE(server.WaitForRequests(1));
  Type("fastroad");
  Enter();
  ASSERT_TRUE(WaitForWeb());
  EXPECT_EQ(box->Hits().size(), 1u);
  EXPECT_EQ(box->Hits()[0].name, "fastroad");
  EXPECT_EQ(WaitCursorCount(), 0);
  // The slow one was cancelled, and nothing of it shows later.
  UiDispatcher().PumpUntil([] { return false; }, 200);
  EXPECT_EQ(box->Hits()[0].name, "fastroad");
}

TEST_F(SearchBoxThreadsTest, ClosingTheProgramDuringASearchDoesNotHang) {
  Start();
  ServeStreets();
  Type("slowclose");
  Enter();
  ASSERT_TRUE(server.WaitForRequests(1));
  const auto start = std::chrono::steady_clock::now();
  Stop();
  // The request is cancelled; far less than the reply's minute.
  EXPECT_LT(Seconds(start), 20.0);
  EXPECT_EQ(WaitCursorCount(), 0);
}

TEST_F(SearchBoxThreadsTest, ASourceChangeWaitsForTheRequestUnderWay) {
  Start();
  ServeStreets();
  Type("slowswitch");
  Enter();
  ASSERT_TRUE(server.WaitForRequests(1));
  const auto start = std::chrono::steady_clock::now();
  box->SetSource(kSearchSourceSuggest);
  EXPECT_LT(Seconds(start), 20.0);
  EXPECT_FALSE(box->IsSearchingWeb());
  EXPECT_EQ(box->Source(), kSearchSourceSuggest);
  // Nothing of the old library's request reached the new source.
  UiDispatcher().PumpUntil([] { return false; }, 200);
  EXPECT_TRUE(box->Hits().empty());
  box->SetSource(8);
  AddressHitList found;
  box->CAddressAdo::Search("slowswitch", found);
  EXPECT_TRUE(found.empty());
}

TEST_F(SearchBoxThreadsTest, ManySearchesInARowEndWithTheLastOnesHits) {
  Start();
  ServeStreets();
  for (int i = 0; i < 25; ++i) {
    Type(FormatC("road%d", i));
    if (i % 3 == 0) Advance(500);  // some by the pause, the rest by Enter
    Enter();
    UiDispatcher().PumpPending();
  }
  ASSERT_TRUE(WaitForWeb());
  ASSERT_EQ(box->Hits().size(), 1u);
  EXPECT_EQ(box->Hits()[0].name, "road24");
  EXPECT_EQ(WaitCursorCount(), 0);
  // Every answered request stored its street; the local library finds the last one.
  AddressHitList found;
  box->CAddressAdo::Search("road24", found);
  EXPECT_EQ(found.size(), 1u);
}

}  // namespace
}  // namespace velmora

// One address database shared by the search box's thread and workers: web searches that store
// and cache their replies, local searches and list fills, all at once.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/format.h"
#include "core/settings.h"
#include "places/place_search_client.h"
#include "places_test_util.h"
#include "support/http_test_server.h"
#include "support/isolated_folders.h"

namespace velmora {
namespace {

using test::HttpReply;
using test::HttpRequestRecord;

const test::TempDir& kFolders = test::IsolatedFolders(test::kSourceDataDir);

// A geocoder reply naming one street of its own under a shared country, province and city.
std::string StreetReply(const std::string& street) {
  return FormatC(R"({ "results" : [ { "address_components" : [
      { "long_name" : "%s", "types" : [ "route" ] },
      { "long_name" : "青岛市", "types" : [ "locality", "political" ] },
      { "long_name" : "山东省", "types" : [ "administrative_area_level_1", "political" ] },
      { "long_name" : "中国", "types" : [ "country", "political" ] } ],
      "geometry" : { "location" : { "lat" : 36.1, "lng" : 120.3 } } } ], "status" : "OK" })",
                 street.c_str());
}

TEST(AddressAdoThreads, SearchesStoresAndReadsAtOnce) {
  test::TempDir dir;
  ScopedAppOptions options([&](CAppOptions& o) { o.data_dir = dir.path(); });
  test::HttpTestServer server;
  // The street is the query's text after "address=".
  server.RoutePrefix("/maps/api/geocode/json", [](const HttpRequestRecord& request) {
    const size_t at = request.query.find("address=") + 8;
    return HttpReply::Ok(StreetReply(request.query.substr(at, request.query.find('&', at) - at)));
  });
  WriteProfileString(kPlaceSearchSection, "geocoder_host", server.BaseUrl());
  test::TestMapView view;
  CPlaceSearchClient client;
  ASSERT_TRUE(client.Open(8));

  constexpr int kWorkers = 3, kEach = 15;
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};
  std::vector<std::thread> workers;
  for (int w = 0; w < kWorkers; ++w) {
    workers.emplace_back([&, w] {
      for (int i = 0; i < kEach; ++i) {
        AddressHitList hits;
        const std::string street = FormatC("road%d_%d", w, i);
        if (client.RequestPlaceSearch(street, hits) != CPlaceSearchClient::RequestStatus::kOk || hits.size() != 1)
          ++failures;
      }
    });
  }
  std::thread reader([&] {
    while (!done.load()) {
      AddressHitList hits;
      client.Search("road", hits);
      for (const AddressHit& h : hits)
        if (!h.name.starts_with("中国山东省青岛市road")) ++failures;
      hits.clear();
      client.FillList(hits);
      std::string cached;
      client.ReadCachedReply("road0_0", &cached);
    }
  });
  for (std::thread& t : workers) t.join();
  done = true;
  reader.join();
  EXPECT_EQ(failures.load(), 0);
  AddressHitList all;
  client.FillList(all);
  EXPECT_EQ(all.size(), size_t(kWorkers * kEach));
  for (int w = 0; w < kWorkers; ++w) {
    std::string cached;
    EXPECT_TRUE(client.ReadCachedReply(FormatC("road%d_%d", w, kEach - 1), &cached));
  }
}

}  // namespace
}  // namespace velmora

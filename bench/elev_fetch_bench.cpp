// Elevation fetch speed: CElevCacheDb::FetchPoint over N points from the in-test elevation
// service on 127.0.0.1 (request, reply scan and both cache inserts), beside libcurl fetching the
// same addresses over one kept-alive connection in the same run; the ratio is printed at the end
// (goal: the fetch within 2x of the plain transfer). The download walk's 1 ms quit polls are not
// part of it.
//
// Own flag, given before Google Benchmark's:
//   --points=N   points per iteration (default 10000)
// Everything the benchmark writes is deleted at the end.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include "bench_support.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/format.h"
#include "core/settings.h"
#include "support/http_test_server.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"

namespace velmora {
namespace {

struct Fixture {
  int points = 10000;
  std::string dir;
  std::unique_ptr<test::HttpTestServer> server;
  std::vector<std::pair<float, float>> positions;  // per run: a fresh set, so every insert is new
  int run = 0;
};
Fixture g;

test::HttpReply Answer(const test::HttpRequestRecord& request) {
  const size_t at = request.query.find("locations=");
  const size_t comma = request.query.find(',', at);
  const auto lat = ParseDouble(request.query.substr(at + 10, comma - at - 10));
  const auto lng = ParseDouble(request.query.substr(comma + 1, request.query.find('&', comma) - comma - 1));
  if (at == std::string::npos || !lat || !lng) return test::HttpReply::Status(400, "bad request");
  return test::HttpReply::Ok(
      FormatC("{\n   \"results\" : [\n      {\n         \"elevation\" : %.10f,\n         \"location\" : {\n"
              "            \"lat\" : %.8f,\n            \"lng\" : %.8f\n         },\n"
              "         \"resolution\" : 9.543951988220215\n      }\n   ],\n   \"status\" : \"OK\"\n}\n",
              1000 + *lat, *lat, *lng),
      "application/json");
}

// The positions of run `run`: a 100-column grid at 1 m steps, shifted by run.
std::vector<std::pair<float, float>> Positions(int run) {
  std::vector<std::pair<float, float>> p;
  p.reserve(static_cast<size_t>(g.points));
  for (int i = 0; i < g.points; ++i) {
    float lon = static_cast<float>(116.0 + (i % 100) * 1e-5), lat = static_cast<float>(30.0 + run * 0.01 + (i / 100) * 1e-5);
    CElevationStore::NormalizePosition(&lon, &lat, 1);
    p.emplace_back(lon, lat);
  }
  return p;
}

std::string PointUrl(float lon, float lat) {
  return g.server->BaseUrl() +
         FormatC("/maps/api/elevation/json?locations=%.14f,%.14f&sensor=false", static_cast<double>(lat),
                 static_cast<double>(lon));
}

void FetchPointBench(benchmark::State& state) {
  CElevCacheDb cache(g.dir + "cache/");
  if (!cache.Open()) {
    state.SkipWithError("the cache cannot be opened");
    return;
  }
  for (auto _ : state) {
    state.PauseTiming();
    const auto positions = Positions(++g.run);
    state.ResumeTiming();
    int failed = 0;
    for (const auto& [x, y] : positions) {
      float lon = x, lat = y, h = 0;
      failed += cache.FetchPoint(&lon, &lat, &h) != kElevFetched;
    }
    if (failed) state.SkipWithError("a point was not fetched");
  }
  state.SetItemsProcessed(state.iterations() * g.points);
}

size_t Keep(char* data, size_t size, size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

void CurlPeerBench(benchmark::State& state) {
  CURL* curl = curl_easy_init();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Keep);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  for (auto _ : state) {
    state.PauseTiming();
    const auto positions = Positions(++g.run);
    std::vector<std::string> urls;
    for (const auto& [x, y] : positions) urls.push_back(PointUrl(x, y));
    state.ResumeTiming();
    for (const std::string& url : urls) {
      body.clear();
      curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
      if (curl_easy_perform(curl) != CURLE_OK || body.find("elevation") == std::string::npos) {
        state.SkipWithError("curl could not fetch a point");
        break;
      }
    }
  }
  curl_easy_cleanup(curl);
  state.SetItemsProcessed(state.iterations() * g.points);
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (bench::ParseFlag(argv[i], "--points", &v))
      g.points = std::max(1, std::atoi(v.c_str()));
    else
      rest.push_back(argv[i]);
  }
  int rest_argc = static_cast<int>(rest.size());
  benchmark::Initialize(&rest_argc, rest.data());
  g.dir = bench::MakeBenchFolder("", "elev-fetch");
  if (g.dir.empty()) return 1;
  curl_global_init(CURL_GLOBAL_DEFAULT);
  g.server = std::make_unique<test::HttpTestServer>();
  g.server->RoutePrefix("/maps/api/elevation/json", Answer);
  WriteProfileString(kElevationProfileSection, kElevationHostKey, g.server->BaseUrl());
  benchmark::RegisterBenchmark("FetchPoint", FetchPointBench)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("CurlOneConnection", CurlPeerBench)->Iterations(2)->UseRealTime()->Unit(benchmark::kMillisecond);
  bench::RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double ours = reporter.Rate("FetchPoint"), peer = reporter.Rate("CurlOneConnection");
  if (ours > 0 && peer > 0) {
    std::printf("\nratio (points per second): curl / FetchPoint = %.2f (goal: at most 2)\n", peer / ours);
    std::printf("connections the service saw: %d\n", g.server->ConnectionCount());
  }
  g.server.reset();
  curl_global_cleanup();
  std::error_code ec;
  std::filesystem::remove_all(g.dir, ec);
  benchmark::Shutdown();
  return 0;
}

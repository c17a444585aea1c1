// Speed of the I/O layers: HTTP GET on a kept-alive connection, mapped height samples,
// the .kmp transform and indexed SQLite reads.
#include <benchmark/benchmark.h>

#include <random>

#include "core/http.h"
#include "core/scrambled_data.h"
#include "platform/db.h"
#include "platform/mapped_file.h"
#include "support/http_test_server.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

void BM_HttpFetchTileKeepAlive(benchmark::State& state) {
  test::HttpTestServer server;
  const std::string tile(static_cast<size_t>(state.range(0)), 'T');
  server.Route("/tile.png", test::HttpReply::Ok(tile, "image/png"));
  const std::string url = server.Url("/tile.png");
  HttpOptions options;
  options.use_proxy = false;
  for (auto _ : state) {
    HttpResult r = HttpFetch(url, options);
    if (!r.Ok()) state.SkipWithError("fetch failed");
    benchmark::DoNotOptimize(r.body.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_HttpFetchTileKeepAlive)->Arg(16 << 10)->Arg(256 << 10)->UseRealTime();

// A 1-arc-second height file (3600 x 3600 samples), sampled at random points.
void BM_MappedHeightSample(benchmark::State& state) {
  static test::TempDir dir;
  static const std::string path = [] {
    std::string bytes(3600u * 3600u * 2u, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
    test::WriteTestFile(dir.File("1.amh"), bytes);
    return dir.File("1.amh");
  }();
  CMappedFile file;
  if (!file.Open(path)) {
    state.SkipWithError("cannot map");
    return;
  }
  std::mt19937 rng(7);
  std::uniform_int_distribution<uint32_t> cell(0, 3600u * 3600u - 1);
  int64_t sum = 0;
  for (auto _ : state) sum += file.ReadI16(uint64_t{cell(rng)} * 2).value_or(-9999);
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MappedHeightSample);

void BM_ScrambleRoundTrip(benchmark::State& state) {
  const std::string plain(static_cast<size_t>(state.range(0)), 'p');
  for (auto _ : state) {
    auto back = UnscrambleBytes(ScrambleBytes(plain));
    benchmark::DoNotOptimize(back);
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ScrambleRoundTrip)->Arg(1 << 20);

// The elevation cache's lookup: one indexed select per point, prepared once or per call.
void BM_SqliteSelectByKey(benchmark::State& state) {
  static test::TempDir dir;
  SqliteDb db;
  db.Open(dir.File("cache.kdb"));
  static bool filled = false;
  if (!filled) {
    db.Exec("CREATE TABLE tiles (pos int, h float, PRIMARY KEY (pos))");
    SqliteTransaction tx(db);
    SqliteStatement ins = db.Prepare("INSERT INTO tiles VALUES (?, ?)");
    for (int64_t i = 0; i < 200000; ++i) {
      ins.BindAll({i * 7919, static_cast<double>(i % 5000)});
      ins.StepRow();
      ins.Reset();
    }
    tx.Commit();
    filled = true;
  }
  const bool reuse = state.range(0) != 0;
  SqliteStatement kept = db.Prepare("SELECT h FROM tiles WHERE pos = ?");
  std::mt19937 rng(3);
  std::uniform_int_distribution<int64_t> key(0, 199999);
  double sum = 0;
  for (auto _ : state) {
    SqliteStatement fresh;
    SqliteStatement& st = reuse ? kept : (fresh = db.Prepare("SELECT h FROM tiles WHERE pos = ?"));
    st.Bind(1, key(rng) * 7919);
    if (st.StepRow() == SqliteStatement::Step::kRow) sum += st.ColumnDouble(0);
    st.Reset();
  }
  benchmark::DoNotOptimize(sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SqliteSelectByKey)->Arg(0)->Arg(1);

}  // namespace
}  // namespace velmora
BENCHMARK_MAIN();

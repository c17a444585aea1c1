// Address database search beside one SQLite query with a recursive CTE, on the same 100,000
// places in the same run. The places form realistic parent chains (country, provinces, cities,
// districts, streets, then house numbers and points of interest under the streets); our search
// runs CAddressAdo::Search (35 LIKE scans, then each hit's ancestors through the key, shared
// ancestors remembered); the peer holds the same rows in one table indexed by (type, id) and
// answers with one recursive query. Both give the same hits (checked before timing). Prints each
// search's time and the ratio. Goal: under 50 ms per search and at most 2x the CTE.
// Flags: --places=N (100000).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "places/address_ado.h"
#include "platform/db.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

using bench::ParseFlag;
using bench::RateReporter;

// Characters names are made of: a syllable's chance to appear in a name is about 1 in 80.
const char* const kSyllables[] = {
    "华", "山", "东", "西", "南", "北", "中", "新", "安", "平", "江", "河", "湖", "海", "阳", "明", "光", "昌",
    "兴", "福", "德", "和", "泰", "宁", "康", "永", "长", "春", "秋", "金", "银", "玉", "石", "林", "松", "柏",
    "梅", "兰", "竹", "菊", "龙", "凤", "虎", "鹤", "云", "天", "地", "文", "武", "荣", "盛", "丰", "富", "贵",
    "吉", "祥", "瑞", "庆", "宝", "源", "清", "泉", "溪", "桥", "港", "湾", "岛", "峰", "岭", "坡", "原", "田",
    "花", "园", "城", "关", "门", "台", "楼", "塔", "寺", "庙"};
constexpr int kSyllableCount = sizeof kSyllables / sizeof kSyllables[0];

struct Options {
  int places = 100000;
};
Options g_options;

struct Fixture {
  test::TempDir dir;
  std::unique_ptr<ScopedAppOptions> scoped;
  CAddressAdo ado;
  SqliteDb peer;
  SqliteStatement cte;
  bool ok = false;
};
std::unique_ptr<Fixture> g;

std::string RandomName(std::mt19937& rng, const char* suffix) {
  std::uniform_int_distribution<int> pick(0, kSyllableCount - 1);
  std::uniform_int_distribution<int> length(2, 3);
  std::string name;
  for (int i = length(rng); i > 0; --i) name += kSyllables[pick(rng)];
  return name + suffix;
}

constexpr char kCteSql[] = R"(
WITH RECURSIVE up(t, i, name, lng, lat, zoom, hpid, hptype, pid, ptype, prefix, depth) AS (
  SELECT type, id, name, lng, lat, zoom, parent_id, parent_type, parent_id, parent_type, '', 0 FROM places
  WHERE name LIKE ?1 ESCAPE '\' AND NOT (lng = 0 AND lat = 0 AND zoom = 0)
  UNION ALL
  SELECT up.t, up.i, up.name, up.lng, up.lat, up.zoom, up.hpid, up.hptype, p.parent_id, p.parent_type,
         p.name || up.prefix, up.depth + 1
  FROM up JOIN places p ON p.type = up.ptype AND p.id = up.pid
  WHERE up.depth < 64)
SELECT t, prefix || name, lng, lat, zoom, hpid, hptype FROM up
WHERE depth = 64 OR NOT EXISTS (SELECT 1 FROM places p WHERE p.type = up.ptype AND p.id = up.pid)
ORDER BY t, i)";

bool Build() {
  g = std::make_unique<Fixture>();
  g->scoped = std::make_unique<ScopedAppOptions>([](CAppOptions& o) { o.data_dir = g->dir.path(); });
  const auto start = std::chrono::steady_clock::now();
  if (!g->ado.Open(8)) return false;
  std::mt19937 rng(42);
  std::uniform_real_distribution<double> lng(73, 135), lat(18, 53);
  std::bernoulli_distribution positioned(0.5);
  int count = 0;
  const double no_position[3] = {0, 0, 0};
  auto add = [&](const char* suffix, int type, int parent, int parent_type, bool leaf) {
    double p[3] = {lng(rng), lat(rng), double(leaf ? 17 : 12)};
    ++count;
    return g->ado.AddAddress({RandomName(rng, suffix), type}, parent, parent_type,
                             leaf || positioned(rng) ? p : no_position);
  };
  g->ado.Db().Exec("BEGIN");
  const int country = g->ado.AddAddress({"中国", 5}, 0, 0, nullptr);
  ++count;
  std::vector<std::pair<int, int>> streets;  // (id, type)
  for (int pv = 0; pv < 34 && count < g_options.places; ++pv) {
    const int province = add("省", 6, country, 5, false);
    for (int c = 0; c < 10 && count < g_options.places; ++c) {
      const int city = add("市", 10, province, 6, false);
      for (int d = 0; d < 8 && count < g_options.places; ++d) {
        const int district = add("区", 11, city, 10, false);
        for (int s = 0; s < 10 && count < g_options.places; ++s) streets.push_back({add("路", 2, district, 11, false), 2});
      }
    }
  }
  std::uniform_int_distribution<size_t> street(0, streets.size() - 1);
  std::bernoulli_distribution poi(0.4);
  std::uniform_int_distribution<int> number(1, 999);
  while (count < g_options.places) {
    const auto [sid, stype] = streets[street(rng)];
    if (poi(rng))
      add("店", 19, sid, stype, true);
    else
      add((std::to_string(number(rng)) + "号").c_str(), 21, sid, stype, true);
  }
  if (!g->ado.Db().Exec("COMMIT")) return false;
  std::printf("fixture: %d places in %.1f s\n", count,
              std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

  // The peer: the same rows in one table with an index on (type, id).
  if (!g->peer.Open(g->dir.File("peer.db"))) return false;
  std::string copy = "CREATE TABLE places(type INTEGER, id INTEGER, name TEXT COLLATE NOCASE, lng REAL, lat REAL,"
                     " zoom INTEGER, parent_id INTEGER, parent_type INTEGER, PRIMARY KEY(type, id));"
                     "ATTACH '" + CAddressAdo::DatabasePath(8) + "' AS src; BEGIN;";
  for (int n = 0; n < kAddressTypeCount; ++n)
    copy += FormatC("INSERT INTO places SELECT %d, id, name, lng, lat, zoom, parent_id, parent_type FROM src.addr%d;", n, n);
  copy += "COMMIT; DETACH src; ANALYZE;";
  if (!g->peer.Exec(copy.c_str())) {
    std::fprintf(stderr, "peer: %s\n", g->peer.LastError().c_str());
    return false;
  }
  g->cte = g->peer.Prepare(kCteSql);
  if (!g->cte) {
    std::fprintf(stderr, "peer: %s\n", g->peer.LastError().c_str());
    return false;
  }
  g->ok = true;
  return true;
}

void RunCte(const std::string& pattern, AddressHitList& out) {
  g->cte.Reset();
  g->cte.Bind(1, std::string_view(pattern));
  while (g->cte.StepRow() == SqliteStatement::Step::kRow) {
    AddressHit h;
    h.type = static_cast<int16_t>(g->cte.ColumnInt(0));
    h.name = g->cte.ColumnText(1);
    h.lng = g->cte.ColumnDouble(2);
    h.lat = g->cte.ColumnDouble(3);
    h.zoom = g->cte.ColumnDouble(4);
    h.parent_id = g->cte.ColumnInt(5);
    h.parent_type = static_cast<int16_t>(g->cte.ColumnInt(6));
    out.push_back(std::move(h));
  }
}

std::string Pattern(const std::string& text) { return "%" + text + "%"; }

void Search(benchmark::State& state, const std::string& text) {
  size_t hits = 0;
  for (auto _ : state) {
    AddressHitList out;
    g->ado.Search(text, out);
    hits = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["hits"] = static_cast<double>(hits);
  state.SetItemsProcessed(state.iterations());
}

void SearchCte(benchmark::State& state, const std::string& text) {
  size_t hits = 0;
  const std::string pattern = Pattern(text);
  for (auto _ : state) {
    AddressHitList out;
    RunCte(pattern, out);
    hits = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["hits"] = static_cast<double>(hits);
  state.SetItemsProcessed(state.iterations());
}

// Both searches must give the same hits, in the same order.
bool SameHits(const std::string& text) {
  AddressHitList ours, theirs;
  g->ado.Search(text, ours);
  RunCte(Pattern(text), theirs);
  if (ours != theirs) {
    std::fprintf(stderr, "\"%s\": search %zu hits, CTE %zu hits, not the same\n", text.c_str(), ours.size(),
                 theirs.size());
    return false;
  }
  std::printf("\"%s\": %zu hits, the same from both\n", text.c_str(), ours.size());
  return true;
}

}  // namespace
}  // namespace velmora

int main(int argc, char** argv) {
  using namespace velmora;
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    std::string v;
    if (ParseFlag(argv[i], "--places", &v))
      g_options.places = std::atoi(v.c_str());
    else
      rest.push_back(argv[i]);
  }
  if (g_options.places < 100) {
    std::fprintf(stderr, "--places must be at least 100\n");
    return 2;
  }
  int rest_count = static_cast<int>(rest.size());
  benchmark::Initialize(&rest_count, rest.data());
  SetLogToStderr(false);
  int status = 1;
  // A common syllable (about one name in eighty), a rare pair, and a text no name holds.
  const std::pair<const char*, std::string> searches[] = {{"common", "华"}, {"rare", "华山"}, {"none", "无此名"}};
  if (Build()) {
    bool same = true;
    for (const auto& [label, text] : searches) same = SameHits(text) && same;
    for (const auto& [label, text] : searches) {
      benchmark::RegisterBenchmark((std::string("Search/") + label).c_str(),
                                   [text](benchmark::State& s) { Search(s, text); })
          ->Unit(benchmark::kMillisecond);
      benchmark::RegisterBenchmark((std::string("SearchCte/") + label).c_str(),
                                   [text](benchmark::State& s) { SearchCte(s, text); })
          ->Unit(benchmark::kMillisecond);
    }
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nsearch : one recursive CTE query (%d places; goal under 50 ms and at most 2x)\n", g_options.places);
    for (const auto& [label, text] : searches) {
      const double ours = reporter.Rate(std::string("Search/") + label);
      const double theirs = reporter.Rate(std::string("SearchCte/") + label);
      if (ours > 0 && theirs > 0)
        std::printf("%-8s search %8.2f ms  CTE %8.2f ms  time ratio %.2f\n", label, 1000 / ours, 1000 / theirs,
                    theirs / ours);
    }
    status = same ? 0 : 1;
  }
  g.reset();
  benchmark::Shutdown();
  return status;
}

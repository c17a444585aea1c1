// The address database on real SQLite files in a temporary folder: storing replies as a tree,
// searching with ancestors' names, names that SQL text would break, the rebuild from the reply
// cache (after a delete, a damaged file, an incomplete file and a rebuild cut short by a killed
// process), and the reply cache's keys.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/format.h"
#include "core/settings.h"
#include "places/address_ado.h"
#include "places_test_util.h"
#include "platform/db.h"
#include "platform/text.h"
#include "support/isolated_folders.h"
#include "tiles/tile_store.h"

namespace velmora {
namespace {

using test::Recorded;

const test::TempDir& kFolders = test::IsolatedFolders();

class AddressAdoTest : public ::testing::Test {
 protected:
  std::string Path(const char* name) const { return dir.File(name); }

  // Every row of every table: "N|id|name|lng|lat|zoom|parent_id|parent_type".
  std::vector<std::string> Dump(int id = 8) {
    SqliteDb db;
    EXPECT_TRUE(db.Open(CAddressAdo::DatabasePath(id)));
    std::vector<std::string> rows;
    for (int n = 0; n < kAddressTypeCount; ++n) {
      SqliteStatement st = db.Prepare(FormatC("SELECT id, name, lng, lat, zoom, parent_id, parent_type FROM addr%d ORDER BY id", n));
      if (!st) {
        rows.push_back(FormatC("addr%d missing", n));
        continue;
      }
      while (st.StepRow() == SqliteStatement::Step::kRow)
        rows.push_back(FormatC("%d|%lld|%s|%.6f|%.6f|%lld|%lld|%lld", n, (long long)st.ColumnInt64(0), st.ColumnText(1).c_str(),
                               st.ColumnDouble(2), st.ColumnDouble(3), (long long)st.ColumnInt64(4),
                               (long long)st.ColumnInt64(5), (long long)st.ColumnInt64(6)));
    }
    return rows;
  }
  int64_t Rows(int table) {
    SqliteDb db;
    EXPECT_TRUE(db.Open(CAddressAdo::DatabasePath(8)));
    DbValue v = db.QueryValue(FormatC("SELECT count(*) FROM addr%d", table));
    return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : -1;
  }
  static std::vector<std::string> HitNames(const AddressHitList& hits) {
    std::vector<std::string> names;
    for (const AddressHit& h : hits) names.push_back(h.name);
    return names;
  }
  // What a web search does with a reply: store its places, then cache it under the query.
  static void Answer(CAddressAdo& ado, const std::string& query, const std::string& reply) {
    AddressHitList hits;
    ado.AddSearchReply(reply, hits);
    ASSERT_TRUE(ado.CacheReply(query, reply));
  }

  test::TempDir dir;
  ScopedAppOptions options{[this](CAppOptions& o) { o.data_dir = dir.path(); }};
};

TEST_F(AddressAdoTest, RepliesGrowOneTreeOfPlaces) {
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  EXPECT_TRUE(std::filesystem::exists(Path("8_adr.km")));
  EXPECT_TRUE(std::filesystem::exists(Path("8_adr.img")));
  AddressHitList hits;
  EXPECT_TRUE(ado.AddSearchReply(Recorded("geocoder_qingdao.json"), hits));
  ASSERT_EQ(hits.size(), 2u);
  // One hit per result, in the reverse of the reply's order: the narrowest component.
  EXPECT_EQ(hits[0].name, "崂山区");
  EXPECT_EQ(hits[0].type, 11);
  EXPECT_EQ(hits[0].parent_type, 10);
  EXPECT_EQ(hits[1].name, "12号");
  EXPECT_EQ(hits[1].type, 21);
  EXPECT_EQ(hits[1].parent_type, 2);
  EXPECT_EQ(hits[1].zoom, 11);
  EXPECT_DOUBLE_EQ(hits[1].lat, 36.0662);

  // A second reply with the same country and province meets the same rows.
  hits.clear();
  ado.AddSearchReply(Recorded("geocoder_jinan.json"), hits);
  EXPECT_EQ(Rows(5), 1);   // 中国
  EXPECT_EQ(Rows(6), 1);   // 山东省
  EXPECT_EQ(Rows(10), 2);  // 青岛市, 济南市
  EXPECT_EQ(Rows(11), 3);  // 市南区, 崂山区, 历下区

  // Hits read as their ancestors' names, root first; places without a position are left out.
  AddressHitList found;
  ado.Search("12号", found);
  EXPECT_EQ(HitNames(found), std::vector<std::string>{"中国山东省青岛市市南区香港中路12号"});
  found.clear();
  ado.Search("区", found);
  EXPECT_EQ(HitNames(found), (std::vector<std::string>{"中国山东省青岛市崂山区", "中国山东省济南市历下区"}));
  found.clear();
  ado.Search("青岛", found);  // 青岛市 itself has no position
  EXPECT_TRUE(found.empty());

  AddressHitList all;
  ado.FillList(all);
  // Tables in order (11 before 21), rows in order.
  EXPECT_EQ(HitNames(all), (std::vector<std::string>{"中国山东省青岛市崂山区", "中国山东省济南市历下区",
                                                     "中国山东省青岛市市南区香港中路12号"}));
}

TEST_F(AddressAdoTest, PlacesAtTheOriginAndOncePerTable) {
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  const double origin[3] = {0, 0, 0};
  const double somewhere[3] = {104.1, 35.8, 4};
  EXPECT_GT(ado.AddAddress({"原点", 19}, 0, 0, origin), 0);
  AddressHitList hits;
  ado.Search("原点", hits);
  ado.FillList(hits);
  EXPECT_TRUE(hits.empty());
  // The same name as a country and as a point of interest: one hit per table, each without
  // parent named by itself alone.
  ado.AddAddress({"中国", 5}, 0, 0, somewhere);
  ado.AddAddress({"中国", 19}, 0, 0, somewhere);
  ado.Search("中国", hits);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_EQ(hits[0].type, 5);
  EXPECT_EQ(hits[1].type, 19);
  EXPECT_EQ(hits[0].name, "中国");
  EXPECT_EQ(hits[1].name, "中国");
  EXPECT_EQ(hits[0].zoom, 4);
}

TEST_F(AddressAdoTest, NamesAreBoundNotPastedIntoSql) {
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  const double p[3] = {1, 1, 1};
  const int odd = ado.AddAddress({"O'Brien's 100% Bar_1", 19}, 0, 0, p);
  ASSERT_GT(odd, 0);
  ado.AddAddress({"1000 Bar", 19}, 0, 0, p);
  ado.AddAddress({"Bar21", 19}, 0, 0, p);
  ado.AddAddress({"x'); DROP TABLE addr19; --", 19}, 0, 0, p);
  // The same name again finds the row; ASCII case does not matter, as in the old databases.
  EXPECT_EQ(ado.AddAddress({"o'brien's 100% BAR_1", 19}, 0, 0, p), odd);
  EXPECT_NE(ado.AddAddress({"O'Brien's 100% Bar_1", 19}, 5, 7, p), odd);  // another parent
  AddressHitList hits;
  ado.Search("100%", hits);  // % and _ are plain characters
  EXPECT_EQ(hits.size(), 2u);
  hits.clear();
  ado.Search("r_", hits);
  EXPECT_EQ(hits.size(), 2u);
  hits.clear();
  ado.Search("o'brien", hits);
  EXPECT_EQ(hits.size(), 2u);
  hits.clear();
  ado.Search("DROP TABLE", hits);
  EXPECT_EQ(hits.size(), 1u);
  EXPECT_EQ(Rows(19), 5);
  // Names are stored as UTF-8: a character whose GBK bytes lie across two others is not found.
  ado.AddAddress({"中华", 19}, 0, 0, p);
  hits.clear();
  ado.Search("谢", hits);  // GBK "中华" = D6 D0 BB AA holds "谢" = D0 BB
  EXPECT_TRUE(hits.empty());
  ado.Search("华", hits);
  EXPECT_EQ(hits.size(), 1u);
}

TEST_F(AddressAdoTest, AncestorWalkEndsAtCyclesAndDepth) {
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  const double p[3] = {2, 2, 2};
  // A chain of 100 routes, each the parent of the next (one transaction: many single writes).
  ASSERT_TRUE(ado.Db().Exec("BEGIN"));
  int parent = 0, parent_type = 0;
  for (int i = 0; i < 100; ++i) {
    parent = ado.AddAddress({FormatC("r%d.", i), 2}, parent, parent_type, i == 99 ? p : nullptr);
    parent_type = 2;
  }
  ASSERT_TRUE(ado.Db().Exec("COMMIT"));
  AddressHitList hits;
  ado.Search("r99.", hits);
  ASSERT_EQ(hits.size(), 1u);
  // The 64 nearest ancestors, then the place itself.
  EXPECT_TRUE(hits[0].name.starts_with("r35.r36.")) << hits[0].name;
  EXPECT_TRUE(hits[0].name.ends_with("r98.r99.")) << hits[0].name;

  // Two rows that name each other as parent.
  const int a = ado.AddAddress({"甲", 10}, 0, 0, p);
  const int b = ado.AddAddress({"乙", 10}, a, 10, p);
  ado.Close();
  {
    SqliteDb db;
    ASSERT_TRUE(db.Open(Path("8_adr.km")));
    ASSERT_TRUE(db.Execute("UPDATE addr10 SET parent_id = ?1, parent_type = 10 WHERE id = ?2", {int64_t(b), int64_t(a)}));
  }
  ASSERT_TRUE(ado.Open(8));
  hits.clear();
  ado.Search("乙", hits);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].name, "乙甲乙");  // the walk stops where the chain returns
}

TEST_F(AddressAdoTest, ResultsWithoutComponentsAndOtherSources) {
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  AddressHitList hits;
  // A result whose only component was a postal code has nothing to store.
  ado.AddSearchReply(R"({ "results" : [ { "address_components" : [ { "long_name" : "266000", "types" : [ "postal_code" ] } ],
      "geometry" : { "location" : { "lat" : 36, "lng" : 120 } } } ], "status" : "OK" })",
                     hits);
  EXPECT_TRUE(hits.empty());
  EXPECT_EQ(Rows(15), 0);
  // Another source: the id is kept, nothing is opened, nothing found or stored.
  EXPECT_FALSE(ado.Open(32922));
  EXPECT_EQ(ado.Id(), 32922);
  EXPECT_FALSE(ado.IsDatabaseOpen());
  ado.AddSearchReply(Recorded("geocoder_qingdao.json"), hits);
  ado.Search("", hits);
  EXPECT_TRUE(hits.empty());
  EXPECT_EQ(ado.AddAddress({"x", 1}, 0, 0, nullptr), 0);
  EXPECT_FALSE(ado.CacheReply("q", "{}"));
  // Types out of range are refused.
  ASSERT_TRUE(ado.Open(8));
  EXPECT_EQ(ado.AddAddress({"x", 35}, 0, 0, nullptr), 0);
  EXPECT_EQ(ado.AddAddress({"x", -1}, 0, 0, nullptr), 0);
}

TEST_F(AddressAdoTest, DeletedDatabaseIsRebuiltFromTheReplyCache) {
  {
    CAddressAdo ado;
    ASSERT_TRUE(ado.Open(8));
    Answer(ado, "青岛", Recorded("geocoder_qingdao.json"));
    Answer(ado, "济南", Recorded("geocoder_jinan.json"));
    Answer(ado, "无", Recorded("geocoder_zero.json"));
  }
  const std::vector<std::string> before = Dump();
  ASSERT_EQ(before.size(), 9u);
  ASSERT_TRUE(std::filesystem::remove(Path("8_adr.km")));
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  EXPECT_TRUE(ado.LastRebuild().rebuilt);
  EXPECT_EQ(ado.LastRebuild().replies, 3u);
  EXPECT_EQ(Dump(), before);
  // Opened again, the complete database is used as it is.
  ado.Close();
  CAddressAdo again;
  ASSERT_TRUE(again.Open(8));
  EXPECT_FALSE(again.LastRebuild().rebuilt);
}

TEST_F(AddressAdoTest, QueriesSharingTheirFirstBytesKeepTheirOwnReplies) {
  // Both queries begin with the same eight GBK bytes (青岛市南).
  const std::string a = "青岛市南区香港中路", b = "青岛市南区山东路";
  ASSERT_EQ(Utf8ToAnsi(std::string_view(a)).substr(0, 8), Utf8ToAnsi(std::string_view(b)).substr(0, 8));
  {
    CAddressAdo ado;
    ASSERT_TRUE(ado.Open(8));
    Answer(ado, a, Recorded("geocoder_qingdao.json"));
    Answer(ado, b, Recorded("geocoder_jinan.json"));
    std::string reply;
    ASSERT_TRUE(ado.ReadCachedReply(a, &reply));
    EXPECT_EQ(reply, Recorded("geocoder_qingdao.json"));
    ASSERT_TRUE(ado.ReadCachedReply(b, &reply));
    EXPECT_EQ(reply, Recorded("geocoder_jinan.json"));
    EXPECT_FALSE(ado.ReadCachedReply("青岛市南区", &reply));
    // Asked again, a query's newer reply is the one read back; its older one still counts for
    // a rebuild.
    Answer(ado, a, Recorded("geocoder_zero.json"));
    ASSERT_TRUE(ado.ReadCachedReply(a, &reply));
    EXPECT_EQ(reply, Recorded("geocoder_zero.json"));
  }
  const std::vector<std::string> before = Dump();
  std::filesystem::remove(Path("8_adr.km"));
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  EXPECT_EQ(ado.LastRebuild().replies, 3u);
  EXPECT_EQ(Dump(), before);
  AddressHitList hits;
  ado.Search("12号", hits);
  EXPECT_EQ(hits.size(), 1u);
}

TEST_F(AddressAdoTest, BareCachedRepliesAreReadToo) {
  // A cache record holding only the reply bytes (no query) is parsed by the rebuild as well.
  {
    CTileStore store(CAddressAdo::BasePath(8));
    ASSERT_TRUE(store.Open(false));
    const std::string reply = Recorded("geocoder_jinan.json");
    ASSERT_EQ(store.Write(0x9ECEE0C7u, 0u, reply.data(), reply.size(), true), TileWriteResult::kWritten);
  }
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  EXPECT_EQ(ado.LastRebuild().replies, 1u);
  AddressHitList hits;
  ado.Search("历下", hits);
  EXPECT_EQ(HitNames(hits), std::vector<std::string>{"中国山东省济南市历下区"});
}

TEST_F(AddressAdoTest, IncompleteOrDamagedDatabasesAreRebuilt) {
  {
    CAddressAdo ado;
    ASSERT_TRUE(ado.Open(8));
    Answer(ado, "济南", Recorded("geocoder_jinan.json"));
  }
  const std::vector<std::string> complete = Dump();
  // Tables present but never marked complete (user_version 0), with a stray row: rebuilt.
  {
    SqliteDb db;
    ASSERT_TRUE(db.Open(Path("8_adr.km")));
    ASSERT_TRUE(db.Exec("PRAGMA user_version = 0"));
    ASSERT_TRUE(db.Exec("INSERT INTO addr3(name, lng, lat, zoom) VALUES('stray', 1, 1, 1)"));
    ASSERT_TRUE(db.Exec("DROP TABLE addr30"));
  }
  {
    CAddressAdo ado;
    ASSERT_TRUE(ado.Open(8));
    EXPECT_TRUE(ado.LastRebuild().rebuilt);
  }
  EXPECT_EQ(Dump(), complete);
  // A file that is not a database is kept aside and the database built anew.
  test::WriteTestFile(Path("8_adr.km"), std::string(4096, 'x'));
  {
    CAddressAdo ado;
    ASSERT_TRUE(ado.Open(8));
    EXPECT_TRUE(ado.LastRebuild().rebuilt);
  }
  EXPECT_EQ(test::ReadTestFile(Path("8_adr.km.damaged")), std::string(4096, 'x'));
  EXPECT_EQ(Dump(), complete);
  // A database of a newer program is left alone.
  {
    SqliteDb db;
    ASSERT_TRUE(db.Open(Path("8_adr.km")));
    ASSERT_TRUE(db.Exec("PRAGMA user_version = 2"));
  }
  CAddressAdo ado;
  EXPECT_FALSE(ado.Open(8));
  EXPECT_FALSE(ado.IsDatabaseOpen());
  ado.Close();
  SqliteDb db;
  ASSERT_TRUE(db.Open(Path("8_adr.km")));
  EXPECT_EQ(std::get<int64_t>(db.QueryValue("PRAGMA user_version")), 2);
}

// A process killed in the middle of a rebuild leaves no database that opens as complete: the
// next open rolls the half-done work back and builds the tables again.
TEST_F(AddressAdoTest, ARebuildCutShortIsDoneAgain) {
  {
    CAddressAdo ado;
    ASSERT_TRUE(ado.Open(8));
    Answer(ado, "青岛", Recorded("geocoder_qingdao.json"));
    Answer(ado, "济南", Recorded("geocoder_jinan.json"));
  }
  const std::vector<std::string> complete = Dump();
  ASSERT_TRUE(std::filesystem::remove(Path("8_adr.km")));
  const std::string db_path = Path("8_adr.km");
  const std::string journal = db_path + "-journal";
  // A reader of our own keeps the rebuild's commit waiting, so that the child is surely killed
  // before it can finish.
  SqliteDb reader;
  ASSERT_TRUE(reader.Open(db_path));
  ASSERT_TRUE(reader.Exec("CREATE TABLE other(x); BEGIN; SELECT count(*) FROM other;"));
  ASSERT_TRUE(reader.Exec("SELECT count(*) FROM other"));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CAddressAdo ado;
    _exit(ado.Open(8) ? 0 : 1);
  }
  bool started = false;
  int status = 0;
  bool exited = false;
  for (auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
       std::chrono::steady_clock::now() < deadline;) {
    if (std::filesystem::exists(journal)) {
      started = true;
      break;
    }
    if (waitpid(child, &status, WNOHANG) == child) {
      exited = true;
      break;
    }
    std::this_thread::yield();
  }
  if (!exited) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
  }
  ASSERT_TRUE(started) << "the rebuild never began writing";
  ASSERT_TRUE(reader.Exec("COMMIT"));
  reader.Close();
  ASSERT_TRUE(std::filesystem::exists(journal));  // the half-done work is still to be undone
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  EXPECT_TRUE(ado.LastRebuild().rebuilt);
  EXPECT_EQ(Dump(), complete);
}

// The ancestor names come from a walk that remembers the rows it met; the plain walk, one
// query per ancestor, must give the same names.
TEST_F(AddressAdoTest, RememberedAncestorsGiveThePlainWalksNames) {
  CAddressAdo ado;
  ASSERT_TRUE(ado.Open(8));
  const double p[3] = {120, 36, 12};
  ASSERT_TRUE(ado.Db().Exec("BEGIN"));
  for (int province = 0; province < 4; ++province) {
    const int pid = ado.AddAddress({FormatC("省%d", province), 6}, 0, 0, nullptr);
    for (int city = 0; city < 5; ++city) {
      const int cid = ado.AddAddress({FormatC("市%d", city), 10}, pid, 6, city % 2 ? p : nullptr);
      for (int street = 0; street < 20; ++street)
        ado.AddAddress({FormatC("路%d", street), 2}, cid, 10, p);
    }
  }
  ASSERT_TRUE(ado.Db().Exec("COMMIT"));
  AddressHitList hits;
  ado.FillList(hits);
  ASSERT_EQ(hits.size(), 4u * 5 * 20 + 4 * 2);
  ado.Close();
  SqliteDb db;
  ASSERT_TRUE(db.Open(Path("8_adr.km")));
  for (const AddressHit& hit : hits) {
    std::string prefix;
    int64_t type = hit.parent_type, id = hit.parent_id;
    for (int depth = 0; depth < CAddressAdo::kMaxAncestorDepth && id > 0; ++depth) {
      SqliteStatement st = db.Prepare(FormatC("SELECT name, parent_id, parent_type FROM addr%lld WHERE id = ?1", (long long)type));
      ASSERT_TRUE(st.IsValid());
      st.Bind(1, id);
      if (st.StepRow() != SqliteStatement::Step::kRow) break;
      prefix = st.ColumnText(0) + prefix;
      id = st.ColumnInt64(1);
      type = st.ColumnInt64(2);
    }
    ASSERT_TRUE(hit.name.starts_with(prefix)) << hit.name << " vs " << prefix;
    // What follows the ancestors is the name of a row of the hit's table under its parent.
    const DbValue own = db.QueryValue(
        FormatC("SELECT count(*) FROM addr%d WHERE name = ?1 AND parent_id = ?2 AND parent_type = ?3", hit.type),
        {hit.name.substr(prefix.size()), int64_t(hit.parent_id), int64_t(hit.parent_type)});
    EXPECT_EQ(std::get<int64_t>(own), 1) << hit.name;
  }
}

}  // namespace
}  // namespace velmora

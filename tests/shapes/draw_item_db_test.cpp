// The drawn-item database on real SQLite files: shapes kept across reopening, queries by type,
// queries that would change the table refused, damaged files reported and left byte for byte,
// rows that cannot be rebuilt skipped without being touched, the object layer's storing, and
// a full disk.
#include "shapes/draw_item_db.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <filesystem>
#include <functional>

#include "core/format.h"
#include "shapes/mark_shape.h"
#include "shapes/object_layer.h"
#include "shapes/polygon_shape.h"
#include "shapes/polyline_shape.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

std::unique_ptr<CMarkShape> Mark(const std::string& name, float lng, float lat) {
  auto m = std::make_unique<CMarkShape>();
  m->SetName(name);
  m->popup_html = "<b>" + name + "</b>";
  m->AddPoint(lng, lat);
  return m;
}

std::unique_ptr<CPolylineShape> Line(float lng) {
  auto l = std::make_unique<CPolylineShape>();
  l->AddPoint(lng, 0);
  l->AddPoint(lng + 1, 1);
  return l;
}

TEST(DrawItemDB, ShapesSurviveReopeningAndQueriesSelectByType) {
  test::TempDir dir;
  const std::string path = dir.File("sub/drawitem.kdb");
  {
    CDrawItemDB db;
    ASSERT_TRUE(db.Open(path));
    EXPECT_EQ(db.GetState(), CDrawItemDB::State::kOpen);
    auto a = Mark("甲", 120.1f, 30.1f);
    auto b = Line(5);
    auto c = Mark("乙", 121.5f, 31.2f);
    ASSERT_TRUE(db.AddItem(*a));
    EXPECT_GT(a->db_id, 0);
    EXPECT_EQ(db.AddItems({b.get(), c.get()}), 2u);
    EXPECT_EQ(db.ItemCount(), 3);
    c->popup_html = "changed";
    EXPECT_TRUE(db.UpdateItem(*c));
    EXPECT_TRUE(db.DeleteItem(b->db_id));
    EXPECT_FALSE(db.DeleteItem(b->db_id));
    CMarkShape never_stored;
    EXPECT_FALSE(db.UpdateItem(never_stored));
  }
  CDrawItemDB db;
  ASSERT_TRUE(db.Open(path));
  std::vector<std::unique_ptr<CMapShape>> marks;
  EXPECT_EQ(db.LoadItems(FormatC("SELECT * FROM data WHERE type = %d", kShapeMark), marks), 2);
  ASSERT_EQ(marks.size(), 2u);
  auto& second = static_cast<CMarkShape&>(*marks[1]);
  EXPECT_EQ(marks[0]->Name(), "甲");
  EXPECT_EQ(second.popup_html, "changed");
  EXPECT_EQ(second.Points(), (std::vector<ShapePoint>{{121.5f, 31.2f}}));
  EXPECT_GT(second.db_id, 0);
  std::vector<std::unique_ptr<CMapShape>> lines;
  EXPECT_EQ(db.LoadItems(FormatC("SELECT * FROM data WHERE type = %d", kShapePolyline), lines), 0);
  // Bounds are stored for queries by area.
  std::vector<std::unique_ptr<CMapShape>> east;
  EXPECT_EQ(db.LoadItems("SELECT id, type, data FROM data WHERE west > 121", east), 1);
  // Statements that are not plain reads are refused and change nothing.
  std::vector<std::unique_ptr<CMapShape>> none;
  EXPECT_EQ(db.LoadItems("DELETE FROM data", none), -1);
  EXPECT_EQ(db.LoadItems("SELECT id FROM data", none), -1);  // no type and data columns
  EXPECT_EQ(db.LoadItems("SELECT * FROM missing", none), -1);
  EXPECT_EQ(db.ItemCount(), 2);
}

TEST(DrawItemDB, DamagedFilesAreReportedAndLeftAsTheyAre) {
  test::TempDir dir;
  std::vector<std::string> reports;
  // Not a database at all.
  const std::string junk = dir.File("junk.kdb");
  std::string garbage(8192, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 131) & 0xFF);
  test::WriteTestFile(junk, garbage);
  {
    CDrawItemDB db;
    db.SetReportSink([&](const std::string& text) { reports.push_back(text); });
    EXPECT_FALSE(db.Open(junk));
    EXPECT_EQ(db.GetState(), CDrawItemDB::State::kDamaged);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find("damaged"), std::string::npos);
    auto m = Mark("x", 1, 1);
    EXPECT_FALSE(db.AddItem(*m));
    std::vector<std::unique_ptr<CMapShape>> out;
    EXPECT_EQ(db.LoadItems("SELECT * FROM data", out), -1);
  }
  EXPECT_EQ(test::ReadTestFile(junk), garbage);

  // A real database cut in half.
  const std::string cut = dir.File("cut.kdb");
  {
    CDrawItemDB db;
    ASSERT_TRUE(db.Open(cut));
    for (int i = 0; i < 300; ++i) {
      auto m = Mark(std::string(200, 'a' + i % 26), float(i % 180), 0);
      ASSERT_TRUE(db.AddItem(*m));
    }
  }
  std::string whole = test::ReadTestFile(cut);
  ASSERT_GT(whole.size(), 8192u);
  std::string half = whole.substr(0, whole.size() / 2);
  // Damage inside the pages too, so that SQLite's check fails whatever it reads first.
  for (size_t i = 4096 + 100; i < half.size(); i += 4096) half[i] ^= 0x5A;
  test::WriteTestFile(cut, half);
  {
    CDrawItemDB db;
    EXPECT_FALSE(db.Open(cut));
    EXPECT_EQ(db.GetState(), CDrawItemDB::State::kDamaged);
    auto m = Mark("y", 2, 2);
    EXPECT_FALSE(db.AddItem(*m));
  }
  EXPECT_EQ(test::ReadTestFile(cut), half);

  // Someone else's table "data".
  const std::string other = dir.File("other.kdb");
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE data (k TEXT, v TEXT); INSERT INTO data VALUES ('a', 'b');", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
  }
  std::string before = test::ReadTestFile(other);
  CDrawItemDB db;
  EXPECT_FALSE(db.Open(other));
  EXPECT_EQ(db.GetState(), CDrawItemDB::State::kDamaged);
  EXPECT_EQ(test::ReadTestFile(other), before);
}

TEST(DrawItemDB, UnreadableRowsAreSkippedAndKeptAndOtherTablesStay) {
  test::TempDir dir;
  const std::string path = dir.File("rows.kdb");
  {
    // A sound database with a table of its own and no "data" table yet.
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw, "CREATE TABLE notes (t TEXT); INSERT INTO notes VALUES ('keep');", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
  }
  CDrawItemDB db;
  ASSERT_TRUE(db.Open(path));
  auto good = Mark("good", 3, 3);
  ASSERT_TRUE(db.AddItem(*good));
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(raw,
                           "INSERT INTO data (type, name, data) VALUES (40030, 'bad', x'0100000007');"
                           "INSERT INTO data (type, name, data) VALUES (40099, 'unknown', x'01');",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(raw);
  }
  std::vector<std::unique_ptr<CMapShape>> out;
  EXPECT_EQ(db.LoadItems("SELECT * FROM data ORDER BY id", out), 1);
  EXPECT_EQ(db.SkippedRows(), 2u);
  EXPECT_EQ(db.ItemCount(), 3);  // nothing was removed
  std::vector<std::unique_ptr<CMapShape>> again;
  EXPECT_EQ(db.LoadItems("SELECT * FROM data", again), 1);
  db.Close();
  sqlite3* raw = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(raw, "SELECT t FROM notes", -1, &st, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), "keep");
  sqlite3_finalize(st);
  sqlite3_close(raw);
}

TEST(DrawItemDB, ObjectLayerStoresOnRequestAndRefusesEmptyShapes) {
  test::TempDir dir;
  CDrawItemDB db;
  ASSERT_TRUE(db.Open(dir.File("layer.kdb")));
  CObjectLayer layer("objects");
  layer.SetDatabase(&db);
  std::vector<std::unique_ptr<CMapShape>> batch;
  batch.push_back(Mark("kept", 1, 1));
  batch.push_back(std::make_unique<CPolygonShape>());  // no point: refused
  batch.push_back(nullptr);
  batch.push_back(Line(2));
  EXPECT_EQ(layer.Add(std::move(batch), true), 2u);
  EXPECT_TRUE(layer.Add(Mark("session only", 4, 4), false));
  EXPECT_EQ(layer.Count(), 3u);
  EXPECT_EQ(db.ItemCount(), 2);
  std::vector<CMapShape*> marks;
  layer.GetShapesByType(kShapeMark, marks);
  ASSERT_EQ(marks.size(), 2u);
  EXPECT_TRUE(layer.Remove(marks[0], true));
  EXPECT_FALSE(layer.Remove(marks[0], true));
  EXPECT_EQ(db.ItemCount(), 1);
  layer.Clear(false);
  EXPECT_EQ(layer.Count(), 0u);
  EXPECT_EQ(db.ItemCount(), 1);  // clearing the view keeps what is stored
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// Runs `body` with files limited to `limit` bytes, SIGXFSZ ignored as the program ignores it.
void WithFileSizeLimit(uint64_t limit, const std::function<void()>& body) {
  struct sigaction ignore {}, old_action {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGXFSZ, &ignore, &old_action);
  rlimit old_limit{};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit limited = old_limit;
  limited.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  body();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);
}

// A full disk (made with a file-size limit) fails the write of a drawn item: the database says
// so to its sink and to the caller, the object layer tells its caller that the shape was not
// stored, and after a reopen only what was stored is there. A row that cannot be deleted keeps
// its shape in the layer.
TEST(DrawItemDB, FullDiskIsReportedAndNothingIsLost) {
  test::TempDir dir;
  const std::string path = dir.File("drawitem.kdb");
  std::vector<std::string> reports;
  {
    CDrawItemDB db;
    ASSERT_TRUE(db.Open(path));
    db.SetReportSink([&](const std::string& text) { reports.push_back(text); });
    CObjectLayer layer("objects");
    layer.SetDatabase(&db);
    bool stored = false;
    ASSERT_TRUE(layer.Add(Mark("kept", 120, 36), true, &stored));
    EXPECT_TRUE(stored);
    const uintmax_t size = std::filesystem::file_size(path);
    // A shape far larger than the file may grow to.
    auto big = std::make_unique<CPolylineShape>();
    for (int i = 0; i < 20000; ++i) big->AddPoint(100 + i * 1e-3f, 30);
    CMapShape* big_shape = big.get();
    WithFileSizeLimit(size, [&] {
      EXPECT_TRUE(layer.Add(std::move(big), true, &stored));
      EXPECT_FALSE(stored);
    });
    EXPECT_EQ(big_shape->db_id, 0);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].rfind(CDrawItemDB::kSaveFailedText, 0), 0u) << reports[0];
    EXPECT_NE(db.LastError(), "");
    EXPECT_TRUE(layer.Contains(big_shape));  // shown for this run
    EXPECT_EQ(db.ItemCount(), 1);

    // A row that cannot be deleted (the database is gone) keeps its shape: it would come back.
    std::vector<CMapShape*> marks;
    layer.GetShapesByType(kAllShapeTypes, marks);
    CMapShape* kept = marks.at(0);
    db.Close();
    bool deleted = true;
    EXPECT_FALSE(layer.Remove(kept, true, &deleted));
    EXPECT_FALSE(deleted);
    EXPECT_TRUE(layer.Contains(kept));
    EXPECT_TRUE(layer.Remove(kept, false));
  }
  CDrawItemDB again;
  ASSERT_TRUE(again.Open(path));
  std::vector<std::unique_ptr<CMapShape>> rows;
  ASSERT_EQ(again.LoadItems("SELECT * FROM data", rows), 1);
  EXPECT_EQ(rows[0]->Name(), "kept");
}

}  // namespace
}  // namespace velmora

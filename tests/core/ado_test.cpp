// CAdoConnection on a real SQLite file: rows, names, texts with quotes and Chinese characters,
// repeated statements, adding rows.
#include "core/ado_connection.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/temp_dir.h"

namespace velmora {
namespace {

class AdoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bool created = false;
    ASSERT_TRUE(ado_.Open(dir_.File("adn.adr"), true, &created)) << ado_.LastError();
    EXPECT_TRUE(created);
    ASSERT_TRUE(ado_.ExecuteSQL(
        "CREATE TABLE addr (id INTEGER PRIMARY KEY, type INTEGER, name TEXT, lng DOUBLE, lat DOUBLE)"));
  }
  int64_t Count() {
    return ado_.Query("SELECT count(*) AS n FROM addr") ? ado_.GetInt("n", -1) : -1;
  }
  test::TempDir dir_;
  CAdoConnection ado_;
};

TEST_F(AdoTest, RowsAreReadByFieldNameInOrder) {
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(ado_.Query("INSERT INTO addr(type, name, lng, lat) VALUES (%d, 'p%d', %d.5, 30.25)", i, i, 100 + i));
  }
  ASSERT_TRUE(ado_.Query("SELECT * FROM addr WHERE type >= %d ORDER BY id", 2));
  EXPECT_TRUE(ado_.IsRecordsetOpen());
  EXPECT_EQ(ado_.FieldNames(), (std::vector<std::string>{"id", "type", "name", "lng", "lat"}));
  std::vector<std::string> names;
  for (; !ado_.IsEOF(); ado_.MoveNext()) {
    names.push_back(ado_.GetString("NAME"));
    EXPECT_DOUBLE_EQ(ado_.GetDouble("lng"), 100 + ado_.GetInt("type") + 0.5);
    EXPECT_EQ(ado_.GetDouble("lat"), 30.25);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"p2", "p3", "p4"}));
  EXPECT_FALSE(ado_.MoveNext());
  EXPECT_EQ(ado_.GetString("name", "none"), "none");  // no current row: the default

  // A query without rows is false but not an error; a DELETE is true; a bad text is false with
  // the reason.
  EXPECT_FALSE(ado_.Query("SELECT * FROM addr WHERE type = %d", 99));
  EXPECT_TRUE(ado_.IsRecordsetOpen());
  EXPECT_TRUE(ado_.IsEOF());
  EXPECT_TRUE(ado_.LastError().empty());
  EXPECT_TRUE(ado_.Query("DELETE FROM addr WHERE type = %d", 99));
  EXPECT_FALSE(ado_.IsRecordsetOpen());
  EXPECT_FALSE(ado_.Query("SELEC * FROM addr"));
  EXPECT_FALSE(ado_.LastError().empty());
  EXPECT_EQ(ado_.LastSql(), "SELEC * FROM addr");
  ado_.CloseRecordset();
  EXPECT_FALSE(ado_.IsRecordsetOpen());
}

TEST_F(AdoTest, IdenticalStatementsRunEveryTime) {
  // The same INSERT text twice stores two rows.
  ASSERT_TRUE(ado_.ExecuteSQL("INSERT INTO addr(type, name) VALUES (1, 'same')"));
  ASSERT_TRUE(ado_.ExecuteSQL("INSERT INTO addr(type, name) VALUES (1, 'same')"));
  EXPECT_EQ(Count(), 2);
  // The same SELECT text after a change returns the new rows, not the old ones.
  const char* select = "SELECT count(*) AS n FROM addr WHERE name = 'same'";
  ASSERT_TRUE(ado_.ExecuteSQL(select));
  EXPECT_EQ(ado_.GetInt("n"), 2);
  ASSERT_TRUE(ado_.ExecuteSQL("DELETE FROM addr"));
  ASSERT_TRUE(ado_.ExecuteSQL(select));
  EXPECT_EQ(ado_.GetInt("n"), 0);
}

TEST_F(AdoTest, QuotesAndChineseTextsSurviveAsParameters) {
  const std::string names[] = {"O'Brien's \"place\"", "北京市海淀区中关村", "端口'); DROP TABLE addr; --",
                               "【测试】·—“”", ""};
  for (const std::string& name : names) {
    ASSERT_TRUE(ado_.ExecuteSQL("INSERT INTO addr(type, name) VALUES (?, ?)", {int64_t{7}, name})) << ado_.LastError();
  }
  EXPECT_EQ(Count(), 5);
  for (const std::string& name : names) {
    ASSERT_TRUE(ado_.QueryParams("SELECT name FROM addr WHERE name = ?", {name})) << name;
    EXPECT_EQ(ado_.GetString("name"), name);
    // Each text survives the trip to GBK and back too, as the address files carry it.
    EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi(ado_.GetString("name"))), name);
  }
  // LIKE with user text as a parameter.
  ASSERT_TRUE(ado_.QueryParams("SELECT name FROM addr WHERE name LIKE ?", {"%中关村%"}));
  EXPECT_EQ(ado_.GetString("name"), "北京市海淀区中关村");
  EXPECT_EQ(ado_.ExecuteNonQuery("UPDATE addr SET type = ? WHERE name LIKE ?", {int64_t{8}, "%'%"}), 2);
  EXPECT_EQ(ado_.ExecuteNonQuery("UPDATE nope SET x = 1"), -1);
}

TEST_F(AdoTest, AddedRowsGetTheirIdsAndPersist) {
  ASSERT_TRUE(ado_.AddNew("addr"));
  ado_.SetField("type", int64_t{3});
  ado_.SetField("name", "天安门");
  ado_.SetField("lng", 116.397);
  ado_.SetField("LAT", 39.909);
  const int64_t first = ado_.Update();
  EXPECT_EQ(first, 1);
  ASSERT_TRUE(ado_.AddNew("addr"));
  ado_.SetField("name", "x");
  ado_.SetField("name", "second");  // the later value stands
  EXPECT_EQ(ado_.Update(), 2);
  EXPECT_EQ(ado_.Update(), 0);  // no pending row
  EXPECT_FALSE(ado_.SetField("name", "stray"));

  ASSERT_TRUE(ado_.AddNew("no_table"));
  ado_.SetField("a", int64_t{1});
  EXPECT_EQ(ado_.Update(), 0);
  EXPECT_FALSE(ado_.LastError().empty());

  ado_.Close();
  EXPECT_FALSE(ado_.IsOpen());
  EXPECT_FALSE(ado_.ExecuteSQL("SELECT 1"));
  bool created = true;
  ASSERT_TRUE(ado_.Open(dir_.File("adn.adr"), false, &created));
  EXPECT_FALSE(created);
  ASSERT_TRUE(ado_.Query("SELECT * FROM addr WHERE id = %lld", static_cast<long long>(first)));
  EXPECT_EQ(ado_.GetString("name"), "天安门");
  EXPECT_EQ(ado_.GetInt("type"), 3);
  EXPECT_DOUBLE_EQ(ado_.GetDouble("lat"), 39.909);
  EXPECT_TRUE(ado_.IsFieldNull("missing_field"));

  CAdoConnection absent;
  EXPECT_FALSE(absent.Open(dir_.File("absent.adr"), false));
}

}  // namespace
}  // namespace velmora

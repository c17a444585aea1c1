// CAdoConnection on a real SQLite file: rows, names, texts with quotes and Chinese characters,
// repeated statements, adding rows.
#include "core/ado_connection.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace velmora {
namespace {

class AdoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ado_.Open(dir_.File("adn.adr"))) << ado_.LastError();
    ASSERT_TRUE(ado_.ExecuteSQL(
        "CREATE TABLE addr (id INTEGER PRIMARY KEY, type INTEGER, name TEXT, lng DOUBLE, lat DOUBLE)"));
  }
  int64_t Count() { return ado_.Query("SELECT count(*) AS n FROM addr") ? ado_.GetInt("n", -1) : -1; }
  test::TempDir dir_;
  CAdoConnection ado_;
};

TEST_F(AdoTest, RowsAreReadByFieldNameAndEveryStatementRuns) {
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(ado_.Query("INSERT INTO addr(type, name, lng) VALUES (%d, 'p%d', %d.5)", i, i, 100 + i));
  }
  ASSERT_TRUE(ado_.Query("SELECT * FROM addr WHERE type >= %d ORDER BY id", 2));
  std::vector<std::string> names;
  for (; !ado_.IsEOF(); ado_.MoveNext()) {
    names.push_back(ado_.GetString("NAME"));
    EXPECT_DOUBLE_EQ(ado_.GetDouble("lng"), 100 + ado_.GetInt("type") + 0.5);
  }
  EXPECT_EQ(names, (std::vector<std::string>{"p2", "p3", "p4"}));
  EXPECT_EQ(ado_.GetString("name", "none"), "none");  // no current row: the default
  // No rows is false but not an error; a bad text is false with the reason.
  EXPECT_FALSE(ado_.Query("SELECT * FROM addr WHERE type = %d", 99));
  EXPECT_TRUE(ado_.LastError().empty());
  EXPECT_FALSE(ado_.Query("SELEC * FROM addr"));
  EXPECT_FALSE(ado_.LastError().empty());

  // The same statement text runs every time, never skipped as a repeat.
  ASSERT_TRUE(ado_.ExecuteSQL("DELETE FROM addr WHERE type > 0"));
  ASSERT_TRUE(ado_.ExecuteSQL("DELETE FROM addr WHERE type > 0"));
  ASSERT_TRUE(ado_.ExecuteSQL("INSERT INTO addr(type) VALUES (1)"));
  ASSERT_TRUE(ado_.ExecuteSQL("INSERT INTO addr(type) VALUES (1)"));
  EXPECT_EQ(Count(), 3);
  ASSERT_TRUE(ado_.ExecuteSQL("DELETE FROM addr"));
  EXPECT_EQ(Count(), 0);  // the same SELECT gives the new rows, not the old ones
}

TEST_F(AdoTest, QuotesAndChineseTextsSurviveAsParameters) {
  const std::string names[] = {"O'Brien's \"place\"", "北京市海淀区中关村", "端口'); DROP TABLE addr; --", ""};
  for (const std::string& name : names) {
    ASSERT_TRUE(ado_.ExecuteSQL("INSERT INTO addr(type, name) VALUES (?, ?)", {int64_t{7}, name})) << ado_.LastError();
  }
  EXPECT_EQ(Count(), 4);
  for (const std::string& name : names) {
    ASSERT_TRUE(ado_.QueryParams("SELECT name FROM addr WHERE name = ?", {name})) << name;
    EXPECT_EQ(ado_.GetString("name"), name);
  }
  ASSERT_TRUE(ado_.QueryParams("SELECT name FROM addr WHERE name LIKE ?", {"%中关村%"}));
  EXPECT_EQ(ado_.GetString("name"), "北京市海淀区中关村");
  EXPECT_EQ(ado_.ExecuteNonQuery("UPDATE addr SET type = ? WHERE name LIKE ?", {int64_t{8}, "%'%"}), 2);
  EXPECT_EQ(ado_.ExecuteNonQuery("UPDATE nope SET x = 1"), -1);
}

TEST_F(AdoTest, AddedRowsGetTheirIdsAndPersist) {
  ASSERT_TRUE(ado_.AddNew("addr"));
  ado_.SetField("name", "x");
  ado_.SetField("name", "天安门");  // the later value stands
  ado_.SetField("lat", 39.909);
  EXPECT_EQ(ado_.Update(), 1);
  EXPECT_EQ(ado_.Update(), 0);  // no pending row
  ASSERT_TRUE(ado_.AddNew("no_table"));
  ado_.SetField("a", int64_t{1});
  EXPECT_EQ(ado_.Update(), 0);
  EXPECT_FALSE(ado_.LastError().empty());

  ado_.Close();
  EXPECT_FALSE(ado_.ExecuteSQL("SELECT 1"));
  bool created = true;
  ASSERT_TRUE(ado_.Open(dir_.File("adn.adr"), false, &created));
  EXPECT_FALSE(created);
  ASSERT_TRUE(ado_.Query("SELECT * FROM addr WHERE id = 1"));
  EXPECT_EQ(ado_.GetString("name"), "天安门");
  EXPECT_DOUBLE_EQ(ado_.GetDouble("lat"), 39.909);
  EXPECT_FALSE(CAdoConnection().Open(dir_.File("absent.adr"), false));
}

}  // namespace
}  // namespace velmora

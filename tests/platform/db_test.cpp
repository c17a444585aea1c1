// The SQLite layer on real files: binding and reading every value type, transactions, errors.
#include "platform/db.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace velmora {
namespace {

class SqliteDbTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(db_.Open(dir_.File("t.db"))) << db_.LastError(); }
  int64_t Int(const char* sql) { return std::get<int64_t>(db_.QueryValue(sql)); }
  test::TempDir dir_;
  SqliteDb db_;
};

TEST_F(SqliteDbTest, BoundValuesComeBackExactly) {
  ASSERT_TRUE(db_.Exec("CREATE TABLE t (i INTEGER, r REAL, s TEXT, b BLOB)"));
  const std::string text = "O'Brien said \"端口\"; DROP TABLE t; --";
  const DbBlob blob = {0, 1, 2, 0, 255, 0};
  ASSERT_TRUE(db_.Execute("INSERT INTO t VALUES (?, ?, ?, ?)", {int64_t{-9007199254740993LL}, 120.5, text, blob}));
  ASSERT_TRUE(db_.Execute("INSERT INTO t VALUES (?, ?, ?, ?)", {std::monostate{}, 0.1, std::string(), DbBlob{}}));
  EXPECT_EQ(db_.LastInsertRowId(), 2);

  SqliteStatement st = db_.Prepare("SELECT i, r, s, b FROM t ORDER BY rowid");
  ASSERT_EQ(st.StepRow(), SqliteStatement::Step::kRow);
  EXPECT_EQ(st.ColumnInt64(0), -9007199254740993LL);
  EXPECT_EQ(st.ColumnDouble(1), 120.5);
  EXPECT_EQ(st.ColumnText(2), text);
  EXPECT_EQ(st.ColumnBlob(3), blob);
  EXPECT_EQ(st.ColumnIndex("S"), 2);
  ASSERT_EQ(st.StepRow(), SqliteStatement::Step::kRow);
  EXPECT_TRUE(st.ColumnIsNull(0));
  EXPECT_EQ(st.ColumnType(2), 3);    // empty text stays text
  EXPECT_EQ(st.ColumnType(3), 4);    // empty blob stays a blob, not NULL
  EXPECT_TRUE(st.ColumnIsNull(99));  // out of range reads as NULL, no crash
  EXPECT_EQ(st.StepRow(), SqliteStatement::Step::kDone);
  // The only way text reaches SQL here is as a parameter: the "DROP" inside did nothing.
  EXPECT_EQ(std::get<int64_t>(db_.QueryValue("SELECT count(*) FROM t WHERE s = ?", {text})), 1);
}

TEST_F(SqliteDbTest, ErrorsAreReportedNotSwallowed) {
  EXPECT_FALSE(db_.Exec("SELEC 1"));
  EXPECT_NE(db_.LastError().find("syntax"), std::string::npos) << db_.LastError();
  EXPECT_FALSE(db_.Prepare("SELECT * FROM missing"));
  // Two statements in one Prepare would silently drop the second: refused.
  ASSERT_TRUE(db_.Exec("CREATE TABLE k (id INTEGER PRIMARY KEY, v TEXT UNIQUE)"));
  EXPECT_FALSE(db_.Prepare("INSERT INTO k(v) VALUES ('a'); INSERT INTO k(v) VALUES ('b')"));
  EXPECT_TRUE(db_.Prepare("SELECT 1; -- comment"));
  EXPECT_FALSE(db_.Execute("INSERT INTO k(v) VALUES (?)", {}));  // wrong number of values
  EXPECT_TRUE(db_.Execute("INSERT INTO k(v) VALUES (?)", {"x"}));
  EXPECT_FALSE(db_.Execute("INSERT INTO k(v) VALUES (?)", {"x"}));
  EXPECT_NE(db_.LastError().find("UNIQUE"), std::string::npos);

  // A file that is not a database fails at Open, not at the first query.
  test::WriteTestFile(dir_.File("junk.db"), std::string(4096, 'J'));
  SqliteDb junk;
  EXPECT_FALSE(junk.Open(dir_.File("junk.db")));
  EXPECT_FALSE(junk.LastError().empty());
  EXPECT_FALSE(junk.Open(dir_.File("absent.db"), SqliteDb::Mode::kReadOnly));  // not created
  EXPECT_FALSE(junk.Open(dir_.File("no/such/folder/x.db")));
}

TEST_F(SqliteDbTest, TransactionsCommitOrRollBack) {
  ASSERT_TRUE(db_.Exec("CREATE TABLE t (v INTEGER)"));
  {
    SqliteTransaction tx(db_);
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(db_.Execute("INSERT INTO t VALUES (?)", {int64_t{i}}));
    ASSERT_TRUE(tx.Commit());
  }
  {
    SqliteTransaction tx(db_);
    ASSERT_TRUE(db_.Execute("DELETE FROM t"));
  }  // left without Commit: the delete is undone
  EXPECT_EQ(Int("SELECT sum(v) FROM t"), 4950);
  db_.Close();
  SqliteDb again;
  ASSERT_TRUE(again.Open(dir_.File("t.db"), SqliteDb::Mode::kReadOnly));
  EXPECT_EQ(std::get<int64_t>(again.QueryValue("SELECT count(*) FROM t")), 100);
  EXPECT_FALSE(again.Execute("INSERT INTO t VALUES (1)"));  // read-only
}

TEST_F(SqliteDbTest, StatementsCanBeReusedAndMoved) {
  ASSERT_TRUE(db_.Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v TEXT)"));
  SqliteStatement insert = db_.Prepare("INSERT INTO t VALUES (:k, :v)");
  ASSERT_EQ(insert.ParameterIndex(":v"), 2);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(insert.BindAll({int64_t{i}, std::string("v").append(std::to_string(i))}));
    ASSERT_EQ(insert.StepRow(), SqliteStatement::Step::kDone);
    insert.Reset();
  }
  SqliteStatement moved = std::move(insert);
  EXPECT_FALSE(insert.IsValid());
  ASSERT_TRUE(moved.BindAll({int64_t{1}, "dup"}));
  EXPECT_EQ(moved.StepRow(), SqliteStatement::Step::kError);
  EXPECT_NE(moved.Error().find("UNIQUE"), std::string::npos);

  SqliteDb other = std::move(db_);
  EXPECT_FALSE(db_.IsOpen());
  EXPECT_EQ(std::get<std::string>(other.QueryValue("SELECT v FROM t WHERE k = ?", {int64_t{2}})), "v2");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(other.QueryValue("SELECT v FROM t WHERE k = 9")));
  EXPECT_EQ(DbValueToString(DbValue{120.5}), "120.5");
}

}  // namespace
}  // namespace velmora

// The SQLite layer on real files: binding and reading every value type, transactions, errors.
#include "platform/db.h"

#include <gtest/gtest.h>

#include "support/temp_dir.h"

namespace velmora {
namespace {

TEST(SqliteDb, BoundValuesComeBackExactly) {
  test::TempDir dir;
  SqliteDb db;
  ASSERT_TRUE(db.Open(dir.File("t.db"))) << db.LastError();
  ASSERT_TRUE(db.Exec("CREATE TABLE t (i INTEGER, r REAL, s TEXT, b BLOB)"));

  const std::string text = "O'Brien said \"端口\"; DROP TABLE t; --";
  const DbBlob blob = {0, 1, 2, 0, 255, 0};
  ASSERT_TRUE(db.Execute("INSERT INTO t VALUES (?, ?, ?, ?)",
                         {int64_t{-9007199254740993LL}, 120.5, text, blob}));
  ASSERT_TRUE(db.Execute("INSERT INTO t VALUES (?, ?, ?, ?)", {std::monostate{}, 0.1, std::string(), DbBlob{}}));
  EXPECT_EQ(db.LastInsertRowId(), 2);

  SqliteStatement st = db.Prepare("SELECT i, r, s, b FROM t ORDER BY rowid");
  ASSERT_TRUE(st);
  ASSERT_EQ(st.StepRow(), SqliteStatement::Step::kRow);
  EXPECT_EQ(st.ColumnInt64(0), -9007199254740993LL);
  EXPECT_EQ(st.ColumnDouble(1), 120.5);
  EXPECT_EQ(st.ColumnText(2), text);
  EXPECT_EQ(st.ColumnBlob(3), blob);
  EXPECT_EQ(st.ColumnIndex("S"), 2);
  EXPECT_EQ(st.ColumnIndex("nope"), -1);
  ASSERT_EQ(st.StepRow(), SqliteStatement::Step::kRow);
  EXPECT_TRUE(st.ColumnIsNull(0));
  EXPECT_EQ(st.ColumnType(2), 3);  // empty text stays text
  EXPECT_EQ(st.ColumnType(3), 4);  // empty blob stays a blob, not NULL
  EXPECT_TRUE(std::holds_alternative<std::monostate>(st.Column(0)));
  EXPECT_TRUE(st.ColumnIsNull(99));  // out of range reads as NULL, no crash
  EXPECT_EQ(st.StepRow(), SqliteStatement::Step::kDone);

  // The only way text reaches SQL here is as a parameter: the "DROP" inside did nothing.
  EXPECT_TRUE(db.TableExists("t"));
  DbValue found = db.QueryValue("SELECT count(*) FROM t WHERE s = ?", {text});
  EXPECT_EQ(std::get<int64_t>(found), 1);
}

TEST(SqliteDb, ErrorsAreReportedNotSwallowed) {
  test::TempDir dir;
  SqliteDb db;
  ASSERT_TRUE(db.Open(dir.File("e.db")));
  EXPECT_FALSE(db.Exec("SELEC 1"));
  EXPECT_NE(db.LastError().find("syntax"), std::string::npos) << db.LastError();
  EXPECT_FALSE(db.Prepare("SELECT * FROM missing"));
  EXPECT_NE(db.LastError().find("missing"), std::string::npos);
  // Two statements in one Prepare would silently drop the second: refused.
  ASSERT_TRUE(db.Exec("CREATE TABLE k (id INTEGER PRIMARY KEY, v TEXT UNIQUE)"));
  EXPECT_FALSE(db.Prepare("INSERT INTO k(v) VALUES ('a'); INSERT INTO k(v) VALUES ('b')"));
  EXPECT_TRUE(db.Prepare("SELECT 1; -- comment"));
  // Wrong number of values.
  EXPECT_FALSE(db.Execute("INSERT INTO k(v) VALUES (?)", {}));
  EXPECT_TRUE(db.Execute("INSERT INTO k(v) VALUES (?)", {"x"}));
  EXPECT_FALSE(db.Execute("INSERT INTO k(v) VALUES (?)", {"x"}));  // UNIQUE
  EXPECT_NE(db.LastError().find("UNIQUE"), std::string::npos);

  // A file that is not a database fails at Open, not at the first query.
  test::WriteTestFile(dir.File("junk.db"), std::string(4096, 'J'));
  SqliteDb junk;
  EXPECT_FALSE(junk.Open(dir.File("junk.db")));
  EXPECT_FALSE(junk.IsOpen());
  EXPECT_FALSE(junk.LastError().empty());
  // Read-only mode does not create the file.
  SqliteDb absent;
  EXPECT_FALSE(absent.Open(dir.File("absent.db"), SqliteDb::Mode::kReadOnly));
  // A folder that does not exist.
  EXPECT_FALSE(absent.Open(dir.File("no/such/folder/x.db")));
}

TEST(SqliteDb, TransactionsCommitOrRollBack) {
  test::TempDir dir;
  SqliteDb db;
  ASSERT_TRUE(db.Open(dir.File("tx.db")));
  ASSERT_TRUE(db.Exec("CREATE TABLE t (v INTEGER)"));
  {
    SqliteTransaction tx(db);
    ASSERT_TRUE(tx.Active());
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(db.Execute("INSERT INTO t VALUES (?)", {int64_t{i}}));
    ASSERT_TRUE(tx.Commit());
  }
  {
    SqliteTransaction tx(db);
    ASSERT_TRUE(db.Execute("DELETE FROM t"));
    // leaves without Commit: the delete is undone
  }
  EXPECT_EQ(std::get<int64_t>(db.QueryValue("SELECT count(*) FROM t")), 100);
  EXPECT_EQ(std::get<int64_t>(db.QueryValue("SELECT sum(v) FROM t")), 4950);

  // Another connection sees the committed rows after reopening.
  db.Close();
  SqliteDb again;
  ASSERT_TRUE(again.Open(dir.File("tx.db"), SqliteDb::Mode::kReadOnly));
  EXPECT_EQ(std::get<int64_t>(again.QueryValue("SELECT count(*) FROM t")), 100);
  EXPECT_FALSE(again.Execute("INSERT INTO t VALUES (1)"));  // read-only
}

TEST(SqliteDb, StatementsCanBeReusedAndMoved) {
  test::TempDir dir;
  SqliteDb db;
  ASSERT_TRUE(db.Open(dir.File("r.db")));
  ASSERT_TRUE(db.Exec("CREATE TABLE t (k INTEGER PRIMARY KEY, v TEXT)"));
  SqliteStatement insert = db.Prepare("INSERT INTO t VALUES (:k, :v)");
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

  SqliteDb other = std::move(db);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_EQ(std::get<std::string>(other.QueryValue("SELECT v FROM t WHERE k = ?", {int64_t{2}})), "v2");
  EXPECT_TRUE(std::holds_alternative<std::monostate>(other.QueryValue("SELECT v FROM t WHERE k = 9")));
  EXPECT_EQ(other.LastError(), "");
  EXPECT_EQ(DbValueToString(DbValue{120.5}), "120.5");
  EXPECT_EQ(DbValueToString(DbValue{int64_t{-3}}), "-3");
}

}  // namespace
}  // namespace velmora

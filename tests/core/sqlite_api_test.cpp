// CSqliteApi: opening a store's file, creating and repairing its table, refusing bad files.
#include "core/sqlite_api.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace velmora {
namespace {

// A store shaped like the elevation cache: one connection opened on first use.
class ProbeStore : public CSqliteApi {
 public:
  bool Open(const std::string& path) {
    std::lock_guard lock(StoreMutex());
    return OpenStore(db_, path, "tiles", "CREATE TABLE tiles (pos int, h float, PRIMARY KEY (pos))");
  }
  SqliteDb& Db() { return db_; }

 private:
  SqliteDb db_;
};

TEST(SqliteApi, CreatesTheTableOnceAndKeepsRows) {
  test::TempDir dir;
  {
    ProbeStore store;
    ASSERT_TRUE(store.Open(dir.File("gdem.kdb")));
    ASSERT_TRUE(store.Open(dir.File("gdem.kdb")));  // already open: nothing happens
    ASSERT_TRUE(store.Db().Execute("INSERT INTO tiles VALUES (?, ?)", {int64_t{42}, 1234.0}));
    // The primary key refuses a second row of the same position.
    EXPECT_FALSE(store.Db().Execute("INSERT INTO tiles VALUES (?, ?)", {int64_t{42}, 1.0}));
  }
  ProbeStore again;
  ASSERT_TRUE(again.Open(dir.File("gdem.kdb")));
  EXPECT_EQ(std::get<double>(again.Db().QueryValue("SELECT h FROM tiles WHERE pos = 42")), 1234.0);
  EXPECT_NE(std::string(CSqliteApi::SqliteVersion()), "");
}

TEST(SqliteApi, RepairsAnEmptyFileAndRefusesBadOnes) {
  test::TempDir dir;
  // A file left empty by an earlier run that could not create the table.
  test::WriteTestFile(dir.File("gd.kd"), "");
  ProbeStore store;
  ASSERT_TRUE(store.Open(dir.File("gd.kd")));
  EXPECT_TRUE(store.Db().TableExists("tiles"));

  test::WriteTestFile(dir.File("bad.kdb"), std::string(2048, '\x5A'));
  ProbeStore bad;
  EXPECT_FALSE(bad.Open(dir.File("bad.kdb")));
  EXPECT_FALSE(bad.Db().IsOpen());

  if (geteuid() != 0) {  // root writes anywhere
    std::string locked = dir.File("locked/");
    ASSERT_EQ(mkdir(locked.c_str(), 0500), 0);
    ProbeStore none;
    EXPECT_FALSE(none.Open(locked + "gdem.kdb"));
  }
  ProbeStore nowhere;
  EXPECT_FALSE(nowhere.Open(dir.File("missing/folder/gdem.kdb")));
}

}  // namespace
}  // namespace velmora

// CSqliteApi: opening a store's file, creating its table once, refusing a file that is no database.
#include "core/sqlite_api.h"

#include <gtest/gtest.h>

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

// The elevation cache's tests cover empty and unreachable files through the store that uses it.
TEST(SqliteApi, CreatesTheTableOnceKeepsRowsAndRefusesJunk) {
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

  test::WriteTestFile(dir.File("bad.kdb"), std::string(2048, '\x5A'));
  ProbeStore bad;
  EXPECT_FALSE(bad.Open(dir.File("bad.kdb")));
  EXPECT_FALSE(bad.Db().IsOpen());
}

}  // namespace
}  // namespace velmora

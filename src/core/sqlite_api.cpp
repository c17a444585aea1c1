// CSqliteApi: opening the SQLite files of the stores.
#include "core/sqlite_api.h"

#include <sqlite3.h>

#include "core/log.h"

namespace velmora {

const char* CSqliteApi::SqliteVersion() { return sqlite3_libversion(); }

bool CSqliteApi::OpenStore(SqliteDb& db, const std::string& path, const char* table, const char* create_sql) {
  if (db.IsOpen()) return true;
  if (!db.Open(path)) {
    AppLog("database %s: %s", path.c_str(), db.LastError().c_str());
    return false;
  }
  // Checking the table rather than whether the file existed also repairs a file that an earlier
  // run created but could not finish (the table would otherwise never be made).
  if (!db.TableExists(table)) {
    if (!db.LastError().empty() || !db.Exec(create_sql)) {
      AppLog("database %s: cannot create table %s: %s", path.c_str(), table, db.LastError().c_str());
      db.Close();
      return false;
    }
  }
  return true;
}

}  // namespace velmora

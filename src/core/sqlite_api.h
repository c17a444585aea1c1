// CSqliteApi: base of the stores kept in SQLite files (the elevation cache and later ones). SQLite
// is linked with the program, so the base is always usable; it opens a store's file, creating its
// table when the table is missing, and holds the lock that the store takes around each operation.
#pragma once
#include <mutex>
#include <string>

#include "platform/db.h"

namespace velmora {

class CSqliteApi {
 public:
  CSqliteApi() = default;
  virtual ~CSqliteApi() = default;
  CSqliteApi(const CSqliteApi&) = delete;
  CSqliteApi& operator=(const CSqliteApi&) = delete;

  // SQLite's version text, e.g. "3.40.1".
  static const char* SqliteVersion();

 protected:
  // Opens `db` on `path` unless it is open already. When `table` does not exist in it (a new
  // file, or a file left empty by an earlier failed creation) runs `create_sql`. False, with the
  // reason logged and the connection closed, when the file cannot be opened, is not a database
  // or the table cannot be created.
  bool OpenStore(SqliteDb& db, const std::string& path, const char* table, const char* create_sql);

  // One lock around each operation of the derived store, so that the user-interface thread and
  // the workers can share one object. Recursive: an operation may call another.
  std::recursive_mutex& StoreMutex() { return mutex_; }

 private:
  std::recursive_mutex mutex_;
};

}  // namespace velmora

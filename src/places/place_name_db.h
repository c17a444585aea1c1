// CPlaceNameDb: the place-name database "adn.adr" of the place-name tree: China's administrative
// places by level, filled by the KML import and read by the tree and the place search box.
//
// The file lives in the data folder ("<data folder>adn.adr"): the program folder is read-only.
// When it is missing, a copy shipped in the program folder ("<program folder>data/adn.adr") seeds
// it, else an empty database is created. SQLite, one table:
//   addr(type INTEGER, name TEXT, lng, lat, ltx, lty, brx, bry REAL DEFAULT 0, parent_id INTEGER,
//        id INTEGER PRIMARY KEY AUTOINCREMENT)
// ltx/lty is the box's west longitude and north latitude, brx/bry its east longitude and south
// latitude. Indexes on (type, name), (parent_id) and (type, lng, lat) serve the tree's queries.
// PRAGMA user_version 1 marks our schema; a file of a newer version, or one that is not such a
// database, is left untouched and the database stays closed.
//
// Names are listed in the order of PlaceNameSortKey (their GBK bytes), as a Chinese user expects.
//
// Thread safety: every operation holds the connection's lock for its whole run, so the import
// worker and the user-interface thread (tree, search box) share one object. The import's
// transaction (BeginImport .. EndImport) spans many operations; reads made meanwhile on the same
// connection see the rows written so far.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "core/ado_connection.h"
#include "places/place_record.h"

namespace velmora {

class CPlaceNameDb : public CAdoConnection {
 public:
  static constexpr int kSchemaVersion = 1;

  // "<data folder>adn.adr", "<data folder>adn.kan" (the tree's index) and the shipped seed
  // "<program folder>data/adn.adr".
  static std::string DefaultDatabasePath();
  static std::string DefaultIndexPath();
  static std::string DefaultSeedPath();

  CPlaceNameDb() = default;
  ~CPlaceNameDb() override;

  // Opens the database at `path`; when the file is missing it is copied from `seed` (when that
  // exists and is a place-name database) or created empty. False, with the database closed,
  // when it cannot be opened or is not ours; such a file is never changed.
  bool OpenDatabase(const std::string& path, const std::string& seed);
  bool OpenDatabase() { return OpenDatabase(DefaultDatabasePath(), DefaultSeedPath()); }
  // True when the last OpenDatabase made the file (created or seeded): anything derived from an
  // older file (the tree's index) is stale.
  bool IsNewDatabase() const;

  // Writes a place. With `add_new` a new row is added; without, the row with the record's type
  // and name is rewritten (nothing is written when there is none). The row's id, also stored in
  // record.id; 0 when nothing was written or the database failed.
  int AddPlace(PlaceRecord& record, bool add_new);
  // The current row of a statement that selects every column of "addr" (SELECT *), as a record.
  static PlaceRecord ReadPlace(const SqliteStatement& row);

  bool HasProvince(std::string_view name);
  // Provinces (level 2), in name order.
  std::vector<PlaceRecord> Provinces();
  // Places whose parent is `parent_id`, in name order.
  std::vector<PlaceRecord> ChildrenOf(int parent_id);
  // Places of the levels whose position lies strictly inside the box, in name order.
  std::vector<PlaceRecord> PlacesInBox(std::initializer_list<int> levels, double west, double east, double south,
                                       double north);
  // Places whose name contains `text` (ASCII case ignored; % and _ are plain characters), in
  // row order.
  std::vector<PlaceRecord> FindByName(std::string_view text);
  int64_t PlaceCount();

  // The index of the tree beside a database: its path with the extension ".kan"
  // ("adn.adr" -> "adn.kan"); IndexPath() of the open database ("" when closed).
  static std::string IndexPathFor(const std::string& database_path);
  std::string IndexPath();

  // The import's transaction: the rows of one file are written together or not at all. A
  // commit first removes the tree's index (IndexPath): it no longer matches, and a kill before
  // the tree writes it again must not leave the old one to be trusted at the next start. When
  // the index cannot be removed nothing is committed (false).
  bool BeginImport();
  bool EndImport(bool commit);

 private:
  bool PrepareSchema(const std::string& path);
  std::vector<PlaceRecord> Select(const std::string& sql, std::initializer_list<DbValue> params, bool sort);

  bool new_database_ = false;
};

}  // namespace velmora

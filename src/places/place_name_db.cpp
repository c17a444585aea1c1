// The place-name database on SQLite: opening with its seed, places written and read by level,
// parent, box and name.
#include "places/place_name_db.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <utility>

#include "core/format.h"
#include "core/log.h"
#include "platform/db.h"
#include "core/settings.h"
#include "platform/fs.h"

namespace velmora {
namespace {

constexpr const char* kColumns[] = {"type", "name", "lng", "lat", "ltx", "lty", "brx", "bry", "parent_id", "id"};

int ClampId(int64_t v) {
  if (v < 0 || v > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int>(v);
}

double Finite(double v) { return std::isfinite(v) ? v + 0.0 : 0.0; }

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::string CPlaceNameDb::DefaultDatabasePath() { return AppOptions().data_dir + "adn.adr"; }
std::string CPlaceNameDb::DefaultIndexPath() { return AppOptions().data_dir + "adn.kan"; }
std::string CPlaceNameDb::DefaultSeedPath() { return AppOptions().program_dir + "data/adn.adr"; }

CPlaceNameDb::~CPlaceNameDb() { Close(); }

bool CPlaceNameDb::IsNewDatabase() const {
  auto lock = Lock();
  return new_database_;
}

bool CPlaceNameDb::OpenDatabase(const std::string& path, const std::string& seed) {
  auto lock = Lock();
  Close();
  new_database_ = false;
  std::error_code ec;
  const bool existed = std::filesystem::exists(path, ec);
  if (!FolderOf(path).empty()) EnsureFolder(FolderOf(path));
  bool seeded = false;
  if (!existed && !seed.empty() && std::filesystem::is_regular_file(seed, ec)) {
    std::string error;
    std::optional<std::vector<uint8_t>> bytes = ReadFileBytes(seed, &error);
    if (bytes && WriteFileAtomic(path, *bytes, &error)) {
      seeded = true;
      AppLog("place-name database %s copied from %s", path.c_str(), seed.c_str());
    } else {
      AppLog("place-name database seed %s: %s", seed.c_str(), error.c_str());
    }
  }
  const bool opened = CAdoConnection::Open(path, true);
  if (!opened) AppLog("place-name database %s: %s", path.c_str(), LastError().c_str());
  if (opened && PrepareSchema(path)) {
    new_database_ = !existed;
    return true;
  }
  Close();
  if (!seeded) return false;
  // The shipped copy is not a place-name database: our copy of it goes, an empty one is made.
  AppLog("place-name database seed %s is not usable; an empty database is made", seed.c_str());
  std::filesystem::remove(path, ec);
  if (CAdoConnection::Open(path, true) && PrepareSchema(path)) {
    new_database_ = true;
    return true;
  }
  Close();
  return false;
}

bool CPlaceNameDb::PrepareSchema(const std::string& path) {
  SqliteDb& db = Db();
  const DbValue version = db.QueryValue("PRAGMA user_version");
  if (!std::holds_alternative<int64_t>(version)) {
    AppLog("place-name database %s: %s", path.c_str(), db.LastError().c_str());
    return false;
  }
  const int64_t v = std::get<int64_t>(version);
  if (v > kSchemaVersion) {
    AppLog("place-name database %s was made by a newer program (version %lld)", path.c_str(), static_cast<long long>(v));
    return false;
  }
  if (!db.TableExists("addr")) {
    // Only an empty file becomes ours: another program's database is left alone.
    const DbValue tables = db.QueryValue("SELECT count(*) FROM sqlite_master");
    if (!std::holds_alternative<int64_t>(tables) || std::get<int64_t>(tables) != 0) {
      AppLog("place-name database %s holds no place table; it is left as it is", path.c_str());
      return false;
    }
    const std::string sql = FormatC(
        "BEGIN IMMEDIATE;"
        "CREATE TABLE addr(type INTEGER, name TEXT, lng REAL DEFAULT 0, lat REAL DEFAULT 0, ltx REAL DEFAULT 0,"
        " lty REAL DEFAULT 0, brx REAL DEFAULT 0, bry REAL DEFAULT 0, parent_id INTEGER,"
        " id INTEGER PRIMARY KEY AUTOINCREMENT);"
        "CREATE INDEX addr_type_name ON addr(type, name);"
        "CREATE INDEX addr_parent ON addr(parent_id);"
        "CREATE INDEX addr_type_position ON addr(type, lng, lat);"
        "PRAGMA user_version = %d;"
        "COMMIT;",
        kSchemaVersion);
    if (!db.Exec(sql.c_str())) {
      AppLog("place-name database %s: %s", path.c_str(), db.LastError().c_str());
      db.Exec("ROLLBACK");
      return false;
    }
    return true;
  }
  // A table of that name: every column must be there.
  SqliteStatement info = db.Prepare("PRAGMA table_info(addr)");
  std::vector<std::string> names;
  while (info.IsValid() && info.StepRow() == SqliteStatement::Step::kRow) names.push_back(info.ColumnText(1));
  for (const char* column : kColumns) {
    if (std::find(names.begin(), names.end(), column) == names.end()) {
      AppLog("place-name database %s: the place table has no column %s", path.c_str(), column);
      return false;
    }
  }
  if (v < kSchemaVersion) {
    const std::string sql = FormatC(
        "CREATE INDEX IF NOT EXISTS addr_type_name ON addr(type, name);"
        "CREATE INDEX IF NOT EXISTS addr_parent ON addr(parent_id);"
        "CREATE INDEX IF NOT EXISTS addr_type_position ON addr(type, lng, lat);"
        "PRAGMA user_version = %d;",
        kSchemaVersion);
    if (!db.Exec(sql.c_str())) AppLog("place-name database %s: %s", path.c_str(), db.LastError().c_str());
  }
  return true;
}

PlaceRecord CPlaceNameDb::ReadPlace(const SqliteStatement& row) {
  auto column = [&](const char* name) { return row.ColumnIndex(name); };
  auto real = [&](const char* name) {
    const int c = column(name);
    return c < 0 ? 0.0 : Finite(row.ColumnDouble(c));
  };
  PlaceRecord r;
  const int type = column("type");
  const int64_t level = type < 0 ? 0 : row.ColumnInt64(type);
  r.type = level >= std::numeric_limits<int>::min() && level <= std::numeric_limits<int>::max() ? static_cast<int>(level) : -1;
  if (const int c = column("id"); c >= 0) r.id = ClampId(row.ColumnInt64(c));
  if (const int c = column("parent_id"); c >= 0) r.parent_id = ClampId(row.ColumnInt64(c));
  if (const int c = column("name"); c >= 0) r.name = row.ColumnText(c);
  r.lng = real("lng");
  r.lat = real("lat");
  r.west = real("ltx");
  r.north = real("lty");
  r.east = real("brx");
  r.south = real("bry");
  return r;
}

int CPlaceNameDb::AddPlace(PlaceRecord& record, bool add_new) {
  auto lock = Lock();
  if (!IsOpen()) return 0;
  SqliteDb& db = Db();
  int64_t id = 0;
  const DbValue values[] = {Finite(record.lng),   Finite(record.lat),  Finite(record.west),
                            Finite(record.north), Finite(record.east), Finite(record.south),
                            static_cast<int64_t>(record.parent_id)};
  if (add_new) {
    SqliteStatement insert = db.Prepare(
        "INSERT INTO addr(type, name, lng, lat, ltx, lty, brx, bry, parent_id) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
    bool ok = insert.IsValid() && insert.Bind(1, static_cast<int64_t>(record.type)) && insert.Bind(2, std::string_view(record.name));
    for (int i = 0; ok && i < 7; ++i) ok = insert.Bind(3 + i, values[i]);
    if (!ok || insert.StepRow() == SqliteStatement::Step::kError) {
      AppLog("place-name database %s: %s", db.Path().c_str(), insert.IsValid() ? insert.Error().c_str() : db.LastError().c_str());
      return 0;
    }
    id = db.LastInsertRowId();
  } else {
    const DbValue found = db.QueryValue("SELECT id FROM addr WHERE type = ?1 AND name = ?2 ORDER BY id LIMIT 1",
                                        {static_cast<int64_t>(record.type), record.name});
    if (!std::holds_alternative<int64_t>(found)) return 0;
    id = std::get<int64_t>(found);
    SqliteStatement update = db.Prepare(
        "UPDATE addr SET lng = ?1, lat = ?2, ltx = ?3, lty = ?4, brx = ?5, bry = ?6, parent_id = ?7 WHERE id = ?8");
    bool ok = update.IsValid();
    for (int i = 0; ok && i < 7; ++i) ok = update.Bind(1 + i, values[i]);
    if (!ok || !update.Bind(8, id) || update.StepRow() == SqliteStatement::Step::kError) {
      AppLog("place-name database %s: %s", db.Path().c_str(), update.IsValid() ? update.Error().c_str() : db.LastError().c_str());
      return 0;
    }
  }
  record.id = ClampId(id);
  return record.id;
}

std::vector<PlaceRecord> CPlaceNameDb::Select(const std::string& sql, std::initializer_list<DbValue> params, bool sort) {
  std::vector<PlaceRecord> out;
  auto lock = Lock();
  if (!IsOpen()) return out;
  SqliteStatement select = Db().Prepare(sql);
  if (!select.IsValid() || !select.BindAll(params)) {
    AppLog("place-name database %s: %s", Db().Path().c_str(), select.IsValid() ? select.Error().c_str() : Db().LastError().c_str());
    return out;
  }
  for (;;) {
    const SqliteStatement::Step step = select.StepRow();
    if (step == SqliteStatement::Step::kError) {
      AppLog("place-name database %s: %s", Db().Path().c_str(), select.Error().c_str());
      break;
    }
    if (step != SqliteStatement::Step::kRow) break;
    out.push_back(ReadPlace(select));
  }
  if (sort) {
    std::vector<std::pair<std::string, size_t>> keys;
    keys.reserve(out.size());
    for (size_t i = 0; i < out.size(); ++i) keys.emplace_back(PlaceNameSortKey(out[i].name), i);
    std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<PlaceRecord> sorted;
    sorted.reserve(out.size());
    for (const auto& key : keys) sorted.push_back(std::move(out[key.second]));
    out = std::move(sorted);
  }
  return out;
}

bool CPlaceNameDb::HasProvince(std::string_view name) {
  auto lock = Lock();
  if (!IsOpen()) return false;
  const DbValue found = Db().QueryValue("SELECT id FROM addr WHERE type = ?1 AND name = ?2 LIMIT 1",
                                        {static_cast<int64_t>(kPlaceProvince), std::string(name)});
  return std::holds_alternative<int64_t>(found);
}

std::vector<PlaceRecord> CPlaceNameDb::Provinces() {
  return Select("SELECT * FROM addr WHERE type = ?1 ORDER BY id", {static_cast<int64_t>(kPlaceProvince)}, true);
}

std::vector<PlaceRecord> CPlaceNameDb::ChildrenOf(int parent_id) {
  return Select("SELECT * FROM addr WHERE parent_id = ?1 ORDER BY id", {static_cast<int64_t>(parent_id)}, true);
}

std::vector<PlaceRecord> CPlaceNameDb::PlacesInBox(std::initializer_list<int> levels, double west, double east,
                                                   double south, double north) {
  if (levels.size() == 0) return {};
  std::string types;
  for (int level : levels) types += (types.empty() ? "" : ", ") + std::to_string(level);
  return Select("SELECT * FROM addr WHERE type IN (" + types + ") AND lng > ?1 AND lng < ?2 AND lat > ?3 AND lat < ?4 ORDER BY id",
                {Finite(west), Finite(east), Finite(south), Finite(north)}, true);
}

std::vector<PlaceRecord> CPlaceNameDb::FindByName(std::string_view text) {
  return Select("SELECT * FROM addr WHERE name LIKE ?1 ESCAPE '\\' ORDER BY id", {LikeContainsPattern(text)}, false);
}

int64_t CPlaceNameDb::PlaceCount() {
  auto lock = Lock();
  if (!IsOpen()) return 0;
  const DbValue n = Db().QueryValue("SELECT count(*) FROM addr");
  return std::holds_alternative<int64_t>(n) ? std::get<int64_t>(n) : 0;
}

bool CPlaceNameDb::BeginImport() {
  auto lock = Lock();
  if (!IsOpen()) return false;
  if (Db().Exec("BEGIN IMMEDIATE")) return true;
  AppLog("place-name database %s: %s", Db().Path().c_str(), Db().LastError().c_str());
  return false;
}

std::string CPlaceNameDb::IndexPathFor(const std::string& database_path) {
  const std::string name = GetFileNamePart(database_path);
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? database_path
                                                    : database_path.substr(0, database_path.size() - (name.size() - dot));
  return stem + ".kan";
}

std::string CPlaceNameDb::IndexPath() {
  auto lock = Lock();
  return IsOpen() ? IndexPathFor(Db().Path()) : std::string();
}

bool CPlaceNameDb::EndImport(bool commit) {
  auto lock = Lock();
  if (!IsOpen()) return false;
  if (commit) {
    // The tree trusts its index while the database is not new: the index goes before the rows
    // it lacks are committed, so that a kill before it is written again leaves no index (it is
    // rebuilt at the next start) rather than an old one.
    const std::string index = IndexPathFor(Db().Path());
    if (::unlink(index.c_str()) != 0 && errno != ENOENT) {
      AppLog("place-name index %s cannot be removed before the import is stored: %s", index.c_str(),
             std::strerror(errno));
      Db().Exec("ROLLBACK");
      return false;
    }
  }
  if (commit && Db().Exec("COMMIT")) return true;
  if (commit) AppLog("place-name database %s: %s", Db().Path().c_str(), Db().LastError().c_str());
  Db().Exec("ROLLBACK");
  return !commit;
}

}  // namespace velmora

// CAddressAdo: the address database of one geocoder on SQLite, its reply cache, the rebuild
// from the cache, and the search with the names of each hit's ancestors.
#include "places/address_ado.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/format.h"
#include "core/log.h"
#include "platform/db.h"
#include "core/settings.h"
#include "platform/fs.h"
#include "platform/net.h"
#include "tiles/layer_manager.h"
#include "tiles/tile_store.h"
#include "tiles/tile_store_format.h"

namespace velmora {
namespace {

constexpr char kCacheMagic[4] = {'V', 'A', 'Q', '1'};
constexpr size_t kCacheHeaderBytes = 8;
// Longest query text kept with a cached reply.
constexpr size_t kMaxQueryBytes = 64 * 1024;

std::string EncodeCacheRecord(std::string_view query, std::string_view reply) {
  std::string payload(kCacheMagic, sizeof kCacheMagic);
  const auto n = static_cast<uint32_t>(query.size());
  char length[4];
  std::memcpy(length, &n, 4);
  payload.append(length, 4);
  payload.append(query);
  payload.append(reply);
  return payload;
}

// The query and reply of a cached record. A record without the header is a bare reply (its query
// unknown); false for a header whose length does not fit.
bool DecodeCacheRecord(std::string_view payload, std::string_view* query, std::string_view* reply) {
  if (payload.size() < sizeof kCacheMagic || payload.substr(0, 4) != std::string_view(kCacheMagic, 4)) {
    *query = {};
    *reply = payload;
    return true;
  }
  if (payload.size() < kCacheHeaderBytes) return false;
  uint32_t n = 0;
  std::memcpy(&n, payload.data() + 4, 4);
  if (n > kMaxQueryBytes || n > payload.size() - kCacheHeaderBytes) return false;
  *query = payload.substr(kCacheHeaderBytes, n);
  *reply = payload.substr(kCacheHeaderBytes + n);
  return true;
}

uint64_t NodeKey(int type, int64_t id) { return (uint64_t(uint32_t(type)) << 32) | uint32_t(id); }

int32_t ClampId(int64_t v) {
  if (v < 0 || v > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(v);
}

double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

}  // namespace

// Prepared statements per table, made on first use and kept while the database is open.
struct CAddressAdo::Statements {
  std::array<SqliteStatement, kAddressTypeCount> search;  // rows whose name is LIKE ?1
  std::array<SqliteStatement, kAddressTypeCount> all;     // every row
  std::array<SqliteStatement, kAddressTypeCount> row;     // name and parent of row ?1
  std::array<SqliteStatement, kAddressTypeCount> find;    // id of (name, parent)
  std::array<SqliteStatement, kAddressTypeCount> insert;
  std::array<SqliteStatement, kAddressTypeCount> update;
};

CAddressAdo::CAddressAdo() = default;

CAddressAdo::~CAddressAdo() { Close(); }

std::string CAddressAdo::BasePath(int id) { return AppOptions().data_dir + FormatC("%d_adr.", id); }

int CAddressAdo::Id() const {
  auto lock = Lock();
  return id_;
}

void CAddressAdo::Close() {
  auto lock = Lock();
  statements_.reset();
  CAdoConnection::Close();
  if (cache_) {
    std::string error;
    if (!cache_->Close(&error)) AppLog("address cache %s: %s", cache_->BasePath().c_str(), error.c_str());
    cache_.reset();
  }
}

bool CAddressAdo::Open(int id) {
  auto lock = Lock();
  if (id == id_ && IsOpen() && cache_) return true;
  id_ = id;
  Close();
  if (!IsGeocoderId(id)) return false;

  const std::string base = BasePath(id);
  EnsureFolder(AppOptions().data_dir);
  cache_ = std::make_unique<CTileStore>(base);
  std::string error;
  if (!cache_->Open(false, &error)) {
    // Without its cache the database could not be rebuilt, and new replies would be lost to
    // any later rebuild: the library stays closed.
    AppLog("address cache %s: %s", base.c_str(), error.c_str());
    cache_.reset();
    return false;
  }
  if (!OpenDatabase(base + "km")) {
    Close();
    return false;
  }
  return true;
}

bool CAddressAdo::OpenDatabase(const std::string& path) {
  if (!CAdoConnection::Open(path, true)) {
    const int code = Db().LastErrorCode() & 0xFF;
    if (code != SQLITE_NOTADB && code != SQLITE_CORRUPT) {
      AppLog("address database %s: %s", path.c_str(), LastError().c_str());
      return false;
    }
    // The database is derived from the reply cache: keep the damaged file aside (with its
    // journal, which must not be applied to a new file) and build it anew.
    std::error_code ec;
    std::filesystem::rename(path, path + ".damaged", ec);
    if (ec) {
      AppLog("address database %s is damaged and cannot be set aside: %s", path.c_str(), ec.message().c_str());
      return false;
    }
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      std::error_code ignored;
      if (std::filesystem::exists(path + suffix, ignored))
        std::filesystem::rename(path + suffix, path + ".damaged" + suffix, ignored);
    }
    AppLog("address database %s was damaged; kept as %s.damaged and rebuilt", path.c_str(), path.c_str());
    if (!CAdoConnection::Open(path, true)) {
      AppLog("address database %s: %s", path.c_str(), LastError().c_str());
      return false;
    }
  }
  const DbValue version = Db().QueryValue("PRAGMA user_version");
  const int64_t v = std::holds_alternative<int64_t>(version) ? std::get<int64_t>(version) : -1;
  if (v < 0) {
    AppLog("address database %s: %s", path.c_str(), Db().LastError().c_str());
    return false;
  }
  if (v > kSchemaVersion) {
    AppLog("address database %s was made by a newer program (version %lld)", path.c_str(),
           static_cast<long long>(v));
    return false;
  }
  if (v == kSchemaVersion && SchemaComplete()) return true;
  return Rebuild();
}

bool CAddressAdo::SchemaComplete() {
  for (int n = 0; n < kAddressTypeCount; ++n) {
    if (!Db().TableExists(FormatC("addr%d", n))) return false;
  }
  return true;
}

bool CAddressAdo::Rebuild() {
  statements_.reset();
  const std::string path = Db().Path();
  // Tables and rows appear together or not at all: a rebuild that is cut short leaves the file
  // without tables and with user_version 0, and the next open builds it again.
  SqliteTransaction tx(Db());
  if (!tx.Active()) {
    AppLog("address database %s: %s", path.c_str(), Db().LastError().c_str());
    return false;
  }
  for (int n = 0; n < kAddressTypeCount; ++n) {
    const std::string sql = FormatC(
        "DROP TABLE IF EXISTS addr%d;"
        "CREATE TABLE addr%d(name TEXT COLLATE NOCASE, lng REAL DEFAULT 0, lat REAL DEFAULT 0,"
        " zoom INTEGER DEFAULT 0, parent_id INTEGER DEFAULT 0, parent_type INTEGER DEFAULT 0,"
        " id INTEGER PRIMARY KEY AUTOINCREMENT);"
        "CREATE INDEX addr%d_node ON addr%d(parent_id, parent_type, name);",
        n, n, n, n);
    if (!Db().Exec(sql.c_str())) {
      AppLog("address database %s: %s", path.c_str(), Db().LastError().c_str());
      return false;
    }
  }
  if (!Db().Exec(FormatC("PRAGMA user_version = %d", kSchemaVersion).c_str())) {
    AppLog("address database %s: %s", path.c_str(), Db().LastError().c_str());
    return false;
  }
  RebuildInfo info;
  info.rebuilt = true;
  write_failed_ = false;
  const bool replayed = ReplayReplyCache(&info);
  statements_.reset();
  if (!replayed || write_failed_) {
    AppLog("address database %s: the rebuild from the reply cache failed", path.c_str());
    return false;
  }
  if (!tx.Commit()) {
    AppLog("address database %s: %s", path.c_str(), Db().LastError().c_str());
    return false;
  }
  if (info.skipped > 0)
    AppLog("address database %s: %llu cached records too large to parse were left out", path.c_str(),
           static_cast<unsigned long long>(info.skipped));
  last_rebuild_ = info;
  return true;
}

bool CAddressAdo::ReplayReplyCache(RebuildInfo* info) {
  if (!cache_) return true;
  // Every record of the data file in file order, superseded ones included: a query that was
  // asked again keeps the places of its older replies.
  const std::string data_path = cache_->DataPath();
  UniqueFd fd(::open(data_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) {
    AppLog("address cache %s: %s", data_path.c_str(), std::strerror(errno));
    return false;
  }
  constexpr size_t kMaxPayload = kCacheHeaderBytes + kMaxQueryBytes + kMaxReplyBytes;
  std::vector<uint8_t> payload;
  AddressHitList ignored;
  bool read_failed = false;
  tile_store::ScanResult scan = tile_store::ScanRecords(
      fd.Get(), tile_store::kDataHeaderSize, cache_->DataSize(), CTileStore::kMaxRecordBytes,
      [&](const TileStoreEntry& entry) {
        if (entry.length > kMaxPayload) {
          ++info->skipped;
          return true;
        }
        payload.resize(entry.length);
        if (entry.length > 0 &&
            !tile_store::ReadFull(fd.Get(), payload.data(), entry.length, entry.offset + tile_store::kRecordHeaderSize)) {
          read_failed = true;
          return false;
        }
        std::string_view query, reply;
        const std::string_view bytes(reinterpret_cast<const char*>(payload.data()), payload.size());
        if (!DecodeCacheRecord(bytes, &query, &reply) || reply.size() > kMaxReplyBytes) {
          ++info->skipped;
          return true;
        }
        ignored.clear();
        AddSearchReply(reply, ignored);
        ++info->replies;
        return !write_failed_;
      });
  if (scan.io_error || read_failed) {
    AppLog("address cache %s: %s", data_path.c_str(), scan.error.empty() ? "read failed" : scan.error.c_str());
    return false;
  }
  return true;
}

CAddressAdo::Statements& CAddressAdo::Cached() {
  if (!statements_) statements_ = std::make_unique<Statements>();
  return *statements_;
}

namespace {

// The table's statement, prepared on first use (the SQL text is made only then); invalid when
// preparing fails (logged).
template <class MakeSql>
SqliteStatement& Prepared(SqliteDb& db, SqliteStatement& slot, MakeSql make_sql) {
  if (!slot.IsValid()) {
    slot = db.Prepare(make_sql());
    if (!slot.IsValid()) AppLog("address database %s: %s", db.Path().c_str(), db.LastError().c_str());
  } else {
    slot.Reset();
  }
  return slot;
}

}  // namespace

int CAddressAdo::AddAddress(const AddressComponent& place, int parent_id, int parent_type, const double* position) {
  auto lock = Lock();
  if (!IsOpen() || !IsAddressType(place.type)) return 0;
  const int n = place.type;
  Statements& st = Cached();
  SqliteDb& db = Db();
  auto failed = [&](SqliteStatement& s) {
    AppLog("address database %s: %s", db.Path().c_str(), s.IsValid() ? s.Error().c_str() : db.LastError().c_str());
    if (s.IsValid()) s.Reset();
    write_failed_ = true;
    return 0;
  };
  double lng = 0, lat = 0;
  int64_t zoom = 0;
  if (position) {
    lng = Finite(position[0]);
    lat = Finite(position[1]);
    zoom = static_cast<int64_t>(std::clamp(Finite(position[2]), -32768.0, 32767.0));
  }

  SqliteStatement& find = Prepared(
      db, st.find[n], [n] {
        return FormatC("SELECT id FROM addr%d WHERE parent_id = ?2 AND parent_type = ?3 AND name = ?1 ORDER BY id LIMIT 1", n);
      });
  if (!find.IsValid()) return failed(find);
  find.Bind(1, std::string_view(place.name));
  find.Bind(2, static_cast<int64_t>(parent_id));
  find.Bind(3, static_cast<int64_t>(static_cast<int16_t>(parent_type)));
  const SqliteStatement::Step step = find.StepRow();
  if (step == SqliteStatement::Step::kError) return failed(find);
  if (step == SqliteStatement::Step::kRow) {
    const int64_t id = find.ColumnInt64(0);
    find.Reset();
    if (position) {
      SqliteStatement& update =
          Prepared(db, st.update[n], [n] { return FormatC("UPDATE addr%d SET lng = ?1, lat = ?2, zoom = ?3 WHERE id = ?4", n); });
      if (!update.IsValid()) return failed(update);
      update.Bind(1, lng);
      update.Bind(2, lat);
      update.Bind(3, zoom);
      update.Bind(4, id);
      if (update.StepRow() == SqliteStatement::Step::kError) return failed(update);
      update.Reset();
    }
    return ClampId(id);
  }
  find.Reset();
  SqliteStatement& insert = Prepared(
      db, st.insert[n], [n] {
        return FormatC("INSERT INTO addr%d(name, lng, lat, zoom, parent_id, parent_type) VALUES(?1, ?2, ?3, ?4, ?5, ?6)", n);
      });
  if (!insert.IsValid()) return failed(insert);
  insert.Bind(1, std::string_view(place.name));
  insert.Bind(2, lng);
  insert.Bind(3, lat);
  insert.Bind(4, zoom);
  insert.Bind(5, static_cast<int64_t>(parent_id));
  insert.Bind(6, static_cast<int64_t>(static_cast<int16_t>(parent_type)));
  if (insert.StepRow() == SqliteStatement::Step::kError) return failed(insert);
  insert.Reset();
  return ClampId(db.LastInsertRowId());
}

bool CAddressAdo::AddSearchReply(std::string_view reply, AddressHitList& out) {
  auto lock = Lock();
  std::deque<GeoResult> results;
  ParseSearchReply(id_, reply, results);
  // One reply's rows are written together (a savepoint nests inside the rebuild's transaction).
  const bool savepoint = IsOpen() && Db().Exec("SAVEPOINT add_reply");
  for (const GeoResult& result : results) {
    if (result.components.empty()) continue;
    int parent_id = 0, parent_type = 0;
    for (size_t i = 0; i + 1 < result.components.size(); ++i) {
      const AddressComponent& c = result.components[i];
      parent_id = AddAddress(c, parent_id, parent_type, nullptr);
      parent_type = c.type;
    }
    const AddressComponent& last = result.components.back();
    const double position[3] = {result.lng, result.lat, result.zoom};
    AddAddress(last, parent_id, parent_type, position);
    AddressHit hit;
    hit.name = last.name;
    hit.type = static_cast<int16_t>(last.type);
    hit.lng = result.lng;
    hit.lat = result.lat;
    hit.zoom = result.zoom;
    hit.parent_id = parent_id;
    hit.parent_type = static_cast<int16_t>(parent_type);
    out.push_back(std::move(hit));
  }
  if (savepoint && !Db().Exec("RELEASE add_reply")) {
    AppLog("address database %s: %s", Db().Path().c_str(), Db().LastError().c_str());
    write_failed_ = true;
  }
  return true;
}

void CAddressAdo::AppendRows(const char* where, std::string_view pattern, AddressHitList& out) {
  Statements& st = Cached();
  for (int n = 0; n < kAddressTypeCount; ++n) {
    SqliteStatement& select =
        where ? Prepared(Db(), st.search[n],
                         [n, where] {
                           return FormatC("SELECT name, lng, lat, zoom, parent_id, parent_type FROM addr%d %s ORDER BY id", n, where);
                         })
              : Prepared(Db(), st.all[n], [n] {
                  return FormatC("SELECT name, lng, lat, zoom, parent_id, parent_type FROM addr%d ORDER BY id", n);
                });
    if (!select.IsValid()) continue;
    if (where) select.Bind(1, pattern);
    for (;;) {
      const SqliteStatement::Step step = select.StepRow();
      if (step == SqliteStatement::Step::kError) {
        AppLog("address database %s: %s", Db().Path().c_str(), select.Error().c_str());
        break;
      }
      if (step != SqliteStatement::Step::kRow) break;
      AddressHit hit;
      hit.lng = select.ColumnDouble(1);
      hit.lat = select.ColumnDouble(2);
      hit.zoom = select.ColumnDouble(3);
      // A place at (0, 0) without zoom has no position worth showing.
      if (hit.lng == 0 && hit.lat == 0 && hit.zoom == 0) continue;
      hit.name = select.ColumnText(0);
      hit.type = static_cast<int16_t>(n);
      hit.parent_id = ClampId(select.ColumnInt64(4));
      const int64_t parent_type = select.ColumnInt64(5);
      hit.parent_type = static_cast<int16_t>(IsAddressType(parent_type) ? parent_type : -1);
      out.push_back(std::move(hit));
    }
    select.Reset();
  }
}

void CAddressAdo::Search(std::string_view text, AddressHitList& out) {
  auto lock = Lock();
  if (!IsOpen()) return;
  const size_t first = out.size();
  // One read transaction for the scans and every ancestor look-up: the file is locked once, not
  // once per statement.
  const bool savepoint = Db().Exec("SAVEPOINT search");
  AppendRows("WHERE name LIKE ?1 ESCAPE '\\'", LikeContainsPattern(text), out);
  CompleteNames(out, first);
  if (savepoint) Db().Exec("RELEASE search");
}

void CAddressAdo::FillList(AddressHitList& list) {
  auto lock = Lock();
  if (!IsOpen()) return;
  const size_t first = list.size();
  const bool savepoint = Db().Exec("SAVEPOINT fill_list");
  AppendRows(nullptr, {}, list);
  CompleteNames(list, first);
  if (savepoint) Db().Exec("RELEASE fill_list");
}

void CAddressAdo::CompleteNames(AddressHitList& hits, size_t first) {
  Statements& st = Cached();
  // Full names (ancestors and own name) of the rows met so far: hits share their ancestors.
  std::unordered_map<uint64_t, std::string> full_names;
  struct Link {
    uint64_t key;
    std::string name;
  };
  std::vector<Link> chain;
  for (size_t i = first; i < hits.size(); ++i) {
    AddressHit& hit = hits[i];
    chain.clear();
    std::string prefix;
    bool clean = true;  // the walk ended at a root or a missing row, not at a cycle or the depth cap
    int type = hit.parent_type;
    int64_t id = hit.parent_id;
    while (id > 0 && IsAddressType(type)) {
      const uint64_t key = NodeKey(type, id);
      if (auto known = full_names.find(key); known != full_names.end()) {
        prefix = known->second;
        break;
      }
      if (std::any_of(chain.begin(), chain.end(), [key](const Link& l) { return l.key == key; }) ||
          chain.size() >= static_cast<size_t>(kMaxAncestorDepth)) {
        clean = false;
        break;
      }
      SqliteStatement& row = Prepared(Db(), st.row[static_cast<size_t>(type)], [type] {
        return FormatC("SELECT name, parent_id, parent_type FROM addr%d WHERE id = ?1", type);
      });
      if (!row.IsValid()) break;
      row.Bind(1, id);
      if (row.StepRow() != SqliteStatement::Step::kRow) {
        row.Reset();
        break;
      }
      chain.push_back({key, row.ColumnText(0)});
      id = row.ColumnInt64(1);
      const int64_t next_type = row.ColumnInt64(2);
      type = IsAddressType(next_type) ? static_cast<int>(next_type) : -1;
      row.Reset();
    }
    for (size_t k = chain.size(); k-- > 0;) {
      prefix += chain[k].name;
      if (clean) full_names.emplace(chain[k].key, prefix);
    }
    hit.name.insert(0, prefix);
  }
}

uint64_t CAddressAdo::ReplyCacheKey(std::string_view query) {
  // FNV-1a over the whole query text: two queries share a key only by a 64-bit accident, and
  // the query stored with the reply settles even that.
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : query) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

bool CAddressAdo::CacheReply(std::string_view query, std::string_view reply) {
  auto lock = Lock();
  if (!cache_ || query.size() > kMaxQueryBytes || reply.size() > kMaxReplyBytes) return false;
  const std::string payload = EncodeCacheRecord(query, reply);
  std::string error;
  switch (cache_->Write(ReplyCacheKey(query), payload.data(), payload.size(), true, &error)) {
    case TileWriteResult::kWritten:
    case TileWriteResult::kUnchanged:
      return true;
    default:
      AppLog("address cache %s: %s", cache_->BasePath().c_str(), error.c_str());
      return false;
  }
}

bool CAddressAdo::ReadCachedReply(std::string_view query, std::string* reply) {
  auto lock = Lock();
  if (!cache_) return false;
  std::vector<uint8_t> bytes;
  if (!cache_->Read(ReplyCacheKey(query), bytes)) return false;
  std::string_view stored_query, stored_reply;
  const std::string_view payload(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  // Only a record that names this very query is its reply.
  if (!DecodeCacheRecord(payload, &stored_query, &stored_reply) || payload.substr(0, 4) != std::string_view(kCacheMagic, 4) ||
      stored_query != query)
    return false;
  reply->assign(stored_reply);
  return true;
}

CAddressAdo::RebuildInfo CAddressAdo::LastRebuild() const {
  auto lock = Lock();
  return last_rebuild_;
}

}  // namespace velmora

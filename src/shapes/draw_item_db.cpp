// The drawn-item database on SQLite: opening with the damage checks, rows written as stored
// shapes with bound parameters, and read-only queries that rebuild the shapes.
#include "shapes/draw_item_db.h"

#include <sqlite3.h>

#include <filesystem>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"

namespace velmora {
namespace {

constexpr const char* kCreateSql =
    "CREATE TABLE data (id INTEGER PRIMARY KEY AUTOINCREMENT, type INTEGER NOT NULL, name TEXT, "
    "data BLOB NOT NULL, west REAL, south REAL, east REAL, north REAL)";

bool HasColumn(SqliteDb& db, const char* table, const char* column) {
  SqliteStatement st = db.Prepare(std::string("PRAGMA table_info(") + table + ")");
  if (!st) return false;
  while (st.StepRow() == SqliteStatement::Step::kRow) {
    std::string name = st.ColumnText(st.ColumnIndex("name"));
    if (sqlite3_stricmp(name.c_str(), column) == 0) return true;
  }
  return false;
}

void BindBox(SqliteStatement& st, int first, const CMapShape& shape) {
  GeoBox box = shape.Bounds();
  if (box.Empty()) {
    for (int i = 0; i < 4; ++i) st.BindNull(first + i);
  } else {
    st.Bind(first, box.west);
    st.Bind(first + 1, box.south);
    st.Bind(first + 2, box.east);
    st.Bind(first + 3, box.north);
  }
}

}  // namespace

CDrawItemDB::~CDrawItemDB() { Close(); }

bool CDrawItemDB::Open(const std::string& path) {
  std::lock_guard lock(mutex_);
  return OpenLocked(path);
}

bool CDrawItemDB::OpenLocked(const std::string& path) {
  db_.Close();
  state_ = State::kClosed;
  path_ = path;
  error_.clear();
  std::error_code ec;
  bool exists = std::filesystem::exists(path, ec);
  auto damaged = [&](const std::string& why) {
    db_.Close();
    state_ = State::kDamaged;
    error_ = why;
    Report("drawn-item database " + path + " is damaged and left as it is: " + why);
    return false;
  };
  if (!exists) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (!db_.Open(path, SqliteDb::Mode::kReadWriteCreate) || !db_.Exec(kCreateSql)) {
      error_ = db_.LastError();
      db_.Close();
      Report("drawn-item database " + path + " cannot be created: " + error_);
      return false;
    }
    state_ = State::kOpen;
    return true;
  }
  // An existing file is opened without the create flag, so nothing new is made in its place.
  if (!db_.Open(path, SqliteDb::Mode::kReadWrite)) {
    int code = db_.LastErrorCode() & 0xFF;
    if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) return damaged(db_.LastError());
    error_ = db_.LastError();
    Report("drawn-item database " + path + " cannot be opened: " + error_);
    return false;
  }
  DbValue check = db_.QueryValue("PRAGMA quick_check");
  std::string verdict = DbValueToString(check);
  if (verdict != "ok") return damaged(verdict.empty() ? db_.LastError() : verdict);
  if (!db_.TableExists(kTable)) {
    // A sound database without the table (an older or empty file): the table is added beside
    // whatever else it holds.
    if (!db_.Exec(kCreateSql)) {
      error_ = db_.LastError();
      db_.Close();
      Report("drawn-item database " + path + ": cannot create the table: " + error_);
      return false;
    }
  } else if (!HasColumn(db_, kTable, "type") || !HasColumn(db_, kTable, "data")) {
    return damaged("its table \"data\" has no \"type\" and \"data\" columns");
  }
  state_ = State::kOpen;
  return true;
}

void CDrawItemDB::Close() {
  std::lock_guard lock(mutex_);
  db_.Close();
  state_ = State::kClosed;
}

CDrawItemDB::State CDrawItemDB::GetState() const {
  std::lock_guard lock(mutex_);
  return state_;
}

std::string CDrawItemDB::Path() const {
  std::lock_guard lock(mutex_);
  return path_;
}

std::string CDrawItemDB::LastError() const {
  std::lock_guard lock(mutex_);
  return error_;
}

uint64_t CDrawItemDB::SkippedRows() const {
  std::lock_guard lock(mutex_);
  return skipped_;
}

void CDrawItemDB::SetReportSink(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(mutex_);
  sink_ = std::move(sink);
}

void CDrawItemDB::Report(const std::string& text) {
  AppLog("%s", text.c_str());
  if (sink_) sink_(text);
}

bool CDrawItemDB::AddItem(CMapShape& shape) {
  return AddItems({&shape}) == 1;
}

void CDrawItemDB::ReportWriteFailure(const char* what) {
  Report(std::string(what) + ": " + (error_.empty() ? std::string("写入失败") : error_));
}

size_t CDrawItemDB::AddItems(const std::vector<CMapShape*>& shapes) {
  std::lock_guard lock(mutex_);
  if (state_ != State::kOpen) return 0;
  SqliteTransaction tx(db_);
  if (!tx.Active()) {
    error_ = db_.LastError();
    ReportWriteFailure(kSaveFailedText);
    return 0;
  }
  SqliteStatement st = db_.Prepare("INSERT INTO data (type, name, data, west, south, east, north) VALUES (?, ?, ?, ?, ?, ?, ?)");
  if (!st) {
    error_ = db_.LastError();
    ReportWriteFailure(kSaveFailedText);
    return 0;
  }
  std::vector<std::pair<CMapShape*, int64_t>> ids;
  for (CMapShape* shape : shapes) {
    if (!shape) continue;
    std::vector<uint8_t> bytes = shape->Store();
    st.Reset();
    st.ClearBindings();
    st.Bind(1, shape->GetType());
    st.Bind(2, std::string_view(shape->Name()));
    st.BindBlob(3, bytes.data(), bytes.size());
    BindBox(st, 4, *shape);
    if (st.StepRow() != SqliteStatement::Step::kDone) {
      error_ = st.Error();
      ReportWriteFailure(kSaveFailedText);
      return 0;  // the transaction rolls back
    }
    ids.emplace_back(shape, db_.LastInsertRowId());
  }
  if (!tx.Commit()) {
    error_ = db_.LastError();
    ReportWriteFailure(kSaveFailedText);
    return 0;
  }
  for (auto& [shape, id] : ids) shape->db_id = id;
  return ids.size();
}

bool CDrawItemDB::UpdateItem(const CMapShape& shape) {
  std::lock_guard lock(mutex_);
  if (state_ != State::kOpen || shape.db_id <= 0) return false;
  std::vector<uint8_t> bytes = shape.Store();
  SqliteStatement st = db_.Prepare("UPDATE data SET type = ?, name = ?, data = ?, west = ?, south = ?, east = ?, north = ? WHERE id = ?");
  if (!st) {
    error_ = db_.LastError();
    ReportWriteFailure(kSaveFailedText);
    return false;
  }
  st.Bind(1, shape.GetType());
  st.Bind(2, std::string_view(shape.Name()));
  st.BindBlob(3, bytes.data(), bytes.size());
  BindBox(st, 4, shape);
  st.Bind(8, shape.db_id);
  if (st.StepRow() != SqliteStatement::Step::kDone) {
    error_ = st.Error();
    ReportWriteFailure(kSaveFailedText);
    return false;
  }
  return db_.Changes() == 1;
}

bool CDrawItemDB::DeleteItem(int64_t id) {
  std::lock_guard lock(mutex_);
  if (state_ != State::kOpen) return false;
  if (!db_.Execute("DELETE FROM data WHERE id = ?", {id})) {
    error_ = db_.LastError();
    ReportWriteFailure(kDeleteFailedText);
    return false;
  }
  return db_.Changes() == 1;
}

int64_t CDrawItemDB::ItemCount() const {
  std::lock_guard lock(mutex_);
  if (state_ != State::kOpen) return -1;
  DbValue v = const_cast<SqliteDb&>(db_).QueryValue("SELECT count(*) FROM data");
  return std::holds_alternative<int64_t>(v) ? std::get<int64_t>(v) : -1;
}

int CDrawItemDB::LoadItems(const std::string& sql, std::vector<std::unique_ptr<CMapShape>>& out) {
  std::lock_guard lock(mutex_);
  if (state_ != State::kOpen) return -1;
  SqliteStatement st = db_.Prepare(sql);
  if (!st) {
    error_ = db_.LastError();
    return -1;
  }
  // Only reads: a query text must never change the stored items.
  if (!sqlite3_stmt_readonly(st.Handle())) {
    error_ = "not a read-only query: " + sql;
    return -1;
  }
  int type_col = -1, data_col = -1, id_col = -1;
  int added = 0;
  for (;;) {
    SqliteStatement::Step step = st.StepRow();
    if (step == SqliteStatement::Step::kDone) break;
    if (step == SqliteStatement::Step::kError) {
      error_ = st.Error();
      return added > 0 ? added : -1;
    }
    if (type_col < 0) {
      type_col = st.ColumnIndex("type");
      data_col = st.ColumnIndex("data");
      id_col = st.ColumnIndex("id");
      if (type_col < 0 || data_col < 0) {
        error_ = "the query yields no \"type\" and \"data\" columns";
        return -1;
      }
    }
    std::string why;
    std::unique_ptr<CMapShape> shape =
        CMapShape::FromStored(st.ColumnInt(type_col), st.ColumnBlob(data_col), &why);
    if (!shape) {
      ++skipped_;
      AppLog("drawn-item database %s: row %lld skipped: %s", path_.c_str(),
             static_cast<long long>(id_col >= 0 ? st.ColumnInt64(id_col) : -1), why.c_str());
      continue;
    }
    if (id_col >= 0) shape->db_id = st.ColumnInt64(id_col);
    out.push_back(std::move(shape));
    ++added;
  }
  return added;
}

CDrawItemDB& DrawItemDB() {
  static CDrawItemDB* db = [] {
    auto* d = new CDrawItemDB();  // lives for the whole run: workers may read it until the end
    d->Open(AppOptions().data_dir + CDrawItemDB::kFileName);
    return d;
  }();
  return *db;
}

}  // namespace velmora

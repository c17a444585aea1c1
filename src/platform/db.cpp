// The SQLite layer: connections, statements, transactions.
#include "platform/db.h"

#include <sqlite3.h>

#include <charconv>
#include <cstring>
#include <utility>

#include "platform/text.h"

namespace velmora {

namespace {

bool OnlyBlanksAndComments(const char* p) {
  while (p && *p) {
    if (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == ';') {
      ++p;
    } else if (p[0] == '-' && p[1] == '-') {
      while (*p && *p != '\n') ++p;
    } else if (p[0] == '/' && p[1] == '*') {
      const char* end = std::strstr(p + 2, "*/");
      if (!end) return true;
      p = end + 2;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

// ---- statement --------------------------------------------------------------------------------

SqliteStatement::~SqliteStatement() { Finalize(); }

SqliteStatement::SqliteStatement(SqliteStatement&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)),
      stmt_(std::exchange(other.stmt_, nullptr)),
      last_code_(other.last_code_),
      error_(std::move(other.error_)) {}

SqliteStatement& SqliteStatement::operator=(SqliteStatement&& other) noexcept {
  if (this != &other) {
    Finalize();
    db_ = std::exchange(other.db_, nullptr);
    stmt_ = std::exchange(other.stmt_, nullptr);
    last_code_ = other.last_code_;
    error_ = std::move(other.error_);
  }
  return *this;
}

void SqliteStatement::Finalize() {
  if (stmt_) sqlite3_finalize(stmt_);
  stmt_ = nullptr;
}

bool SqliteStatement::Check(int rc) {
  if (rc == SQLITE_OK) return true;
  error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
  return false;
}

bool SqliteStatement::Bind(int index, int64_t value) {
  if (!stmt_) return false;
  return Check(sqlite3_bind_int64(stmt_, index, value));
}

bool SqliteStatement::Bind(int index, double value) {
  if (!stmt_) return false;
  return Check(sqlite3_bind_double(stmt_, index, value));
}

bool SqliteStatement::Bind(int index, std::string_view text) {
  if (!stmt_) return false;
  return Check(sqlite3_bind_text64(stmt_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

bool SqliteStatement::BindBlob(int index, const void* data, size_t size) {
  if (!stmt_) return false;
  // A zero-length blob is still a blob, not NULL.
  if (size == 0) return Check(sqlite3_bind_zeroblob(stmt_, index, 0));
  return Check(sqlite3_bind_blob64(stmt_, index, data, size, SQLITE_TRANSIENT));
}

bool SqliteStatement::BindNull(int index) {
  if (!stmt_) return false;
  return Check(sqlite3_bind_null(stmt_, index));
}

bool SqliteStatement::Bind(int index, const DbValue& value) {
  return std::visit(
      [&](const auto& v) -> bool {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) return BindNull(index);
        else if constexpr (std::is_same_v<T, DbBlob>) return BindBlob(index, v.data(), v.size());
        else if constexpr (std::is_same_v<T, std::string>) return Bind(index, std::string_view(v));
        else return Bind(index, v);
      },
      value);
}

bool SqliteStatement::BindAll(std::initializer_list<DbValue> values) {
  if (!stmt_) return false;
  if (static_cast<int>(values.size()) != sqlite3_bind_parameter_count(stmt_)) {
    error_ = "statement has " + std::to_string(sqlite3_bind_parameter_count(stmt_)) +
             " parameters, " + std::to_string(values.size()) + " values given";
    return false;
  }
  int index = 1;
  for (const DbValue& v : values) {
    if (!Bind(index++, v)) return false;
  }
  return true;
}

int SqliteStatement::ParameterIndex(const char* name) const {
  return stmt_ ? sqlite3_bind_parameter_index(stmt_, name) : 0;
}

int SqliteStatement::ParameterCount() const { return stmt_ ? sqlite3_bind_parameter_count(stmt_) : 0; }

SqliteStatement::Step SqliteStatement::StepRow() {
  if (!stmt_) {
    error_ = "statement not prepared";
    last_code_ = SQLITE_MISUSE;
    return Step::kError;
  }
  last_code_ = sqlite3_step(stmt_);
  if (last_code_ == SQLITE_ROW) return Step::kRow;
  if (last_code_ == SQLITE_DONE) return Step::kDone;
  error_ = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(last_code_);
  return Step::kError;
}

bool SqliteStatement::Reset() {
  if (!stmt_) return false;
  // sqlite3_reset repeats the last step's error; the statement is usable again either way.
  sqlite3_reset(stmt_);
  return true;
}

bool SqliteStatement::ClearBindings() { return stmt_ && Check(sqlite3_clear_bindings(stmt_)); }

int SqliteStatement::ColumnCount() const { return stmt_ ? sqlite3_column_count(stmt_) : 0; }

std::string SqliteStatement::ColumnName(int column) const {
  if (column < 0 || column >= ColumnCount()) return std::string();
  const char* name = sqlite3_column_name(stmt_, column);
  return name ? std::string(name) : std::string();
}

int SqliteStatement::ColumnIndex(std::string_view name) const {
  int n = ColumnCount();
  for (int i = 0; i < n; ++i) {
    const char* c = sqlite3_column_name(stmt_, i);
    if (c && EqualsNoCaseAscii(c, name)) return i;
  }
  return -1;
}

int SqliteStatement::ColumnType(int column) const {
  if (column < 0 || column >= ColumnCount()) return SQLITE_NULL;
  return sqlite3_column_type(stmt_, column);
}

bool SqliteStatement::ColumnIsNull(int column) const { return ColumnType(column) == SQLITE_NULL; }

int64_t SqliteStatement::ColumnInt64(int column) const {
  if (column < 0 || column >= ColumnCount()) return 0;
  return sqlite3_column_int64(stmt_, column);
}

int SqliteStatement::ColumnInt(int column) const {
  if (column < 0 || column >= ColumnCount()) return 0;
  return sqlite3_column_int(stmt_, column);
}

double SqliteStatement::ColumnDouble(int column) const {
  if (column < 0 || column >= ColumnCount()) return 0;
  return sqlite3_column_double(stmt_, column);
}

std::string SqliteStatement::ColumnText(int column) const {
  if (column < 0 || column >= ColumnCount()) return std::string();
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size)) : std::string();
}

DbBlob SqliteStatement::ColumnBlob(int column) const {
  if (column < 0 || column >= ColumnCount()) return {};
  const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(stmt_, column));
  int size = sqlite3_column_bytes(stmt_, column);
  return data ? DbBlob(data, data + size) : DbBlob();
}

DbValue SqliteStatement::Column(int column) const {
  switch (ColumnType(column)) {
    case SQLITE_INTEGER: return ColumnInt64(column);
    case SQLITE_FLOAT: return ColumnDouble(column);
    case SQLITE_TEXT: return ColumnText(column);
    case SQLITE_BLOB: return ColumnBlob(column);
    default: return std::monostate{};
  }
}

const char* SqliteStatement::Sql() const { return stmt_ ? sqlite3_sql(stmt_) : ""; }

// ---- connection -------------------------------------------------------------------------------

SqliteDb::~SqliteDb() { Close(); }

SqliteDb::SqliteDb(SqliteDb&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)),
      error_code_(other.error_code_) {}

SqliteDb& SqliteDb::operator=(SqliteDb&& other) noexcept {
  if (this != &other) {
    Close();
    db_ = std::exchange(other.db_, nullptr);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
    error_code_ = other.error_code_;
  }
  return *this;
}

void SqliteDb::SetError(int rc, std::string_view context) {
  error_code_ = rc;
  error_.assign(context);
  if (!error_.empty()) error_ += ": ";
  error_ += db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
}

bool SqliteDb::Open(const std::string& path, Mode mode, int busy_timeout_ms) {
  Close();
  int flags = SQLITE_OPEN_NOMUTEX;  // callers serialise use of one connection
  switch (mode) {
    case Mode::kReadWriteCreate: flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE; break;
    case Mode::kReadWrite: flags |= SQLITE_OPEN_READWRITE; break;
    case Mode::kReadOnly: flags |= SQLITE_OPEN_READONLY; break;
  }
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  db_ = db;
  if (rc != SQLITE_OK) {
    SetError(rc, "cannot open " + path);
    Close();
    return false;
  }
  path_ = path;
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busy_timeout_ms);
  // Opening is lazy in SQLite: read the schema now so that a file that is not a database fails
  // here and not at the first query.
  rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    SetError(rc, "cannot open " + path);
    Close();
    return false;
  }
  error_.clear();
  error_code_ = 0;
  return true;
}

void SqliteDb::Close() {
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  path_.clear();
}

bool SqliteDb::Exec(const char* sql) {
  if (!db_) {
    SetError(SQLITE_MISUSE, "database not open");
    return false;
  }
  char* message = nullptr;
  int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &message);
  if (rc != SQLITE_OK) {
    error_code_ = rc;
    error_ = message ? message : sqlite3_errstr(rc);
    sqlite3_free(message);
    return false;
  }
  return true;
}

SqliteStatement SqliteDb::Prepare(std::string_view sql) {
  if (!db_) {
    SetError(SQLITE_MISUSE, "database not open");
    return {};
  }
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  int rc = sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, &tail);
  if (rc != SQLITE_OK) {
    SetError(rc, std::string());
    return {};
  }
  if (!stmt) {
    SetError(SQLITE_MISUSE, "empty statement");
    return {};
  }
  const char* end = sql.data() + sql.size();
  if (tail && tail < end && !OnlyBlanksAndComments(std::string(tail, end).c_str())) {
    sqlite3_finalize(stmt);
    error_code_ = SQLITE_MISUSE;
    error_ = "more than one statement in the text";
    return {};
  }
  return SqliteStatement(db_, stmt);
}

bool SqliteDb::Execute(std::string_view sql, std::initializer_list<DbValue> values) {
  SqliteStatement st = Prepare(sql);
  if (!st) return false;
  if (!st.BindAll(values)) {
    error_code_ = SQLITE_RANGE;
    error_ = st.Error();
    return false;
  }
  for (;;) {
    switch (st.StepRow()) {
      case SqliteStatement::Step::kRow: continue;
      case SqliteStatement::Step::kDone: return true;
      case SqliteStatement::Step::kError:
        error_code_ = st.LastCode();
        error_ = st.Error();
        return false;
    }
  }
}

DbValue SqliteDb::QueryValue(std::string_view sql, std::initializer_list<DbValue> values) {
  SqliteStatement st = Prepare(sql);
  if (!st) return std::monostate{};
  if (!st.BindAll(values)) {
    error_code_ = SQLITE_RANGE;
    error_ = st.Error();
    return std::monostate{};
  }
  switch (st.StepRow()) {
    case SqliteStatement::Step::kRow: error_.clear(); return st.Column(0);
    case SqliteStatement::Step::kDone: error_.clear(); return std::monostate{};
    case SqliteStatement::Step::kError: break;
  }
  error_code_ = st.LastCode();
  error_ = st.Error();
  return std::monostate{};
}

int64_t SqliteDb::LastInsertRowId() const { return db_ ? sqlite3_last_insert_rowid(db_) : 0; }

int SqliteDb::Changes() const { return db_ ? sqlite3_changes(db_) : 0; }

bool SqliteDb::TableExists(std::string_view table) {
  DbValue v = QueryValue("SELECT count(*) FROM sqlite_master WHERE type='table' AND name=?",
                         {std::string(table)});
  const int64_t* n = std::get_if<int64_t>(&v);
  return n && *n > 0;
}

// ---- transaction ------------------------------------------------------------------------------

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) { active_ = db_.Exec("BEGIN IMMEDIATE"); }

SqliteTransaction::~SqliteTransaction() { Rollback(); }

bool SqliteTransaction::Commit() {
  if (!active_) return false;
  if (!db_.Exec("COMMIT")) {
    // A failed COMMIT (e.g. SQLITE_BUSY) leaves the transaction open: roll it back so that the
    // connection is usable again and the failure is not mistaken for success.
    Rollback();
    return false;
  }
  active_ = false;
  return true;
}

void SqliteTransaction::Rollback() {
  if (!active_) return;
  active_ = false;
  if (db_.db_ && !sqlite3_get_autocommit(db_.db_)) {
    std::string error = db_.error_;
    int code = db_.error_code_;
    db_.Exec("ROLLBACK");
    db_.error_ = error;  // keep the reason of the failure, not the rollback's
    db_.error_code_ = code;
  }
}

// ---- values -----------------------------------------------------------------------------------

std::string DbValueToString(const DbValue& value) {
  return std::visit(
      [](const auto& v) -> std::string {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::monostate>) {
          return std::string();
        } else if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, double>) {
          char buf[64];
          auto r = std::to_chars(buf, buf + sizeof buf, v);
          return std::string(buf, r.ptr);
        } else {
          return std::string(v.begin(), v.end());
        }
      },
      value);
}

std::string LikeContainsPattern(std::string_view text) {
  std::string pattern = "%";
  for (char c : text) {
    if (c == '\\' || c == '%' || c == '_') pattern.push_back('\\');
    pattern.push_back(c);
  }
  pattern.push_back('%');
  return pattern;
}

}  // namespace velmora

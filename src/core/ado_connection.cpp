// CAdoConnection on SQLite: a forward-only recordset over a prepared statement.
#include "core/ado_connection.h"

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <filesystem>

#include "core/log.h"
#include "platform/text.h"

namespace velmora {

namespace {

// Quotes an identifier for SQL ("name" with inner quotes doubled).
std::string QuoteIdentifier(std::string_view name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  q += '"';
  return q;
}

}  // namespace

CAdoConnection::~CAdoConnection() { Close(); }

bool CAdoConnection::Open(const std::string& path, bool create, bool* created) {
  auto lock = Lock();
  Close();
  std::error_code ec;
  bool existed = std::filesystem::exists(path, ec);
  if (created) *created = false;
  if (!db_.Open(path, create ? SqliteDb::Mode::kReadWriteCreate : SqliteDb::Mode::kReadWrite)) {
    error_ = db_.LastError();
    return false;
  }
  if (created) *created = !existed;
  error_.clear();
  return true;
}

bool CAdoConnection::IsOpen() const {
  auto lock = Lock();
  return db_.IsOpen();
}

void CAdoConnection::Close() {
  auto lock = Lock();
  CloseRecordset();
  CancelUpdate();
  db_.Close();
}

bool CAdoConnection::Run(const char* sql, std::initializer_list<DbValue> params) {
  CloseRecordset();
  last_sql_ = sql ? sql : "";
  if (!sql) {
    error_ = "no SQL text";
    return false;
  }
  if (!db_.IsOpen()) {
    error_ = "database not open";
    return false;
  }
  SqliteStatement st = db_.Prepare(sql);
  if (!st) {
    error_ = db_.LastError();
    return false;
  }
  if (!st.BindAll(params)) {
    error_ = st.Error();
    return false;
  }
  if (st.ColumnCount() == 0) {
    // A statement without result columns runs to its end at once.
    for (;;) {
      SqliteStatement::Step s = st.StepRow();
      if (s == SqliteStatement::Step::kDone) break;
      if (s == SqliteStatement::Step::kError) {
        error_ = st.Error();
        return false;
      }
    }
    error_.clear();
    return true;
  }
  SqliteStatement::Step s = st.StepRow();
  if (s == SqliteStatement::Step::kError) {
    error_ = st.Error();
    return false;
  }
  recordset_ = std::move(st);
  fields_.clear();
  for (int i = 0; i < recordset_.ColumnCount(); ++i) fields_.push_back(recordset_.ColumnName(i));
  has_row_ = s == SqliteStatement::Step::kRow;
  LoadRow();
  error_.clear();
  return true;
}

void CAdoConnection::LoadRow() {
  row_.clear();
  if (!has_row_) return;
  int n = recordset_.ColumnCount();
  row_.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) row_.push_back(recordset_.Column(i));
}

bool CAdoConnection::ExecuteSQL(const char* sql) {
  auto lock = Lock();
  return Run(sql, {});
}

bool CAdoConnection::ExecuteSQL(const char* sql, std::initializer_list<DbValue> params) {
  auto lock = Lock();
  return Run(sql, params);
}

bool CAdoConnection::Query(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string sql;
  if (n > 0) {
    sql.resize(static_cast<size_t>(n) + 1);
    std::vsnprintf(sql.data(), sql.size(), format, args);
    sql.resize(static_cast<size_t>(n));
  }
  va_end(args);
  if (n < 0) {
    auto lock = Lock();
    error_ = "cannot format the SQL text";
    return false;
  }
  return QueryParams(sql.c_str(), {});
}

bool CAdoConnection::QueryParams(const char* sql, std::initializer_list<DbValue> params) {
  auto lock = Lock();
  if (!Run(sql, params)) return false;
  return !recordset_.IsValid() || has_row_;
}

int CAdoConnection::ExecuteNonQuery(const char* sql, std::initializer_list<DbValue> params) {
  auto lock = Lock();
  if (!sql || !db_.Execute(sql, params)) {
    error_ = sql ? db_.LastError() : "no SQL text";
    return -1;
  }
  error_.clear();
  return db_.Changes();
}

bool CAdoConnection::IsRecordsetOpen() const {
  auto lock = Lock();
  return recordset_.IsValid();
}

void CAdoConnection::CloseRecordset() {
  auto lock = Lock();
  recordset_.Finalize();
  fields_.clear();
  row_.clear();
  has_row_ = false;
}

bool CAdoConnection::IsEOF() const {
  auto lock = Lock();
  return !has_row_;
}

bool CAdoConnection::MoveNext() {
  auto lock = Lock();
  if (!has_row_) return false;
  SqliteStatement::Step s = recordset_.StepRow();
  if (s == SqliteStatement::Step::kError) {
    error_ = recordset_.Error();
    AppLog("database %s: %s", db_.Path().c_str(), error_.c_str());
  }
  has_row_ = s == SqliteStatement::Step::kRow;
  LoadRow();
  return has_row_;
}

std::vector<std::string> CAdoConnection::FieldNames() const {
  auto lock = Lock();
  return fields_;
}

int CAdoConnection::FieldIndex(std::string_view name) const {
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (EqualsNoCaseAscii(fields_[i], name)) return static_cast<int>(i);
  }
  return -1;
}

bool CAdoConnection::HasField(std::string_view name) const {
  auto lock = Lock();
  return FieldIndex(name) >= 0;
}

std::optional<DbValue> CAdoConnection::GetField(std::string_view name) const {
  auto lock = Lock();
  int i = FieldIndex(name);
  if (!has_row_ || i < 0 || static_cast<size_t>(i) >= row_.size()) return std::nullopt;
  if (std::holds_alternative<std::monostate>(row_[static_cast<size_t>(i)])) return std::nullopt;
  return row_[static_cast<size_t>(i)];
}

bool CAdoConnection::IsFieldNull(std::string_view name) const { return !GetField(name).has_value(); }

int64_t CAdoConnection::GetInt(std::string_view name, int64_t def) const {
  auto v = GetField(name);
  if (!v) return def;
  if (const int64_t* i = std::get_if<int64_t>(&*v)) return *i;
  if (const double* d = std::get_if<double>(&*v)) return static_cast<int64_t>(*d);
  if (const std::string* s = std::get_if<std::string>(&*v)) {
    int64_t out = 0;
    auto r = std::from_chars(s->data(), s->data() + s->size(), out);
    return r.ec == std::errc() ? out : def;
  }
  return def;
}

double CAdoConnection::GetDouble(std::string_view name, double def) const {
  auto v = GetField(name);
  if (!v) return def;
  if (const double* d = std::get_if<double>(&*v)) return *d;
  if (const int64_t* i = std::get_if<int64_t>(&*v)) return static_cast<double>(*i);
  if (const std::string* s = std::get_if<std::string>(&*v)) {
    double out = 0;
    auto r = std::from_chars(s->data(), s->data() + s->size(), out);
    return r.ec == std::errc() ? out : def;
  }
  return def;
}

std::string CAdoConnection::GetString(std::string_view name, const std::string& def) const {
  auto v = GetField(name);
  return v ? DbValueToString(*v) : def;
}

DbBlob CAdoConnection::GetBlob(std::string_view name) const {
  auto v = GetField(name);
  if (!v) return {};
  if (const DbBlob* b = std::get_if<DbBlob>(&*v)) return *b;
  std::string s = DbValueToString(*v);
  return DbBlob(s.begin(), s.end());
}

bool CAdoConnection::AddNew(std::string_view table) {
  auto lock = Lock();
  if (table.empty()) {
    error_ = "no table named";
    return false;
  }
  new_table_.assign(table);
  new_row_.clear();
  adding_ = true;
  return true;
}

bool CAdoConnection::SetField(std::string_view name, DbValue value) {
  auto lock = Lock();
  if (!adding_) {
    error_ = "SetField without AddNew";
    return false;
  }
  for (auto& [field, v] : new_row_) {
    if (EqualsNoCaseAscii(field, name)) {
      v = std::move(value);
      return true;
    }
  }
  new_row_.emplace_back(std::string(name), std::move(value));
  return true;
}

int64_t CAdoConnection::Update() {
  auto lock = Lock();
  if (!adding_) {
    error_ = "Update without AddNew";
    return 0;
  }
  std::string sql = "INSERT INTO " + QuoteIdentifier(new_table_);
  if (new_row_.empty()) {
    sql += " DEFAULT VALUES";
  } else {
    std::string names, marks;
    for (const auto& [field, v] : new_row_) {
      if (!names.empty()) {
        names += ", ";
        marks += ", ";
      }
      names += QuoteIdentifier(field);
      marks += "?";
    }
    sql += " (" + names + ") VALUES (" + marks + ")";
  }
  adding_ = false;
  auto row = std::move(new_row_);
  new_row_.clear();
  if (!db_.IsOpen()) {
    error_ = "database not open";
    return 0;
  }
  SqliteStatement st = db_.Prepare(sql);
  if (!st) {
    error_ = db_.LastError();
    return 0;
  }
  int index = 1;
  for (const auto& [field, v] : row) {
    if (!st.Bind(index++, v)) {
      error_ = st.Error();
      return 0;
    }
  }
  if (st.StepRow() != SqliteStatement::Step::kDone) {
    error_ = st.Error();
    return 0;
  }
  error_.clear();
  return db_.LastInsertRowId();
}

void CAdoConnection::CancelUpdate() {
  auto lock = Lock();
  adding_ = false;
  new_row_.clear();
  new_table_.clear();
}

}  // namespace velmora

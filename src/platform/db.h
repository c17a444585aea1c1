// A small SQLite layer: connections and prepared statements as RAII handles, bound parameters,
// transactions and the error text of the last failure. The database stores and CAdoConnection
// stand on it. A connection is used by one thread at a time; its users add the lock they need.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace velmora {

// A value of a column or a parameter: NULL, integer, real, UTF-8 text or blob.
using DbBlob = std::vector<uint8_t>;
using DbValue = std::variant<std::monostate, int64_t, double, std::string, DbBlob>;

class SqliteStatement {
 public:
  enum class Step { kRow, kDone, kError };

  SqliteStatement() = default;
  ~SqliteStatement();
  SqliteStatement(SqliteStatement&& other) noexcept;
  SqliteStatement& operator=(SqliteStatement&& other) noexcept;
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool IsValid() const { return stmt_ != nullptr; }
  explicit operator bool() const { return IsValid(); }
  void Finalize();

  // Parameters are numbered from 1, as in SQL ("?1", or the order of the "?" marks). Each Bind
  // returns false (error text in Error()) when the index is out of range.
  bool Bind(int index, int64_t value);
  bool Bind(int index, int value) { return Bind(index, static_cast<int64_t>(value)); }
  bool Bind(int index, double value);
  bool Bind(int index, std::string_view text);  // copied; UTF-8
  bool Bind(int index, const char* text) { return text ? Bind(index, std::string_view(text)) : BindNull(index); }
  bool BindBlob(int index, const void* data, size_t size);  // copied
  bool BindNull(int index);
  bool Bind(int index, const DbValue& value);
  // Binds the values to parameters 1..n.
  bool BindAll(std::initializer_list<DbValue> values);
  // Index of a named parameter (":name", "@name", "$name"); 0 when there is none.
  int ParameterIndex(const char* name) const;
  int ParameterCount() const;

  // Runs the statement one step: kRow with a row to read, kDone at the end, kError (text in
  // Error()) on failure.
  Step StepRow();
  // SQLite's own result code of the last step (100 row, 101 done, else an error code).
  int LastCode() const { return last_code_; }
  // Back to the start, keeping the bindings (ClearBindings drops them).
  bool Reset();
  bool ClearBindings();

  // Columns of the current row, numbered from 0. Out-of-range columns read as NULL.
  int ColumnCount() const;
  std::string ColumnName(int column) const;
  // Index of a column by name (ASCII case ignored, as SQL does); -1 when there is none.
  int ColumnIndex(std::string_view name) const;
  // SQLite's fundamental type: 1 integer, 2 float, 3 text, 4 blob, 5 null.
  int ColumnType(int column) const;
  bool ColumnIsNull(int column) const;
  int64_t ColumnInt64(int column) const;
  int ColumnInt(int column) const;
  double ColumnDouble(int column) const;
  std::string ColumnText(int column) const;
  DbBlob ColumnBlob(int column) const;
  DbValue Column(int column) const;

  const std::string& Error() const { return error_; }
  const char* Sql() const;
  sqlite3_stmt* Handle() const { return stmt_; }

 private:
  friend class SqliteDb;
  SqliteStatement(sqlite3* db, sqlite3_stmt* stmt) : db_(db), stmt_(stmt) {}
  bool Check(int rc);

  sqlite3* db_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
  int last_code_ = 0;
  std::string error_;
};

class SqliteDb {
 public:
  enum class Mode { kReadWriteCreate, kReadWrite, kReadOnly };

  SqliteDb() = default;
  ~SqliteDb();
  SqliteDb(SqliteDb&& other) noexcept;
  SqliteDb& operator=(SqliteDb&& other) noexcept;
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Opens the file (closing any earlier one). False with the reason in LastError() when it
  // cannot be opened, or is not a database; the handle is then closed again. Waits up to
  // `busy_timeout_ms` for locks held by other connections.
  bool Open(const std::string& path, Mode mode = Mode::kReadWriteCreate, int busy_timeout_ms = 5000);
  // Closes the connection (statements still alive keep it until they are finalized).
  void Close();
  bool IsOpen() const { return db_ != nullptr; }
  const std::string& Path() const { return path_; }

  // Runs one or more statements that return no rows. False with LastError() on failure.
  bool Exec(const char* sql);
  // Prepares one statement; an invalid statement (LastError()) on failure. Text after the first
  // statement is an error, so that nothing is silently skipped.
  SqliteStatement Prepare(std::string_view sql);
  // Prepares, binds the values to parameters 1..n and steps to the end. False on any failure.
  bool Execute(std::string_view sql, std::initializer_list<DbValue> values = {});
  // Prepares, binds and steps once: the first column of the first row, or NULL (monostate) when
  // there is no row or the statement fails (LastError() tells them apart: "" for no row).
  DbValue QueryValue(std::string_view sql, std::initializer_list<DbValue> values = {});

  int64_t LastInsertRowId() const;
  // Rows changed by the last INSERT, UPDATE or DELETE.
  int Changes() const;
  bool TableExists(std::string_view table);

  const std::string& LastError() const { return error_; }
  int LastErrorCode() const { return error_code_; }
  sqlite3* Handle() const { return db_; }

 private:
  friend class SqliteTransaction;
  void SetError(int rc, std::string_view context);

  sqlite3* db_ = nullptr;
  std::string path_;
  std::string error_;
  int error_code_ = 0;
};

// BEGIN on construction (IMMEDIATE: the write lock is taken at once), ROLLBACK on destruction
// unless Commit succeeded.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;

  bool Active() const { return active_; }
  bool Commit();
  void Rollback();

 private:
  SqliteDb& db_;
  bool active_ = false;
};

// The text of a DbValue for messages and loose reads: "" for NULL, numbers without the locale.
std::string DbValueToString(const DbValue& value);

// The LIKE pattern that finds `text` anywhere in a value, with '\' escaping the wildcards '%' and
// '_' and itself: use it with "LIKE ? ESCAPE '\'".
std::string LikeContainsPattern(std::string_view text);

}  // namespace velmora

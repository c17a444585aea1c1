// CAdoConnection: the connection-and-recordset API that the address, place-name and drawn-item
// stores are written against, on an SQLite file. A SELECT makes its rows the recordset, read one
// row at a time; fields of the current row are read by name; rows are added through AddNew /
// SetField / Update. Values from users go in as bound parameters, never pasted into SQL text.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/db.h"

namespace velmora {

class CAdoConnection {
 public:
  CAdoConnection() = default;
  virtual ~CAdoConnection();
  CAdoConnection(const CAdoConnection&) = delete;
  CAdoConnection& operator=(const CAdoConnection&) = delete;

  // Opens the database file (closing an earlier one); creates it when missing unless
  // `create` is false. `created` (optional) tells whether the file is new.
  bool Open(const std::string& path, bool create = true, bool* created = nullptr);
  bool IsOpen() const;
  // Closes the recordset and the connection.
  void Close();

  // Runs `sql` (every call runs it, also when the same text ran before). A statement that yields
  // rows becomes the recordset, standing on its first row (or at its end when there is none); any
  // other statement closes the recordset. False (LastError()) when the text fails or no database
  // is open.
  bool ExecuteSQL(const char* sql);
  // The same with the values bound to the parameters "?" (or "?1".."?n") in order.
  bool ExecuteSQL(const char* sql, std::initializer_list<DbValue> params);
  // printf-style SQL; true when the statement succeeded and, for one that yields rows, the
  // recordset stands on a row (a statement without rows, such as DELETE, is true on success).
  // The text is formatted without a length limit. Use QueryParams for values from users.
  bool Query(const char* format, ...) __attribute__((format(printf, 2, 3)));
  bool QueryParams(const char* sql, std::initializer_list<DbValue> params);
  // Runs a statement without touching the recordset; the number of changed rows, or -1 on
  // failure.
  int ExecuteNonQuery(const char* sql, std::initializer_list<DbValue> params = {});

  bool IsRecordsetOpen() const;
  void CloseRecordset();

  // Moving through the recordset (forward only, as the stores read it).
  bool IsEOF() const;   // true when no row is current (also when no recordset is open)
  bool MoveNext();      // true when a row is current afterwards
  // Field names of the recordset, in column order.
  std::vector<std::string> FieldNames() const;
  bool HasField(std::string_view name) const;

  // Fields of the current row by name (ASCII case ignored). A missing field, no current row or
  // a NULL value gives the default (or nothing for GetField).
  std::optional<DbValue> GetField(std::string_view name) const;
  bool IsFieldNull(std::string_view name) const;
  int64_t GetInt(std::string_view name, int64_t def = 0) const;
  double GetDouble(std::string_view name, double def = 0) const;
  std::string GetString(std::string_view name, const std::string& def = std::string()) const;
  DbBlob GetBlob(std::string_view name) const;

  // Adding a row: AddNew names the table, SetField gives the values, Update inserts the row and
  // returns its row id (0 on failure, LastError()). CancelUpdate drops the pending row.
  bool AddNew(std::string_view table);
  bool SetField(std::string_view name, DbValue value);
  int64_t Update();
  void CancelUpdate();

  const std::string& LastError() const { return error_; }
  const std::string& LastSql() const { return last_sql_; }
  SqliteDb& Db() { return db_; }

  // The connection's lock. Every operation above takes it; a caller that reads several rows or
  // fields as one unit holds it across them: `auto lock = ado.Lock();`.
  std::unique_lock<std::recursive_mutex> Lock() const { return std::unique_lock(mutex_); }

 private:
  bool Run(const char* sql, std::initializer_list<DbValue> params);
  void LoadRow();
  int FieldIndex(std::string_view name) const;

  mutable std::recursive_mutex mutex_;
  SqliteDb db_;
  SqliteStatement recordset_;
  std::vector<std::string> fields_;
  std::vector<DbValue> row_;
  bool has_row_ = false;
  std::string last_sql_;
  std::string error_;
  std::string new_table_;
  std::vector<std::pair<std::string, DbValue>> new_row_;
  bool adding_ = false;
};

}  // namespace velmora

// CDrawItemDB: the drawn-item database: the shapes a person keeps, one row per shape in the
// SQLite table "data" (id, type, name, stored shape data, bounding box). The object list, the
// exports and the address book read it with queries such as "SELECT * FROM data WHERE type = %d".
//
// A file that is not a database, fails SQLite's check or holds a "data" table of another shape
// is damaged: it is reported (log and the damage sink) and left exactly as it is; the object
// refuses every read and write until a later Open succeeds. Rows whose stored data cannot be
// rebuilt are skipped and counted, never rewritten. Thread-safe: one lock around each operation.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/db.h"
#include "shapes/map_shape.h"

namespace velmora {

class CDrawItemDB {
 public:
  static constexpr const char* kFileName = "drawitem.kdb";
  // The start of the report of a write that failed (a full disk, a file-size limit, I/O); the
  // reason follows after ": ".
  static constexpr const char* kSaveFailedText = "标注无法保存到数据库";
  static constexpr const char* kDeleteFailedText = "标注无法从数据库删除";
  static constexpr const char* kTable = "data";
  enum class State { kClosed, kOpen, kDamaged };

  CDrawItemDB() = default;
  ~CDrawItemDB();
  CDrawItemDB(const CDrawItemDB&) = delete;
  CDrawItemDB& operator=(const CDrawItemDB&) = delete;

  // Opens the database file, creating it (and the table) when missing. False when the file is
  // damaged (state kDamaged, reported) or cannot be opened.
  bool Open(const std::string& path);
  void Close();
  State GetState() const;
  bool IsOpen() const { return GetState() == State::kOpen; }
  std::string Path() const;
  std::string LastError() const;
  // Where damage and failures are reported besides the log (the view shows them).
  void SetReportSink(std::function<void(const std::string&)> sink);

  // Stores the shape as a new row and sets its db_id. False when the database is not open or
  // the write failed; a failed write (a full disk) is also reported through the sink and the
  // log, and LastError() tells why. The same for every write below.
  bool AddItem(CMapShape& shape);
  // Stores several shapes in one transaction; all or none. Returns how many were stored.
  size_t AddItems(const std::vector<CMapShape*>& shapes);
  // Rewrites the row of a stored shape (db_id); false when there is none.
  bool UpdateItem(const CMapShape& shape);
  bool DeleteItem(int64_t id);
  int64_t ItemCount() const;

  // Runs a read-only query over the table and appends a rebuilt shape per row (the row's "type"
  // and "data" columns; its "id" becomes the shape's db_id), e.g.
  // FormatC("SELECT * FROM data WHERE type = %d", kShapeMark). Returns the number of shapes
  // appended, -1 when the query fails, is not a read-only statement or the database is not
  // open. Rows that cannot be rebuilt are skipped and counted (SkippedRows).
  int LoadItems(const std::string& query, std::vector<std::unique_ptr<CMapShape>>& out);
  uint64_t SkippedRows() const;

 private:
  bool OpenLocked(const std::string& path);
  void Report(const std::string& text);
  // Reports `what` with error_ (caller holds mutex_).
  void ReportWriteFailure(const char* what);

  mutable std::mutex mutex_;
  SqliteDb db_;
  State state_ = State::kClosed;
  std::string path_;
  std::string error_;
  uint64_t skipped_ = 0;
  std::function<void(const std::string&)> sink_;
};

// The program's drawn-item database, "<data folder>drawitem.kdb", opened on first use.
CDrawItemDB& DrawItemDB();

}  // namespace velmora

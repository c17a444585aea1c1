// CDemPointList: the list of the elevation fetch dialog: one row per point (number, longitude,
// latitude, height) with an icon for its outcome, filled by a single-point fetch, a path fetch
// or an imported text file, and fetched again row by row on the list's worker "VMDemDown".
// ExportDemPointFile writes points to a text, CSV or spreadsheet file the user chooses.
//
// Threads: the rows belong to the user-interface thread. Every fetch runs on the list's worker
// on copies of the positions; the results come back as a message to the list, which applies
// them to its rows, then the dialog hears of the end (message 0x404). While the worker runs the
// list offers no menu, so rows are never deleted or replaced under a fetch.
#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/work_thread.h"
#include "shell/list_ctrl_ex.h"

namespace velmora {

class CElevCacheDb;

// Row states (also the index of the row's icon).
enum DemRowState : uint32_t {
  kDemRowImported = 0,  // imported, not yet asked
  kDemRowFetched = 1,   // fetched from the web service
  kDemRowFailed = 2,
  kDemRowOverQuota = 3,
  kDemRowCached = 4,    // found in the cache
};
// The fetch status of the elevation cache as a row state: 5 -> 1, 6 -> 4, 4 -> 3, else 2.
uint32_t DemRowStateOf(int status);

struct DemPointRow {
  float lon = 0, lat = 0, height = 0;
  uint32_t state = kDemRowImported;
};

// The point files' filter and the profile value ("recent", "demexport") of the last path.
inline constexpr const char* kDemExportFilter =
    "Text Files (*.txt)|*.txt|csv Files (*.csv)|*.csv|Excel Files (*.xls)|*.xls||";
inline constexpr const char* kCannotCreateFile = "无法创建文件";
inline constexpr const char* kCannotOpenFile = "无法打开文件";
// Asks a path and writes the points by its extension: "txt" the tab-separated text with its
// header, "csv" comma-separated, "xls" a spreadsheet (written as .xlsx). The file is opened
// afterwards when the dialog's open-after-saving box is ticked. False when cancelled or not
// written (the user was told).
bool ExportDemPointFile(CWnd* owner, std::span<const Point3D> points);
// The same without asking: by the path's extension. *written receives the path written.
bool WriteDemPointFile(const std::string& path, std::span<const Point3D> points, std::string* written,
                       std::string* error);

class CDemPointList : public CListCtrlEx {
 public:
  static constexpr const char* kThreadName = "VMDemDown";
  static constexpr UINT kMsgFetchDone = 0x404;  // to the parent when a fetch has ended
  static constexpr UINT kCmdDelete = 57632;
  static constexpr UINT kCmdClear = 57633;
  static constexpr UINT kCmdImport = 32737;
  static constexpr UINT kCmdExport = 32716;
  static constexpr const char* kImportFilter = "Text Files (*.txt)|*.txt||";
  static constexpr const char* kImportKey = "DemImp";

  CDemPointList();
  ~CDemPointList() override;

  // Makes the four columns and the row display (call once the window exists).
  void SetupColumns();
  // Elevation cache for the fetches (tests; null: the program's).
  void SetCache(CElevCacheDb* cache) { cache_ = cache; }
  // Told when the import flag changes (the dialog greys its point inputs).
  void SetImportChanged(std::function<void(bool imported)> changed) { import_changed_ = std::move(changed); }

  // ---- rows (user-interface thread) ----
  void AddPoint(float lon, float lat, float height, uint32_t state);
  const std::vector<DemPointRow>& Rows() const { return rows_; }
  std::vector<Point3D> RowPoints() const;
  bool IsImported() const { return imported_; }
  void DeleteRows(std::vector<int> items);
  void ClearRows();
  // Replaces the rows by the points of a text file (state 0); an unreadable file keeps the rows
  // and tells the user. True when read.
  bool ImportFile(const std::string& path);

  // ---- fetches (on the worker; each ends with kMsgFetchDone to the parent unless stopped) ----
  // One point: with `reload` the web service is asked, otherwise the cache first. The row is
  // added with its outcome, also when it failed.
  bool FetchPoints(const float point[2], bool reload);
  // `samples` points along the line, one row each in the service's order.
  bool FetchPath(const float first[2], const float second[2], int samples);
  // Asks the service again for every row (rows in state 1 only with `reload`).
  bool StartDemFetchThread(bool reload);
  bool IsFetching() const { return worker_.IsRunning(); }
  // Stops a fetch (serving the UI queue while it waits); true when it ended within `ms`.
  bool StopFetch(unsigned ms = kInfinite);
  CWorkThread& Worker() { return worker_; }

  // ---- a person's actions ----
  // The context menu (none while the worker runs): with a selection "删除", "清空", "导入",
  // "导出", without one only "导入".
  void OnContextMenu(int x, int y);
  // Centres the current view on the row.
  void OnDoubleClick(int item);
  void OnImport();
  void OnExport();

  std::string ItemText(int item, int sub_item) const;

 private:
  struct Update {
    bool append = false;
    size_t index = 0;
    DemPointRow row;
  };
  bool StartJob(std::function<void()> job);
  // Worker side: hands results to the user-interface thread.
  void Deliver(std::vector<Update> updates);
  void ApplyUpdates();
  void Refresh();
  void SetImported(bool imported);
  CElevCacheDb& Cache() const;

  std::vector<DemPointRow> rows_;
  bool imported_ = false;
  CElevCacheDb* cache_ = nullptr;
  std::function<void(bool)> import_changed_;
  std::mutex updates_mutex_;
  std::vector<Update> updates_;  // guarded by updates_mutex_
  CWorkThread worker_;
};

}  // namespace velmora

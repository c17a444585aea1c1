// The elevation fetch dialog's point list and the point file export.
#include "terrain/ui/dem_point_list.h"

#include <algorithm>

#include "core/format.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "shell/dlg_worker_base.h"
#include "shell/file_dialog_ex.h"
#include "shell/kovra_home_ex_app.h"
#include "terrain/dem_files.h"
#include "terrain/elev_cache_db.h"
#include "view/child_view.h"

namespace velmora {
namespace {

constexpr UINT kMsgRowsChanged = WM_USER + 0x61;

}  // namespace

uint32_t DemRowStateOf(int status) {
  switch (status) {
    case 5: return kDemRowFetched;
    case 6: return kDemRowCached;
    case 4: return kDemRowOverQuota;
    default: return kDemRowFailed;
  }
}

bool WriteDemPointFile(const std::string& path, std::span<const Point3D> points, std::string* written,
                       std::string* error) {
  const std::string ext = GetFileExtLower(path);
  if (written) *written = path;
  if (ext == "xls" || ext == "xlsx") return ExportExcel(path, points, 0, written, error);
  if (ext == "csv") return WriteCsvPoints(path, points, 0, error);
  return ExportText(path, points, 0, error);
}

bool ExportDemPointFile(CWnd* owner, std::span<const Point3D> points) {
  const std::string last = GetProfileString("recent", "demexport", "");
  CFileDialogEx dialog(false, "txt", last, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                       CFileDialogEx::PutMatchingFilterFirst(kDemExportFilter, last), owner);
  if (dialog.DoModal() != IDOK) return false;
  const std::string path = dialog.GetPathName();
  WriteProfileString("recent", "demexport", path);
  std::string written, error;
  if (!WriteDemPointFile(path, points, &written, &error)) {
    ShowMessageBox(kCannotCreateFile, MB_OK | MB_ICONWARNING);
    return false;
  }
  if (dialog.AutoOpen()) GetUiHost().OpenDocument(written);
  return true;
}

CDemPointList::CDemPointList() {
  MapMessage(kMsgRowsChanged, [this](WPARAM, LPARAM) {
    ApplyUpdates();
    return LRESULT{0};
  });
}

CDemPointList::~CDemPointList() {
  // The worker hands its results to this object: it ends before the object does.
  StopFetch();
}

void CDemPointList::SetupColumns() {
  while (GetColumnCount() > 0) DeleteColumn(0);
  InsertColumn(0, "序号", LVCFMT_LEFT, 80);
  InsertColumn(1, "经度", LVCFMT_LEFT, 80);
  InsertColumn(2, "纬度", LVCFMT_LEFT, 80);
  InsertColumn(3, "高度", LVCFMT_LEFT, 80);
  if (CKovraHomeExApp* app = GetApp()) SetImageList(&app->PointStateImages());
  SetDisplayCallbacks([this](int item, int sub_item) { return ItemText(item, sub_item); },
                      [this](int item) {
                        return item >= 0 && static_cast<size_t>(item) < rows_.size()
                                   ? static_cast<int>(rows_[static_cast<size_t>(item)].state)
                                   : -1;
                      });
  Refresh();
}

std::string CDemPointList::ItemText(int item, int sub_item) const {
  if (item < 0 || static_cast<size_t>(item) >= rows_.size()) return {};
  const DemPointRow& row = rows_[static_cast<size_t>(item)];
  switch (sub_item) {
    case 0: return FormatC("%d", item + 1);
    case 1: return FormatC("%f", static_cast<double>(row.lon));
    case 2: return FormatC("%f", static_cast<double>(row.lat));
    case 3: return FormatC("%f", static_cast<double>(row.height));
    default: return {};
  }
}

void CDemPointList::Refresh() {
  SetItemCountEx(static_cast<int>(rows_.size()));
  Invalidate();
}

void CDemPointList::AddPoint(float lon, float lat, float height, uint32_t state) {
  rows_.push_back({lon, lat, height, state});
  Refresh();
}

std::vector<Point3D> CDemPointList::RowPoints() const {
  std::vector<Point3D> points;
  points.reserve(rows_.size());
  for (const DemPointRow& r : rows_) points.push_back({r.lon, r.lat, r.height});
  return points;
}

void CDemPointList::SetImported(bool imported) {
  if (imported == imported_) return;
  imported_ = imported;
  if (import_changed_) import_changed_(imported);
}

void CDemPointList::DeleteRows(std::vector<int> items) {
  if (IsFetching()) return;
  std::sort(items.begin(), items.end());
  items.erase(std::unique(items.begin(), items.end()), items.end());
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    if (*it >= 0 && static_cast<size_t>(*it) < rows_.size()) rows_.erase(rows_.begin() + *it);
  }
  ClearSelection();
  Refresh();
  if (rows_.empty()) SetImported(false);
}

void CDemPointList::ClearRows() {
  if (IsFetching()) return;
  rows_.clear();
  ClearSelection();
  Refresh();
  SetImported(false);
}

bool CDemPointList::ImportFile(const std::string& path) {
  if (IsFetching()) return false;
  std::vector<Point3D> points;
  std::string error;
  // The file is read before anything goes: an unreadable one keeps the rows.
  if (!ImportText(path, &points, &error)) {
    ShowMessageBox(std::string(kCannotOpenFile) + "\n" + path, MB_OK | MB_ICONWARNING);
    return false;
  }
  rows_.clear();
  for (const Point3D& p : points)
    rows_.push_back({static_cast<float>(p.x), static_cast<float>(p.y), static_cast<float>(p.z), kDemRowImported});
  ClearSelection();
  Refresh();
  SetImported(!rows_.empty());
  return true;
}

CElevCacheDb& CDemPointList::Cache() const { return cache_ ? *cache_ : ElevCacheDb(); }

bool CDemPointList::StartJob(std::function<void()> job) {
  if (worker_.IsRunning()) return false;
  worker_.OnExit();
  const HWND parent = GetParent() ? GetParent()->GetSafeHwnd() : 0;
  return worker_.Start(kThreadName, [this, job = std::move(job), parent] {
    worker_.SignalReady();
    job();
    if (!worker_.QuitRequested() && parent) UiDispatcher().PostMessage(parent, kMsgFetchDone, 0, 0);
  });
}

void CDemPointList::Deliver(std::vector<Update> updates) {
  {
    std::lock_guard lock(updates_mutex_);
    for (Update& u : updates) updates_.push_back(u);
  }
  if (HWND hwnd = GetSafeHwnd()) UiDispatcher().PostMessage(hwnd, kMsgRowsChanged, 0, 0);
}

void CDemPointList::ApplyUpdates() {
  std::vector<Update> updates;
  {
    std::lock_guard lock(updates_mutex_);
    updates.swap(updates_);
  }
  for (const Update& u : updates) {
    if (u.append) {
      rows_.push_back(u.row);
    } else if (u.index < rows_.size()) {
      rows_[u.index] = u.row;
    }
  }
  if (!updates.empty()) Refresh();
}

bool CDemPointList::FetchPoints(const float point[2], bool reload) {
  CElevCacheDb* cache = &Cache();
  const float lon = point[0], lat = point[1];
  return StartJob([this, cache, lon, lat, reload] {
    float x = lon, y = lat, h = 0;
    const int status = reload ? cache->FetchPoint(&x, &y, &h) : cache->GetByPos(&x, &y, &h);
    if (worker_.QuitRequested()) return;
    Update u;
    u.append = true;
    u.row = {x, y, h, DemRowStateOf(status)};
    // A failed point keeps the position asked for and no height.
    if (u.row.state == kDemRowFailed || u.row.state == kDemRowOverQuota) u.row = {lon, lat, 0, u.row.state};
    Deliver({u});
  });
}

bool CDemPointList::FetchPath(const float first[2], const float second[2], int samples) {
  CElevCacheDb* cache = &Cache();
  const float a[2] = {first[0], first[1]}, b[2] = {second[0], second[1]};
  return StartJob([this, cache, a0 = a[0], a1 = a[1], b0 = b[0], b1 = b[1], samples] {
    const float p[2] = {a0, a1}, q[2] = {b0, b1};
    std::vector<int> statuses;
    std::vector<std::array<float, 3>> points;
    cache->FetchPath(p, q, samples, statuses, points);
    if (worker_.QuitRequested()) return;
    std::vector<Update> updates;
    for (size_t i = 0; i < points.size() && i < statuses.size(); ++i) {
      Update u;
      u.append = true;
      u.row = {points[i][0], points[i][1], points[i][2], DemRowStateOf(statuses[i])};
      updates.push_back(u);
    }
    Deliver(std::move(updates));
  });
}

bool CDemPointList::StartDemFetchThread(bool reload) {
  CElevCacheDb* cache = &Cache();
  // The worker walks a copy: the rows themselves change only on this thread.
  std::vector<DemPointRow> rows = rows_;
  return StartJob([this, cache, rows = std::move(rows), reload] {
    for (size_t i = 0; i < rows.size(); ++i) {
      if (rows[i].state == kDemRowFetched && !reload) continue;
      DemPointRow row = rows[i];
      const int status = cache->FetchPoint(&row.lon, &row.lat, &row.height);
      if (worker_.QuitRequested()) return;
      row.state = DemRowStateOf(status);
      if (row.state != kDemRowFetched) {
        // Only a fetched point moves to the service's location and takes its height.
        row.lon = rows[i].lon;
        row.lat = rows[i].lat;
        row.height = rows[i].height;
      }
      Update u;
      u.index = i;
      u.row = row;
      Deliver({u});
      if (worker_.WaitQuit(1)) return;
    }
  });
}

bool CDemPointList::StopFetch(unsigned ms) {
  if (!worker_.IsRunning()) {
    worker_.OnExit();
    return true;
  }
  return StopWorkerPumping(worker_, ms);
}

void CDemPointList::OnContextMenu(int x, int y) {
  if (IsFetching()) return;
  CMenu menu;
  menu.CreatePopupMenu();
  const bool selected = GetSelectedCount() > 0;
  if (selected) {
    menu.AppendMenu(MF_STRING, kCmdDelete, "删除");
    menu.AppendMenu(MF_STRING, kCmdClear, "清空");
  }
  menu.AppendMenu(MF_STRING, kCmdImport, "导入");
  if (selected) menu.AppendMenu(MF_STRING, kCmdExport, "导出");
  switch (static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, this))) {
    case kCmdDelete: DeleteRows(GetSelectedItems()); break;
    case kCmdClear: ClearRows(); break;
    case kCmdImport: OnImport(); break;
    case kCmdExport: OnExport(); break;
    default: break;
  }
}

void CDemPointList::OnDoubleClick(int item) {
  if (item < 0 || static_cast<size_t>(item) >= rows_.size()) return;
  CKovraHomeExApp* app = GetApp();
  IChildView* view = app ? app->GetCurrentView() : nullptr;
  if (view) view->SetCamera(rows_[static_cast<size_t>(item)].lon, rows_[static_cast<size_t>(item)].lat, 0.0, true);
}

void CDemPointList::OnImport() {
  if (IsFetching()) return;
  CFileDialog dialog(true, "txt", ProgramSettings().GetString(kImportKey, ""), OFN_HIDEREADONLY | OFN_FILEMUSTEXIST,
                     kImportFilter, GetParent());
  if (dialog.DoModal() != IDOK) return;
  ProgramSettings().SetString(kImportKey, dialog.GetPathName());
  ImportFile(dialog.GetPathName());
}

void CDemPointList::OnExport() {
  if (IsFetching()) return;
  const std::vector<Point3D> points = RowPoints();
  ExportDemPointFile(GetParent(), points);
}

}  // namespace velmora

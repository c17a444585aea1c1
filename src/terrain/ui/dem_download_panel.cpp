// The elevation download's task panel and dialog.
#include "terrain/ui/dem_download_panel.h"

#include <algorithm>

#include "platform/ui/menu.h"
#include "platform/ui/ui_host.h"
#include "terrain/elev_cache_db.h"
#include "terrain/ui/dem_point_list.h"

namespace velmora {
namespace {

DialogTemplate DemDownloadTemplate() {
  DialogTemplate t;
  t.id = CDlgDemDownload::kTemplateId;
  t.caption = CDlgDemDownload::kCaption;
  t.cx = 297;
  t.cy = 183;
  t.controls = {{ControlKind::kCustom, CDlgDemDownload::kIdPanel, "", 0, 0, 297, 183, 0}};
  return t;
}

}  // namespace

CDemDownloadPanel::CDemDownloadPanel() {
  // A right click on the picture asks the dialog for its menu.
  MapMessage(WM_CONTEXTMENU, [this](WPARAM wparam, LPARAM lparam) {
    if (CWnd* parent = GetParent()) return parent->SendMessage(WM_CONTEXTMENU, wparam, lparam);
    return LRESULT{0};
  });
}

CDemDownloadPanel::~CDemDownloadPanel() {
  // The walk uses this object's members: it ends before they do.
  if (CTaskStatic::IsRunning()) StopTask();
}

bool CDemDownloadPanel::StartDownload(const std::vector<LngLatF>& region, int sample_distance) {
  if (CTaskStatic::IsRunning()) return false;
  if (CElevCacheDb::ServiceHost().empty()) {
    MessageBox(kNoElevationService, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  DemWalkPlan plan;
  if (!PlanDemWalk(region, sample_distance, &plan)) {
    MessageBox(kEmptyRegion, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  distance_ = sample_distance;
  plan_ = std::move(plan);
  SetRegion(region);
  done = 0;
  failed = 0;
  {
    std::lock_guard lock(Mutex());
    result_ = {};
  }
  return StartTask(kThreadName, [this] { Run(); });
}

void CDemDownloadPanel::Run() {
  SnapshotLayers();
  const DemWalkPlan plan = plan_;
  const DemDownloadOptions options = options_;
  Worker().SignalReady();
  const DemDownloadResult result = RunDemDownload(plan, *this, Worker(), options);
  {
    std::lock_guard lock(Mutex());
    result_ = result;
  }
  FreeLayers();
  Invalidate();
}

DemDownloadResult CDemDownloadPanel::LastResult() const {
  std::lock_guard lock(Mutex());
  return result_;
}

bool CDemDownloadPanel::ResetProgress(int64_t columns, int64_t rows) {
  const bool ok = CTaskStatic::ResetProgress(columns, rows, kDemColorFrame);
  Invalidate();
  return ok;
}

void CDemDownloadPanel::SetProgress(int64_t column, int64_t row, Argb colour) {
  CTaskStatic::SetProgress(column, row, colour);
  Invalidate();
}

void CDemDownloadPanel::SetStatus(const std::string& text, int done_count) {
  {
    std::lock_guard lock(Mutex());
    done = done_count;
  }
  CTaskStatic::SetStatus(text);
}

CDlgDemDownload::CDlgDemDownload(CWnd* parent) : CDlgWorkerBase(DemDownloadTemplate(), parent) {
  BindControl(kIdPanel, panel_);
  MapMessage(WM_CONTEXTMENU, [this](WPARAM, LPARAM lparam) {
    OnContextMenu(static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam)));
    return LRESULT{0};
  });
  MapCommand(kCmdExport, [this] { OnExport(); });
}

CDlgDemDownload::~CDlgDemDownload() {
  if (panel_.IsRunning()) panel_.StopTask();
  DestroyWindow();
}

bool CDlgDemDownload::OnInitDialog() {
  SetWindowIconFromImage(this, kIconName);
  return true;
}

void CDlgDemDownload::OnContextMenu(int x, int y) {
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(MF_STRING | (panel_.IsRunning() ? MF_GRAYED : 0), kCmdExport, kExportText);
  const int chosen = menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, this);
  // The walk may have started meanwhile: the cache is read only when it is idle.
  if (chosen == static_cast<int>(kCmdExport) && !panel_.IsRunning()) OnExport();
}

std::vector<Point3D> CDlgDemDownload::RegionHeights() {
  std::vector<Point3D> points;
  const std::vector<LngLatF> region = panel_.Region();
  DemWalkPlan plan;
  if (!PlanDemWalk(region, 1, &plan)) return points;
  float left = region[0].lng, right = left, top = region[0].lat, bottom = top;
  for (const LngLatF& v : region) {
    left = std::min(left, v.lng);
    right = std::max(right, v.lng);
    bottom = std::min(bottom, v.lat);
    top = std::max(top, v.lat);
  }
  // The box query is strict on every side: widened by a metre so that the border rows come too,
  // then held to the region by the walk's own test.
  constexpr float kMetreDeg = 1.0f / 111319.49f;
  std::vector<std::array<double, 3>> rows;
  CElevCacheDb& cache = panel_.Options().cache ? *panel_.Options().cache : ElevCacheDb();
  cache.QueryBox(left - kMetreDeg, top + kMetreDeg, right + kMetreDeg, bottom - kMetreDeg, rows);
  for (const auto& row : rows) {
    if (plan.Contains(LngToEquirectMeters(row[0]), LatToEquirectMeters(row[1]))) points.push_back({row[0], row[1], row[2]});
  }
  return points;
}

void CDlgDemDownload::OnExport() {
  if (panel_.IsRunning()) return;
  const std::vector<Point3D> points = RegionHeights();
  ExportDemPointFile(this, points);
}

}  // namespace velmora

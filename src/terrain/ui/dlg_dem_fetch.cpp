// The elevation fetch dialog.
#include "terrain/ui/dlg_dem_fetch.h"

#include <cmath>

#include "core/format.h"
#include "core/settings.h"
#include "platform/sync.h"
#include "platform/ui/ui_host.h"
#include "terrain/elev_cache_db.h"
#include "terrain/elevation_store.h"
#include "terrain/ui/dem_download_panel.h"

namespace velmora {
namespace {

DialogTemplate DemFetchTemplate() {
  using D = CDlgDemFetch;
  DialogTemplate t;
  t.id = D::kTemplateId;
  t.caption = D::kCaption;
  t.cx = 330;
  t.cy = 230;
  t.controls = {
      {ControlKind::kListView, D::kIdList, "", 6, 6, 318, 130, 0},
      {ControlKind::kStatic, -1, "起点经度", 6, 144, 40, 12, 0},
      {ControlKind::kEdit, D::kIdFirstLon, "", 48, 142, 60, 14, 0},
      {ControlKind::kStatic, -1, "纬度", 114, 144, 24, 12, 0},
      {ControlKind::kEdit, D::kIdFirstLat, "", 140, 142, 60, 14, 0},
      {ControlKind::kStatic, -1, "终点经度", 6, 162, 40, 12, 0},
      {ControlKind::kEdit, D::kIdSecondLon, "", 48, 160, 60, 14, 0},
      {ControlKind::kStatic, -1, "纬度", 114, 162, 24, 12, 0},
      {ControlKind::kEdit, D::kIdSecondLat, "", 140, 160, 60, 14, 0},
      {ControlKind::kStatic, -1, "采样间距(米)", 210, 144, 54, 12, 0},
      {ControlKind::kEdit, D::kIdDistance, "", 266, 142, 58, 14, 0},
      {ControlKind::kStatic, -1, "采样点数", 210, 162, 54, 12, 0},
      {ControlKind::kEdit, D::kIdSamples, "", 266, 160, 58, 14, 0},
      {ControlKind::kCheckBox, D::kIdReload, "重新获取", 6, 182, 70, 12, 0},
      {ControlKind::kCheckBox, D::kIdSnap, "对齐到采样间距", 80, 182, 90, 12, 0},
      {ControlKind::kStatic, D::kIdElapsed, "00:00:00.000", 180, 182, 70, 12, 0},
      {ControlKind::kDefButton, D::kIdStart, "获取", 204, 206, 56, 16, 0},
      {ControlKind::kButton, IDCANCEL, "关闭", 268, 206, 56, 16, 0},
  };
  return t;
}

constexpr int kPointInputs[] = {CDlgDemFetch::kIdFirstLon, CDlgDemFetch::kIdSecondLon, CDlgDemFetch::kIdFirstLat,
                                CDlgDemFetch::kIdSecondLat, CDlgDemFetch::kIdSnap, CDlgDemFetch::kIdDistance,
                                CDlgDemFetch::kIdSamples};

}  // namespace

CDlgDemFetch::CDlgDemFetch(CWnd* parent) : CDlgWorkerBase(DemFetchTemplate(), parent) {
  CProfileStore& settings = ProgramSettings();
  distance = settings.GetInt("DemDist", 90);
  samples = settings.GetInt("DemSmp", 1);
  reload = settings.GetInt("DemRld", 1) != 0;
  BindControl(kIdList, list_);
  BindControl(kIdElapsed, elapsed_);
  MapCommand(kIdStart, [this] { OnStart(); });
  MapTimer(kTimer, [this] { ShowElapsed(); });
  MapMessage(CDemPointList::kMsgFetchDone, [this](WPARAM, LPARAM) {
    OnFetchDone();
    return LRESULT{0};
  });
  MapNotify(kIdList, NM_RCLICK, [this](NMHDR* hdr) {
    const auto* item = reinterpret_cast<NMITEMACTIVATE*>(hdr);
    list_.OnContextMenu(item->ptAction.x, item->ptAction.y);
    return LRESULT{0};
  });
  MapNotify(kIdList, NM_DBLCLK, [this](NMHDR* hdr) {
    list_.OnDoubleClick(reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem);
    return LRESULT{0};
  });
  list_.SetImportChanged([this](bool imported) { EnablePointInputs(!imported); });
}

CDlgDemFetch::~CDlgDemFetch() {
  list_.StopFetch();
  DestroyWindow();
}

void CDlgDemFetch::SetPoints(float lon1, float lat1, float lon2, float lat2) {
  first[0] = lon1;
  first[1] = lat1;
  second[0] = lon2;
  second[1] = lat2;
  if (IsWindow()) ShowPoints();
}

std::string CDlgDemFetch::FormatElapsedMs(uint64_t ms) {
  return FormatC("%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000), static_cast<int>(ms / 60000 % 60),
                 static_cast<int>(ms / 1000 % 60), static_cast<int>(ms % 1000));
}

bool CDlgDemFetch::OnInitDialog() {
  list_.SetupColumns();
  list_.SetExtendedStyle(list_.GetExtendedStyle() | LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES);
  elapsed_.SetTextColor(0xFF0000);  // blue
  elapsed_.SetWindowText("00:00:00.000");
  SetDlgItemInt(kIdDistance, distance);
  SetDlgItemInt(kIdSamples, samples);
  CheckDlgButton(kIdReload, reload ? 1 : 0);
  CheckDlgButton(kIdSnap, snap ? 1 : 0);
  ShowPoints();
  EnablePointInputs(!list_.IsImported());
  if (CWnd* start = GetDlgItem(kIdStart)) start->EnableWindow(!list_.IsFetching());
  return true;
}

void CDlgDemFetch::OnDestroy() {
  if (timing_) KillTimer(kTimer);
  timing_ = false;
  list_.StopFetch();
  CDlgWorkerBase::OnDestroy();
}

void CDlgDemFetch::ShowPoints() {
  SetDlgItemText(kIdFirstLon, FormatC("%f", static_cast<double>(first[0])));
  SetDlgItemText(kIdFirstLat, FormatC("%f", static_cast<double>(first[1])));
  SetDlgItemText(kIdSecondLon, FormatC("%f", static_cast<double>(second[0])));
  SetDlgItemText(kIdSecondLat, FormatC("%f", static_cast<double>(second[1])));
}

void CDlgDemFetch::EnablePointInputs(bool enable) {
  for (int id : kPointInputs)
    if (CWnd* control = GetDlgItem(id)) control->EnableWindow(enable);
}

bool CDlgDemFetch::ReadControls() {
  auto read_int = [this](int id, int low, int high, int* out) {
    const auto v = ParseInt(GetDlgItemText(id));
    if (!v || *v < low || *v > high) {
      MessageBox(FormatC("请输入一个介于 %d 和 %d 之间的整数。", low, high), kAppTitle, MB_OK | MB_ICONWARNING);
      if (CWnd* control = GetDlgItem(id)) control->SetFocus();
      return false;
    }
    *out = static_cast<int>(*v);
    return true;
  };
  auto read_coord = [this](int id, double limit, float* out) {
    const auto v = ParseDouble(GetDlgItemText(id));
    if (!v || std::fabs(*v) > limit) {
      MessageBox(kBadNumber, kAppTitle, MB_OK | MB_ICONWARNING);
      if (CWnd* control = GetDlgItem(id)) control->SetFocus();
      return false;
    }
    *out = static_cast<float>(*v);
    return true;
  };
  int d = 0, n = 0;
  float a[2] = {0, 0}, b[2] = {0, 0};
  if (!read_int(kIdDistance, 1, kMaxDistance, &d) || !read_int(kIdSamples, 1, kMaxSamples, &n)) return false;
  if (!read_coord(kIdFirstLon, 180, &a[0]) || !read_coord(kIdFirstLat, 90, &a[1]) ||
      !read_coord(kIdSecondLon, 180, &b[0]) || !read_coord(kIdSecondLat, 90, &b[1])) {
    return false;
  }
  distance = d;
  samples = n;
  reload = IsDlgButtonChecked(kIdReload) != 0;
  snap = IsDlgButtonChecked(kIdSnap) != 0;
  first[0] = a[0], first[1] = a[1], second[0] = b[0], second[1] = b[1];
  return true;
}

void CDlgDemFetch::OnStart() {
  if (list_.IsFetching() || !ReadControls()) return;
  if (CElevCacheDb::ServiceHost().empty()) {
    MessageBox(kNoElevationService, kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  start_tick_ = TickCount64();
  elapsed_.SetWindowText(FormatElapsedMs(0));
  timing_ = SetTimer(kTimer, kTimerMs);
  if (CWnd* start = GetDlgItem(kIdStart)) start->EnableWindow(false);

  bool started = false;
  if (list_.IsImported()) {
    started = list_.StartDemFetchThread(reload);
  } else {
    const int resolution = snap ? distance : 0;
    float a[2] = {first[0], first[1]}, b[2] = {second[0], second[1]};
    CElevationStore::NormalizePosition(&a[0], &a[1], resolution);
    if (samples == 1) {
      started = list_.FetchPoints(a, reload);
    } else {
      CElevationStore::NormalizePosition(&b[0], &b[1], resolution);
      started = list_.FetchPath(a, b, samples);
    }
  }
  CProfileStore& settings = ProgramSettings();
  settings.SetInt("DemDist", distance);
  settings.SetInt("DemSmp", samples);
  settings.SetInt("DemRld", reload ? 1 : 0);
  if (!started) OnFetchDone();
}

void CDlgDemFetch::ShowElapsed() {
  if (start_tick_) elapsed_.SetWindowText(FormatElapsedMs(TickCount64() - start_tick_));
}

void CDlgDemFetch::OnFetchDone() {
  list_.StopFetch();  // the worker posted this as its last act: this only joins it
  if (timing_) KillTimer(kTimer);
  timing_ = false;
  ShowElapsed();
  if (CWnd* start = GetDlgItem(kIdStart)) start->EnableWindow(true);
}

}  // namespace velmora

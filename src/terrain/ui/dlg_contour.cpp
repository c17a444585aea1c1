// The contour dialog: its template, the values, sampling, tracing and the list.
#include "terrain/ui/dlg_contour.h"

#include <algorithm>

#include "core/format.h"
#include "exchange/ui/dlg_region_base.h"
#include "platform/ui/dialog_template.h"
#include "shell/kovra_home_ex_app.h"
#include "tiles/map_view_state.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

DialogTemplate ContourTemplate() {
  using K = ControlKind;
  DialogTemplate t;
  t.id = CDlgContour::IDD;
  t.caption = "等高线";
  t.cx = 340;
  t.cy = 236;
  t.controls = {
      {K::kStatic, CDlgContour::kIdChart, "", 7, 7, 224, 222, 0},
      {K::kStatic, CDlgContour::kIdViewBox, "取地图视图范围", 238, 7, 95, 10, 0},
      {K::kStatic, -1, "左上角经度:", 238, 22, 46, 10, 0},
      {K::kEdit, CDlgContour::kIdWest, "", 286, 20, 47, 12, 0},
      {K::kStatic, -1, "左上角纬度:", 238, 38, 46, 10, 0},
      {K::kEdit, CDlgContour::kIdNorth, "", 286, 36, 47, 12, 0},
      {K::kStatic, -1, "右下角经度:", 238, 54, 46, 10, 0},
      {K::kEdit, CDlgContour::kIdEast, "", 286, 52, 47, 12, 0},
      {K::kStatic, -1, "右下角纬度:", 238, 70, 46, 10, 0},
      {K::kEdit, CDlgContour::kIdSouth, "", 286, 68, 47, 12, 0},
      {K::kStatic, -1, "横向采样数:", 238, 86, 46, 10, 0},
      {K::kEdit, CDlgContour::kIdCount, "", 286, 84, 47, 12, 0},
      {K::kButton, static_cast<int>(CDlgContour::kCmdSample), "采样", 286, 100, 47, 14, 0},
      {K::kStatic, -1, "等高距(米):", 238, 122, 46, 10, 0},
      {K::kEdit, CDlgContour::kIdInterval, "", 286, 120, 33, 12, 0},
      {K::kButton, CDlgContour::kIdIntervalUp, "▲", 320, 120, 13, 6, 0},
      {K::kButton, CDlgContour::kIdIntervalDown, "▼", 320, 126, 13, 6, 0},
      {K::kButton, static_cast<int>(CDlgContour::kCmdCompute), "生成等高线", 286, 136, 47, 14, 0},
      {K::kListView, CDlgContour::kIdList, "", 238, 154, 95, 56, 0},
      {K::kButton, IDCANCEL, "关闭", 286, 215, 47, 14, 0},
  };
  return t;
}

}  // namespace

std::string CDlgContour::IntervalMessage() {
  return FormatC("请输入一个介于 %d 和 %d 之间的整数。", kMinInterval, kMaxInterval);
}

CDlgContour::CDlgContour(CWnd* parent) : CDialogEx(ContourTemplate(), parent) {
  BindControl(kIdViewBox, link_);
  BindControl(kIdList, list_);
  BindControl(kIdChart, chart_);
  MapCommand(kCmdSample, [this] { OnSample(); });
  MapCommand(kCmdCompute, [this] { OnCompute(); });
  MapCommand(kIdViewBox, [this] { OnViewBox(); });
  MapCommand(kIdIntervalUp, [this] { StepInterval(kIntervalStep); });
  MapCommand(kIdIntervalDown, [this] { StepInterval(-kIntervalStep); });
  MapNotify(kIdList, NM_DBLCLK, [this](NMHDR* hdr) {
    AddLineToMap(reinterpret_cast<NMITEMACTIVATE*>(hdr)->iItem);
    return LRESULT{0};
  });
  MapNotify(kIdList, LVN_ITEMCHANGED, [this](NMHDR* hdr) {
    const auto* nm = reinterpret_cast<NMLISTVIEW*>(hdr);
    if ((nm->uNewState & LVIS_SELECTED) && !(nm->uOldState & LVIS_SELECTED)) chart_.SetSelectedLine(nm->iItem);
    return LRESULT{0};
  });
}

CDlgContour::~CDlgContour() { DestroyWindow(); }

bool CDlgContour::OnInitDialog() {
  SetDlgItemInt(kIdInterval, kDefaultInterval);
  SetDlgItemInt(kIdCount, kDefaultCount);
  list_.InsertColumn(0, "海拔", LVCFMT_LEFT, 40);
  list_.InsertColumn(1, "点数", LVCFMT_LEFT, 50);
  list_.SetDisplayCallbacks([this](int item, int sub_item) -> std::string {
    const auto* line = reinterpret_cast<const ContourLine*>(list_.GetItemData(item));
    if (!line) return {};
    return sub_item == 0 ? FormatC("%g", static_cast<double>(line->level))
                         : FormatC("%d", static_cast<int>(line->points.size()));
  });
  OnViewBox();
  return true;
}

CPDView* CDlgContour::MapView() const {
  if (view_) return view_;
  CKovraHomeExApp* app = GetApp();
  return app ? dynamic_cast<CPDView*>(app->FindView(kViewMap2D)) : nullptr;
}

void CDlgContour::OnViewBox() {
  IMapViewState* view = CurrentMapView();
  if (!view) return;
  float top_left[2] = {0, 0}, bottom_right[2] = {0, 0};
  view->GetViewBounds(top_left, bottom_right);
  SetDlgItemText(kIdWest, FormatCorner(top_left[0]));
  SetDlgItemText(kIdNorth, FormatCorner(top_left[1]));
  SetDlgItemText(kIdEast, FormatCorner(bottom_right[0]));
  SetDlgItemText(kIdSouth, FormatCorner(bottom_right[1]));
}

void CDlgContour::StepInterval(int delta) {
  const auto v = ParseInt(GetDlgItemText(kIdInterval));
  long long next = v ? *v + delta : kDefaultInterval;
  if (next < kMinInterval) next = kMinInterval;
  if (next > kMaxInterval) next = kMaxInterval;
  SetDlgItemInt(kIdInterval, next);
}

bool CDlgContour::ReadValues(Values* values) {
  const auto interval = ParseInt(GetDlgItemText(kIdInterval));
  if (!interval || *interval < kMinInterval || *interval > kMaxInterval) {
    MessageBox(IntervalMessage(), kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  const auto count = ParseInt(GetDlgItemText(kIdCount));
  const auto w = ParseDouble(GetDlgItemText(kIdWest));
  const auto n = ParseDouble(GetDlgItemText(kIdNorth));
  const auto e = ParseDouble(GetDlgItemText(kIdEast));
  const auto s = ParseDouble(GetDlgItemText(kIdSouth));
  auto lng_ok = [](const std::optional<double>& v) { return v && *v >= -180 && *v <= 180; };
  auto lat_ok = [](const std::optional<double>& v) { return v && *v >= -90 && *v <= 90; };
  // The count is bounded like the corners: a grid beyond kMaxSampleSide a side would only cost
  // minutes (or, in the web modes, hours of requests) and memory.
  if (!count || *count < kMinCount || *count > kMaxSampleSide || !lng_ok(w) || !lng_ok(e) || !lat_ok(n) ||
      !lat_ok(s) || !(*e > *w) || !(*n > *s)) {
    MessageBox(CDlgRegionBase::kBadCorners, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  values->interval = static_cast<int>(*interval);
  values->count = static_cast<int>(*count);
  values->west = static_cast<float>(*w);
  values->north = static_cast<float>(*n);
  values->east = static_cast<float>(*e);
  values->south = static_cast<float>(*s);
  return true;
}

void CDlgContour::ClearList() {
  list_.DeleteAllItems();
  chart_.SetSelectedLine(-1);
}

bool CDlgContour::OnSample() {
  Values v;
  if (!ReadValues(&v)) return false;
  // The rows follow the map view's shape; a view of no size gives none.
  IMapViewState* view = CurrentMapView();
  const MapCamera camera = view ? view->GetCamera() : MapCamera{};
  ElevationGrid plan;
  const long long rows = camera.width > 0 ? static_cast<long long>(camera.height) * v.count / camera.width : 0;
  const int ny = static_cast<int>(std::min<long long>(rows, kMaxSampleSide));
  if (camera.width <= 0 || camera.height <= 0 || ny < kMinCount ||
      !PlanElevationGrid(v.west, v.north, v.east, v.south, v.count, ny, &plan)) {
    MessageBox(CDlgRegionBase::kBadCorners, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  ClearList();
  chart_.Grid().FreeLines();
  chart_.UpdateLines();
  if (!chart_.SampleProfile(v.west, v.north, v.east, v.south, v.count, ny)) return false;
  chart_.Grid().Smooth();
  return true;
}

bool CDlgContour::OnCompute() {
  Values v;
  if (!ReadValues(&v)) return false;
  ClearList();
  CContourGrid& grid = chart_.Grid();
  // No grid yet, or one without a range (every node without data): no lines, not the old ones.
  if (grid.Compute(v.interval) != ContourStatus::kOk) grid.FreeLines();
  chart_.UpdateLines();
  int row = 0;
  for (const auto& line : grid.Lines()) {
    list_.InsertItem(row, LPSTR_TEXTCALLBACK);
    list_.SetItemText(row, 1, LPSTR_TEXTCALLBACK);
    list_.SetItemData(row, reinterpret_cast<uintptr_t>(line.get()));
    ++row;
  }
  return true;
}

void CDlgContour::AddLineToMap(int row) {
  if (row < 0 || row >= list_.GetItemCount()) return;
  const auto* line = reinterpret_cast<const ContourLine*>(list_.GetItemData(row));
  CPDView* view = MapView();
  if (!line || !view) return;
  view->AddContourLine(FormatC("%g", static_cast<double>(line->level)), chart_.LineToLngLat(*line));
}

}  // namespace velmora

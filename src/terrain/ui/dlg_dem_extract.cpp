// The elevation extraction dialog: its template, the extraction, the point files, the contours,
// their exports and the map.
#include "terrain/ui/dlg_dem_extract.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "core/format.h"
#include "core/log.h"
#include "core/projection.h"
#include "core/settings.h"
#include "exchange/dxf_export.h"
#include "platform/ui/dialog_template.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "platform/ui/wait_cursor.h"
#include "places/ui/dlg_coord_list.h"
#include "places/ui/dlg_coord_sys_select.h"
#include "shapes/polyline_shape.h"
#include "shapes/text_shape.h"
#include "shell/file_dialog_ex.h"
#include "shell/file_dialog_kmz_export.h"
#include "shell/kovra_home_ex_app.h"
#include "terrain/dem_files.h"
#include "tiles/screen_terrain_source.h"
#include "view/child_view.h"

namespace velmora {
namespace {

constexpr const char* kRecentSection = "recent";

// A folder remembered for the next file dialog, ending with '/'.
void RememberFolder(const char* key, std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  WriteProfileString(kRecentSection, key, folder);
}
constexpr const char* kAddToCacheKey = "DemAddDB";

DialogTemplate DemExtractTemplate() {
  using K = ControlKind;
  using D = CDlgDemExtract;
  DialogTemplate t;
  t.id = D::IDD;
  t.caption = "高程提取";
  t.cx = 345;
  t.cy = 218;
  t.controls = {
      {K::kStatic, D::kIdPanel, "", 7, 7, 220, 204, 0},
      {K::kListView, D::kIdList, "", 233, 7, 105, 96, 0},
      {K::kStatic, -1, "采样间距", 233, 110, 34, 10, 0},
      {K::kEdit, D::kIdSampleDistance, "", 268, 108, 30, 12, 0},
      {K::kCheckBox, D::kIdAddToCache, "入库", 303, 109, 35, 10, 0},
      {K::kStatic, D::kIdCount, "(米)", 233, 124, 105, 10, 0},
      {K::kComboBox, D::kIdIntervalType, "", 233, 138, 50, 60, 0},
      {K::kEdit, D::kIdInterval, "", 286, 138, 40, 12, 0},
      {K::kCustom, D::kIdIntervalSpin, "", 326, 138, 12, 12, 0},
      {K::kButton, static_cast<int>(D::kCmdExtract), "提取", 233, 156, 50, 14, 0},
      {K::kButton, static_cast<int>(D::kCmdContour), "生成等高线", 288, 156, 50, 14, 0},
      {K::kButton, static_cast<int>(D::kCmdImport), "导入...", 233, 174, 50, 14, 0},
      {K::kButton, static_cast<int>(D::kCmdExport), "导出...", 288, 174, 50, 14, 0},
      {K::kButton, IDCANCEL, "关闭", 288, 197, 50, 14, 0},
  };
  return t;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
  return Lower(path.substr(dot + 1));
}

// The system's DXF question through the message box.
CDxfExport::Answer AskAddOrOverwrite(CWnd* owner, const std::string& question) {
  switch (owner->MessageBox(question, kAppTitle, MB_YESNOCANCEL | MB_ICONQUESTION)) {
    case IDYES: return CDxfExport::Answer::kAdd;
    case IDNO: return CDxfExport::Answer::kOverwrite;
    default: return CDxfExport::Answer::kCancel;
  }
}

}  // namespace

CDlgDemExtract::CDlgDemExtract(CWnd* parent) : CDlgWorkerBase(DemExtractTemplate(), parent) {
  Init();
  add_to_cache_ = GetProfileInt(kSection, kAddToCacheKey, 0) != 0;
}

CDlgDemExtract::CDlgDemExtract(std::span<const LngLatF> screen_points, IScreenTerrainSource* source, CWnd* parent)
    : CDlgWorkerBase(DemExtractTemplate(), parent) {
  Init();
  screen_mode_ = true;
  sample_distance_ = 20;
  CWaitCursor wait;
  panel_.LoadScreenPoints(screen_points, sample_distance_, source);
}

CDlgDemExtract::~CDlgDemExtract() {
  // The worker writes into the panel: it ends before the panel goes.
  if (panel_.IsRunning()) StopWorkerPumping(panel_.Worker());
  DestroyWindow();
}

void CDlgDemExtract::Init() {
  BindControl(kIdPanel, panel_);
  BindControl(kIdList, list_);
  BindControl(kIdIntervalType, interval_type_);
  MapCommand(kCmdExtract, [this] { OnExtract(); });
  MapCommand(kCmdExport, [this] { OnExportPoints(); });
  MapCommand(kCmdImport, [this] { OnImportPoints(); });
  MapCommand(kCmdContour, [this] { OnMakeContours(); });
  MapCommand(kCmdCoordList, [this] { OnCoordList(); });
  MapCommand(kCmdExportAll, [this] { OnExportContours(true); });
  MapCommand(kCmdExportSelected, [this] { OnExportContours(false); });
  MapCommand(kCmdAddSelected, [this] { OnAddToMap(false); });
  MapCommand(kCmdAddAll, [this] { OnAddToMap(true); });
  MapControlNotify(kIdSampleDistance, EN_CHANGE, [this] { OnSampleDistanceChanged(); });
  MapMessage(CDemGridCtrl::kMsgExtractFinished, [this](WPARAM, LPARAM) {
    OnExtractFinished();
    return LRESULT{0};
  });
  MapNotify(kIdList, NM_RCLICK, [this](NMHDR*) {
    OnListMenu();
    return LRESULT{0};
  });
  interval_ = static_cast<float>(GetProfileDouble(kSection, "contour_distance", 20.0));
  interval_type_value_ = GetProfileInt(kSection, "contour_distance_type", 0);
}

bool CDlgDemExtract::OnInitDialog() {
  list_.InsertColumn(0, "海拔", LVCFMT_LEFT, 40);
  list_.InsertColumn(1, "点数", LVCFMT_LEFT, 50);
  list_.SetExtendedStyle(LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES | LVS_EX_FULLROWSELECT);
  list_.SetDisplayCallbacks([this](int item, int sub_item) -> std::string {
    const auto& records = panel_.DrawRecords();
    if (item < 0 || static_cast<size_t>(item) >= records.size() || !records[item].line) return {};
    const ContourLine& line = *records[item].line;
    return sub_item == 0 ? FormatC("%g", static_cast<double>(line.level))
                         : FormatC("%d", static_cast<int>(line.points.size()));
  });
  list_.SetItemCountEx(0);
  interval_type_.ResetContent();
  interval_type_.AddString("等高距");
  interval_type_.AddString("等高线数");
  interval_type_.SetCurSel(std::clamp(interval_type_value_, 0, 1));
  SetDlgItemText(kIdInterval, FormatC("%g", static_cast<double>(interval_)));
  if (!screen_mode_) {
    const double stored = GetProfileDouble(kSection, "sample_distance", 0);
    if (panel_.Data().sample_distance < 1 && stored >= 1) panel_.Data().sample_distance = static_cast<int>(stored);
  }
  if (panel_.Data().sample_distance >= 1) sample_distance_ = panel_.Data().sample_distance;
  SetDlgItemInt(kIdSampleDistance, sample_distance_);
  CheckDlgButton(kIdAddToCache, add_to_cache_ ? 1 : 0);
  if (screen_mode_) {
    SetWindowText("GoogleEarth高程");
  } else {
    static const char* const kTitles[] = {"", "SRTM", "astgtm", "google", "srtm+google", "google+srtm"};
    const int mode = AppOptions().dem_source_mode;
    SetWindowText(mode >= 1 && mode <= 5 ? kTitles[mode] : "");
  }
  RefreshButtons();
  OnSampleDistanceChanged();
  return true;
}

// ---- data handed in ----------------------------------------------------------------------

bool CDlgDemExtract::SetPoints(LngLatF first, LngLatF second, double sample_distance) {
  list_.SetItemCountEx(0);
  const bool ok = panel_.SetPoints(first, second, sample_distance);
  if (ok) sample_distance_ = panel_.Data().sample_distance;
  if (IsWindow()) {
    SetDlgItemInt(kIdSampleDistance, sample_distance_);
    RefreshButtons();
  }
  return ok;
}

bool CDlgDemExtract::SetDemData(std::span<const LngLatF> polygon, double sample_distance) {
  list_.SetItemCountEx(0);
  const bool ok = panel_.SetDemData(polygon, sample_distance);
  if (ok) sample_distance_ = panel_.Data().sample_distance;
  if (IsWindow()) {
    SetDlgItemInt(kIdSampleDistance, sample_distance_);
    RefreshButtons();
  }
  return ok;
}

bool CDlgDemExtract::LoadDemCache(const std::string& path) {
  ShowModelessDialog(this);
  const bool ok = panel_.LoadDemCache(path);
  if (ok) list_.SetItemCountEx(0);
  if (ok && panel_.Data().sample_distance >= 1) {
    sample_distance_ = panel_.Data().sample_distance;
    SetDlgItemInt(kIdSampleDistance, sample_distance_);
  }
  RefreshButtons();
  return ok;
}

// ---- state --------------------------------------------------------------------------------

void CDlgDemExtract::RefreshButtons() {
  if (!IsWindow()) return;
  auto enable = [this](int id, bool on) {
    if (CWnd* w = GetDlgItem(id)) w->EnableWindow(on);
  };
  enable(kIdSampleDistance, true);
  enable(kIdAddToCache, true);
  enable(static_cast<int>(kCmdImport), GetPageOptions().dem.contour_method != 0);
  const bool data = !panel_.Data().points.empty() && panel_.IsReady();
  for (int id : {static_cast<int>(kCmdExport), kIdInterval, static_cast<int>(kCmdContour), kIdList, kIdIntervalType,
                 static_cast<int>(kCmdCoordList)})
    enable(id, data);
  enable(static_cast<int>(kCmdExtract), true);
}

void CDlgDemExtract::OnSampleDistanceChanged() {
  if (!IsWindow() || panel_.IsExtracting()) return;
  const auto value = ParseInt(GetDlgItemText(kIdSampleDistance));
  if (value && *value >= 1 && *value <= INT32_MAX) {
    sample_distance_ = static_cast<int>(*value);
    panel_.Data().sample_distance = sample_distance_;
  }
  const int64_t count = panel_.SampleCount();
  SetDlgItemText(kIdCount, FormatC(screen_mode_ ? "(像素≈%d点)" : "(米≈%d点)",
                                   static_cast<int>(std::clamp<int64_t>(count, 0, INT32_MAX))));
}

int CDlgDemExtract::IntervalType() const {
  const int sel = interval_type_.GetCurSel();
  // Before the first exchange the type is -1: it counts as an interval.
  return sel == 1 ? 1 : 0;
}

double CDlgDemExtract::IntervalValue() const {
  const auto v = ParseDouble(GetDlgItemText(kIdInterval));
  return v && std::isfinite(*v) ? *v : 0.0;
}

void CDlgDemExtract::SaveContourOptions() {
  interval_type_value_ = IntervalType();
  interval_ = static_cast<float>(IntervalValue());
  WriteProfileDouble(kSection, "contour_distance", interval_);
  WriteProfileInt(kSection, "contour_distance_type", interval_type_value_);
}

// ---- extraction ---------------------------------------------------------------------------

void CDlgDemExtract::OnExtract() {
  if (panel_.IsExtracting()) {
    panel_.Worker().QuitRequest().Set();  // stop; the finish message restores the controls
    return;
  }
  const auto value = ParseInt(GetDlgItemText(kIdSampleDistance));
  if (value && *value >= 1 && *value <= INT32_MAX) {
    sample_distance_ = static_cast<int>(*value);
    panel_.Data().sample_distance = sample_distance_;
  }
  WriteProfileDouble(kSection, "sample_distance", sample_distance_);
  add_to_cache_ = IsDlgButtonChecked(kIdAddToCache) != 0;
  panel_.SetAddToCache(add_to_cache_);
  list_.SetItemCountEx(0);
  if (!panel_.OnSetDemData()) {
    RefreshButtons();
    return;
  }
  for (CWnd* child : Children()) {
    if (child->GetDlgCtrlID() == static_cast<int>(kCmdExtract) || dynamic_cast<CStatic*>(child)) continue;
    child->EnableWindow(false);
  }
  SetDlgItemText(static_cast<int>(kCmdExtract), "停止");
}

void CDlgDemExtract::OnExtractFinished() {
  SetDlgItemText(static_cast<int>(kCmdExtract), "提取");
  for (CWnd* child : Children()) child->EnableWindow(true);
  RefreshButtons();
}

// ---- points -------------------------------------------------------------------------------

void CDlgDemExtract::OnExportPoints() {
  CFileDialogEx dialog(false, "txt", "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kExportFilter, this);
  dialog.SetInitialPath(GetProfileString(kRecentSection, "demexport", ""));
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();
  RememberFolder("demexport", dialog.GetFolderPath());
  const std::string ext = Extension(path);
  bool ok = false;
  if (ext == "txt") {
    ok = panel_.ExportText(path);
  } else if (ext == "csv") {
    ok = panel_.WriteCsvPoints(path);
  } else if (ext == "xls" || ext == "xlsx") {
    ok = panel_.ExportExcel(path);
  } else if (ext == "grd") {
    // Imported or cached points have no grid yet: they are put on their lattice or gridded.
    CWaitCursor wait;
    ok = panel_.EnsureGrid() && panel_.ExportSurferGrid(path);
  }
  if (ok && dialog.AutoOpen()) GetUiHost().OpenDocument(ext == "xls" ? path + "x" : path);
}

void CDlgDemExtract::OnImportPoints() {
  CFileDialogEx dialog(true, "txt", "", OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, kImportFilter, this);
  dialog.SetInitialPath(GetProfileString(kRecentSection, "demimport", ""));
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();
  RememberFolder("demimport", dialog.GetFolderPath());
  const std::string ext = Extension(path);
  if (ext == "txt" || ext == "csv") {
    // The panel's lines stay until the points are replaced; the rows go with them.
    if (ext == "txt" ? panel_.ImportText(path, false) : panel_.ImportCsv(path)) list_.SetItemCountEx(0);
  } else if (ext == "dat") {
    MessageBox(kCassNotRead, kAppTitle, MB_OK | MB_ICONWARNING);
  }
  RefreshButtons();
  OnSampleDistanceChanged();
}

void CDlgDemExtract::OnCoordList() {
  CDlgCoordList dialog(this);
  dialog.SetPoints(&panel_.Data().points);
  dialog.DoModal();
}

// ---- contours -----------------------------------------------------------------------------

bool CDlgDemExtract::OnMakeContours() {
  if (panel_.IsExtracting()) return false;
  CWaitCursor wait;
  SaveContourOptions();
  list_.SetItemCountEx(0);
  const int type = IntervalType();
  const double value = IntervalValue();
  CDemGrid& data = panel_.Data();
  const double interval = data.tracer.ComputeContourInterval(type, value);
  if (!(interval > 0)) {
    MessageBox(kNoContours, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  bool ok = false;
  if (GetPageOptions().dem.contour_method == 0) {
    // Points without a grid (an import, a cache) are put on their lattice or gridded first.
    ok = panel_.EnsureGrid() && panel_.ComputeContours(type, value) == ContourStatus::kOk;
    if (!ok) MessageBox(kNoContours, kAppTitle, MB_OK | MB_ICONWARNING);
  } else {
    data.interval = static_cast<float>(interval);
    ok = panel_.ContourWithSurfer(false);
    if (ok) panel_.SaveDemCache();
  }
  FillList();
  return ok;
}

void CDlgDemExtract::FillList() {
  list_.SetItemCountEx(static_cast<int>(panel_.DrawRecords().size()));
}

std::vector<const DemDrawRecord*> CDlgDemExtract::Rows(bool all) const {
  std::vector<const DemDrawRecord*> rows;
  const auto& records = panel_.DrawRecords();
  if (all) {
    for (const DemDrawRecord& r : records) rows.push_back(&r);
  } else {
    for (int item : list_.GetSelectedItems())
      if (item >= 0 && static_cast<size_t>(item) < records.size()) rows.push_back(&records[item]);
  }
  return rows;
}

void CDlgDemExtract::OnListMenu() {
  if (list_.GetItemCount() == 0) return;
  CMenu menu;
  menu.CreatePopupMenu();
  if (list_.GetSelectedCount() > 0) {
    menu.AppendMenu(MF_STRING, kCmdExportSelected, "选中导出");
    menu.AppendMenu(MF_STRING, kCmdAddSelected, "选中添加至地图");
  }
  menu.AppendMenu(MF_STRING, kCmdExportAll, "全部导出");
  menu.AppendSeparator();
  menu.AppendMenu(MF_STRING, kCmdAddAll, "全部添加至地图");
  const UINT command = static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, 0, 0, this));
  if (command) SendMessage(WM_COMMAND, command, 0);
}

void CDlgDemExtract::OnExportContours(bool all) {
  CFileDialogKmzExport dialog("kml", "", kContourFilter, this);
  dialog.SetInitialPath(GetProfileString(kRecentSection, "contourexport", ""));
  if (dialog.DoModal() != IDOK) return;
  const std::string path = dialog.GetPathName();
  RememberFolder("contourexport", dialog.GetFolderPath());
  const std::string ext = Extension(path);
  if (ext == "kml") {
    const auto rows = Rows(all);
    std::string error;
    if (!ExportContoursKml(path, rows, panel_.Pens(), !dialog.ExportPoints(), all, panel_.Labels(),
                           GetPageOptions().dem.label_color, &error)) {
      AppLog("contour KML %s: %s", path.c_str(), error.c_str());
      MessageBox(CDemGridCtrl::kCannotCreate, kAppTitle, MB_OK | MB_ICONERROR);
    }
  } else if (ext == "dxf") {
    ExportContourDxf(path, all);
  }
}

bool CDlgDemExtract::ExportContourDxf(const std::string& path, bool all) {
  const int system = GetCoordinateSystemIndex(this);
  if (system < 0) return false;
  const auto ask = [this](const std::string& question) { return AskAddOrOverwrite(this, question); };
  auto told = [this, &path](const std::string& error) {
    AppLog("contour DXF %s: %s", path.c_str(), error.c_str());
    MessageBox(CDemGridCtrl::kCannotCreate, kAppTitle, MB_OK | MB_ICONERROR);
    return false;
  };
  std::string error;
  if (!all) {
    if (!WriteContourDxf(path, ask, Rows(false), panel_.Pens(), system, &error))
      return error == "cancelled" ? false : told(error);
    return true;
  }
  CWaitCursor wait;
  // The lines and the labelled file: the panel's own in longitude/latitude; in a projected
  // system made again from the projected points (those are no lattice, so always through the
  // stand-in), whatever method made the panel's lines.
  std::unique_ptr<CDemGridCtrl> projected;
  CDemGridCtrl* source = &panel_;
  if (system != kCoordLonLat) {
    projected = std::make_unique<CDemGridCtrl>();
    CDemGrid& target = projected->Data();
    if (!ProjectPointsInto(panel_.Data().points, system, &target)) return told("the points cannot be converted");
    target.mode = kDemModeRegion;
    target.sample_distance = panel_.Data().sample_distance;
    target.interval = static_cast<float>(target.tracer.ComputeContourInterval(IntervalType(), IntervalValue()));
    if (!(target.interval > 0)) {
      MessageBox(kNoContours, kAppTitle, MB_OK | MB_ICONWARNING);
      return false;
    }
    if (!projected->ContourWithSurfer(true)) return false;
    source = projected.get();
  }
  CDxfExport dxf;
  if (!dxf.OpenTarget(path, ask)) return dxf.Cancelled() ? false : told(dxf.LastError());
  const auto& pens = source->Pens();
  for (const DemDrawRecord& record : source->DrawRecords()) {
    if (!record.line || record.line->points.size() < 2) continue;
    const Argb color =
        record.pen >= 0 && static_cast<size_t>(record.pen) < pens.size() ? pens[record.pen] : 0xFF000000u;
    std::vector<DxfPoint> points;
    points.reserve(record.line->points.size());
    for (const ContourPoint& p : record.line->points) points.push_back({p.x, p.y});
    dxf.AddPolyline(record.line->level, points, color);
  }
  // Only the labelled file that this panel's latest stand-in run wrote: never an older run's.
  const std::string& labelled = source->LabelledFile();
  if (GetPageOptions().dem.labels_on && !labelled.empty()) {
    const CContourTracer& t = source->Data().tracer;
    size_t merged = 0;
    if (!dxf.AddContours(labelled, t.x_range.min, t.x_range.max, t.y_range.min, t.y_range.max, &merged))
      AppLog("contour labels %s: %s", labelled.c_str(), dxf.LastError().c_str());
  }
  if (!dxf.SaveFile()) return told(dxf.LastError());
  return true;
}

// ---- the map ------------------------------------------------------------------------------

void CDlgDemExtract::OnAddToMap(bool all) {
  CKovraHomeExApp* app = GetApp();
  AddContoursToView(app ? app->GetCurrentView() : nullptr, all);
}

void CDlgDemExtract::AddContoursToView(IChildView* view, bool all) {
  if (!view) return;
  const auto rows = Rows(all);
  const auto& pens = panel_.Pens();
  if (view->GetViewKind() == kViewMap2D) {
    double lng = 0, lat = 0, zoom = 0;
    view->GetCamera(&lng, &lat, &zoom);
    std::vector<CMapShape*> shapes;
    for (const DemDrawRecord* row : rows) {
      if (!row->line) continue;
      std::vector<ShapePoint> points;
      points.reserve(row->line->points.size());
      for (const ContourPoint& p : row->line->points) points.push_back({p.x, p.y});
      auto shape = std::make_unique<CPolylineShape>();
      shape->InitFromContour(FormatC("auto_contour_%g", static_cast<double>(row->line->level)), points,
                             row->line->level);
      shape->min_zoom = static_cast<float>(zoom - 1.0);
      shape->max_zoom = static_cast<float>(zoom + 1.0);
      if (row->pen >= 0 && static_cast<size_t>(row->pen) < pens.size()) shape->line_color = pens[row->pen];
      shapes.push_back(shape.release());
    }
    for (auto& label : panel_.AddContourLabels()) shapes.push_back(label.release());
    if (shapes.empty()) return;
    // One hand-over: the view's object layer takes them all and repaints once.
    if (view->LoadShapes(shapes, false) == 0)
      for (CMapShape* s : shapes) delete s;
    if (CWnd* wnd = view->GetWnd()) wnd->Invalidate();
  } else if (view->GetViewKind() == kViewEarthApp) {
    const std::string path = AppOptions().work_dir + kContourKml;
    std::string error;
    if (!ExportContoursKml(path, rows, pens, true, false, {}, GetPageOptions().dem.label_color, &error)) {
      AppLog("contour KML %s: %s", path.c_str(), error.c_str());
      MessageBox(CDemGridCtrl::kCannotCreate, kAppTitle, MB_OK | MB_ICONERROR);
      return;
    }
    if (IScreenTerrainSource* earth = view->GetScreenTerrainSource()) earth->OpenKmlFile(path);
  }
}

// ---- close --------------------------------------------------------------------------------

void CDlgDemExtract::OnCancel() {
  // The worker writes into the panel's arrays: it stops before they are cleared.
  if (panel_.IsRunning()) StopWorkerPumping(panel_.Worker());
  // Its end message reaches the panel before the panel is cleared.
  UiDispatcher().PumpUntil([this] { return !panel_.IsExtracting(); }, 1000, false);
  panel_.Clear();
  list_.SetItemCountEx(0);
  if (IsWindow()) add_to_cache_ = IsDlgButtonChecked(kIdAddToCache) != 0;
  WriteProfileInt(kSection, kAddToCacheKey, add_to_cache_ ? 1 : 0);
  EndDialog(IDCANCEL);
}

}  // namespace velmora

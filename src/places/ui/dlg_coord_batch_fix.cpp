// The batch correction dialog.
#include "places/ui/dlg_coord_batch_fix.h"

#include "core/format.h"
#include "core/log.h"
#include "places/coord_file.h"
#include "places/coord_format.h"
#include "places/ui/coord_dialog_templates.h"
#include "platform/ui/controls.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/ui_dispatcher.h"
#include "platform/ui/ui_host.h"
#include "shell/kovra_home_ex_app.h"

namespace velmora {
namespace {

// Posted by the last worker: the list has been worked through.
constexpr UINT kMsgFinished = WM_USER + 0x71;

}  // namespace

CDlgCoordBatchFix::CDlgCoordBatchFix(CWnd* parent)
    : CDialogEx(RegisterCoordDialogTemplates(kCoordBatchFixTemplateId), parent) {
  BindControl(kIdList, list_);
  MapCommand(kIdStart, [this] { OnStartStop(); });
  MapCommand(kIdLoad, [this] { OnLoad(); });
  MapTimer(kRefreshTimer, [this] { RefreshList(); });
  MapMessage(kMsgFinished, [this](WPARAM, LPARAM) {
    OnFinished();
    return LRESULT{0};
  });
}

CDlgCoordBatchFix::~CDlgCoordBatchFix() {
  fixer_.Stop();
  DestroyWindow();
}

void CDlgCoordBatchFix::SetPoints(const std::vector<PointF>& points) {
  if (!fixer_.SetPoints(points)) return;
  loaded_path_.clear();
  RefreshList();
}

bool CDlgCoordBatchFix::GetResult(std::vector<PointF>* points, bool ask) {
  if (!points || fixer_.IsRunning()) return false;
  if (ask) {
    if (!fixer_.AllDone()) return false;
    if (ShowMessageBox("是否替换原坐标?", MB_YESNO | MB_ICONQUESTION) != IDYES) return false;
  }
  std::vector<CoordFixRecord> records = fixer_.Records();
  points->resize(records.size());
  for (size_t i = 0; i < records.size(); ++i) (*points)[i] = PointF{records[i].lng, records[i].lat};
  return true;
}

std::string CDlgCoordBatchFix::ItemText(int item, int sub_item) const {
  if (sub_item == 0) return std::to_string(item);
  CoordFixRecord r = fixer_.Record(static_cast<size_t>(item));
  return FormatC("%f,%f", static_cast<double>(r.lng), static_cast<double>(r.lat));
}

bool CDlgCoordBatchFix::OnInitDialog() {
  list_.DeleteAllItems();
  while (list_.GetColumnCount() > 0) list_.DeleteColumn(0);
  list_.InsertColumn(0, "序号", LVCFMT_LEFT, 50);
  list_.InsertColumn(1, "坐标", LVCFMT_LEFT, 150);
  if (CKovraHomeExApp* app = GetApp()) list_.SetImageList(&app->SmallImageList());
  list_.SetDisplayCallbacks([this](int item, int sub_item) { return ItemText(item, sub_item); },
                            [this](int item) { return static_cast<int>(fixer_.Record(static_cast<size_t>(item)).state); });
  SetDlgItemInt(kIdThreads, ProgramSettings().GetInt(kFixThreadsKey, kDefaultFixThreads));
  SetDlgItemText(kIdStart, "开始");
  HWND self = GetSafeHwnd();
  // Called on a worker thread: the dialog hears of it on the user-interface thread.
  fixer_.SetFinishedCallback([self] { UiDispatcher().PostMessage(self, kMsgFinished, 0, 0); });
  RefreshList();
  return true;
}

void CDlgCoordBatchFix::OnDestroy() {
  StopWorkers();
  CDialogEx::OnDestroy();
}

void CDlgCoordBatchFix::RefreshList() {
  if (!list_.IsWindow()) return;
  int count = static_cast<int>(fixer_.Size());
  if (list_.GetItemCount() != count || !list_.IsVirtual()) list_.SetItemCountEx(count);
  list_.Invalidate();
}

void CDlgCoordBatchFix::StopWorkers() {
  fixer_.Stop();
  if (IsWindow()) KillTimer(kRefreshTimer);
}

void CDlgCoordBatchFix::OnStartStop() {
  if (fixer_.IsRunning()) {
    StopWorkers();
    SetDlgItemText(kIdStart, "开始");
    RefreshList();
    return;
  }
  auto threads = ParseInt(GetDlgItemText(kIdThreads));
  if (!threads || *threads < kMinFixThreads || *threads > kMaxFixThreads) {
    MessageBox("请输入一个介于 1 和 100 之间的整数。", kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  ProgramSettings().SetInt(kFixThreadsKey, static_cast<int>(*threads));
  const std::string host = CoordFixServiceHost();
  if (host.empty()) {
    MessageBox("未设置坐标纠正服务的地址", kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  if (!fixer_.Start(static_cast<int>(*threads), host)) return;
  SetDlgItemText(kIdStart, "停止");
  SetTimer(kRefreshTimer, 1000);
  RefreshList();
}

void CDlgCoordBatchFix::OnFinished() {
  if (fixer_.IsRunning()) return;  // a new run started after this message was posted
  KillTimer(kRefreshTimer);
  SetDlgItemText(kIdStart, "完毕");
  RefreshList();
}

void CDlgCoordBatchFix::OnLoad() {
  if (fixer_.IsRunning()) return;
  CFileDialog dlg(true, "txt", loaded_path_, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST,
                  "坐标文件(*.txt,*.csv,*.dat)|*.txt;*.csv;*.dat||", this);
  if (dlg.DoModal() != IDOK) return;
  std::string text, error;
  if (!ReadCoordTextFile(dlg.GetPathName(), &text, &error)) {
    AppLog("batch correction: %s", error.c_str());
    MessageBox("无法读取文件", kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  // Decimal longitude, latitude per line.
  CoordFormatSettings settings;
  settings.source_format = kNotationDegrees;
  CCoordLineReader reader(settings);
  std::vector<PointF> points;
  std::vector<CoordLineIssue> issues;
  ForEachCoordLine(text, [&](size_t number, std::string_view line) {
    GeoPoint p;
    CoordLineError e = reader.Read(line, &p);
    if (e == CoordLineError::kNone) {
      points.push_back(PointF{static_cast<float>(p.lng), static_cast<float>(p.lat)});
    } else {
      issues.push_back({number, e});
    }
  });
  fixer_.SetPoints(points);
  loaded_path_ = dlg.GetPathName();
  SetDlgItemText(kIdStart, "开始");
  RefreshList();
  if (!issues.empty()) MessageBox(DescribeCoordIssues(issues, 10, false), kAppTitle, MB_OK | MB_ICONWARNING);
}

void CDlgCoordBatchFix::OnCancel() {
  StopWorkers();
  EndDialog(IDCANCEL);
}

}  // namespace velmora

// The address tools' panel, command and level dialog.
#include "places/ui/address_tools.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>

#include "places/ui/addr_download_ctrl.h"
#include "places/ui/address_pane.h"
#include "places/ui/dlg_address_book.h"
#include "places/ui/mark_popup_editor.h"
#include "platform/ui/controls.h"
#include "platform/ui/ui_host.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"
#include "shell/map_view_commands.h"
#include "view/pd_view.h"

namespace velmora {
namespace {

DialogTemplate LevelsTemplate() {
  DialogTemplate t;
  t.id = CDlgAddressLevels::kTemplateId;
  t.caption = "地址下载";
  t.cx = 150;
  t.cy = 70;
  t.controls = {{ControlKind::kStatic, -1, "起始级别", 8, 10, 50, 12, 0},
                {ControlKind::kEdit, CDlgAddressLevels::kIdFirst, "", 64, 8, 76, 14, 0},
                {ControlKind::kStatic, -1, "结束级别", 8, 30, 50, 12, 0},
                {ControlKind::kEdit, CDlgAddressLevels::kIdLast, "", 64, 28, 76, 14, 0},
                {ControlKind::kDefButton, IDOK, "确定", 30, 50, 50, 14, 0},
                {ControlKind::kButton, IDCANCEL, "取消", 90, 50, 50, 14, 0}};
  return t;
}

bool ReadLevel(const std::string& text, int* level) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  int v = 0;
  auto [ptr, ec] = std::from_chars(text.data() + b, text.data() + e, v);
  if (ec != std::errc() || ptr != text.data() + e || b == e || v < 0 || v > 22) return false;
  *level = v;
  return true;
}

// The download dialog of the last command: it lives until the next download replaces it.
std::unique_ptr<CDlgAddressDownload>& DownloadDialog() {
  static std::unique_ptr<CDlgAddressDownload> dialog;
  return dialog;
}

}  // namespace

CDlgAddressLevels::CDlgAddressLevels(int first_level, int last_level, CWnd* parent)
    : CDialogEx(LevelsTemplate(), parent), first(first_level), last(last_level) {}

bool CDlgAddressLevels::OnInitDialog() {
  if (CWnd* edit = GetDlgItem(kIdFirst)) edit->SetWindowText(std::to_string(first));
  if (CWnd* edit = GetDlgItem(kIdLast)) edit->SetWindowText(std::to_string(last));
  return true;
}

void CDlgAddressLevels::OnOK() {
  int a = 0, b = 0;
  CWnd* ea = GetDlgItem(kIdFirst);
  CWnd* eb = GetDlgItem(kIdLast);
  if (!ea || !eb || !ReadLevel(ea->GetWindowText(), &a) || !ReadLevel(eb->GetWindowText(), &b)) {
    ShowMessageBox(kBadLevel, MB_OK | MB_ICONWARNING);
    return;
  }
  first = a;
  last = b;
  EndDialog(IDOK);
}

CDlgAddressDownload* CurrentAddressDownload() { return DownloadDialog().get(); }

void CloseAddressDownload() { DownloadDialog().reset(); }

void ArmAddressDownload(CPDView& view, CTileManager* tiles) {
  view.SetTool(CPDView::Tool::kBox);
  CPDView* armed = &view;
  view.SetBoxHandler([armed, tiles](const float top_left[2], const float bottom_right[2]) {
    // Everything this call needs is copied out first: resetting the handler destroys this very
    // closure. One box per command: the view's own box tool comes back.
    CPDView* target = armed;
    CTileManager* manager = tiles;
    const std::vector<LngLatF> region = {{top_left[0], top_left[1]},
                                         {bottom_right[0], top_left[1]},
                                         {bottom_right[0], bottom_right[1]},
                                         {top_left[0], bottom_right[1]}};
    target->SetBoxHandler({});
    target->SetTool(CPDView::Tool::kPan);
    const int zoom = std::clamp(static_cast<int>(std::floor(target->GetZoom())), 0, 22);
    CDlgAddressLevels levels(zoom, zoom, target);
    if (levels.DoModal() != IDOK) return;
    auto& dialog = DownloadDialog();
    if (dialog && dialog->Panel().IsRunning()) {
      ShowModelessDialog(dialog.get());  // one download at a time
      return;
    }
    dialog = std::make_unique<CDlgAddressDownload>(nullptr, manager);
    ShowModelessDialog(dialog.get());
    const int range[2] = {levels.first, levels.last};
    dialog->Panel().Start(region, range);
  });
}

void RegisterAddressTools(CKovraHomeExApp& app) {
  AppStep step;
  step.name = "address tools";
  step.phase = AppPhase::kFrame;
  step.start = [](CKovraHomeExApp& a) {
    CMainFrame* frame = a.MainFrame();
    if (!frame) return true;
    auto pane = std::make_unique<CAddressPane>();
    if (pane->CreatePanel(frame)) frame->AddSideBarPanel(std::move(pane));
    AppCommand command;
    command.id = ID_ADDRESS_DOWNLOAD;
    command.menu = "工具";
    command.text = "地址数据下载...";
    command.prompt = "框选区域,下载各地理编码服务对该区域的地址数据\n地址数据下载";
    command.order = 120;
    command.handler = [] {
      if (CPDView* view = SwitchToMapView()) ArmAddressDownload(*view);
    };
    AppCommands().Register(std::move(command));
    // The address book over its file (the 2D view's own command for it needs a marks tool the
    // view does not have): offered in the tools menu.
    AppCommand book;
    book.id = ID_ADDRESS_BOOK;
    book.menu = "工具";
    book.text = "通讯录...";
    book.prompt = "联系人列表,拖到地图上成为标注\n通讯录";
    book.order = 121;
    book.handler = [] {
      if (GetApp()) OpenAddressBook(SwitchToMapView());
    };
    AppCommands().Register(std::move(book));
    return true;
  };
  step.stop = [](CKovraHomeExApp&) {
    AppCommands().Unregister(ID_ADDRESS_BOOK);
    AppCommands().Unregister(ID_ADDRESS_DOWNLOAD);
    CloseAddressDownload();
  };
  app.RegisterStep(std::move(step));

  // A right click on a mark of the 2D view (made with the frame) edits its pop-up.
  AppStep marks;
  marks.name = "mark pop-up editor";
  marks.phase = AppPhase::kTileManager;
  marks.start = [](CKovraHomeExApp& a) {
    if (auto* view = dynamic_cast<CPDView*>(a.Views().Find(kViewMap2D))) AttachMarkPopupEditor(*view);
    return true;
  };
  app.RegisterStep(std::move(marks));
}

}  // namespace velmora

// The options sheet, its Google Earth and export pages, and its menu command.
#include "shell/options_sheet.h"

#include "core/log.h"
#include "core/page_options.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"

namespace velmora {
namespace {

int EarthTemplate() {
  static const int id = [] {
    DialogTemplate t;
    t.id = CPgOptGoogleEarth::kTemplateId;
    t.caption = "谷歌地球";
    t.cx = 250;
    t.cy = 70;
    t.controls = {
        {ControlKind::kCheckBox, CPgOptGoogleEarth::kIdRegionFrame, "绘制框选框", 14, 14, 200, 10, 0},
        {ControlKind::kCheckBox, CPgOptGoogleEarth::kIdCloseEarth, "退出时,同时关闭Google Earth", 14, 32, 200, 10, 0},
    };
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

int ExportTemplate() {
  static const int id = [] {
    DialogTemplate t;
    t.id = CPgOptExport::kTemplateId;
    t.caption = "拼图";
    t.cx = 250;
    t.cy = 70;
    t.controls = {
        {ControlKind::kCheckBox, CPgOptExport::kIdWriteLog, "记录日志", 14, 14, 200, 10, 0},
        {ControlKind::kStatic, -1, "拼图时写出工程文件(.kep)和任务日志,以便查看拼图过程。", 14, 30, 220, 20, 0},
    };
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

void Publish(const PageOptions& options) {
  if (!SetPageOptions(options)) AppLog("the page options could not be written to the profile");
}

}  // namespace

// ---- Google Earth page ----

CPgOptGoogleEarth::CPgOptGoogleEarth() : CPropertyPage(EarthTemplate()) {
  for (int id : {kIdRegionFrame, kIdCloseEarth}) MapCommand(static_cast<UINT>(id), [this] { SetModified(true); });
}

bool CPgOptGoogleEarth::OnInitDialog() {
  EarthPageOptions earth = GetPageOptions().earth;
  CheckDlgButton(kIdRegionFrame, earth.draw_region_frame ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kIdCloseEarth, earth.close_earth_on_exit ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

bool CPgOptGoogleEarth::OnApply() {
  PageOptions options = GetPageOptions();
  options.earth.draw_region_frame = IsDlgButtonChecked(kIdRegionFrame) == BST_CHECKED;
  options.earth.close_earth_on_exit = IsDlgButtonChecked(kIdCloseEarth) == BST_CHECKED;
  Publish(options);
  return true;
}

// ---- export page ----

CPgOptExport::CPgOptExport() : CPropertyPage(ExportTemplate()) {
  MapCommand(kIdWriteLog, [this] { SetModified(true); });
}

bool CPgOptExport::OnInitDialog() {
  CheckDlgButton(kIdWriteLog, GetPageOptions().exports.write_log ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

bool CPgOptExport::OnApply() {
  PageOptions options = GetPageOptions();
  options.exports.write_log = IsDlgButtonChecked(kIdWriteLog) == BST_CHECKED;
  Publish(options);
  return true;
}

// ---- sheet ----

COptionsSheet::COptionsSheet(CWnd* parent, int select_page) : CPropertySheet("选项", parent, select_page) {
  AddPage(&dem_);
  AddPage(&earth_);
  AddPage(&export_);
}

INT_PTR ShowOptionsSheet(CWnd* parent, int select_page) {
  COptionsSheet sheet(parent, select_page);
  return sheet.DoModal();
}

void RegisterOptionsCommand() {
  AppCommand c;
  c.id = ID_TOOLS_OPTIONS;
  c.menu = "工具";
  c.text = "选项(&O)...";
  c.prompt = "设置高程、等高线、谷歌地球和拼图的选项\n选项";
  c.order = 900;
  c.separator_before = true;
  c.handler = [] { ShowOptionsSheet(GetMainFrame()); };
  AppCommands().Register(std::move(c));
}

void UnregisterOptionsCommand() { AppCommands().Unregister(ID_TOOLS_OPTIONS); }

}  // namespace velmora

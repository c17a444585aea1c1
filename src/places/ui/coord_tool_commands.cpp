// The coordinate tools' commands.
#include "places/ui/coord_tool_commands.h"

#include "core/log.h"
#include "exchange/excel_auto.h"
#include "places/coord_file.h"
#include "places/coord_format.h"
#include "places/ui/dlg_coord_batch_fix.h"
#include "places/ui/dlg_coord_format.h"
#include "places/ui/dlg_coord_import.h"
#include "places/ui/dlg_coord_sys_convert.h"
#include "places/ui/dlg_datum_params.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/ui_host.h"
#include "platform/ui/window.h"
#include "shell/command_table.h"
#include "shell/kovra_home_ex_app.h"
#include "shell/main_frame.h"

namespace velmora {

void RunCoordBatchFixCommand(CWnd* owner) {
  CDlgCoordBatchFix dlg(owner);
  dlg.DoModal();
  if (dlg.LoadedPath().empty()) return;
  std::vector<PointF> points;
  if (!dlg.GetResult(&points, true)) return;
  CFileDialog save(false, "txt", dlg.LoadedPath(), OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT,
                   "坐标文件(*.txt)|*.txt||", owner);
  if (save.DoModal() != IDOK) return;
  CoordFormatSettings settings;
  settings.target_format = kNotationDegrees;
  settings.target_degree_decimals = 8;  // the corrected points are single precision
  CCoordFormatter formatter(settings, CoordTextEncoding::kUtf8);
  std::string text;
  for (const PointF& p : points) {
    formatter.Append(&text, GeoPoint{p.x, p.y});
    text += "\r\n";
  }
  std::string error;
  if (!WriteCoordTextFile(save.GetPathName(), text, &error)) {
    AppLog("batch correction: %s", error.c_str());
    ShowMessageBox("无法创建文件", MB_OK | MB_ICONWARNING);
  }
}

std::vector<CoordToolCommand> CoordToolCommands() {
  return {
      {ID_COORD_FORMAT_CONVERT, "工具/坐标格式转换", "单点或批量坐标格式转换\n坐标格式转换",
       [](CWnd* owner) {
         CDlgCoordFormat dlg(owner);
         dlg.DoModal();
       }},
      {ID_COORD_SYSTEM_CONVERT, "工具/坐标系转换", "在经纬度、墨卡托和UTM坐标之间转换\n坐标系转换",
       [](CWnd* owner) {
         CDlgCoordSysConvert dlg(owner);
         dlg.DoModal();
       }},
      {ID_COORD_BATCH_FIX, "工具/坐标批量纠正", "通过坐标转换服务批量纠正偏移的坐标\n坐标批量纠正",
       [](CWnd* owner) { RunCoordBatchFixCommand(owner); }},
  };
}

void RegisterCoordToolCommands() {
  InstallDatumParamsOpener();
  CDlgCoordImport::SetSheetReader([](const std::string& path) -> std::optional<std::vector<std::vector<std::string>>> {
    CExcelAuto workbook;
    if (!workbook.Open(path)) {
      AppLog("coordinate import: %s", workbook.LastError().c_str());
      return std::nullopt;
    }
    std::vector<std::vector<std::string>> rows(workbook.GetRowCount());
    for (int r = 0; r < workbook.GetRowCount(); ++r)
      for (int c = 0; c < workbook.GetColumnCount(); ++c) rows[r].push_back(workbook.GetData(r, c));
    return rows;
  });
  int order = 0;
  for (CoordToolCommand& command : CoordToolCommands()) {
    std::string path = command.menu_path;
    const size_t slash = path.find('/');
    AppCommand entry;
    entry.id = command.id;
    entry.menu = path.substr(0, slash);
    entry.text = path.substr(slash + 1) + "...";
    entry.prompt = command.prompt;
    entry.order = 100 + order++;
    entry.handler = [run = std::move(command.run)] { run(GetMainFrame()); };
    AppCommands().Register(std::move(entry));
  }
}

}  // namespace velmora

// The converters' shared dialog base: text boxes, import, save-as and file conversion.
#include "places/ui/dlg_coord_import.h"

#include <mutex>

#include "core/format.h"
#include "core/log.h"
#include "core/settings.h"
#include "places/coord_file.h"
#include "platform/ui/file_dialog.h"
#include "platform/ui/ui_host.h"

namespace velmora {
namespace {

std::mutex& ReaderMutex() {
  static std::mutex m;
  return m;
}

CDlgCoordImport::SheetReader& Reader() {
  static CDlgCoordImport::SheetReader reader;
  return reader;
}

constexpr const char kCoordFileFilter[] = "坐标文件(*.txt,*.csv,*.dat)|*.txt;*.csv;*.dat||";
constexpr const char kCoordSaveFilter[] = "坐标文件(*.txt)|*.txt||";
constexpr const char kKcdFilter[] = "离散点坐标(*.kcd)|*.kcd||";
constexpr const char kCannotCreate[] = "无法创建文件";
constexpr const char kCannotRead[] = "无法读取文件";

}  // namespace

void CDlgCoordImport::SetSheetReader(SheetReader reader) {
  std::lock_guard lock(ReaderMutex());
  Reader() = std::move(reader);
}

CDlgCoordImport::CDlgCoordImport(int template_id, CWnd* parent) : CDialogEx(template_id, parent) {
  BindControl(kIdInput, input_edit_);
  BindControl(kIdOutput, output_edit_);
  MapCommand(kCmdImport, [this] { OnImport(); });
  MapCommand(kCmdSaveAs, [this] { OnSaveAs(); });
  MapCommand(kIdConvert, [this] { Convert(); });
}

bool CDlgCoordImport::OnInitDialog() {
  if (input_edit_.MenuItems().empty()) input_edit_.AddMenuItem(kCmdImport, "导入");
  if (output_edit_.MenuItems().empty()) output_edit_.AddMenuItem(kCmdSaveAs, "另存为");
  ShowFields();
  return true;
}

bool CDlgCoordImport::TakeFields() {
  input_ = input_edit_.GetWindowText();
  output_ = output_edit_.GetWindowText();
  separator_ = GetDlgItemText(kIdSeparator);
  return true;
}

void CDlgCoordImport::ShowFields() {
  input_edit_.SetWindowText(input_);
  output_edit_.SetWindowText(output_);
  SetDlgItemText(kIdSeparator, separator_);
}

bool CDlgCoordImport::TakeSkipColumns(int* count) {
  auto v = ParseInt(GetDlgItemText(kIdSkipColumns));
  if (!v || *v < 0 || *v > 100) {
    MessageBox("请输入一个介于 0 和 100 之间的整数。", kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  *count = static_cast<int>(*v);
  return true;
}

void CDlgCoordImport::OnImport() {
  if (!TakeFields()) return;
  CFileDialog dlg(true, "", "", OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, "", this);
  if (dlg.DoModal() != IDOK) return;
  const std::string path = dlg.GetPathName();
  std::string text;
  if (GetFileExtLower(path) == "xls" || GetFileExtLower(path) == "xlsx") {
    SheetReader reader;
    {
      std::lock_guard lock(ReaderMutex());
      reader = Reader();
    }
    auto rows = reader ? reader(path) : std::nullopt;
    if (!rows) {
      if (!reader) AppLog("coordinate import: no spreadsheet reader for %s", path.c_str());
      MessageBox(kCannotRead, kAppTitle, MB_OK | MB_ICONWARNING);
      return;
    }
    for (size_t r = 0; r < rows->size(); ++r) {
      if (r > 0) text += "\r\n";
      const std::vector<std::string>& cells = (*rows)[r];
      for (size_t c = 0; c < cells.size(); ++c) {
        if (c > 0) text += separator_;
        text += cells[c];
      }
    }
  } else {
    std::string error;
    if (!ReadCoordTextFile(path, &text, &error)) {
      AppLog("coordinate import: %s", error.c_str());
      MessageBox(kCannotRead, kAppTitle, MB_OK | MB_ICONWARNING);
      return;
    }
  }
  input_ = std::move(text);
  ShowFields();
}

void CDlgCoordImport::OnSaveAs() {
  if (!TakeFields()) return;
  CFileDialog dlg(false, "", "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kKcdFilter, this);
  if (dlg.DoModal() != IDOK) return;
  std::string error;
  if (!WriteCoordTextFile(dlg.GetPathName(), output_, &error)) {
    AppLog("coordinate save: %s", error.c_str());
    MessageBox(kCannotCreate, kAppTitle, MB_OK | MB_ICONWARNING);
  }
}

void CDlgCoordImport::ConvertFile(const char* last_file_key) {
  if (!TakeFields()) return;
  CFileDialog open(true, "txt", ProgramSettings().GetString(last_file_key, ""),
                   OFN_HIDEREADONLY | OFN_FILEMUSTEXIST, kCoordFileFilter, this);
  if (open.DoModal() != IDOK) return;
  const std::string in_path = open.GetPathName();
  ProgramSettings().SetString(last_file_key, in_path);
  std::string text, error;
  if (!ReadCoordTextFile(in_path, &text, &error)) {
    AppLog("coordinate file conversion: %s", error.c_str());
    MessageBox(kCannotRead, kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  input_ = std::move(text);
  ShowFields();
  Convert();
  if (output_.empty()) return;  // nothing converted (the conversion said why)
  CFileDialog save(false, "txt", "", OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kCoordSaveFilter, this);
  if (save.DoModal() != IDOK) return;
  const std::string out_path = save.GetPathName();
  if (!WriteCoordTextFile(out_path, output_, &error)) {
    AppLog("coordinate file conversion: %s", error.c_str());
    MessageBox(kCannotCreate, kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  GetUiHost().OpenDocument(out_path);
}

}  // namespace velmora

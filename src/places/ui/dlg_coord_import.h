// CDlgCoordImport: the dialog base of the two coordinate converters. It owns the input and output
// boxes (with "导入" and "另存为" in their context menus), the separator box, and the file
// conversion both converters share: a coordinate file in, its converted lines out.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shell/dialog_ex.h"
#include "shell/menu_edit.h"

namespace velmora {

class CDlgCoordImport : public CDialogEx {
 public:
  static constexpr int kIdInput = 1317;
  static constexpr int kIdOutput = 1318;
  static constexpr int kIdSeparator = 1322;
  static constexpr int kIdSkipColumns = 1379;
  static constexpr int kIdConvert = 1314;
  static constexpr int kIdConvertFile = 1316;
  static constexpr UINT kCmdImport = 57601;
  static constexpr UINT kCmdSaveAs = 57603;

  // Reads a spreadsheet for Import: the rows of the first sheet as cell texts; nullopt when the
  // file cannot be read. The module that reads spreadsheets installs it; without one a
  // spreadsheet cannot be imported (the input is left as it was).
  using SheetReader = std::function<std::optional<std::vector<std::vector<std::string>>>(const std::string& path)>;
  static void SetSheetReader(SheetReader reader);

  const std::string& InputText() const { return input_; }
  const std::string& OutputText() const { return output_; }
  const std::string& Separator() const { return separator_; }

  // The converter's own conversion of the input text into the output text.
  virtual void Convert() = 0;

 protected:
  CDlgCoordImport(int template_id, CWnd* parent);

  bool OnInitDialog() override;
  // Controls into members; false (after telling the user) when a field holds a value out of range.
  virtual bool TakeFields();
  // Members into controls.
  virtual void ShowFields();

  // "导入": a file into the input box.
  void OnImport();
  // "另存为": the output box into a ".kcd" file.
  void OnSaveAs();
  // "文件转换...": a chosen file through Convert into a chosen file, which is then opened.
  // `last_file_key` keeps the last input file in the program settings.
  void ConvertFile(const char* last_file_key);
  // Reads the "忽略列数" box (0-100) into *count; false after telling the user.
  bool TakeSkipColumns(int* count);

  std::string input_;
  std::string output_;
  std::string separator_;
  CMenuEdit input_edit_;
  CMenuEdit output_edit_;
};

}  // namespace velmora

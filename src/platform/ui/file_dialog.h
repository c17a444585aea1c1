// CFileDialog: the open/save file chooser. The filter is the usual "Text (*.txt)|*.txt|...||"
// text; a template of extra controls (check boxes, edits) may ride along, and the caller reads
// them after OK. The UiHost answers with the chosen paths; the folder chooser sits beside it.
#pragma once
#include <string>
#include <vector>

#include "platform/ui/dialog.h"

namespace velmora {

constexpr uint32_t OFN_READONLY = 0x00000001;
constexpr uint32_t OFN_OVERWRITEPROMPT = 0x00000002;
constexpr uint32_t OFN_HIDEREADONLY = 0x00000004;
constexpr uint32_t OFN_ALLOWMULTISELECT = 0x00000200;
constexpr uint32_t OFN_PATHMUSTEXIST = 0x00000800;
constexpr uint32_t OFN_FILEMUSTEXIST = 0x00001000;

struct FileFilterEntry {
  std::string label;                  // "Text Files (*.txt)"
  std::vector<std::string> patterns;  // "*.txt"
};
// Splits "label|*.a;*.b|label2|*.c||" into its entries; a trailing label without patterns is
// dropped.
std::vector<FileFilterEntry> ParseFileFilter(const std::string& filter);

class CFileDialog : public CDialog {
 public:
  // `file_name` may carry a folder; it is the initial path. `extra_template` (0: none) is the
  // template of the extra controls.
  CFileDialog(bool open, const std::string& default_ext = "", const std::string& file_name = "",
              uint32_t flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, const std::string& filter = "",
              CWnd* parent = nullptr, int extra_template = 0);

  // IDOK when the host chose a path, else IDCANCEL.
  INT_PTR DoModal() override;

  std::string GetPathName() const { return paths_.empty() ? std::string() : paths_.front(); }
  const std::vector<std::string>& GetPathNames() const { return paths_; }
  std::string GetFileName() const;
  std::string GetFileExt() const;  // without the dot, as typed
  std::string GetFolderPath() const;
  int GetFilterIndex() const { return filter_index_; }  // 1-based, as chosen

  // ---- what the host reads ----
  bool IsOpen() const { return open_; }
  const std::string& Filter() const { return filter_; }
  void SetFilter(const std::string& filter) { filter_ = filter; }
  const std::string& DefaultExt() const { return default_ext_; }
  const std::string& InitialPath() const { return initial_path_; }
  void SetInitialPath(const std::string& path) { initial_path_ = path; }
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  uint32_t Flags() const { return flags_; }
  void SetFilterIndex(int index) { filter_index_ = index; }

  // ---- the host's answer ----
  // The paths a person chose and the filter entry in use. A save dialog appends the default
  // extension to a name that has none.
  void SetChosen(std::vector<std::string> paths, int filter_index = 0);

 private:
  bool open_;
  std::string default_ext_;
  std::string initial_path_;
  uint32_t flags_;
  std::string filter_;
  std::string title_;
  std::vector<std::string> paths_;
  int filter_index_ = 1;
};

// The folder chooser: true and the folder (ending with '/') when a person chose one.
bool BrowseForFolder(const std::string& title, const std::string& initial, std::string* folder,
                     CWnd* owner = nullptr);

}  // namespace velmora

// File and folder choosers.
#include "platform/ui/file_dialog.h"

#include "platform/ui/ui_host.h"

namespace velmora {
namespace {

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t p = text.find(sep, start);
    parts.push_back(text.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) break;
    start = p + 1;
  }
  return parts;
}

std::string NamePart(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::vector<FileFilterEntry> ParseFileFilter(const std::string& filter) {
  std::vector<FileFilterEntry> entries;
  std::vector<std::string> parts = Split(filter, '|');
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty()) break;  // "||" ends the filter
    FileFilterEntry entry;
    entry.label = parts[i];
    for (std::string& pattern : Split(parts[i + 1], ';'))
      if (!pattern.empty()) entry.patterns.push_back(pattern);
    if (entry.patterns.empty()) break;
    entries.push_back(std::move(entry));
  }
  return entries;
}

CFileDialog::CFileDialog(bool open, const std::string& default_ext, const std::string& file_name, uint32_t flags,
                         const std::string& filter, CWnd* parent, int extra_template)
    : CDialog(extra_template, parent),
      open_(open),
      default_ext_(default_ext),
      initial_path_(file_name),
      flags_(flags),
      filter_(filter) {}

INT_PTR CFileDialog::DoModal() {
  if (IsWindow()) return -1;
  paths_.clear();
  if (!CreateDialogWindow(true)) return -1;
  bool chosen = GetUiHost().ChooseFile(*this) && !paths_.empty();
  if (!HasEnded()) {
    if (chosen)
      OnOK();
    else
      OnCancel();
    if (!HasEnded()) EndDialog(chosen ? IDOK : IDCANCEL);
  }
  DestroyWindow();
  if (Result() != IDOK) paths_.clear();
  return Result();
}

void CFileDialog::SetChosen(std::vector<std::string> paths, int filter_index) {
  if (!open_ && !default_ext_.empty()) {
    for (std::string& path : paths) {
      std::string name = NamePart(path);
      if (!name.empty() && name.find('.') == std::string::npos) path += "." + default_ext_;
    }
  }
  paths_ = std::move(paths);
  if (filter_index > 0) filter_index_ = filter_index;
}

std::string CFileDialog::GetFileName() const { return NamePart(GetPathName()); }

std::string CFileDialog::GetFileExt() const {
  std::string name = GetFileName();
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::string CFileDialog::GetFolderPath() const {
  std::string path = GetPathName();
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool BrowseForFolder(const std::string& title, const std::string& initial, std::string* folder, CWnd*) {
  std::string chosen;
  if (!GetUiHost().ChooseFolder(title, initial, &chosen) || chosen.empty()) return false;
  if (chosen.back() != '/') chosen += '/';
  if (folder) *folder = chosen;
  return true;
}

}  // namespace velmora

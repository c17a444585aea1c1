// File dialog with the open-after-saving box.
#include "shell/file_dialog_ex.h"

#include <algorithm>

#include "core/format.h"
#include "core/settings.h"
#include "platform/text.h"
#include "platform/ui/controls.h"

namespace velmora {
namespace {

int RegisteredTemplate() {
  static const int id = [] {
    DialogTemplate t;
    t.id = CFileDialogEx::kTemplateId;
    t.cx = 300;
    t.cy = 20;
    t.controls = {{ControlKind::kCheckBox, CFileDialogEx::kIdAutoOpen, "保存后打开", 7, 4, 120, 10, 0}};
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

}  // namespace

CFileDialogEx::CFileDialogEx(bool open, const std::string& default_ext, const std::string& file_name, uint32_t flags,
                             const std::string& filter, CWnd* parent)
    : CFileDialog(open, default_ext, file_name, flags, filter, parent, RegisteredTemplate()) {}

bool CFileDialogEx::OnInitDialog() {
  CheckDlgButton(kIdAutoOpen, GetProfileInt("option", "auto_open", 0) ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

INT_PTR CFileDialogEx::DoModal() {
  INT_PTR result = CFileDialog::DoModal();
  if (result == IDOK) {
    auto_open_ = IsDlgButtonChecked(kIdAutoOpen) == BST_CHECKED;
    WriteProfileInt("option", "auto_open", auto_open_ ? 1 : 0);
  }
  return result;
}

std::string CFileDialogEx::PutMatchingFilterFirst(const std::string& filter, const std::string& path) {
  std::string ext = GetFileExtLower(path);
  if (ext.empty()) return filter;
  std::vector<FileFilterEntry> entries = ParseFileFilter(filter);
  auto match = std::find_if(entries.begin(), entries.end(), [&](const FileFilterEntry& e) {
    return std::any_of(e.patterns.begin(), e.patterns.end(),
                       [&](const std::string& p) { return EqualsNoCaseAscii(p, "*." + ext); });
  });
  if (match == entries.end() || match == entries.begin()) return filter;
  std::rotate(entries.begin(), match, match + 1);
  std::string out;
  for (const FileFilterEntry& e : entries) {
    out += e.label + "|";
    for (size_t i = 0; i < e.patterns.size(); ++i) out += (i ? ";" : "") + e.patterns[i];
    out += "|";
  }
  return out + "|";
}

}  // namespace velmora

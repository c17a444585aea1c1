// The KML export save dialog.
#include "shell/file_dialog_kmz_export.h"

#include "core/settings.h"
#include "platform/ui/controls.h"

namespace velmora {
namespace {

int RegisteredTemplate() {
  static const int id = [] {
    DialogTemplate t;
    t.id = CFileDialogKmzExport::kTemplateId;
    t.cx = 300;
    t.cy = 22;
    t.controls = {
        {ControlKind::kStatic, -1, "KML导出为:", 7, 6, 50, 10, 0},
        {ControlKind::kRadio, CFileDialogKmzExport::kIdLines, "线", 60, 5, 40, 10, 0},
        {ControlKind::kRadio, CFileDialogKmzExport::kIdPoints, "点", 104, 5, 40, 10, 0},
    };
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

}  // namespace

CFileDialogKmzExport::CFileDialogKmzExport(const std::string& default_ext, const std::string& file_name,
                                           const std::string& filter, CWnd* parent)
    : CFileDialog(false, default_ext, file_name, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, filter, parent,
                  RegisteredTemplate()) {}

bool CFileDialogKmzExport::OnInitDialog() {
  bool points = GetProfileInt("option", "kmzexport", 0) == 1;
  CheckDlgButton(kIdLines, points ? BST_UNCHECKED : BST_CHECKED);
  CheckDlgButton(kIdPoints, points ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

INT_PTR CFileDialogKmzExport::DoModal() {
  INT_PTR result = CFileDialog::DoModal();
  if (result == IDOK) {
    points_ = IsDlgButtonChecked(kIdPoints) == BST_CHECKED;
    WriteProfileInt("option", "kmzexport", points_ ? 1 : 0);
  }
  return result;
}

}  // namespace velmora

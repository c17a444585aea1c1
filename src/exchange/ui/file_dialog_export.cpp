// The map-picture export file dialog.
#include "exchange/ui/file_dialog_export.h"

#include <cmath>

#include "core/format.h"
#include "platform/text.h"
#include "platform/ui/controls.h"

namespace velmora {
namespace {

int RegisteredTemplate() {
  static const int id = [] {
    DialogTemplate t;
    t.id = CFileDialogExport::kTemplateId;
    t.cx = 300;
    t.cy = 36;
    t.controls = {
        {ControlKind::kStatic, -1, "视角高度(km)", 7, 6, 50, 10, 0},
        {ControlKind::kEdit, CFileDialogExport::kIdAltitude, "", 58, 4, 50, 12, 0},
        {ControlKind::kStatic, -1, "延迟时间(ms)", 116, 6, 50, 10, 0},
        {ControlKind::kEdit, CFileDialogExport::kIdDelay, "", 167, 4, 40, 12, 0},
        {ControlKind::kCheckBox, CFileDialogExport::kIdFullScreen, "全屏拼接", 7, 22, 60, 10, 0},
        {ControlKind::kCheckBox, CFileDialogExport::kIdGeographic, "地理", 80, 22, 50, 10, 0},
    };
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

}  // namespace

CFileDialogExport::CFileDialogExport(const std::string& default_ext, const std::string& file_name, CWnd* parent)
    : CFileDialog(false, default_ext, file_name, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, kFilter, parent, RegisteredTemplate()) {}

bool CFileDialogExport::OnInitDialog() {
  SetDlgItemText(kIdAltitude, FormatNumber14(altitude_km));
  SetDlgItemInt(kIdDelay, delay_ms);
  CheckDlgButton(kIdFullScreen, full_screen ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kIdGeographic, geographic ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

void CFileDialogExport::OfferModelType(std::function<bool()> options) {
  model_options_ = std::move(options);
  std::string filter = kFilter;
  if (filter.ends_with("||")) filter.pop_back();
  SetFilter(filter + kModelFilter);
}

bool CFileDialogExport::ModelChosen() const {
  const std::string path = GetPathName();
  return path.size() > 4 && EqualsNoCaseAscii(std::string_view(path).substr(path.size() - 4), ".3ds");
}

INT_PTR CFileDialogExport::DoModal() {
  INT_PTR result = CFileDialog::DoModal();
  if (result != IDOK) return result;
  if (model_options_ && ModelChosen() && !model_options_()) return IDCANCEL;
  if (auto a = ParseDouble(GetDlgItemText(kIdAltitude)); a && *a > 0) altitude_km = *a;
  if (auto d = ParseInt(GetDlgItemText(kIdDelay)); d && *d >= 0 && *d <= 3600000) delay_ms = static_cast<int>(*d);
  full_screen = IsDlgButtonChecked(kIdFullScreen) == BST_CHECKED;
  geographic = IsDlgButtonChecked(kIdGeographic) == BST_CHECKED;
  return result;
}

}  // namespace velmora

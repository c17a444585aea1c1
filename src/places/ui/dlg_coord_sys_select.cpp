// The default coordinate system of exports.
#include "places/ui/dlg_coord_sys_select.h"

#include "core/projection.h"
#include "core/settings.h"
#include "places/coord_sys_convert.h"
#include "places/ui/coord_dialog_templates.h"
#include "places/ui/dlg_datum_params.h"

namespace velmora {
namespace {

constexpr const char kRemindKey[] = "CoordinateDefault";
constexpr const char kIndexKey[] = "CoordinateIdx";

int StoredIndex() {
  int index = ProgramSettings().GetInt(kIndexKey, 0);
  return GetCoordSystem(index) ? index : 0;
}

}  // namespace

CDlgCoordSysSelect::CDlgCoordSysSelect(CWnd* parent)
    : CDialogEx(RegisterCoordDialogTemplates(kCoordSysSelectTemplateId), parent) {
  InstallDatumParamsOpener();
  combo_.SetSlot(kSlotExport);
  BindControl(kIdSystem, combo_);
}

bool CDlgCoordSysSelect::OnInitDialog() {
  FillCoordSystemCombo(combo_);
  combo_.SetCurSel(StoredIndex());
  CheckDlgButton(kIdRemind, ProgramSettings().GetBool(kRemindKey, false) ? BST_CHECKED : BST_UNCHECKED);
  return true;
}

void CDlgCoordSysSelect::OnOK() {
  ProgramSettings().SetBool(kRemindKey, IsDlgButtonChecked(kIdRemind) == BST_CHECKED);
  int sel = combo_.GetCurSel();
  ProgramSettings().SetInt(kIndexKey, GetCoordSystem(sel) ? sel : 0);
  EndDialog(IDOK);
}

int GetCoordinateSystemIndex(CWnd* parent) {
  if (ProgramSettings().GetBool(kRemindKey, false)) {
    CDlgCoordSysSelect dlg(parent);
    if (dlg.DoModal() != IDOK) return -1;
  }
  return StoredIndex();
}

ExportCoordStatus ConvertPointsForExport(double* xy, int count, int* index, int* failed_points, CWnd* parent) {
  if (failed_points) *failed_points = 0;
  int system = GetCoordinateSystemIndex(parent);
  if (index) *index = system;
  if (system < 0) return ExportCoordStatus::kCancelled;
  if (system == kCoordLonLat || count < 1) return ExportCoordStatus::kConverted;
  if (system == kCoordUtm && !IsValidUtmZone(UtmZoneOfSlot(kSlotExport))) return ExportCoordStatus::kFailed;
  return TransformPoints2(xy, count, system, failed_points) ? ExportCoordStatus::kConverted
                                                            : ExportCoordStatus::kFailed;
}

}  // namespace velmora

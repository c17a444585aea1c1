// The coordinate-system converter dialog.
#include "places/ui/dlg_coord_sys_convert.h"

#include "core/projection.h"
#include "core/settings.h"
#include "places/coord_sys_convert.h"
#include "places/ui/coord_dialog_templates.h"
#include "places/ui/dlg_coord_sys_select.h"
#include "places/ui/dlg_datum_params.h"

namespace velmora {
namespace {

int ValidIndex(int index, int fallback) { return GetCoordSystem(index) ? index : fallback; }

}  // namespace

CDlgCoordSysConvert::CDlgCoordSysConvert(CWnd* parent)
    : CDlgCoordImport(RegisterCoordDialogTemplates(kCoordSysConvertTemplateId), parent) {
  InstallDatumParamsOpener();
  source_combo_.SetSlot(kSlotConverterSource);
  target_combo_.SetSlot(kSlotConverterTarget);
  BindControl(kIdSource, source_combo_);
  BindControl(kIdTarget, target_combo_);
  MapCommand(kIdConvertFile, [this] { ConvertFile("CoordCvtFile"); });
  MapCommand(kIdDefaults, [this] {
    CDlgCoordSysSelect dlg(this);
    dlg.DoModal();
  });
  const CProfileStore& store = ProgramSettings();
  target_ = ValidIndex(store.GetInt("CoordCvtDst", kCoordMercator), kCoordMercator);
  source_ = ValidIndex(store.GetInt("CoordCvtSrc", kCoordLonLat), kCoordLonLat);
  separator_ = store.GetString("CoordCvtSplit", ",");
  input_ = kDefaultInput;
}

bool CDlgCoordSysConvert::OnInitDialog() {
  FillCoordSystemCombo(source_combo_);
  FillCoordSystemCombo(target_combo_);
  SetDlgItemInt(kIdSkipColumns, 0);
  return CDlgCoordImport::OnInitDialog();
}

bool CDlgCoordSysConvert::TakeFields() {
  CDlgCoordImport::TakeFields();
  if (source_combo_.GetCurSel() >= 0) source_ = source_combo_.GetCurSel();
  if (target_combo_.GetCurSel() >= 0) target_ = target_combo_.GetCurSel();
  return TakeSkipColumns(&skip_columns_);
}

void CDlgCoordSysConvert::ShowFields() {
  CDlgCoordImport::ShowFields();
  source_combo_.SetCurSel(source_);
  target_combo_.SetCurSel(target_);
  SetDlgItemInt(kIdSkipColumns, skip_columns_);
}

void CDlgCoordSysConvert::Convert() {
  if (!TakeFields()) return;
  output_.clear();
  if (input_.empty()) {
    ShowFields();
    return;
  }
  CProfileStore& store = ProgramSettings();
  store.SetInt("CoordCvtSrc", source_);
  store.SetInt("CoordCvtDst", target_);
  store.SetString("CoordCvtSplit", separator_);
  CoordSysConvertOptions options;
  options.source = source_;
  options.target = target_;
  options.separator = separator_;
  options.skip_columns = skip_columns_;
  CoordSysResult result = ConvertCoordSystemText(input_, options);
  output_ = std::move(result.output);
  ShowFields();
  if (result.status != CoordSysStatus::kOk) {
    if (result.status != CoordSysStatus::kEmptyInput)
      MessageBox(CoordSysStatusText(result), kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  if (!result.issues.empty()) MessageBox(DescribeCoordIssues(result.issues), kAppTitle, MB_OK | MB_ICONWARNING);
}

}  // namespace velmora

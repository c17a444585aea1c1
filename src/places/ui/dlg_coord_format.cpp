// The format converter dialog.
#include "places/ui/dlg_coord_format.h"

#include "core/settings.h"
#include "places/ui/coord_dialog_templates.h"
#include "platform/ui/controls.h"

namespace velmora {
namespace {

// Program-settings keys: source hemisphere marks and target words (west, east, south, north).
constexpr const char* kSourceHemisphereKeys[4] = {"CCFG10", "CCFG11", "CCFT10", "CCFT11"};
constexpr const char* kTargetHemisphereKeys[4] = {"CCFG20", "CCFG21", "CCFT20", "CCFT21"};

}  // namespace

CDlgCoordFormat::CDlgCoordFormat(CWnd* parent)
    : CDlgCoordImport(RegisterCoordDialogTemplates(kCoordFormatTemplateId), parent) {
  MapControlNotify(kIdSourceFormat, CBN_SELCHANGE, [this] { TakeFields(); });
  MapControlNotify(kIdTargetFormat, CBN_SELCHANGE, [this] { TakeFields(); });
  MapCommand(kIdConvertFile, [this] { ConvertFile("CrdFmtCvtFile"); });
  LoadSettings();
}

void CDlgCoordFormat::LoadSettings() {
  const CProfileStore& store = ProgramSettings();
  CoordFormatSettings d;
  settings_.source_degree_mark = store.GetString("CCFSD1", d.source_degree_mark);
  settings_.source_minute_mark = store.GetString("CCFSF1", d.source_minute_mark);
  settings_.source_second_mark = store.GetString("CCFSM1", d.source_second_mark);
  settings_.source_lat_first = store.GetBool("CCFLF1", false);
  settings_.target_separator = store.GetString("CCFS2", d.target_separator);
  settings_.target_degree_mark = store.GetString("CCFSD2", d.target_degree_mark);
  settings_.target_minute_mark = store.GetString("CCFSF2", d.target_minute_mark);
  settings_.target_second_mark = store.GetString("CCFSM2", d.target_second_mark);
  settings_.target_lat_first = store.GetBool("CCFLF2", false);
  settings_.target_format = store.GetInt("CCFD", kNotationDegrees);
  if (settings_.target_format != kNotationDegrees && settings_.target_format != kNotationDms)
    settings_.target_format = kNotationDegrees;
  settings_.source_format = store.GetInt("CCFS", kNotationDms);
  if (settings_.source_format < kNotationDegrees || settings_.source_format > kNotationPacked)
    settings_.source_format = kNotationDms;
  for (size_t i = 0; i < 4; ++i) {
    settings_.source_hemisphere[i] = store.GetString(kSourceHemisphereKeys[i], d.source_hemisphere[i]);
    settings_.target_hemisphere[i] = store.GetString(kTargetHemisphereKeys[i], d.target_hemisphere[i]);
  }
  settings_.skip_columns = 0;
  input_ = store.GetString("CCFI", kDefaultInput);
  separator_ = store.GetString("CCFS1", ",");
}

void CDlgCoordFormat::SaveSettings() {
  CProfileStore& store = ProgramSettings();
  store.SetString("CCFI", input_);
  store.SetInt("CCFS", settings_.source_format);
  store.SetInt("CCFD", settings_.target_format);
  store.SetBool("CCFLF1", settings_.source_lat_first);
  store.SetString("CCFS1", separator_);
  store.SetString("CCFSD1", settings_.source_degree_mark);
  store.SetString("CCFSF1", settings_.source_minute_mark);
  store.SetString("CCFSM1", settings_.source_second_mark);
  store.SetBool("CCFLF2", settings_.target_lat_first);
  store.SetString("CCFS2", settings_.target_separator);
  store.SetString("CCFSD2", settings_.target_degree_mark);
  store.SetString("CCFSF2", settings_.target_minute_mark);
  store.SetString("CCFSM2", settings_.target_second_mark);
  for (size_t i = 0; i < 4; ++i) {
    store.SetString(kSourceHemisphereKeys[i], settings_.source_hemisphere[i]);
    store.SetString(kTargetHemisphereKeys[i], settings_.target_hemisphere[i]);
  }
}

bool CDlgCoordFormat::OnInitDialog() {
  if (auto* source = GetDlgItemAs<CComboBox>(kIdSourceFormat)) {
    source->ResetContent();
    for (const char* name : {"度", "度分秒", "D.FFMM"}) source->AddString(name);
  }
  if (auto* target = GetDlgItemAs<CComboBox>(kIdTargetFormat)) {
    target->ResetContent();
    for (const char* name : {"度", "度分秒"}) target->AddString(name);
  }
  SetDlgItemInt(kIdSkipColumns, 0);
  return CDlgCoordImport::OnInitDialog();
}

bool CDlgCoordFormat::TakeFields() {
  CDlgCoordImport::TakeFields();
  settings_.source_separator = separator_;
  settings_.source_degree_mark = GetDlgItemText(kIdSourceDegree);
  settings_.source_minute_mark = GetDlgItemText(kIdSourceMinute);
  settings_.source_second_mark = GetDlgItemText(kIdSourceSecond);
  settings_.source_lat_first = IsDlgButtonChecked(kIdSourceLatFirst) == BST_CHECKED;
  settings_.target_separator = GetDlgItemText(kIdTargetSeparator);
  settings_.target_degree_mark = GetDlgItemText(kIdTargetDegree);
  settings_.target_minute_mark = GetDlgItemText(kIdTargetMinute);
  settings_.target_second_mark = GetDlgItemText(kIdTargetSecond);
  settings_.target_lat_first = IsDlgButtonChecked(kIdTargetLatFirst) == BST_CHECKED;
  if (auto* c = GetDlgItemAs<CComboBox>(kIdSourceFormat); c && c->GetCurSel() >= 0)
    settings_.source_format = c->GetCurSel();
  if (auto* c = GetDlgItemAs<CComboBox>(kIdTargetFormat); c && c->GetCurSel() >= 0)
    settings_.target_format = c->GetCurSel();
  for (size_t i = 0; i < 4; ++i) {
    settings_.source_hemisphere[i] = GetDlgItemText(kIdSourceHemisphere[i]);
    settings_.target_hemisphere[i] = GetDlgItemText(kIdTargetHemisphere[i]);
  }
  return TakeSkipColumns(&settings_.skip_columns);
}

void CDlgCoordFormat::ShowFields() {
  CDlgCoordImport::ShowFields();
  SetDlgItemText(kIdSourceDegree, settings_.source_degree_mark);
  SetDlgItemText(kIdSourceMinute, settings_.source_minute_mark);
  SetDlgItemText(kIdSourceSecond, settings_.source_second_mark);
  CheckDlgButton(kIdSourceLatFirst, settings_.source_lat_first ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemText(kIdTargetSeparator, settings_.target_separator);
  SetDlgItemText(kIdTargetDegree, settings_.target_degree_mark);
  SetDlgItemText(kIdTargetMinute, settings_.target_minute_mark);
  SetDlgItemText(kIdTargetSecond, settings_.target_second_mark);
  CheckDlgButton(kIdTargetLatFirst, settings_.target_lat_first ? BST_CHECKED : BST_UNCHECKED);
  if (auto* c = GetDlgItemAs<CComboBox>(kIdSourceFormat)) c->SetCurSel(settings_.source_format);
  if (auto* c = GetDlgItemAs<CComboBox>(kIdTargetFormat)) c->SetCurSel(settings_.target_format);
  for (size_t i = 0; i < 4; ++i) {
    SetDlgItemText(kIdSourceHemisphere[i], settings_.source_hemisphere[i]);
    SetDlgItemText(kIdTargetHemisphere[i], settings_.target_hemisphere[i]);
  }
  SetDlgItemInt(kIdSkipColumns, settings_.skip_columns);
}

void CDlgCoordFormat::Convert() {
  if (!TakeFields() || input_.empty()) return;
  SaveSettings();
  if (settings_.source_separator.empty()) {
    MessageBox("分隔符不能为空", kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  CoordTextResult result = ConvertCoordText(input_, settings_);
  output_ = std::move(result.output);
  ShowFields();
  if (!result.issues.empty()) MessageBox(DescribeCoordIssues(result.issues), kAppTitle, MB_OK | MB_ICONWARNING);
}

}  // namespace velmora

// The 3D Studio model export options.
#include "terrain/ui/dlg_export_3d.h"

#include "platform/ui/controls.h"
#include "platform/ui/dialog_template.h"
#include "shell/kovra_home_ex_app.h"
#include "terrain/3ds_writer.h"
#include "terrain/terrain_grid.h"
#include "terrain/ui/dlg_terrain_settings.h"

namespace velmora {
namespace {

// The shared edits come from CDlgTerrainSettings::SampleFactorControls and OnOK reads them
// through CDlgTerrainSettings::ReadSampleFactor.
static_assert(int{CDlgExport3D::kIdSamples} == int{CDlgTerrainSettings::kIdSamples} &&
              int{CDlgExport3D::kIdFactorA} == int{CDlgTerrainSettings::kIdFactorA} &&
              int{CDlgExport3D::kIdFactorB} == int{CDlgTerrainSettings::kIdFactorB});

int RegisteredTemplate() {
  static const int id = [] {
    using K = ControlKind;
    DialogTemplate t;
    t.id = CDlgExport3D::kTemplateId;
    t.caption = "三维模型导出";
    t.cx = 206;
    t.cy = 79;
    t.controls = CDlgTerrainSettings::SampleFactorControls();
    t.controls.insert(t.controls.begin() + 2, {K::kCheckBox, CDlgExport3D::kIdPlain, "平面", 100, 8, 40, 12, 0});
    t.controls.push_back({K::kDefButton, IDOK, "确定", 149, 7, 50, 14, 0});
    t.controls.push_back({K::kButton, IDCANCEL, "取消", 149, 25, 50, 14, 0});
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

}  // namespace

CDlgExport3D::CDlgExport3D(CWnd* parent) : CDialog(RegisteredTemplate(), parent) {
  CProfileStore& settings = ProgramSettings();
  plain = settings.GetInt(kExp3dsPlainKey, 0) != 0;
  samples = settings.GetInt(kDemSampleKey, kDefaultSamples);
  factor = settings.GetIntPair(kDemFactorKey, kDefaultDemFactor);
}

bool CDlgExport3D::OnInitDialog() {
  CheckDlgButton(kIdPlain, plain ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemInt(kIdSamples, samples);
  SetDlgItemInt(kIdFactorA, factor.a);
  SetDlgItemInt(kIdFactorB, factor.b);
  return true;
}

void CDlgExport3D::OnOK() {
  if (!CDlgTerrainSettings::ReadSampleFactor(*this, &samples, &factor)) return;
  plain = IsDlgButtonChecked(kIdPlain) == BST_CHECKED;
  CProfileStore& settings = ProgramSettings();
  settings.SetInt(kExp3dsPlainKey, plain ? 1 : 0);
  settings.SetInt(kDemSampleKey, samples);
  settings.SetIntPair(kDemFactorKey, factor);
  EndDialog(IDOK);
}

}  // namespace velmora

// The terrain settings dialog.
#include "terrain/ui/dlg_terrain_settings.h"

#include "core/settings.h"
#include "platform/ui/dialog_template.h"
#include "shell/kovra_home_ex_app.h"
#include "terrain/terrain_grid.h"
#include "terrain/ui/3d_view_wnd.h"

namespace velmora {
namespace {

int RegisteredTemplate() {
  static const int id = [] {
    using K = ControlKind;
    DialogTemplate t;
    t.id = CDlgTerrainSettings::kTemplateId;
    t.caption = "地形设置";
    t.cx = 206;
    t.cy = 79;
    t.controls = CDlgTerrainSettings::SampleFactorControls();
    t.controls.insert(t.controls.begin() + 2, {K::kCheckBox, CDlgTerrainSettings::kIdTexture, "贴图", 100, 8, 40, 12, 0});
    t.controls.push_back({K::kButton, CDlgTerrainSettings::kIdReset, "地形重置", 7, 60, 60, 14, 0});
    t.controls.push_back({K::kDefButton, IDOK, "确定", 149, 7, 50, 14, 0});
    t.controls.push_back({K::kButton, IDCANCEL, "取消", 149, 25, 50, 14, 0});
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

}  // namespace

std::vector<ControlTemplate> CDlgTerrainSettings::SampleFactorControls() {
  using K = ControlKind;
  return {
      {K::kStatic, -1, "采样数", 7, 9, 30, 10, 0},
      {K::kEdit, kIdSamples, "", 40, 7, 50, 14, 0},
      {K::kGroupBox, -1, "高度计算y=ax+b", 7, 26, 133, 30, 0},
      {K::kStatic, -1, "a", 14, 39, 8, 10, 0},
      {K::kEdit, kIdFactorA, "", 24, 37, 45, 14, 0},
      {K::kStatic, -1, "b", 76, 39, 8, 10, 0},
      {K::kEdit, kIdFactorB, "", 86, 37, 45, 14, 0},
  };
}

CDlgTerrainSettings::CDlgTerrainSettings(C3DViewWnd* view, CWnd* parent)
    : CDialog(RegisteredTemplate(), parent), view_(view) {
  MapCommand(kIdReset, [this] { Apply(); });
}

bool CDlgTerrainSettings::OnInitDialog() {
  CProfileStore& settings = ProgramSettings();
  SetDlgItemInt(kIdSamples, settings.GetInt(kDemSampleKey, kDefaultDemSample));
  const IntPair factor = settings.GetIntPair(kDemFactorKey, kDefaultDemFactor);
  SetDlgItemInt(kIdFactorA, factor.a);
  SetDlgItemInt(kIdFactorB, factor.b);
  CheckDlgButton(kIdTexture, settings.GetBool(kTerrainTextureKey, false) ? 1 : 0);
  return true;
}

bool CDlgTerrainSettings::ReadSampleFactor(CDialog& dialog, int* samples, IntPair* factor) {
  const std::optional<long long> n = dialog.GetDlgItemInt(kIdSamples);
  if (!n || *n < kMinDemSample || *n > kMaxDemSample) {
    dialog.MessageBox(kBadSamples, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  const std::optional<long long> a = dialog.GetDlgItemInt(kIdFactorA), b = dialog.GetDlgItemInt(kIdFactorB);
  if (!a || !b || *a < INT32_MIN || *a > INT32_MAX || *b < INT32_MIN || *b > INT32_MAX) {
    dialog.MessageBox(kBadFactor, kAppTitle, MB_OK | MB_ICONWARNING);
    return false;
  }
  *samples = static_cast<int>(*n);
  *factor = IntPair{static_cast<int32_t>(*a), static_cast<int32_t>(*b)};
  return true;
}

bool CDlgTerrainSettings::Apply() {
  int samples = 0;
  IntPair factor;
  if (!ReadSampleFactor(*this, &samples, &factor)) return false;
  CProfileStore& settings = ProgramSettings();
  settings.SetInt(kDemSampleKey, samples);
  settings.SetIntPair(kDemFactorKey, factor);
  settings.SetBool(kTerrainTextureKey, IsDlgButtonChecked(kIdTexture) != 0);
  C3DViewWnd* view = view_;
  if (!view) {
    CKovraHomeExApp* app = GetApp();
    view = dynamic_cast<C3DViewWnd*>(app ? app->FindView(kViewGlobe3D) : nullptr);
  }
  if (view) {
    if (!view->Terrain().Build()) {
      const std::string& why = view->Terrain().LastError();
      if (!why.empty()) MessageBox(why, kAppTitle, MB_OK | MB_ICONWARNING);
    }
    view->Invalidate();
  }
  return true;
}

void CDlgTerrainSettings::OnOK() {
  if (Apply()) EndDialog(IDOK);
}

}  // namespace velmora

// The elevation options page.
#include "shell/pg_opt_dem.h"

#include <optional>
#include <string>

#include "core/format.h"
#include "core/log.h"
#include "core/page_options.h"
#include "core/settings.h"
#include "platform/ui/controls.h"

namespace velmora {
namespace {

// The source modes in mode order: the list index is the mode.
constexpr const char* kSourceModes[] = {"无", "SRTM", "ASTGTM", "Google", "SRTM+Google", "Google+SRTM"};
constexpr const char* kColorModes[] = {"单色", "计曲线间隔着色", "七色循环", "高程渐变色"};
constexpr const char* kMethods[] = {"内置算法", "Surfer"};

std::optional<long long> IntIn(const std::string& text, long long low, long long high) {
  std::optional<long long> v = ParseInt(text);
  if (!v || *v < low || *v > high) return std::nullopt;
  return v;
}

std::optional<double> ScaleOf(const std::string& text) {
  std::optional<double> v = ParseDouble(text);
  if (!v || !(*v > 0 && *v <= 1000)) return std::nullopt;
  return v;
}

}  // namespace

int RegisterPgOptDemTemplate() {
  static const int id = [] {
    using K = ControlKind;
    DialogTemplate t;
    t.id = CPgOptDem::kTemplateId;
    t.caption = "高程";
    t.cx = 250;
    t.cy = 178;
    t.controls = {
        {K::kStatic, -1, "高程数据源:", 7, 9, 58, 10, 0},
        {K::kComboBox, CPgOptDem::kIdSourceMode, "", 68, 7, 110, 90, 0},
        {K::kGroupBox, -1, "等高线", 7, 26, 236, 146, 0},
        {K::kStatic, -1, "颜色方式:", 14, 41, 52, 10, 0},
        {K::kComboBox, CPgOptDem::kIdColorMode, "", 68, 39, 110, 70, 0},
        {K::kStatic, -1, "计曲线间隔:", 14, 59, 52, 10, 0},
        {K::kEdit, CPgOptDem::kIdIntervalCount, "", 68, 57, 40, 12, 0},
        {K::kStatic, -1, "线色:", 14, 77, 24, 10, 0},
        {K::kStatic, CPgOptDem::kIdLineColor, "", 40, 75, 28, 12, 0},
        {K::kStatic, -1, "计曲线色:", 76, 77, 40, 10, 0},
        {K::kStatic, CPgOptDem::kIdIntervalColor, "", 118, 75, 28, 12, 0},
        {K::kStatic, -1, "标注色:", 156, 77, 32, 10, 0},
        {K::kStatic, CPgOptDem::kIdLabelColor, "", 190, 75, 28, 12, 0},
        {K::kCheckBox, CPgOptDem::kIdLabelsOn, "显示标注", 14, 96, 60, 10, 0},
        {K::kStatic, -1, "标注间隔:", 80, 97, 42, 10, 0},
        {K::kEdit, CPgOptDem::kIdLabelInterval, "", 124, 95, 40, 12, 0},
        {K::kCheckBox, CPgOptDem::kIdLabelWhole, "整倍数标注", 14, 113, 80, 10, 0},
        {K::kStatic, -1, "生成方法:", 14, 133, 52, 10, 0},
        {K::kComboBox, CPgOptDem::kIdMethod, "", 68, 131, 110, 50, 0},
        {K::kStatic, -1, "DXF标注比例:", 14, 153, 54, 10, 0},
        {K::kEdit, CPgOptDem::kIdDxfLabelScale, "", 68, 151, 40, 12, 0},
    };
    RegisterDialogTemplate(t);
    return t.id;
  }();
  return id;
}

CPgOptDem::CPgOptDem() : CPropertyPage(RegisterPgOptDemTemplate()) {
  BindControl(kIdLineColor, line_color_);
  BindControl(kIdIntervalColor, interval_color_);
  BindControl(kIdLabelColor, label_color_);
  MapControlNotify(kIdSourceMode, CBN_SELCHANGE, [this] { Changed(); });
  MapControlNotify(kIdMethod, CBN_SELCHANGE, [this] { Changed(); });
  MapControlNotify(kIdColorMode, CBN_SELCHANGE, [this] {
    UpdateStates();
    Changed();
  });
  MapCommand(kIdLabelsOn, [this] {
    UpdateStates();
    Changed();
  });
  MapCommand(kIdLabelWhole, [this] { Changed(); });
  for (int id : {kIdIntervalCount, kIdLabelInterval, kIdDxfLabelScale})
    MapControlNotify(static_cast<UINT>(id), EN_CHANGE, [this] { Changed(); });
  for (int id : {kIdLineColor, kIdIntervalColor, kIdLabelColor})
    MapControlNotify(static_cast<UINT>(id), CSN_COLORCHANGED, [this] { Changed(); });
}

bool CPgOptDem::OnInitDialog() {
  const DemPageOptions dem = GetPageOptions().dem;
  auto fill = [this](int id, const auto& texts, int selected) {
    auto* combo = GetDlgItemAs<CComboBox>(id);
    if (!combo) return;
    combo->ResetContent();
    for (const char* text : texts) combo->AddString(text);
    combo->SetCurSel(selected >= 0 && selected < combo->GetCount() ? selected : 0);
  };
  fill(kIdSourceMode, kSourceModes, AppOptions().dem_source_mode);
  fill(kIdColorMode, kColorModes, dem.contour_color_mode);
  fill(kIdMethod, kMethods, dem.contour_method != 0 ? 1 : 0);
  SetDlgItemInt(kIdIntervalCount, dem.interval_count);
  SetDlgItemInt(kIdLabelInterval, dem.label_interval);
  SetDlgItemText(kIdDxfLabelScale, FormatNumber14(dem.dxf_label_scale));
  line_color_.SetColor(dem.line_color);
  interval_color_.SetColor(dem.interval_color);
  label_color_.SetColor(dem.label_color);
  CheckDlgButton(kIdLabelsOn, dem.labels_on ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(kIdLabelWhole, dem.labels_whole_multiples ? BST_CHECKED : BST_UNCHECKED);
  UpdateStates();
  return true;
}

void CPgOptDem::UpdateStates() {
  auto* mode = GetDlgItemAs<CComboBox>(kIdColorMode);
  int color_mode = mode ? mode->GetCurSel() : 0;
  bool labels = IsDlgButtonChecked(kIdLabelsOn) == BST_CHECKED;
  auto enable = [this](int id, bool on) {
    if (CWnd* w = GetDlgItem(id)) w->EnableWindow(on);
  };
  // Modes 2 and 3 take their colours from the cycle and the ramp.
  enable(kIdLineColor, color_mode == 0 || color_mode == 1);
  enable(kIdIntervalColor, color_mode == 1);
  enable(kIdIntervalCount, color_mode == 1);
  enable(kIdLabelInterval, labels);
  enable(kIdLabelWhole, labels);
  enable(kIdLabelColor, labels);
}

bool CPgOptDem::OnKillActive() {
  auto refuse = [this](int id, const char* text) {
    MessageBox(text, kAppTitle, MB_OK | MB_ICONWARNING);
    if (CWnd* w = GetDlgItem(id)) w->SetFocus();
    return false;
  };
  // A field that is disabled is not used: its text need not be valid.
  auto enabled = [this](int id) {
    CWnd* w = GetDlgItem(id);
    return w && w->IsWindowEnabled();
  };
  if (enabled(kIdIntervalCount) && !IntIn(GetDlgItemText(kIdIntervalCount), 1, 100))
    return refuse(kIdIntervalCount, kBadIntervalCount);
  if (enabled(kIdLabelInterval) && !IntIn(GetDlgItemText(kIdLabelInterval), 1, 1000))
    return refuse(kIdLabelInterval, kBadLabelInterval);
  if (!ScaleOf(GetDlgItemText(kIdDxfLabelScale))) return refuse(kIdDxfLabelScale, kBadLabelScale);
  return true;
}

bool CPgOptDem::OnApply() {
  PageOptions options = GetPageOptions();
  DemPageOptions& dem = options.dem;
  if (auto* c = GetDlgItemAs<CComboBox>(kIdColorMode); c && c->GetCurSel() >= 0) dem.contour_color_mode = c->GetCurSel();
  if (auto* c = GetDlgItemAs<CComboBox>(kIdMethod); c && c->GetCurSel() >= 0) dem.contour_method = c->GetCurSel();
  // Fields left disabled keep their values (their texts were not checked).
  if (auto v = IntIn(GetDlgItemText(kIdIntervalCount), 1, 100)) dem.interval_count = static_cast<int>(*v);
  if (auto v = IntIn(GetDlgItemText(kIdLabelInterval), 1, 1000)) dem.label_interval = static_cast<int>(*v);
  if (auto v = ScaleOf(GetDlgItemText(kIdDxfLabelScale))) dem.dxf_label_scale = *v;
  dem.line_color = line_color_.GetColor();
  dem.interval_color = interval_color_.GetColor();
  dem.label_color = label_color_.GetColor();
  dem.labels_on = IsDlgButtonChecked(kIdLabelsOn) == BST_CHECKED;
  dem.labels_whole_multiples = IsDlgButtonChecked(kIdLabelWhole) == BST_CHECKED;
  if (!SetPageOptions(options)) AppLog("the contour options could not be written to the profile");

  auto* source = GetDlgItemAs<CComboBox>(kIdSourceMode);
  int mode = source ? source->GetCurSel() : -1;
  if (mode >= 0 && mode != AppOptions().dem_source_mode) {
    // A new snapshot: elevation workers read it at their next look-up.
    UpdateAppOptions([mode](CAppOptions& o) { o.dem_source_mode = mode; });
    if (!SaveAppOptions()) AppLog("the options could not be saved");
  }
  return true;
}

}  // namespace velmora

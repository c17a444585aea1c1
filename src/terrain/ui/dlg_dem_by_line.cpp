// The line sampling settings dialog.
#include "terrain/ui/dlg_dem_by_line.h"

#include <cmath>

#include "core/format.h"
#include "core/settings.h"

namespace velmora {
namespace {

DialogTemplate DemByLineTemplate() {
  using D = CDlgDemByLine;
  DialogTemplate t;
  t.id = D::kTemplateId;
  t.caption = D::kCaption;
  t.cx = 220;
  t.cy = 200;
  t.controls = {
      {ControlKind::kStatic, -1, "排序", 8, 10, 50, 12, 0},
      {ControlKind::kComboBox, D::kIdSort, "", 60, 8, 150, 60, 0},
      {ControlKind::kStatic, -1, "采样间距", 8, 28, 50, 12, 0},
      {ControlKind::kEdit, D::kIdSpacing, "", 60, 26, 150, 14, 0},
      {ControlKind::kStatic, -1, "采样点数", 8, 46, 50, 12, 0},
      {ControlKind::kEdit, D::kIdCount, "", 60, 44, 150, 14, 0},
      {ControlKind::kCheckBox, D::kIdOption, "包含线路端点", 8, 64, 150, 12, 0},
      {ControlKind::kTreeView, D::kIdTree, "", 8, 80, 204, 90, 0},
      {ControlKind::kDefButton, IDOK, "确定", 100, 178, 50, 14, 0},
      {ControlKind::kButton, IDCANCEL, "取消", 160, 178, 50, 14, 0},
  };
  return t;
}

}  // namespace

CDlgDemByLine::CDlgDemByLine(CWnd* parent) : CDialogEx(DemByLineTemplate(), parent) {
  CProfileStore& settings = ProgramSettings();
  sort = settings.GetInt("dembyline_sort", 1);
  spacing = settings.GetFloat("dembyline_space", 0.09f);
  count = settings.GetInt("dembyline_count", 1);
  BindControl(kIdTree, tree_);
}

CDlgDemByLine::~CDlgDemByLine() { DestroyWindow(); }

HTREEITEM CDlgDemByLine::AddItem(const std::string& label, const std::string& value, HTREEITEM parent) {
  HTREEITEM item = tree_.InsertItem(label, parent);
  if (!item) return item;
  records_.push_back(std::make_unique<Item>(Item{label, value}));
  tree_.SetItemData(item, reinterpret_cast<uintptr_t>(records_.back().get()));
  return item;
}

const CDlgDemByLine::Item* CDlgDemByLine::ItemRecord(HTREEITEM item) const {
  if (!tree_.ItemExists(item)) return nullptr;
  return reinterpret_cast<const Item*>(tree_.GetItemData(item));
}

bool CDlgDemByLine::OnInitDialog() {
  if (auto* combo = GetDlgItemAs<CComboBox>(kIdSort)) {
    combo->ResetContent();
    combo->AddString("按线路顺序");
    combo->AddString("按线路名称");
    if (combo->SetCurSel(sort) == CB_ERR) combo->SetCurSel(1);
  }
  SetDlgItemText(kIdSpacing, FormatC("%g", static_cast<double>(spacing)));
  SetDlgItemInt(kIdCount, count);
  // The option is never stored: every opening starts without it.
  option = false;
  CheckDlgButton(kIdOption, 0);
  return true;
}

void CDlgDemByLine::OnOK() {
  const auto value = ParseDouble(GetDlgItemText(kIdSpacing));
  // A spacing that is no number at all ("nan", "inf", empty) is refused as too small, too.
  if (!value || !std::isfinite(*value) || static_cast<float>(*value) <= 0.0f) {
    MessageBox(kSpacingTooSmall, kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  const auto n = ParseInt(GetDlgItemText(kIdCount));
  if (!n || *n < 1 || *n > kMaxCount) {
    MessageBox(FormatC("请输入一个介于 %d 和 %d 之间的整数。", 1, kMaxCount), kAppTitle, MB_OK | MB_ICONWARNING);
    return;
  }
  const auto* combo = GetDlgItemAs<CComboBox>(kIdSort);
  sort = combo && combo->GetCurSel() >= 0 ? combo->GetCurSel() : sort;
  spacing = static_cast<float>(*value);
  count = static_cast<int>(*n);
  option = IsDlgButtonChecked(kIdOption) != 0;
  CProfileStore& settings = ProgramSettings();
  settings.SetInt("dembyline_sort", sort);
  settings.SetFloat("dembyline_space", spacing);
  settings.SetInt("dembyline_count", count);
  EndDialog(IDOK);
}

void CDlgDemByLine::OnDestroy() {
  // The records go with the window's items.
  tree_.DeleteAllItems();
  records_.clear();
  CDialogEx::OnDestroy();
}

}  // namespace velmora

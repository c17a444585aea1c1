// Tabbed property sheets and their pages.
#include "platform/ui/property_sheet.h"

#include <algorithm>

namespace velmora {
namespace {

// Layout of the assembled sheet, in dialog units.
constexpr int kMargin = 7;
constexpr int kTabHeader = 14;  // the tab strip above the page
constexpr int kTabBorder = 2;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kButtonGap = 4;

}  // namespace

// ---- CPropertyPage ----

CPropertyPage::CPropertyPage(int template_id, const std::string& title) : CDialog(template_id), title_(title) {}

CPropertyPage::CPropertyPage(DialogTemplate tmpl, const std::string& title)
    : CDialog(std::move(tmpl)), title_(title) {}

std::string CPropertyPage::GetTitle() const { return title_.empty() ? Template().caption : title_; }

void CPropertyPage::SetModified(bool changed) {
  if (modified_ == changed) return;
  modified_ = changed;
  if (sheet_) sheet_->UpdateApplyButton();
}

// ---- CPropertySheet ----

CPropertySheet::CPropertySheet(const std::string& caption, CWnd* parent, int select_page)
    : CDialog(DialogTemplate{kTemplateId, caption, 0, 0, {}}, parent), caption_(caption), start_page_(select_page) {
  MapCommand(ID_APPLY_NOW, [this] { Apply(); });
}

void CPropertySheet::AddPage(CPropertyPage* page) {
  if (!page || GetPageIndex(page) >= 0) return;
  page->sheet_ = this;
  pages_.push_back(page);
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

int CPropertySheet::GetPageIndex(const CPropertyPage* page) const {
  auto it = std::find(pages_.begin(), pages_.end(), page);
  return it == pages_.end() ? -1 : static_cast<int>(it - pages_.begin());
}

void CPropertySheet::BuildTemplate() {
  int page_cx = 0, page_cy = 0;
  for (const CPropertyPage* page : pages_) {
    page_cx = std::max(page_cx, page->Template().cx);
    page_cy = std::max(page_cy, page->Template().cy);
  }
  int tab_cx = page_cx + 2 * kTabBorder;
  int tab_cy = page_cy + kTabHeader + 2 * kTabBorder;
  tab_rect_ = {kMargin, kMargin, kMargin + tab_cx, kMargin + tab_cy};
  DialogTemplate t;
  t.id = kTemplateId;
  t.caption = caption_;
  t.cx = std::max(tab_cx, 3 * kButtonWidth + 2 * kButtonGap) + 2 * kMargin;
  t.cy = tab_rect_.bottom + kMargin + kButtonHeight + kMargin;
  int y = tab_rect_.bottom + kMargin;
  int x = t.cx - kMargin - kButtonWidth;
  // Right to left: Apply, Cancel, OK.
  t.controls = {
      {ControlKind::kDefButton, IDOK, "确定", x - 2 * (kButtonWidth + kButtonGap), y, kButtonWidth, kButtonHeight, 0},
      {ControlKind::kButton, IDCANCEL, "取消", x - (kButtonWidth + kButtonGap), y, kButtonWidth, kButtonHeight, 0},
      {ControlKind::kButton, ID_APPLY_NOW, "应用(&A)", x, y, kButtonWidth, kButtonHeight, WS_DISABLED},
  };
  SetTemplate(std::move(t));
}

INT_PTR CPropertySheet::DoModal() {
  if (IsWindow()) return -1;
  BuildTemplate();
  return CDialog::DoModal();
}

bool CPropertySheet::Create(CWnd* parent) {
  if (IsWindow()) return true;
  BuildTemplate();
  return CDialog::Create(parent);
}

bool CPropertySheet::OnInitDialog() {
  active_ = -1;
  for (CPropertyPage* page : pages_) page->modified_ = false;
  if (!pages_.empty()) {
    int first = start_page_ >= 0 && start_page_ < GetPageCount() ? start_page_ : 0;
    SetActivePage(first);
  }
  UpdateApplyButton();
  return true;
}

bool CPropertySheet::SetActivePage(int index) {
  CPropertyPage* page = GetPage(index);
  if (!page || !IsWindow()) return false;
  if (index == active_) return true;
  CPropertyPage* current = GetActivePage();
  if (current && !current->OnKillActive()) return false;
  if (!page->IsWindow() && !page->Create(this)) return false;
  if (current) current->ShowWindow(SW_HIDE);
  active_ = index;
  page->ShowWindow(SW_SHOW);
  Invalidate();
  page->OnSetActive();
  return true;
}

bool CPropertySheet::Apply() {
  if (CPropertyPage* current = GetActivePage(); current && !current->OnKillActive()) return false;
  for (int i = 0; i < GetPageCount(); ++i) {
    CPropertyPage* page = pages_[static_cast<size_t>(i)];
    if (!page->IsWindow()) continue;  // never shown: nothing of it changed
    if (!page->OnApply()) {
      SetActivePage(i);
      return false;
    }
  }
  for (CPropertyPage* page : pages_) page->modified_ = false;
  UpdateApplyButton();
  return true;
}

bool CPropertySheet::IsApplyEnabled() const {
  CWnd* button = GetDlgItem(ID_APPLY_NOW);
  return button && button->IsWindowEnabled();
}

void CPropertySheet::UpdateApplyButton() {
  bool any = std::any_of(pages_.begin(), pages_.end(), [](const CPropertyPage* p) { return p->modified_; });
  if (CWnd* button = GetDlgItem(ID_APPLY_NOW)) button->EnableWindow(any);
}

void CPropertySheet::OnOK() {
  if (!Apply()) return;
  EndDialog(IDOK);
}

void CPropertySheet::OnCancel() {
  for (CPropertyPage* page : pages_)
    if (page->IsWindow()) page->OnReset();
  EndDialog(IDCANCEL);
}

}  // namespace velmora

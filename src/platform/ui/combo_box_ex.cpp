// The extended combo box: items with pictures, the edit child, the drop-down state.
#include "platform/ui/combo_box_ex.h"

#include <memory>

namespace velmora {

int CComboBoxEx::OnCreate() {
  if (CWnd* existing = GetDlgItem(kEditId)) {
    // The edit of an earlier window of this object (or an owner's own edit class) comes back.
    if (!existing->IsWindow() && !existing->Create(this, kEditId, existing->GetWindowText(), WS_CHILD | WS_VISIBLE))
      return -1;
  } else {
    auto edit = std::make_unique<CEdit>();
    CEdit* raw = edit.get();
    AdoptChild(std::move(edit));
    if (!raw->Create(this, kEditId, "", WS_CHILD | WS_VISIBLE)) return -1;
  }
  return 0;
}

void CComboBoxEx::ResetWindowState() {
  ResetContent();
  dropped_ = false;
}

int CComboBoxEx::InsertItem(int index, const std::string& text, int image, int selected_image, uintptr_t data) {
  const int at = InsertString(index, text);
  if (at < 0) return at;
  images_of_items_.insert(images_of_items_.begin() + at, Images{image, selected_image});
  SetItemData(at, data);
  Invalidate();
  return at;
}

int CComboBoxEx::DeleteItem(int index) {
  const int left = DeleteString(index);
  if (left >= 0 && index >= 0 && static_cast<size_t>(index) < images_of_items_.size())
    images_of_items_.erase(images_of_items_.begin() + index);
  if (GetCount() == 0) ShowDropDown(false);
  return left;
}

void CComboBoxEx::ResetContent() {
  CComboBox::ResetContent();
  images_of_items_.clear();
  ShowDropDown(false);
  Invalidate();
}

bool CComboBoxEx::GetItemImage(int index, int* image, int* selected_image) const {
  if (index < 0 || static_cast<size_t>(index) >= images_of_items_.size() || index >= GetCount()) return false;
  if (image) *image = images_of_items_[static_cast<size_t>(index)].image;
  if (selected_image) *selected_image = images_of_items_[static_cast<size_t>(index)].selected;
  return true;
}

void CComboBoxEx::SetImageList(CImageList* images) {
  images_ = images;
  Invalidate();
}

CEdit* CComboBoxEx::GetEditCtrl() const { return GetDlgItemAs<CEdit>(kEditId); }

std::string CComboBoxEx::GetEditText() const {
  CEdit* edit = GetEditCtrl();
  return edit ? edit->GetWindowText() : std::string();
}

void CComboBoxEx::SetEditText(const std::string& text) {
  CEdit* edit = GetEditCtrl();
  if (!edit || edit->GetWindowText() == text) return;
  edit->SetWindowText(text);
  edit->SetSel(-1, -1);
  Invalidate();  // the combo shows its edit's text
}

void CComboBoxEx::ShowDropDown(bool show) {
  show = show && GetCount() > 0;
  if (dropped_ == show) return;
  dropped_ = show;
  Invalidate();
}

void CComboBoxEx::Select(int index) {
  if (!IsWindowEnabled() || index < 0 || index >= GetCount()) return;
  SetCurSel(index);
  SetEditText(GetLBText(index));
  ShowDropDown(false);
  Invalidate();
  Notify(CBN_SELCHANGE);
}

void CComboBoxEx::Notify(unsigned code) {
  if (!OnReflectedNotify(code)) NotifyParentCommand(code);
}

LRESULT CComboBoxEx::WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) {
  // The edit field's own change: the combo shows it, and it is the combo's CBN_EDITCHANGE.
  if (msg == WM_COMMAND && LOWORD(wparam) == static_cast<unsigned>(kEditId) && HIWORD(wparam) == EN_CHANGE) {
    Invalidate();
    Notify(CBN_EDITCHANGE);
    return 0;
  }
  return CComboBox::WindowProc(msg, wparam, lparam);
}

}  // namespace velmora

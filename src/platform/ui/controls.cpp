// Buttons, edit fields, combo boxes and progress bars.
#include "platform/ui/controls.h"

#include <algorithm>

#include "platform/ui/ui_host.h"

namespace velmora {

// ---- CButton ----

void CButton::Click() {
  if (!IsWindowEnabled()) return;
  if (kind_ == Kind::kCheckBox) {
    SetCheck(check_ == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
  } else if (kind_ == Kind::kRadio) {
    SetCheck(BST_CHECKED);
    // The other radio buttons of the parent lose their mark (one group per parent).
    if (CWnd* parent = GetParent()) {
      for (CWnd* sibling : parent->Children()) {
        auto* radio = dynamic_cast<CButton*>(sibling);
        if (radio && radio != this && radio->kind_ == Kind::kRadio) radio->SetCheck(BST_UNCHECKED);
      }
    }
  }
  NotifyParentCommand(BN_CLICKED);
}

// ---- CEdit ----

void CEdit::ResetWindowState() {
  sel_start_ = sel_end_ = 0;
  undo_text_.clear();
  can_undo_ = false;
}

void CEdit::SetSel(int start, int end) {
  size_t size = GetWindowText().size();
  sel_start_ = start < 0 ? size : std::min(static_cast<size_t>(start), size);
  sel_end_ = end < 0 ? size : std::min(static_cast<size_t>(end), size);
  if (sel_start_ > sel_end_) std::swap(sel_start_, sel_end_);
}

void CEdit::GetSel(int* start, int* end) const {
  if (start) *start = static_cast<int>(sel_start_);
  if (end) *end = static_cast<int>(sel_end_);
}

std::string CEdit::GetSelText() const {
  std::string text = GetWindowText();
  size_t b = std::min(sel_start_, text.size());
  size_t e = std::min(sel_end_, text.size());
  return text.substr(b, e - b);
}

void CEdit::SetTextKeepingUndo(const std::string& text) {
  std::string old = GetWindowText();
  if (old == text) return;
  undo_text_ = old;
  can_undo_ = true;
  SetWindowText(text);
  NotifyParentCommand(EN_CHANGE);
}

void CEdit::ReplaceSel(const std::string& insert) {
  std::string text = GetWindowText();
  size_t b = std::min(sel_start_, text.size());
  size_t e = std::min(sel_end_, text.size());
  std::string result = text.substr(0, b) + insert + text.substr(e);
  if (limit_ != 0 && result.size() > limit_) return;
  SetTextKeepingUndo(result);
  sel_start_ = sel_end_ = b + insert.size();
}

void CEdit::Undo() {
  if (!can_undo_) return;
  std::string redo = GetWindowText();
  SetWindowText(undo_text_);
  undo_text_ = redo;  // a second undo takes the change back again, as the edit control does
  sel_start_ = sel_end_ = GetWindowText().size();
  NotifyParentCommand(EN_CHANGE);
}

void CEdit::Cut() {
  if (read_only_ || sel_start_ == sel_end_) return;
  Copy();
  ReplaceSel("");
}

void CEdit::Copy() const {
  if (sel_start_ != sel_end_) GetUiHost().SetClipboardText(GetSelText());
}

void CEdit::Paste() {
  if (read_only_) return;
  std::string text = GetUiHost().GetClipboardText();
  if (!text.empty()) ReplaceSel(text);
}

void CEdit::Clear() {
  if (read_only_ || sel_start_ == sel_end_) return;
  ReplaceSel("");
}

void CEdit::Type(const std::string& text) {
  if (read_only_ || !IsWindowEnabled()) return;
  std::string value = text;
  if (limit_ != 0 && value.size() > limit_) {
    // The limit counts bytes; the text is cut before the character that would cross it, never
    // inside one (UTF-8 continuation bytes are 10xxxxxx).
    size_t cut = limit_;
    while (cut > 0 && (static_cast<unsigned char>(value[cut]) & 0xC0) == 0x80) --cut;
    value.resize(cut);
  }
  SetTextKeepingUndo(value);
  sel_start_ = sel_end_ = value.size();
}

// ---- CComboBox ----

int CComboBox::AddString(const std::string& text) { return InsertString(-1, text); }

int CComboBox::InsertString(int index, const std::string& text) {
  if (index < 0 || index > GetCount()) index = GetCount();
  items_.insert(items_.begin() + index, Item{text, 0, -1});
  if (cur_sel_ >= index) ++cur_sel_;
  Invalidate();
  return index;
}

int CComboBox::DeleteString(int index) {
  if (index < 0 || index >= GetCount()) return CB_ERR;
  items_.erase(items_.begin() + index);
  if (cur_sel_ == index)
    cur_sel_ = -1;
  else if (cur_sel_ > index)
    --cur_sel_;
  Invalidate();
  return GetCount();
}

void CComboBox::ResetContent() {
  if (items_.empty() && cur_sel_ == -1) return;
  items_.clear();
  cur_sel_ = -1;
  Invalidate();
}

bool CComboBox::SetItemImage(int index, int image) {
  if (index < 0 || index >= GetCount()) return false;
  int& own = items_[static_cast<size_t>(index)].image;
  if (own != image) {
    own = image;
    Invalidate();
  }
  return true;
}

int CComboBox::GetItemImage(int index) const {
  return index >= 0 && index < GetCount() ? items_[static_cast<size_t>(index)].image : -1;
}

std::string CComboBox::GetLBText(int index) const {
  return index >= 0 && index < GetCount() ? items_[static_cast<size_t>(index)].text : std::string();
}

int CComboBox::FindStringExact(int start_after, const std::string& text) const {
  int n = GetCount();
  if (n == 0) return CB_ERR;
  for (int k = 1; k <= n; ++k) {
    int i = ((start_after < 0 ? -1 : start_after) + k) % n;
    if (items_[static_cast<size_t>(i)].text == text) return i;
  }
  return CB_ERR;
}

int CComboBox::SetCurSel(int index) {
  int old = cur_sel_;
  if (index < -1 || index >= GetCount()) {
    cur_sel_ = -1;
    if (old != cur_sel_) Invalidate();
    return CB_ERR;
  }
  cur_sel_ = index;
  if (old != cur_sel_) Invalidate();
  return index;
}

bool CComboBox::SetItemData(int index, uintptr_t data) {
  if (index < 0 || index >= GetCount()) return false;
  items_[static_cast<size_t>(index)].data = data;
  return true;
}

uintptr_t CComboBox::GetItemData(int index) const {
  return index >= 0 && index < GetCount() ? items_[static_cast<size_t>(index)].data : 0;
}

void CComboBox::Select(int index) {
  if (!IsWindowEnabled() || index < 0 || index >= GetCount()) return;
  if (cur_sel_ != index) Invalidate();
  cur_sel_ = index;
  SetWindowText(items_[static_cast<size_t>(index)].text);
  NotifyParentCommand(CBN_SELCHANGE);
}

// ---- CProgressCtrl ----

void CProgressCtrl::SetRange32(int low, int high) {
  low_ = low;
  high_ = std::max(low, high);
  pos_ = std::clamp(pos_, low_, high_);
  Invalidate();
}

void CProgressCtrl::GetRange(int* low, int* high) const {
  if (low) *low = low_;
  if (high) *high = high_;
}

int CProgressCtrl::SetPos(int pos) {
  int old = pos_;
  pos_ = std::clamp(pos, low_, high_);
  if (pos_ != old) Invalidate();
  return old;
}

}  // namespace velmora

// The list view model.
#include "platform/ui/list_ctrl.h"

#include <algorithm>

namespace velmora {

int CListCtrl::InsertColumn(int index, const std::string& heading, int format, int width) {
  if (index < 0 || index > GetColumnCount()) index = GetColumnCount();
  columns_.insert(columns_.begin() + index, Column{heading, format, width < 0 ? 100 : width});
  Invalidate();
  return index;
}

bool CListCtrl::DeleteColumn(int index) {
  if (index < 0 || index >= GetColumnCount()) return false;
  columns_.erase(columns_.begin() + index);
  for (Row& row : rows_) {
    if (static_cast<size_t>(index) < row.texts.size()) row.texts.erase(row.texts.begin() + index);
    if (static_cast<size_t>(index) < row.images.size()) row.images.erase(row.images.begin() + index);
  }
  Invalidate();
  return true;
}

std::string CListCtrl::GetColumnHeading(int index) const {
  return index >= 0 && index < GetColumnCount() ? columns_[static_cast<size_t>(index)].heading : std::string();
}

int CListCtrl::GetColumnWidth(int index) const {
  return index >= 0 && index < GetColumnCount() ? columns_[static_cast<size_t>(index)].width : 0;
}

void CListCtrl::ResetWindowState() {
  columns_.clear();
  rows_.clear();
  virtual_ = false;
  virtual_count_ = 0;
  virtual_state_.clear();
  ext_style_ = 0;
  images_ = nullptr;
  selection_mark_ = -1;
}

int CListCtrl::GetItemCount() const { return virtual_ ? virtual_count_ : static_cast<int>(rows_.size()); }

int CListCtrl::InsertItem(int index, const std::string& text, int image) {
  if (virtual_) return -1;
  if (index < 0 || index > GetItemCount()) index = GetItemCount();
  Row row;
  row.texts.push_back(text);
  row.images.push_back(image);
  rows_.insert(rows_.begin() + index, std::move(row));
  if (selection_mark_ >= index) ++selection_mark_;
  Invalidate();
  return index;
}

bool CListCtrl::SetItemText(int item, int sub_item, const std::string& text) {
  if (virtual_ || !Valid(item) || sub_item < 0) return false;
  Row& row = rows_[static_cast<size_t>(item)];
  if (row.texts.size() <= static_cast<size_t>(sub_item)) row.texts.resize(static_cast<size_t>(sub_item) + 1);
  row.texts[static_cast<size_t>(sub_item)] = text;
  Invalidate();
  return true;
}

std::string CListCtrl::GetItemText(int item, int sub_item) const {
  if (!Valid(item) || sub_item < 0) return {};
  if (virtual_) return text_cb_ ? text_cb_(item, sub_item) : std::string();
  const Row& row = rows_[static_cast<size_t>(item)];
  if (static_cast<size_t>(sub_item) >= row.texts.size()) return {};
  const std::string& text = row.texts[static_cast<size_t>(sub_item)];
  if (text == LPSTR_TEXTCALLBACK) return text_cb_ ? text_cb_(item, sub_item) : std::string();
  return text;
}

bool CListCtrl::SetItem(int item, int sub_item, const std::string& text, int image) {
  return SetItemText(item, sub_item, text) && SetItemImage(item, image, sub_item);
}

bool CListCtrl::SetItemImage(int item, int image, int sub_item) {
  if (virtual_ || !Valid(item) || sub_item < 0) return false;
  Row& row = rows_[static_cast<size_t>(item)];
  if (row.images.size() <= static_cast<size_t>(sub_item)) row.images.resize(static_cast<size_t>(sub_item) + 1, -1);
  row.images[static_cast<size_t>(sub_item)] = image;
  Invalidate();
  return true;
}

int CListCtrl::GetItemImage(int item, int sub_item) const {
  if (!Valid(item) || sub_item < 0) return -1;
  if (virtual_) return sub_item == 0 && image_cb_ ? image_cb_(item) : -1;
  const Row& row = rows_[static_cast<size_t>(item)];
  return static_cast<size_t>(sub_item) < row.images.size() ? row.images[static_cast<size_t>(sub_item)] : -1;
}

bool CListCtrl::SetItemData(int item, uintptr_t data) {
  if (virtual_ || !Valid(item)) return false;
  rows_[static_cast<size_t>(item)].data = data;
  return true;
}

uintptr_t CListCtrl::GetItemData(int item) const {
  return !virtual_ && Valid(item) ? rows_[static_cast<size_t>(item)].data : 0;
}

bool CListCtrl::DeleteItem(int item) {
  if (!Valid(item)) return false;
  if (virtual_) {
    --virtual_count_;
    virtual_state_.erase(virtual_state_.begin() + item);
  } else {
    rows_.erase(rows_.begin() + item);
  }
  if (selection_mark_ == item)
    selection_mark_ = -1;
  else if (selection_mark_ > item)
    --selection_mark_;
  Invalidate();
  return true;
}

void CListCtrl::DeleteAllItems() {
  rows_.clear();
  virtual_count_ = 0;
  virtual_state_.clear();
  selection_mark_ = -1;
  Invalidate();
}

void CListCtrl::SortItems(const std::function<bool(uintptr_t, uintptr_t)>& less) {
  if (virtual_) return;
  std::stable_sort(rows_.begin(), rows_.end(), [&](const Row& a, const Row& b) { return less(a.data, b.data); });
  Invalidate();
}

int CListCtrl::FindItemByData(uintptr_t data) const {
  for (int i = 0; i < static_cast<int>(rows_.size()); ++i)
    if (rows_[static_cast<size_t>(i)].data == data) return i;
  return -1;
}

void CListCtrl::SetItemCountEx(int count) {
  virtual_ = true;
  rows_.clear();
  virtual_count_ = std::max(0, count);
  virtual_state_.resize(static_cast<size_t>(virtual_count_), 0);
  if (selection_mark_ >= virtual_count_) selection_mark_ = -1;
  Invalidate();
}

void CListCtrl::SetDisplayCallbacks(TextCallback text, ImageCallback image) {
  text_cb_ = std::move(text);
  image_cb_ = std::move(image);
  Invalidate();
}

void CListCtrl::ChangeState(int item, UINT state, UINT mask, bool notify) {
  UINT& slot = virtual_ ? virtual_state_[static_cast<size_t>(item)] : rows_[static_cast<size_t>(item)].state;
  UINT old = slot;
  slot = (slot & ~mask) | (state & mask);
  if (slot == old) return;
  if ((slot & LVIS_FOCUSED) && !(old & LVIS_FOCUSED)) {
    // One focused row at a time.
    for (int i = 0; i < GetItemCount(); ++i) {
      if (i == item) continue;
      UINT& other = virtual_ ? virtual_state_[static_cast<size_t>(i)] : rows_[static_cast<size_t>(i)].state;
      other &= ~LVIS_FOCUSED;
    }
  }
  if ((slot & LVIS_SELECTED) && !(old & LVIS_SELECTED)) selection_mark_ = item;
  Invalidate();
  if (notify) {
    NMLISTVIEW nm;
    nm.iItem = item;
    nm.uNewState = slot;
    nm.uOldState = old;
    NotifyParent(&nm.hdr, LVN_ITEMCHANGED);
  }
}

bool CListCtrl::SetItemState(int item, UINT state, UINT mask) {
  if (item == -1) {
    for (int i = 0; i < GetItemCount(); ++i) ChangeState(i, state, mask, true);
    return true;
  }
  if (!Valid(item)) return false;
  ChangeState(item, state, mask, true);
  return true;
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
  if (!Valid(item)) return 0;
  UINT s = virtual_ ? virtual_state_[static_cast<size_t>(item)] : rows_[static_cast<size_t>(item)].state;
  return s & mask;
}

int CListCtrl::GetSelectedCount() const { return static_cast<int>(GetSelectedItems().size()); }

std::vector<int> CListCtrl::GetSelectedItems() const {
  std::vector<int> out;
  for (int i = 0; i < GetItemCount(); ++i)
    if (GetItemState(i, LVIS_SELECTED)) out.push_back(i);
  return out;
}

int CListCtrl::GetNextItem(int start, UINT flags) const {
  for (int i = std::max(0, start + 1); i < GetItemCount(); ++i) {
    UINT s = GetItemState(i, LVIS_SELECTED | LVIS_FOCUSED);
    if ((s & flags) == flags) return i;
  }
  return -1;
}

void CListCtrl::ClearSelection() {
  for (int i = 0; i < GetItemCount(); ++i)
    if (GetItemState(i, LVIS_SELECTED)) ChangeState(i, 0, LVIS_SELECTED, true);
}

void CListCtrl::SendActivate(int code, int item, int sub_item, POINT pt) {
  NMITEMACTIVATE nm;
  nm.iItem = item;
  nm.iSubItem = sub_item;
  nm.ptAction = pt;
  NotifyParent(&nm.hdr, code);
}

void CListCtrl::ClickColumn(int column) {
  if (!IsWindowEnabled() || column < 0 || column >= GetColumnCount()) return;
  NMLISTVIEW nm;
  nm.iItem = -1;
  nm.iSubItem = column;
  NotifyParent(&nm.hdr, LVN_COLUMNCLICK);
}

void CListCtrl::ClickItem(int item, int sub_item) {
  if (!IsWindowEnabled()) return;
  if (!Valid(item)) item = -1;
  for (int i = 0; i < GetItemCount(); ++i)
    if (i != item && GetItemState(i, LVIS_SELECTED)) ChangeState(i, 0, LVIS_SELECTED, true);
  if (item >= 0) ChangeState(item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED, true);
  SendActivate(NM_CLICK, item, sub_item, {});
}

void CListCtrl::DoubleClickItem(int item, int sub_item) {
  if (!IsWindowEnabled()) return;
  if (!Valid(item)) item = -1;
  if (item >= 0 && !GetItemState(item, LVIS_SELECTED)) {
    ClearSelection();
    ChangeState(item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED, true);
  }
  SendActivate(NM_DBLCLK, item, sub_item, {});
}

void CListCtrl::RightClickItem(int item, POINT screen_point) {
  if (!IsWindowEnabled()) return;
  if (!Valid(item)) item = -1;
  if (item >= 0 && !GetItemState(item, LVIS_SELECTED)) {
    ClearSelection();
    ChangeState(item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED, true);
  }
  SendActivate(NM_RCLICK, item, 0, screen_point);
}

}  // namespace velmora

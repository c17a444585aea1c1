// The tree view model.
#include "platform/ui/tree_ctrl.h"

#include <algorithm>

namespace velmora {

std::vector<HTREEITEM>& CTreeCtrl::SiblingsOf(HTREEITEM parent) {
  return parent == 0 || parent == TVI_ROOT ? top_ : items_.at(parent).children;
}

const std::vector<HTREEITEM>* CTreeCtrl::SiblingsOf(HTREEITEM parent) const {
  if (parent == 0 || parent == TVI_ROOT) return &top_;
  auto it = items_.find(parent);
  return it == items_.end() ? nullptr : &it->second.children;
}

HTREEITEM CTreeCtrl::InsertItem(const std::string& text, int image, int selected_image, HTREEITEM parent,
                                HTREEITEM after) {
  if (parent != TVI_ROOT && parent != 0 && !ItemExists(parent)) return 0;
  std::vector<HTREEITEM>& siblings = SiblingsOf(parent);
  size_t pos = siblings.size();
  if (after == TVI_FIRST) {
    pos = 0;
  } else if (after == TVI_SORT) {
    pos = 0;
    while (pos < siblings.size() && items_.at(siblings[pos]).text <= text) ++pos;
  } else if (after != TVI_LAST) {
    auto it = std::find(siblings.begin(), siblings.end(), after);
    if (it == siblings.end()) return 0;
    pos = static_cast<size_t>(it - siblings.begin()) + 1;
  }
  HTREEITEM h = next_++;
  Item item;
  item.text = text;
  item.image = image;
  item.selected_image = selected_image;
  item.parent = parent == TVI_ROOT ? 0 : parent;
  items_.emplace(h, std::move(item));
  siblings.insert(siblings.begin() + static_cast<long>(pos), h);
  Invalidate();
  return h;
}

void CTreeCtrl::EraseTree(HTREEITEM item) {
  auto it = items_.find(item);
  if (it == items_.end()) return;
  std::vector<HTREEITEM> children = it->second.children;
  for (HTREEITEM c : children) EraseTree(c);
  if (selected_ == item) selected_ = 0;
  items_.erase(item);
}

bool CTreeCtrl::DeleteItem(HTREEITEM item) {
  if (item == TVI_ROOT || item == 0) {
    items_.clear();
    top_.clear();
    selected_ = 0;
    Invalidate();
    return true;
  }
  auto it = items_.find(item);
  if (it == items_.end()) return false;
  std::vector<HTREEITEM>& siblings = SiblingsOf(it->second.parent);
  siblings.erase(std::remove(siblings.begin(), siblings.end(), item), siblings.end());
  EraseTree(item);
  Invalidate();
  return true;
}

HTREEITEM CTreeCtrl::GetRootItem() const { return top_.empty() ? 0 : top_.front(); }

HTREEITEM CTreeCtrl::GetChildItem(HTREEITEM item) const {
  const auto* children = SiblingsOf(item);
  return children && !children->empty() ? children->front() : 0;
}

HTREEITEM CTreeCtrl::GetNextSiblingItem(HTREEITEM item) const {
  auto it = items_.find(item);
  if (it == items_.end()) return 0;
  const auto* siblings = SiblingsOf(it->second.parent);
  auto pos = std::find(siblings->begin(), siblings->end(), item);
  return pos == siblings->end() || pos + 1 == siblings->end() ? 0 : *(pos + 1);
}

HTREEITEM CTreeCtrl::GetPrevSiblingItem(HTREEITEM item) const {
  auto it = items_.find(item);
  if (it == items_.end()) return 0;
  const auto* siblings = SiblingsOf(it->second.parent);
  auto pos = std::find(siblings->begin(), siblings->end(), item);
  return pos == siblings->end() || pos == siblings->begin() ? 0 : *(pos - 1);
}

HTREEITEM CTreeCtrl::GetParentItem(HTREEITEM item) const {
  auto it = items_.find(item);
  return it == items_.end() ? 0 : it->second.parent;
}

bool CTreeCtrl::ItemHasChildren(HTREEITEM item) const { return GetChildItem(item) != 0; }

std::vector<HTREEITEM> CTreeCtrl::GetChildren(HTREEITEM item) const {
  const auto* children = SiblingsOf(item);
  return children ? *children : std::vector<HTREEITEM>();
}

HTREEITEM CTreeCtrl::FindChildItem(HTREEITEM item, const std::string& text) const {
  for (HTREEITEM child : GetChildren(item))
    if (GetItemText(child) == text) return child;
  return 0;
}

bool CTreeCtrl::SetItemText(HTREEITEM item, const std::string& text) {
  auto it = items_.find(item);
  if (it == items_.end()) return false;
  it->second.text = text;
  Invalidate();
  return true;
}

std::string CTreeCtrl::GetItemText(HTREEITEM item) const {
  auto it = items_.find(item);
  return it == items_.end() ? std::string() : it->second.text;
}

bool CTreeCtrl::SetItemData(HTREEITEM item, uintptr_t data) {
  auto it = items_.find(item);
  if (it == items_.end()) return false;
  it->second.data = data;
  return true;
}

uintptr_t CTreeCtrl::GetItemData(HTREEITEM item) const {
  auto it = items_.find(item);
  return it == items_.end() ? 0 : it->second.data;
}

bool CTreeCtrl::SetItemImage(HTREEITEM item, int image, int selected_image) {
  auto it = items_.find(item);
  if (it == items_.end()) return false;
  it->second.image = image;
  it->second.selected_image = selected_image;
  Invalidate();
  return true;
}

bool CTreeCtrl::GetItemImage(HTREEITEM item, int* image, int* selected_image) const {
  auto it = items_.find(item);
  if (it == items_.end()) return false;
  if (image) *image = it->second.image;
  if (selected_image) *selected_image = it->second.selected_image;
  return true;
}

bool CTreeCtrl::SetCheck(HTREEITEM item, bool checked) {
  auto it = items_.find(item);
  if (it == items_.end()) return false;
  it->second.checked = checked;
  Invalidate();
  return true;
}

bool CTreeCtrl::GetCheck(HTREEITEM item) const {
  auto it = items_.find(item);
  return it != items_.end() && it->second.checked;
}

bool CTreeCtrl::Expand(HTREEITEM item, UINT code) {
  auto it = items_.find(item);
  if (it == items_.end()) return false;
  bool was = it->second.expanded;
  if (code == TVE_EXPAND)
    it->second.expanded = true;
  else if (code == TVE_COLLAPSE)
    it->second.expanded = false;
  else if (code == TVE_TOGGLE)
    it->second.expanded = !was;
  if (was != it->second.expanded) {
    Invalidate();
    NMTREEVIEW nm;
    nm.itemNew = item;
    NotifyParent(&nm.hdr, TVN_ITEMEXPANDED);
  }
  return true;
}

bool CTreeCtrl::IsExpanded(HTREEITEM item) const {
  auto it = items_.find(item);
  return it != items_.end() && it->second.expanded;
}

bool CTreeCtrl::SortChildren(HTREEITEM item) {
  if (item != TVI_ROOT && item != 0 && !ItemExists(item)) return false;
  std::vector<HTREEITEM>& children = SiblingsOf(item);
  std::stable_sort(children.begin(), children.end(),
                   [this](HTREEITEM a, HTREEITEM b) { return items_.at(a).text < items_.at(b).text; });
  Invalidate();
  return true;
}

bool CTreeCtrl::SelectItem(HTREEITEM item) {
  if (item != 0 && !ItemExists(item)) return false;
  if (item == selected_) return true;
  NMTREEVIEW nm;
  nm.itemOld = selected_;
  nm.itemNew = item;
  selected_ = item;
  Invalidate();
  NotifyParent(&nm.hdr, TVN_SELCHANGED);
  return true;
}

void CTreeCtrl::DoubleClickItem(HTREEITEM item) {
  if (!IsWindowEnabled() || !ItemExists(item)) return;
  SelectItem(item);
  NMHDR hdr;
  NotifyParent(&hdr, NM_DBLCLK);
}

void CTreeCtrl::ClickItem(HTREEITEM item, UINT hit) {
  if (!IsWindowEnabled() || !ItemExists(item)) return;
  SelectItem(item);
  if (!ItemExists(item)) return;  // the selection's handler may have removed it
  last_hit_ = hit;
  NMTREEVIEW nm;
  nm.itemNew = item;
  NotifyParent(&nm.hdr, NM_CLICK);
}

void CTreeCtrl::RightClickItem(HTREEITEM item, POINT screen_point) {
  if (!IsWindowEnabled()) return;
  if (ItemExists(item)) SelectItem(item);
  NMITEMACTIVATE nm;
  nm.ptAction = screen_point;
  NotifyParent(&nm.hdr, NM_RCLICK);
}

}  // namespace velmora

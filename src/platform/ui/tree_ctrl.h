// CTreeCtrl: a tree of items with text, normal and selected image, item data and a check state,
// addressed by handles. SelectItem sends TVN_SELCHANGED to the parent as a person's choice does.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace velmora {

class CImageList;

constexpr HTREEITEM TVI_ROOT = 0xFFFF0000u;
constexpr HTREEITEM TVI_FIRST = 0xFFFF0001u;
constexpr HTREEITEM TVI_LAST = 0xFFFF0002u;
constexpr HTREEITEM TVI_SORT = 0xFFFF0003u;

// Where a click landed on an item (ClickItem, LastClickHit).
constexpr UINT TVHT_ONITEMICON = 0x2;
constexpr UINT TVHT_ONITEMLABEL = 0x4;

constexpr UINT TVE_COLLAPSE = 0x1;
constexpr UINT TVE_EXPAND = 0x2;
constexpr UINT TVE_TOGGLE = 0x3;

class CTreeCtrl : public CWnd {
 public:
  // Inserts under `parent` (TVI_ROOT for the top) after `after` (TVI_FIRST, TVI_LAST, TVI_SORT or
  // a sibling); 0 when the parent or the sibling does not exist.
  HTREEITEM InsertItem(const std::string& text, int image = 0, int selected_image = 0,
                       HTREEITEM parent = TVI_ROOT, HTREEITEM after = TVI_LAST);
  HTREEITEM InsertItem(const std::string& text, HTREEITEM parent, HTREEITEM after = TVI_LAST) {
    return InsertItem(text, 0, 0, parent, after);
  }
  // Deletes the item and its descendants (TVI_ROOT: all).
  bool DeleteItem(HTREEITEM item);
  bool DeleteAllItems() { return DeleteItem(TVI_ROOT); }
  bool ItemExists(HTREEITEM item) const { return items_.count(item) != 0; }
  size_t GetCount() const { return items_.size(); }

  HTREEITEM GetRootItem() const;
  HTREEITEM GetChildItem(HTREEITEM item) const;  // TVI_ROOT or 0: the first top item
  HTREEITEM GetNextSiblingItem(HTREEITEM item) const;
  HTREEITEM GetPrevSiblingItem(HTREEITEM item) const;
  HTREEITEM GetParentItem(HTREEITEM item) const;  // 0 for a top item
  bool ItemHasChildren(HTREEITEM item) const;
  std::vector<HTREEITEM> GetChildren(HTREEITEM item) const;
  // The first child of `item` (TVI_ROOT: the top) whose text is `text`; 0 when none.
  HTREEITEM FindChildItem(HTREEITEM item, const std::string& text) const;

  bool SetItemText(HTREEITEM item, const std::string& text);
  std::string GetItemText(HTREEITEM item) const;
  bool SetItemData(HTREEITEM item, uintptr_t data);
  uintptr_t GetItemData(HTREEITEM item) const;
  bool SetItemImage(HTREEITEM item, int image, int selected_image);
  bool GetItemImage(HTREEITEM item, int* image, int* selected_image) const;
  bool SetCheck(HTREEITEM item, bool checked = true);
  bool GetCheck(HTREEITEM item) const;
  bool Expand(HTREEITEM item, UINT code);
  bool IsExpanded(HTREEITEM item) const;
  bool SortChildren(HTREEITEM item);

  // Selects the item (0 clears) and sends TVN_SELCHANGED when the selection changed.
  bool SelectItem(HTREEITEM item);
  HTREEITEM GetSelectedItem() const { return selected_; }

  void SetImageList(CImageList* list) {
    images_ = list;
    Invalidate();
  }
  CImageList* GetImageList() const { return images_; }

  // A person's actions: a double click or right click on an item (it becomes selected first).
  void DoubleClickItem(HTREEITEM item);
  void RightClickItem(HTREEITEM item, POINT screen_point = {});
  // A left click on an item's icon (TVHT_ONITEMICON) or label: the item becomes selected, then
  // the parent gets NM_CLICK (NMTREEVIEW, itemNew the item); LastClickHit tells where it landed.
  void ClickItem(HTREEITEM item, UINT hit);
  UINT LastClickHit() const { return last_hit_; }

 protected:
  void ResetWindowState() override {
    DeleteAllItems();
    images_ = nullptr;
  }

 private:
  struct Item {
    std::string text;
    int image = 0, selected_image = 0;
    uintptr_t data = 0;
    bool checked = false;
    bool expanded = false;
    HTREEITEM parent = 0;  // 0 for a top item
    std::vector<HTREEITEM> children;
  };
  std::vector<HTREEITEM>& SiblingsOf(HTREEITEM parent);
  const std::vector<HTREEITEM>* SiblingsOf(HTREEITEM parent) const;
  void EraseTree(HTREEITEM item);

  std::map<HTREEITEM, Item> items_;
  std::vector<HTREEITEM> top_;
  HTREEITEM next_ = 1;
  HTREEITEM selected_ = 0;
  UINT last_hit_ = 0;
  CImageList* images_ = nullptr;
};

}  // namespace velmora

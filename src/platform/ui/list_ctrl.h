// CListCtrl: the report-style list view: columns, rows with sub-item texts, an image per row,
// item data, selection and focus, and virtual rows whose texts and images the owner supplies on
// demand. The Click helpers act as a person would and send the parent NM_CLICK / NM_DBLCLK /
// NM_RCLICK with the row under the pointer.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/window.h"

namespace velmora {

class CImageList;

// Extended styles.
constexpr uint32_t LVS_EX_GRIDLINES = 0x01;
constexpr uint32_t LVS_EX_SUBITEMIMAGES = 0x02;
constexpr uint32_t LVS_EX_CHECKBOXES = 0x04;
constexpr uint32_t LVS_EX_FULLROWSELECT = 0x20;
// Item states.
constexpr UINT LVIS_FOCUSED = 0x1;
constexpr UINT LVIS_SELECTED = 0x2;
// GetNextItem flags.
constexpr UINT LVNI_ALL = 0x0;
constexpr UINT LVNI_FOCUSED = 0x1;
constexpr UINT LVNI_SELECTED = 0x2;
constexpr int LVCFMT_LEFT = 0;
constexpr int LVCFMT_RIGHT = 1;
constexpr int LVCFMT_CENTER = 2;
// An item text that the display callback supplies.
inline constexpr const char* LPSTR_TEXTCALLBACK = "\x01";

class CListCtrl : public CWnd {
 public:
  using TextCallback = std::function<std::string(int item, int sub_item)>;
  using ImageCallback = std::function<int(int item)>;

  // ---- columns ----
  int InsertColumn(int index, const std::string& heading, int format = LVCFMT_LEFT, int width = -1);
  bool DeleteColumn(int index);
  int GetColumnCount() const { return static_cast<int>(columns_.size()); }
  std::string GetColumnHeading(int index) const;
  int GetColumnWidth(int index) const;

  // ---- rows ----
  // Inserts before `index` (clamped to the end); returns the new row's index.
  int InsertItem(int index, const std::string& text, int image = -1);
  bool SetItemText(int item, int sub_item, const std::string& text);
  std::string GetItemText(int item, int sub_item) const;
  bool SetItem(int item, int sub_item, const std::string& text, int image);
  bool SetItemImage(int item, int image, int sub_item = 0);
  int GetItemImage(int item, int sub_item = 0) const;
  bool SetItemData(int item, uintptr_t data);
  uintptr_t GetItemData(int item) const;
  bool DeleteItem(int item);
  void DeleteAllItems();
  int GetItemCount() const;
  // Reorders the rows by item data; `less` gets two items' data.
  void SortItems(const std::function<bool(uintptr_t, uintptr_t)>& less);
  int FindItemByData(uintptr_t data) const;

  // ---- virtual rows (owner data) ----
  // Makes the list virtual with `count` rows; texts and images come from the callbacks.
  void SetItemCountEx(int count);
  bool IsVirtual() const { return virtual_; }
  // Supplies texts (virtual rows and LPSTR_TEXTCALLBACK items) and images (virtual rows).
  void SetDisplayCallbacks(TextCallback text, ImageCallback image = {});

  // ---- state and selection ----
  bool SetItemState(int item, UINT state, UINT mask);
  UINT GetItemState(int item, UINT mask) const;
  int GetSelectedCount() const;
  std::vector<int> GetSelectedItems() const;
  // The next row after `start` (-1: from the top) that has the flags.
  int GetNextItem(int start, UINT flags) const;
  int GetSelectionMark() const { return selection_mark_; }
  void ClearSelection();
  bool EnsureVisible(int item) const { return item >= 0 && item < GetItemCount(); }

  // ---- looks ----
  void SetExtendedStyle(uint32_t style) {
    ext_style_ = style;
    Invalidate();
  }
  uint32_t GetExtendedStyle() const { return ext_style_; }
  void SetImageList(CImageList* list) {
    images_ = list;
    Invalidate();
  }
  CImageList* GetImageList() const { return images_; }

  // ---- a person's actions ----
  // Selects the row (only it; -1 clears) as a left click does, then NM_CLICK.
  void ClickItem(int item, int sub_item = 0);
  void DoubleClickItem(int item, int sub_item = 0);
  // A right click selects the row under the pointer (none: selection kept) and sends NM_RCLICK.
  void RightClickItem(int item, POINT screen_point = {});
  // A click on a column heading: LVN_COLUMNCLICK with the column in iSubItem.
  void ClickColumn(int column);

 protected:
  // Rows, columns, selection, looks and the virtual state go; the display callbacks stay.
  void ResetWindowState() override;

 private:
  struct Column {
    std::string heading;
    int format = LVCFMT_LEFT;
    int width = 100;
  };
  struct Row {
    std::vector<std::string> texts;  // texts[0] is the item, then the sub-items
    std::vector<int> images;         // images[0] is the item's image
    uintptr_t data = 0;
    UINT state = 0;
  };
  bool Valid(int item) const { return item >= 0 && item < GetItemCount(); }
  void ChangeState(int item, UINT state, UINT mask, bool notify);
  void SendActivate(int code, int item, int sub_item, POINT pt);

  std::vector<Column> columns_;
  std::vector<Row> rows_;
  bool virtual_ = false;
  int virtual_count_ = 0;
  std::vector<UINT> virtual_state_;
  TextCallback text_cb_;
  ImageCallback image_cb_;
  uint32_t ext_style_ = 0;
  CImageList* images_ = nullptr;
  int selection_mark_ = -1;
};

}  // namespace velmora

// CComboBoxEx: the extended combo box: an edit field in which the user types, a drop-down list
// whose items carry a picture of an image list, and the list's open state. The edit field is a
// child window of the combo (id kEditId, made at creation); an owner may take it over with its
// own edit class (SubclassDlgItem, e.g. a CMenuEdit with a cue text and menu).
//
// Notifications go to the combo itself first (as reflected messages), then to its parent unless
// the combo handled them: CBN_EDITCHANGE when the person changed the edit text, CBN_SELCHANGE
// when the person chose an item (the edit then shows the item's text and the list closes).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ui/controls.h"

namespace velmora {

class CImageList;

constexpr unsigned CBN_EDITCHANGE = 5;

class CComboBoxEx : public CComboBox {
 public:
  static constexpr int kEditId = 1001;

  // Inserts an item (-1 appends) with its pictures and data; its index.
  int InsertItem(int index, const std::string& text, int image, int selected_image, uintptr_t data = 0);
  int DeleteItem(int index);  // remaining count, CB_ERR when out of range
  void ResetContent();
  // The item's pictures; false when the index is out of range.
  bool GetItemImage(int index, int* image, int* selected_image) const;

  void SetImageList(CImageList* images);
  CImageList* GetImageList() const { return images_; }

  // The edit field (null before the window exists).
  CEdit* GetEditCtrl() const;
  // Its text; setting it is not a person's change (no CBN_EDITCHANGE).
  std::string GetEditText() const;
  void SetEditText(const std::string& text);

  // Opens or closes the drop-down list (CB_SHOWDROPDOWN). An empty list does not open.
  void ShowDropDown(bool show);
  bool GetDroppedState() const { return dropped_; }

  // A person's choice of an item: it is selected, the edit shows its text, the list closes, and
  // CBN_SELCHANGE is sent (to the combo first).
  void Select(int index);

 protected:
  int OnCreate() override;
  LRESULT WindowProc(UINT msg, WPARAM wparam, LPARAM lparam) override;
  void ResetWindowState() override;
  // A notification of the combo's own (CBN_...), before its parent hears of it; true when the
  // combo handled it (the parent is then not told).
  virtual bool OnReflectedNotify(unsigned code) {
    (void)code;
    return false;
  }

 private:
  void Notify(unsigned code);
  struct Images {
    int image = 0;
    int selected = 0;
  };
  std::vector<Images> images_of_items_;
  CImageList* images_ = nullptr;
  bool dropped_ = false;
};

}  // namespace velmora

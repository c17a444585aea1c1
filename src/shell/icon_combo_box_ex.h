// CIconComboBoxEx: a combo box of mark icons filled from an image list, one item per picture;
// the selected index is the icon index (marks store it).
#pragma once
#include "platform/ui/controls.h"

namespace velmora {

class CImageList;

class CIconComboBoxEx : public CComboBox {
 public:
  // Fills the box from the list (not owned; it must outlive the control): item i shows picture
  // i and carries i as its data. The selection is kept when the list still has that icon.
  void SetIconList(CImageList* list);
  // The chosen icon (-1: none).
  int GetIconIndex() const { return GetCurSel(); }
  // Selects an icon; an index outside the list selects the first one (0), as a mark whose icon
  // is gone shows the first icon. False when the list is empty.
  bool SetIconIndex(int index);

 protected:
  void PreSubclassWindow() override;
  int OnCreate() override;

 private:
  void Fill();
  CImageList* icons_ = nullptr;
};

}  // namespace velmora

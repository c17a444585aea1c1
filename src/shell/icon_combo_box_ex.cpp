// The mark icon combo box.
#include "shell/icon_combo_box_ex.h"

#include "platform/ui/image_list.h"

namespace velmora {

void CIconComboBoxEx::SetIconList(CImageList* list) {
  icons_ = list;
  Fill();
}

void CIconComboBoxEx::Fill() {
  int selected = GetCurSel();
  ResetContent();
  SetImageList(icons_);
  int count = icons_ ? icons_->GetImageCount() : 0;
  for (int i = 0; i < count; ++i) {
    int index = AddString("");
    SetItemData(index, static_cast<uintptr_t>(i));
    SetItemImage(index, i);
  }
  if (selected >= 0 && selected < count) SetCurSel(selected);
}

bool CIconComboBoxEx::SetIconIndex(int index) {
  if (GetCount() == 0) return false;
  SetCurSel(index >= 0 && index < GetCount() ? index : 0);
  return true;
}

// A window created again (a dialog shown a second time) starts without items: they are filled
// again from the list.
void CIconComboBoxEx::PreSubclassWindow() { Fill(); }

int CIconComboBoxEx::OnCreate() {
  Fill();
  return CComboBox::OnCreate();
}

}  // namespace velmora

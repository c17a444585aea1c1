// CMenuComboBox: a combo box that keeps a slot number set by its owner. A right click while the
// selection is 2, 3 or 4 opens the coordinate-system settings of that system and slot (the zone
// dialog) modally before the default handling. FillCoordSystemCombo lists the coordinate systems.
#pragma once
#include <functional>

#include "platform/ui/controls.h"

namespace velmora {

class CMenuComboBox : public CComboBox {
 public:
  // What a right click opens: (owner window, selected system index, slot number). The module
  // that owns the zone dialog installs it.
  using SystemSettingsOpener = std::function<void(CWnd* owner, int system_index, int slot)>;
  static void SetSystemSettingsOpener(SystemSettingsOpener opener);
  static bool HasSystemSettingsOpener();

  CMenuComboBox();
  void SetSlot(int slot) { slot_ = slot; }
  int GetSlot() const { return slot_; }

  // A right click as a person makes it.
  void RightClick(POINT point = {});

 private:
  int slot_ = 0;
};

// Empties the combo box and adds the display names of the coordinate-system table in table order.
void FillCoordSystemCombo(CComboBox& combo);

}  // namespace velmora

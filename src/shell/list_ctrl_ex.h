// CListCtrlEx: the program's list control base: full-row selection, grid lines and sub-item
// images once it is bound to its dialog control.
#pragma once
#include "platform/ui/list_ctrl.h"

namespace velmora {

class CListCtrlEx : public CListCtrl {
 protected:
  void PreSubclassWindow() override;
};

}  // namespace velmora

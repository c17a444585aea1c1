// The program's list look.
#include "shell/list_ctrl_ex.h"

namespace velmora {

void CListCtrlEx::PreSubclassWindow() {
  SetExtendedStyle(GetExtendedStyle() | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_SUBITEMIMAGES);
}

}  // namespace velmora

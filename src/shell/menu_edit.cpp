// Edit field with its own context menu and cue text.
#include "shell/menu_edit.h"

#include "platform/ui/menu.h"
#include "platform/ui/ui_host.h"

namespace velmora {

CMenuEdit::CMenuEdit() {
  MapMessage(WM_CONTEXTMENU, [this](WPARAM, LPARAM lparam) {
    auto x = static_cast<int16_t>(lparam & 0xFFFF);
    auto y = static_cast<int16_t>((lparam >> 16) & 0xFFFF);
    return OnContextMenu(x, y);
  });
}

void CMenuEdit::AddMenuItem(UINT command, const std::string& text) { items_.emplace_back(command, text); }

void CMenuEdit::ShowCueText() {
  cue_on_ = true;
  Invalidate();
}

void CMenuEdit::RightClick(POINT pt) {
  LPARAM packed = static_cast<LPARAM>((static_cast<uint32_t>(static_cast<uint16_t>(pt.y)) << 16) |
                                      static_cast<uint16_t>(pt.x));
  SendMessage(WM_CONTEXTMENU, GetSafeHwnd(), packed);
}

LRESULT CMenuEdit::OnContextMenu(int x, int y) {
  // Without extra items the field keeps the toolkit's own edit menu.
  if (items_.empty()) return 0;
  SetFocus();
  int start = 0, end = 0;
  GetSel(&start, &end);
  bool has_sel = start != end;
  bool writable = !IsReadOnly() && IsWindowEnabled();
  CMenu menu;
  menu.CreatePopupMenu();
  menu.AppendMenu(CanUndo() && writable ? MF_STRING : MF_GRAYED, ID_EDIT_UNDO, "撤销");
  menu.AppendSeparator();
  menu.AppendMenu(has_sel && writable ? MF_STRING : MF_GRAYED, ID_EDIT_CUT, "剪切");
  menu.AppendMenu(has_sel ? MF_STRING : MF_GRAYED, ID_EDIT_COPY, "复制");
  menu.AppendMenu(writable && !GetUiHost().GetClipboardText().empty() ? MF_STRING : MF_GRAYED, ID_EDIT_PASTE,
                  "粘贴");
  menu.AppendSeparator();
  menu.AppendMenu(GetWindowText().empty() ? MF_GRAYED : MF_STRING, ID_EDIT_SELECT_ALL, "全选");
  menu.AppendSeparator();
  for (const auto& [command, text] : items_) menu.AppendMenu(MF_STRING, command, text);

  UINT command = static_cast<UINT>(menu.TrackPopupMenu(TPM_RETURNCMD | TPM_RIGHTBUTTON, x, y, this));
  switch (command) {
    case 0: break;
    case ID_EDIT_UNDO: Undo(); break;
    case ID_EDIT_CUT: Cut(); break;
    case ID_EDIT_COPY: Copy(); break;
    case ID_EDIT_PASTE: Paste(); break;
    case ID_EDIT_SELECT_ALL: SetSel(0, -1); break;
    default:
      if (CWnd* parent = GetParent())
        parent->SendMessage(WM_COMMAND, MAKEWPARAM(command, 0), static_cast<LPARAM>(GetSafeHwnd()));
      break;
  }
  return 0;
}

}  // namespace velmora

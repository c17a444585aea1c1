// Pop-up menus.
#include "platform/ui/menu.h"

#include "platform/ui/ui_host.h"
#include "platform/ui/window.h"

namespace velmora {

void CMenu::AppendMenu(UINT flags, UINT id, const std::string& text) {
  Item item;
  item.id = (flags & MF_SEPARATOR) ? 0 : id;
  item.text = text;
  item.flags = flags;
  items_.push_back(std::move(item));
}

void CMenu::AppendPopup(const std::string& text, CMenu popup) {
  Item item;
  item.text = text;
  item.flags = MF_POPUP;
  item.popup = std::make_unique<CMenu>(std::move(popup));
  items_.push_back(std::move(item));
}

CMenu::Item* CMenu::Find(UINT id) {
  for (Item& item : items_) {
    if (item.popup) {
      if (Item* found = item.popup->Find(id)) return found;
    } else if (!item.IsSeparator() && item.id == id) {
      return &item;
    }
  }
  return nullptr;
}

const CMenu::Item* CMenu::FindCommand(UINT id) const { return const_cast<CMenu*>(this)->Find(id); }

int CMenu::CheckMenuItem(UINT id, UINT check) {
  Item* item = Find(id);
  if (!item) return -1;
  int old = item->IsChecked() ? static_cast<int>(MF_CHECKED) : static_cast<int>(MF_UNCHECKED);
  item->flags = (item->flags & ~MF_CHECKED) | (check & MF_CHECKED);
  return old;
}

int CMenu::EnableMenuItem(UINT id, UINT enable) {
  Item* item = Find(id);
  if (!item) return -1;
  int old = static_cast<int>(item->flags & (MF_GRAYED | MF_DISABLED));
  item->flags = (item->flags & ~(MF_GRAYED | MF_DISABLED)) | (enable & (MF_GRAYED | MF_DISABLED));
  return old;
}

std::vector<UINT> CMenu::ChoosableCommands() const {
  std::vector<UINT> out;
  for (const Item& item : items_) {
    if (item.popup) {
      if (item.IsEnabled())
        for (UINT id : item.popup->ChoosableCommands()) out.push_back(id);
    } else if (!item.IsSeparator() && item.IsEnabled() && item.id != 0) {
      out.push_back(item.id);
    }
  }
  return out;
}

int CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* owner) const {
  UINT command = GetUiHost().TrackPopupMenu(*this, x, y, owner);
  // Nobody can choose a greyed item or one the menu does not have.
  bool choosable = false;
  for (UINT id : ChoosableCommands()) choosable = choosable || id == command;
  if (!choosable) command = 0;
  if (flags & TPM_RETURNCMD) return static_cast<int>(command);
  if (command != 0 && owner) owner->PostMessage(WM_COMMAND, MAKEWPARAM(command, 0), 0);
  return command != 0 ? 1 : 0;
}

}  // namespace velmora

// CMenu: a pop-up menu as data (command ids, texts, check marks, greyed items, separators and
// sub-menus). TrackPopupMenu asks the UiHost which command a person chooses.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/ui_types.h"

namespace velmora {

class CWnd;

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_GRAYED = 0x0001;
constexpr UINT MF_DISABLED = 0x0002;
constexpr UINT MF_CHECKED = 0x0008;
constexpr UINT MF_POPUP = 0x0010;
constexpr UINT MF_SEPARATOR = 0x0800;
constexpr UINT MF_ENABLED = 0x0000;
constexpr UINT MF_UNCHECKED = 0x0000;
constexpr UINT MF_BYCOMMAND = 0x0000;
constexpr UINT MF_BYPOSITION = 0x0400;

constexpr UINT TPM_LEFTALIGN = 0x0000;
constexpr UINT TPM_RIGHTBUTTON = 0x0002;
constexpr UINT TPM_RETURNCMD = 0x0100;

class CMenu {
 public:
  struct Item {
    UINT id = 0;
    std::string text;
    UINT flags = 0;
    std::unique_ptr<CMenu> popup;
    bool IsSeparator() const { return (flags & MF_SEPARATOR) != 0; }
    bool IsEnabled() const { return (flags & (MF_GRAYED | MF_DISABLED)) == 0; }
    bool IsChecked() const { return (flags & MF_CHECKED) != 0; }
  };

  bool CreatePopupMenu() {
    items_.clear();
    return true;
  }
  void AppendMenu(UINT flags, UINT id = 0, const std::string& text = "");
  void AppendSeparator() { AppendMenu(MF_SEPARATOR); }
  void AppendPopup(const std::string& text, CMenu popup);
  // Previous state (MF_CHECKED / MF_UNCHECKED), or -1 when the command is not in the menu.
  int CheckMenuItem(UINT id, UINT check);
  // Previous state (MF_ENABLED / MF_GRAYED), or -1 when the command is not in the menu.
  int EnableMenuItem(UINT id, UINT enable);
  int GetMenuItemCount() const { return static_cast<int>(items_.size()); }
  const Item& GetItem(int position) const { return items_.at(static_cast<size_t>(position)); }
  // The item with the command id, searched in sub-menus too; null when absent.
  const Item* FindCommand(UINT id) const;
  // Commands that a person can choose (enabled, not separators), sub-menus included.
  std::vector<UINT> ChoosableCommands() const;

  // Shows the menu at the screen point. With TPM_RETURNCMD returns the chosen command (0 for
  // none); otherwise posts WM_COMMAND with it to `owner` and returns non-zero when one was
  // chosen.
  int TrackPopupMenu(UINT flags, int x, int y, CWnd* owner) const;

 private:
  Item* Find(UINT id);
  std::vector<Item> items_;
};

}  // namespace velmora

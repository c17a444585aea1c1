// CMenuEdit: an edit field with its own context menu (undo, cut, copy, paste, select all) plus
// extra commands added by its owner; a chosen extra command goes to the parent as WM_COMMAND. The
// own menu is shown only while there is at least one extra item. A grey cue text shows while the
// field is empty.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/controls.h"

namespace velmora {

class CMenuEdit : public CEdit {
 public:
  CMenuEdit();

  void AddMenuItem(UINT command, const std::string& text);
  const std::vector<std::pair<UINT, std::string>>& MenuItems() const { return items_; }

  std::string cue_text;
  uint32_t cue_color = 0xB4B4B4;  // 0x00BBGGRR
  bool hollow_background = false;
  // Shows the text in the system's fixed-width font (source text such as HTML).
  bool fixed_font = false;

  // Shows the cue text whenever the field is empty.
  void ShowCueText();
  bool IsCueShown() const { return cue_on_ && !cue_text.empty() && GetWindowText().empty(); }

  // A right click at the screen point, as a person makes it.
  void RightClick(POINT screen_point = {});

 protected:
  LRESULT OnContextMenu(int x, int y);

 private:
  std::vector<std::pair<UINT, std::string>> items_;
  bool cue_on_ = false;
};

}  // namespace velmora

// A mark's pop-up edited in place: a right click on a mark of the 2D view opens the pop-up
// template editor in editing mode (the mark's name as caption); a changed text goes back into the
// mark and, for a stored mark, into its row of the drawn-item database.
#pragma once

namespace velmora {

class CDrawItemDB;
class CMarkShape;
class CPDView;

// Edits the mark's pop-up; true when the text changed.
bool EditMarkPopup(CPDView& view, CMarkShape& mark, CDrawItemDB* db);
// Makes the view's right click (WM_RBUTTONUP, which the view itself leaves alone) open the
// editor over the mark under the pointer. `db` null: the program's drawn-item database.
void AttachMarkPopupEditor(CPDView& view, CDrawItemDB* db = nullptr);

}  // namespace velmora

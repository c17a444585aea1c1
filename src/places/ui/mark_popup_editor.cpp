// A mark's pop-up edited from the 2D view.
#include "places/ui/mark_popup_editor.h"

#include "places/ui/dlg_template_editor.h"
#include "shapes/draw_item_db.h"
#include "shapes/mark_shape.h"
#include "view/pd_view.h"

namespace velmora {

bool EditMarkPopup(CPDView& view, CMarkShape& mark, CDrawItemDB* db) {
  CDlgTemplateEditor editor(mark.Name(), true, &view);
  if (!mark.popup_html.empty()) editor.SetText(mark.popup_html);
  const std::string before = editor.Text();
  editor.DoModal();
  if (editor.Text() == before) return false;
  // The mark may have been removed while the editor was open.
  CTileEngine& engine = view.Engine();
  if (!engine.Objects().Contains(&mark) && !engine.Tracks().Contains(&mark)) return false;
  mark.popup_html = editor.Text();
  if (mark.db_id != 0) (db ? *db : DrawItemDB()).UpdateItem(mark);
  view.Invalidate();
  return true;
}

void AttachMarkPopupEditor(CPDView& view, CDrawItemDB* db) {
  CPDView* target = &view;
  view.MapMessage(WM_RBUTTONUP, [target, db](WPARAM, LPARAM lparam) {
    auto* mark = dynamic_cast<CMarkShape*>(target->Engine().HitTestShapes(GET_X_LPARAM(lparam), GET_Y_LPARAM(lparam)));
    if (mark) EditMarkPopup(*target, *mark, db);
    return LRESULT{0};
  });
}

}  // namespace velmora

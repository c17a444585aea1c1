// The local address search dialog.
#include "places/ui/dlg_address_search.h"

#include "places/address_ado.h"
#include "places/ui/view_jump.h"
#include "platform/ui/wait_cursor.h"

namespace velmora {
namespace {

DialogTemplate AddressSearchTemplate() {
  DialogTemplate t;
  t.id = CDlgAddressSearch::kTemplateId;
  t.caption = "本地搜索地址库";
  t.cx = 217;
  t.cy = 298;
  t.controls = {{ControlKind::kListView, CDlgAddressSearch::kIdList, "", 0, 0, 217, 298, 0}};
  return t;
}

}  // namespace

CDlgAddressSearch::CDlgAddressSearch(CAddressAdo& database, CWnd* parent)
    : CDialogEx(AddressSearchTemplate(), parent), database_(database) {
  BindControl(kIdList, list_);
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM lparam) {
    const int cx = GET_X_LPARAM(lparam), cy = GET_Y_LPARAM(lparam);
    if (list_.IsWindow() && cx > 0 && cy > 0) {
      const RECT r = list_.GetWindowRect();
      list_.MoveWindow(RECT{r.left, r.top, r.left + cx, r.top + cy});
    }
    return LRESULT{0};
  });
  MapNotify(kIdList, NM_DBLCLK, [this](NMHDR*) {
    OnDoubleClick();
    return LRESULT{0};
  });
  MapNotify(kIdList, LVN_COLUMNCLICK, [this](NMHDR* hdr) {
    list_.OnColumnClick(reinterpret_cast<NMLISTVIEW*>(hdr)->iSubItem);
    return LRESULT{0};
  });
}

bool CDlgAddressSearch::OnInitDialog() {
  SetWindowIconFromImage(this, "address.png");
  list_.SetupColumns();
  CWaitCursor wait;
  AddressHitList hits;
  database_.FillList(hits);
  list_.SetHits(std::move(hits));
  return true;
}

void CDlgAddressSearch::OnDoubleClick() {
  const AddressHit* hit = list_.HitAt(list_.GetNextItem(-1, LVNI_SELECTED));
  if (hit) JumpCurrentView(hit->lng, hit->lat, hit->zoom);
}

}  // namespace velmora

// CPointListCtrl: the list of the local address search dialog: one row per search hit with the
// columns "idx" (the row's number), "name", "lng" and "lat", texts supplied when shown (a virtual
// list, so the whole address history costs what its visible rows cost). The control owns the
// hits. A click on a heading other than "idx" flips that column's direction and sorts by it:
// names in the order of their GBK forms, longitudes and latitudes as numbers; the first click
// of a column sorts it from the largest down, the next from the smallest up.
#pragma once
#include <string>

#include "places/address_types.h"
#include "shell/list_ctrl_ex.h"

namespace velmora {

class CPointListCtrl : public CListCtrlEx {
 public:
  // Makes the four columns (call once the window exists).
  void SetupColumns();
  // Shows these hits (the control keeps them), unsorted.
  void SetHits(AddressHitList hits);
  const AddressHitList& Hits() const { return hits_; }
  // The hit of a row, null for none.
  const AddressHit* HitAt(int item) const;
  std::string ItemText(int item, int sub_item) const;

  // A click on the heading of `column`.
  void OnColumnClick(int column);
  int SortColumn() const { return sort_column_; }
  // The direction bit of a column: set for the order from the largest down.
  bool IsDescending(int column) const { return column >= 0 && column < 32 && (directions_ >> column) & 1u; }

 private:
  AddressHitList hits_;
  int sort_column_ = -1;
  unsigned directions_ = 0;
};

}  // namespace velmora

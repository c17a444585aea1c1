// The hit list of the local address search dialog.
#include "places/ui/point_list_ctrl.h"

#include <algorithm>
#include <numeric>
#include <utility>
#include <vector>

#include "core/format.h"
#include "places/place_record.h"

namespace velmora {

void CPointListCtrl::SetupColumns() {
  while (GetColumnCount() > 0) DeleteColumn(0);
  InsertColumn(0, "idx", LVCFMT_LEFT, 30);
  InsertColumn(1, "name", LVCFMT_LEFT, 100);
  InsertColumn(2, "lng", LVCFMT_LEFT, 100);
  InsertColumn(3, "lat", LVCFMT_LEFT, 100);
  SetDisplayCallbacks([this](int item, int sub_item) { return ItemText(item, sub_item); });
}

void CPointListCtrl::SetHits(AddressHitList hits) {
  hits_ = std::move(hits);
  sort_column_ = -1;
  ClearSelection();
  SetItemCountEx(static_cast<int>(hits_.size()));
}

const AddressHit* CPointListCtrl::HitAt(int item) const {
  return item >= 0 && static_cast<size_t>(item) < hits_.size() ? &hits_[static_cast<size_t>(item)] : nullptr;
}

std::string CPointListCtrl::ItemText(int item, int sub_item) const {
  const AddressHit* hit = HitAt(item);
  if (!hit) return {};
  switch (sub_item) {
    case 0: return std::to_string(item);
    case 1: return hit->name;
    case 2: return FormatFixed(hit->lng, 6);
    case 3: return FormatFixed(hit->lat, 6);
    default: return {};
  }
}

void CPointListCtrl::OnColumnClick(int column) {
  if (column <= 0 || column > 3) return;
  directions_ ^= 1u << column;
  sort_column_ = column;
  const bool descending = IsDescending(column);
  std::vector<size_t> order(hits_.size());
  std::iota(order.begin(), order.end(), size_t{0});
  if (column == 1) {
    std::vector<std::string> keys;
    keys.reserve(hits_.size());
    for (const AddressHit& h : hits_) keys.push_back(PlaceNameSortKey(h.name));
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return descending ? keys[b] < keys[a] : keys[a] < keys[b];
    });
  } else {
    auto value = [&](size_t i) { return column == 2 ? hits_[i].lng : hits_[i].lat; };
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
      return descending ? value(b) < value(a) : value(a) < value(b);
    });
  }
  AddressHitList sorted;
  sorted.reserve(hits_.size());
  for (size_t i : order) sorted.push_back(std::move(hits_[i]));
  hits_ = std::move(sorted);
  // The rows now stand for other hits: nothing stays selected.
  ClearSelection();
  Invalidate();
}

}  // namespace velmora

// CViewHistory: the back/forward list of view positions (longitude, latitude, level). At most
// ten entries are kept; a position equal to the current one is not added again.
#pragma once
#include <deque>
#include <mutex>
#include <optional>

namespace velmora {

struct ViewPosition {
  double lng = 0, lat = 0, level = 0;
  bool operator==(const ViewPosition&) const = default;
};

class CViewHistory {
 public:
  static constexpr size_t kMaxEntries = 10;

  // Adds the position after the current one (positions ahead of it, left by going back, are
  // dropped) and makes it current; the oldest entry goes when more than ten remain. False when
  // the position equals the current one (nothing changes).
  bool Push(const ViewPosition& position);
  bool CanGoBack() const;
  bool CanGoForward() const;
  // Moves to the previous / next entry and returns it; nullopt at either end.
  std::optional<ViewPosition> GoBack();
  std::optional<ViewPosition> GoForward();
  std::optional<ViewPosition> Current() const;
  std::deque<ViewPosition> Entries() const;
  int Position() const;  // index of the current entry, -1 when empty
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::deque<ViewPosition> entries_;
  int position_ = -1;
};

}  // namespace velmora

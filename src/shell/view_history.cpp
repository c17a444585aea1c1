// Back/forward list of view positions.
#include "shell/view_history.h"

namespace velmora {

bool CViewHistory::Push(const ViewPosition& position) {
  std::lock_guard lock(mutex_);
  if (position_ >= 0 && entries_[static_cast<size_t>(position_)] == position) return false;
  entries_.erase(entries_.begin() + (position_ + 1), entries_.end());
  entries_.push_back(position);
  while (entries_.size() > kMaxEntries) entries_.pop_front();
  position_ = static_cast<int>(entries_.size()) - 1;
  return true;
}

bool CViewHistory::CanGoBack() const {
  std::lock_guard lock(mutex_);
  return position_ > 0;
}

bool CViewHistory::CanGoForward() const {
  std::lock_guard lock(mutex_);
  return position_ + 1 < static_cast<int>(entries_.size());
}

std::optional<ViewPosition> CViewHistory::GoBack() {
  std::lock_guard lock(mutex_);
  if (position_ <= 0) return std::nullopt;
  --position_;
  return entries_[static_cast<size_t>(position_)];
}

std::optional<ViewPosition> CViewHistory::GoForward() {
  std::lock_guard lock(mutex_);
  if (position_ + 1 >= static_cast<int>(entries_.size())) return std::nullopt;
  ++position_;
  return entries_[static_cast<size_t>(position_)];
}

std::optional<ViewPosition> CViewHistory::Current() const {
  std::lock_guard lock(mutex_);
  if (position_ < 0) return std::nullopt;
  return entries_[static_cast<size_t>(position_)];
}

std::deque<ViewPosition> CViewHistory::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

int CViewHistory::Position() const {
  std::lock_guard lock(mutex_);
  return position_;
}

void CViewHistory::Clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
  position_ = -1;
}

}  // namespace velmora

// Status bar panes and the network indicator.
#include "shell/map_status_bar.h"

#include "core/format.h"
#include "core/log.h"

namespace velmora {
namespace {
constexpr size_t kMessageHistory = 64;
}

void CMapStatusBar::SetNetState(int code) {
  {
    std::lock_guard lock(mutex_);
    net_state_ = code;
    ++net_updates_;
  }
  Changed();
}

int CMapStatusBar::NetState() const {
  std::lock_guard lock(mutex_);
  return net_state_;
}

uint64_t CMapStatusBar::NetStateUpdates() const {
  std::lock_guard lock(mutex_);
  return net_updates_;
}

void CMapStatusBar::SetCursorPos(float lng, float lat, float) {
  std::string text = FormatFixed(lng, 2) + "*, " + FormatFixed(lat, 2) + "*";
  {
    std::lock_guard lock(mutex_);
    panes_[kPaneCursor] = std::move(text);
  }
  Changed();
}

void CMapStatusBar::SetViewCenter(float lng, float lat, float level) {
  std::string center = FormatFixed(lng, 2) + "*," + FormatFixed(lat, 2) + "*";
  std::string zoom = FormatFixed(level, 1);
  {
    std::lock_guard lock(mutex_);
    panes_[kPaneCenter] = std::move(center);
    panes_[kPaneLevel] = std::move(zoom);
  }
  Changed();
}

void CMapStatusBar::SetMessageText(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    panes_[kPaneMessage] = text;
    messages_.push_back(text);
    while (messages_.size() > kMessageHistory) messages_.pop_front();
  }
  Changed();
  AppLog("%s", text.c_str());
}

std::string CMapStatusBar::PaneText(int pane) const {
  std::lock_guard lock(mutex_);
  return pane >= 0 && pane < kPaneCount ? panes_[static_cast<size_t>(pane)] : std::string();
}

std::vector<std::string> CMapStatusBar::MessageHistory() const {
  std::lock_guard lock(mutex_);
  return {messages_.begin(), messages_.end()};
}

void CMapStatusBar::Reset() {
  {
    std::lock_guard lock(mutex_);
    net_state_ = kNetUnknown;
    net_updates_ = 0;
    for (auto& p : panes_) p.clear();
    messages_.clear();
  }
  Changed();
}

CMapStatusBar& MapStatusBar() {
  static CMapStatusBar* bar = new CMapStatusBar();  // workers may report until the very end
  return *bar;
}

}  // namespace velmora

// CMapStatusBar: the main frame's status bar: the message pane, the cursor position, the view
// centre and level, and the network indicator. Worker threads (tile downloads, the elevation
// cache) set the network state, so every member takes the bar's lock.
#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace velmora {

class CMapStatusBar {
 public:
  // Network states.
  static constexpr int kNetUnknown = 0;
  static constexpr int kNetOk = 1;
  static constexpr int kNetFailed = 2;
  static constexpr int kNetOverQuota = 3;
  // Panes.
  static constexpr int kPaneMessage = 0;
  static constexpr int kPaneCursor = 1;
  static constexpr int kPaneCenter = 2;
  static constexpr int kPaneLevel = 3;
  static constexpr int kPaneCount = 4;

  // Stores the network state (1 success, 2 failure, 3 over quota).
  void SetNetState(int code);
  int NetState() const;
  uint64_t NetStateUpdates() const;  // how many times it was set
  // Pane 1: "%.2f*, %.2f*" of longitude and latitude.
  void SetCursorPos(float lng, float lat, float altitude);
  // Panes 2 and 3: "%.2f*,%.2f*" and "%.1f".
  void SetViewCenter(float lng, float lat, float level);
  // Pane 0, the message line; also written to the log.
  void SetMessageText(const std::string& text);
  std::string PaneText(int pane) const;
  // The last message lines (at most 64), oldest first.
  std::vector<std::string> MessageHistory() const;
  void Reset();

  // Called after every change, on the changing thread, outside the bar's lock (a front end
  // schedules its repaint); must be cheap and thread-safe. Null removes it.
  using ChangeHook = void (*)();
  void SetChangeHook(ChangeHook hook) { hook_.store(hook); }

 private:
  mutable std::mutex mutex_;
  int net_state_ = kNetUnknown;
  uint64_t net_updates_ = 0;
  std::array<std::string, kPaneCount> panes_;
  std::deque<std::string> messages_;
  std::atomic<ChangeHook> hook_{nullptr};
  void Changed() const {
    if (ChangeHook hook = hook_.load()) hook();
  }
};

// The status bar lives for the whole run, so that workers may report before the frame exists and
// while it closes.
CMapStatusBar& MapStatusBar();

}  // namespace velmora

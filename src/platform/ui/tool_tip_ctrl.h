// CToolTipCtrl: a tool tip of the window model, a short text shown next to the pointer over the
// window it belongs to (a read-out of what lies under the mouse). It is a hidden child of that
// window: the owner sets the text and shows the tip at a point of its client area, or hides it;
// a front end draws it with the toolkit's own tool tip while it is up, for at most the
// automatic pop-down delay. Every change goes through Invalidate, like any window's.
#pragma once
#include <string>

#include "platform/ui/window.h"

namespace velmora {

class CToolTipCtrl : public CWnd {
 public:
  // The child id the tip takes under its owner (no template control uses it).
  static constexpr int kChildId = 0xFFF7;

  // Creates the tip as a hidden child of `owner`; false when it exists already.
  bool Create(CWnd* owner);

  // The text the tip shows (its window text).
  void UpdateTipText(const std::string& text);
  std::string GetTipText() const { return GetWindowText(); }
  // Milliseconds the tip stays up without another move (0: as long as the toolkit's default).
  void SetAutoPopDelay(unsigned ms);
  unsigned AutoPopDelay() const { return autopop_ms_; }

  // Shows the tip at a point of the owner's client area (the pointer), or moves it there.
  void ShowAt(int x, int y);
  // Hides a showing tip (nothing when hidden).
  void Hide();
  bool IsShown() const { return shown_; }
  POINT Position() const { return at_; }

 protected:
  void ResetWindowState() override;

 private:
  bool shown_ = false;
  POINT at_;
  unsigned autopop_ms_ = 0;
};

}  // namespace velmora

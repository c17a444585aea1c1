// CLinkStatic: a static text drawn as a hyperlink (blue, underlined, the hand pointer); a click
// sends BN_CLICKED to the parent, as a push button does. After its first click it shows in the
// visited colour.
#pragma once
#include "platform/ui/controls.h"

namespace velmora {

class CLinkStatic : public CStatic {
 public:
  static constexpr uint32_t kLinkColor = 0xFF0033CCu;
  static constexpr uint32_t kVisitedColor = 0xFF800080u;

  CLinkStatic();

  // A click as a person makes it: ignored while disabled; BN_CLICKED to the parent.
  void Click();
  bool Visited() const { return visited_; }

  // The text in the link colour, underlined, cut with "…" when it is wider than the control (the
  // front end shows the whole text as the tool tip).
  bool OnPaint(CBitmap& canvas) override;

 private:
  bool visited_ = false;
};

}  // namespace velmora

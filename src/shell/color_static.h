// CColorStatic: a static control that shows a colour and lets the person pick another one with
// the colour chooser (a click); the parent hears of each change as WM_COMMAND with
// CSN_COLORCHANGED from the control's id.
#pragma once
#include <cstdint>

#include "platform/ui/controls.h"

namespace velmora {

// WM_COMMAND notification code: the person picked another colour.
constexpr unsigned CSN_COLORCHANGED = 0x0701;

class CColorStatic : public CStatic {
 public:
  CColorStatic();

  // Straight ARGB (0xAARRGGBB), the form the program stores colours in.
  void SetColor(uint32_t argb);
  uint32_t GetColor() const { return color_; }

  // A click as a person makes it: ignored while disabled; the colour chooser starts at the
  // current colour, and a colour other than the current one is taken and the parent notified.
  // True when the colour changed.
  bool PickColor();

  // The colour over a chequered ground (so that transparency shows) inside a frame; a disabled
  // box shows it washed out.
  bool OnPaint(CBitmap& canvas) override;

 private:
  uint32_t color_ = 0xFF000000u;
};

}  // namespace velmora

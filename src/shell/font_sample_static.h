// CFontSampleStatic: a static control that draws its text as a sample of a text style (face,
// size, colour, bold, italic, underline, halo, alignment); the style's face is "黑体" unless the
// owner sets another. The owner changes the style and the control repaints.
#pragma once
#include <string>

#include "core/text_style.h"
#include "platform/ui/controls.h"

namespace velmora {

class CFontSampleStatic : public CStatic {
 public:
  // What the sample shows while the control has no text of its own.
  static constexpr const char* kDefaultSample = "字体示例 AaBb";

  void SetTextStyle(const CTextStyle& style);
  const CTextStyle& GetTextStyle() const { return style_; }

  // White ground, a frame and the sample text in the style, centred vertically and placed by
  // the style's alignment; text wider than the control ends in "…".
  bool OnPaint(CBitmap& canvas) override;

 private:
  CTextStyle style_;  // face "黑体" by default
};

}  // namespace velmora

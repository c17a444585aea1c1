// CPickFontSample: a font sample that a person can click (the settings dialogs of the bus lines
// and the weather pick the text colour that way); the click reaches the parent as BN_CLICKED.
#pragma once
#include "shell/font_sample_static.h"

namespace velmora {

class CPickFontSample : public CFontSampleStatic {
 public:
  CPickFontSample() {
    MapMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM) {
      Click();
      return LRESULT{0};
    });
  }
  // A click as a person makes it: ignored while disabled.
  void Click() {
    if (IsWindowEnabled()) NotifyParentCommand(BN_CLICKED);
  }
};

}  // namespace velmora

// The hyperlink static.
#include "shell/link_static.h"

#include "platform/gfx/graphics.h"
#include "shell/control_paint.h"

namespace velmora {

CLinkStatic::CLinkStatic() {
  SetWindowCursor(CursorKind::kHand);
  MapMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM lparam) {
    RECT r = GetWindowRect();
    int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
    if (x >= 0 && y >= 0 && x < r.Width() && y < r.Height()) Click();
    return LRESULT{0};
  });
}

void CLinkStatic::Click() {
  if (!IsWindowEnabled()) return;
  if (!visited_) {
    visited_ = true;
    Invalidate();
  }
  NotifyParentCommand(BN_CLICKED);
}

bool CLinkStatic::OnPaint(CBitmap& canvas) {
  CGraphics g(canvas);
  if (!g.IsValid()) return true;
  g.Clear(0x00000000u);  // the dialog's ground shows through
  CFont font = ControlFont();
  font = CFont(font.Face(), font.PixelSize(), font.Style() | CFont::kUnderline);
  Argb color = !IsWindowEnabled() ? 0xFF909090u : visited_ ? kVisitedColor : kLinkColor;
  std::string text = ElideText(g, GetWindowText(), font, static_cast<float>(canvas.Width()) - 1.0f);
  TextExtent extent = g.MeasureString(text, font);
  float y = (static_cast<float>(canvas.Height()) - extent.height) / 2.0f;
  g.DrawString(text, font, color, 0, y > 0 ? y : 0);
  return true;
}

}  // namespace velmora

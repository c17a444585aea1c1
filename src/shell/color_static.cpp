// The colour box.
#include "shell/color_static.h"

#include "platform/gfx/graphics.h"
#include "platform/ui/ui_host.h"
#include "shell/control_paint.h"

namespace velmora {

CColorStatic::CColorStatic() {
  // A click is a press and a release on the box.
  MapMessage(WM_LBUTTONUP, [this](WPARAM, LPARAM lparam) {
    RECT r = GetWindowRect();
    int x = GET_X_LPARAM(lparam), y = GET_Y_LPARAM(lparam);
    if (x >= 0 && y >= 0 && x < r.Width() && y < r.Height()) PickColor();
    return LRESULT{0};
  });
}

void CColorStatic::SetColor(uint32_t argb) {
  if (color_ == argb) return;
  color_ = argb;
  Invalidate();
}

bool CColorStatic::PickColor() {
  if (!IsWindowEnabled()) return false;
  uint32_t chosen = color_;
  if (!GetUiHost().ChooseColor(this, &chosen) || chosen == color_) return false;
  SetColor(chosen);
  NotifyParentCommand(CSN_COLORCHANGED);
  return true;
}

bool CColorStatic::OnPaint(CBitmap& canvas) {
  CGraphics g(canvas);
  if (!g.IsValid()) return true;
  const bool enabled = IsWindowEnabled();
  const float w = static_cast<float>(canvas.Width()), h = static_cast<float>(canvas.Height());
  g.Clear(0xFFFFFFFFu);
  GfxRect inner{2, 2, w - 4, h - 4};
  if (inner.width > 0 && inner.height > 0) {
    if ((color_ >> 24) != 0xFF) FillChequer(g, inner);
    g.FillRectangle(enabled ? color_ : DisabledColor(color_), inner);
  }
  DrawControlFrame(g, enabled);
  return true;
}

}  // namespace velmora

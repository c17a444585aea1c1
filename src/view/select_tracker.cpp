// The rubber-band tracker: start, moves, end and its drawing.
#include "view/select_tracker.h"

#include <algorithm>

#include "platform/gfx/graphics.h"
#include "platform/ui/window.h"

namespace velmora {

bool CSelectTracker::TrackRubberBand(CWnd* window, int x, int y, bool allow_invert) {
  window_ = window;
  allow_invert_ = allow_invert;
  m_rect = RECT{x, y, x, y};
  tracking_ = true;
  return true;
}

void CSelectTracker::Move(int x, int y) {
  if (!allow_invert_) {
    x = std::max(x, m_rect.left);
    y = std::max(y, m_rect.top);
  }
  m_rect.right = x;
  m_rect.bottom = y;
  if (window_) window_->Invalidate();
}

void CSelectTracker::OnMouseMove(int x, int y) {
  if (tracking_) Move(x, y);
}

bool CSelectTracker::OnButtonUp(int x, int y) {
  if (!tracking_) return false;
  Move(x, y);
  tracking_ = false;
  RECT r = NormalizedRect();
  return r.Width() > 0 && r.Height() > 0;
}

void CSelectTracker::Cancel() {
  if (tracking_ && window_) window_->Invalidate();
  tracking_ = false;
}

RECT CSelectTracker::NormalizedRect() const {
  return RECT{std::min(m_rect.left, m_rect.right), std::min(m_rect.top, m_rect.bottom),
              std::max(m_rect.left, m_rect.right), std::max(m_rect.top, m_rect.bottom)};
}

void CSelectTracker::Draw(CGraphics& g) const {
  if (!tracking_) return;
  RECT r = NormalizedRect();
  GfxRect rect{float(r.left) + 0.5f, float(r.top) + 0.5f, float(r.Width()), float(r.Height())};
  if (style_ & kHatchInside) g.FillRectangle(0x303060FFu, rect);
  if (style_ & kHatchedBorder) {
    // A hatched frame of the handle size around the band.
    float h = float(handle_size_);
    Pen hatch{0x80303030u, h, LineDash::kDot};
    g.DrawRectangle(hatch, GfxRect{rect.x - h / 2, rect.y - h / 2, rect.width + h, rect.height + h});
  }
  Pen pen{0xFF000000u, 1.0f, (style_ & kDottedLine) ? LineDash::kDot : LineDash::kSolid};
  g.DrawRectangle(pen, rect);
}

}  // namespace velmora

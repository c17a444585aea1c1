// CSelectTracker: the rubber band a person drags over a view to pick a rectangle. The window
// model has no modal mouse loop, so the tracker follows the owner's mouse messages: the owner
// starts it on the button press (TrackRubberBand), passes the moves and ends it on the release,
// then reads and normalises the rectangle in window pixels. It draws the dragged rectangle itself.
#pragma once
#include "platform/ui/ui_types.h"

namespace velmora {

class CGraphics;
class CWnd;

class CSelectTracker {
 public:
  // Style bits: line kind, hatched border, handles inside or outside.
  static constexpr int kSolidLine = 0x01;
  static constexpr int kDottedLine = 0x02;
  static constexpr int kHatchedBorder = 0x04;
  static constexpr int kResizeInside = 0x08;
  static constexpr int kResizeOutside = 0x10;
  static constexpr int kHatchInside = 0x20;

  explicit CSelectTracker(int style = kSolidLine | kHatchedBorder | kResizeOutside, int handle_size = 8)
      : style_(style), handle_size_(handle_size) {}

  // Starts a band at window pixel (x, y) of `window` (repainted as the band moves). With
  // `allow_invert` false the band cannot be dragged left of or above its start. True when it
  // started.
  bool TrackRubberBand(CWnd* window, int x, int y, bool allow_invert = true);
  bool IsTracking() const { return tracking_; }
  void OnMouseMove(int x, int y);
  // Ends the band at (x, y). True when it encloses an area (not a click).
  bool OnButtonUp(int x, int y);
  void Cancel();

  // The band as dragged (the corner of the start first) and its normalised form.
  RECT m_rect;
  RECT NormalizedRect() const;
  void NormalizeRect() { m_rect = NormalizedRect(); }
  int Style() const { return style_; }
  int HandleSize() const { return handle_size_; }

  // Draws the band (dotted or solid outline, hatched border) while it is tracked.
  void Draw(CGraphics& g) const;

 private:
  void Move(int x, int y);
  int style_;
  int handle_size_;
  bool tracking_ = false;
  bool allow_invert_ = true;
  CWnd* window_ = nullptr;
};

}  // namespace velmora

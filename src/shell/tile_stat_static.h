// CTileStatStatic: the tile-state panel of the layer cache information dialog: a static control
// with an embedded 3D scene (CD3DScene) drawn through the shared device, and the scene's own
// mouse handling (an arcball drag, as in the 3D views). Subclasses give the scene's drawing and
// decide when the scene is shown. A frame that cannot be rendered paints grey with its result
// code in hexadecimal and is tried again a second later, not in a tight repaint loop.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/ui/controls.h"
#include "terrain/d3d_scene.h"

namespace velmora {

// The timer that tries a frame that could not be rendered again.
constexpr UINT_PTR ID_TILE_STAT_RETRY_TIMER = 0x3D10;

class CTileStatStatic : public CStatic, public CD3DScene {
 public:
  CTileStatStatic();
  ~CTileStatStatic() override;

  // Bound to its dialog control: the shared device (made on the first 3D window) and the scene's
  // size from the control's rectangle.
  void PreSubclassWindow() override;

  HRESULT LastRenderResult() const { return last_result_; }
  // The time source of the mouse handling in milliseconds (TickCount64 unless replaced).
  void SetClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }

 protected:
  int OnCreate() override;
  void OnDestroy() override;
  virtual void OnSize(int width, int height);
  virtual void OnMouseMove(UINT flags, int x, int y);
  virtual void OnLButtonDown(UINT flags, int x, int y);
  virtual void OnLButtonUp(UINT flags, int x, int y);
  // Renders the scene into the canvas (resized to it first); the fallback when it fails.
  bool PaintScene(CBitmap& canvas);

 private:
  HRESULT last_result_ = 0;
  bool retry_armed_ = false;
  std::function<uint64_t()> clock_;
};

}  // namespace velmora

// CRenderWnd: the window base of the 3D child views (the 3D tile view, the 3D globe view): a
// window of the window model, a child view the main frame drives (IChildView) and a 3D scene
// (CD3DScene) in one object. It paints by rendering the scene through the shared device and
// copying the presented frame into the canvas the front end hands it; it forwards its size to
// the scene and the mouse and arrow keys to the scene's arcball; it owns the fill-mode commands
// of all 3D views. Without a device (or when a frame fails) it paints grey with the result code
// in hexadecimal and tries again a second later, not in a tight loop.
#pragma once
#include <cstdint>
#include <functional>

#include "platform/gfx/bitmap.h"
#include "platform/ui/window.h"
#include "terrain/d3d_scene.h"
#include "view/child_view.h"

namespace velmora {

// The fill-mode commands (the toolbar's drop-down: "点", "线", "面").
constexpr UINT ID_FILLMODE_CYCLE = 32927;
constexpr UINT ID_FILLMODE_POINT = 32928;
constexpr UINT ID_FILLMODE_WIREFRAME = 32929;
constexpr UINT ID_FILLMODE_SOLID = 32930;

// The timer that tries a frame that could not be rendered again, a second later.
constexpr UINT_PTR ID_RENDER_RETRY_TIMER = 0x3D0F;

class CRenderWnd : public CWnd, public IChildView, public CD3DScene {
 public:
  CRenderWnd();
  ~CRenderWnd() override;

  // ---- IChildView (the subclasses give the kind, the name and most operations) ----
  CWnd* GetWnd() override { return this; }

  // Renders the scene at the canvas's size and copies the frame into it; the fallback paint when
  // the frame cannot be rendered. Always paints (returns true).
  bool OnPaint(CBitmap& canvas) override;

  // The result of the last frame (0 when it was drawn).
  HRESULT LastRenderResult() const { return last_result_; }
  // The time source of the mouse handlers in milliseconds (TickCount64 unless replaced).
  void SetClock(std::function<uint64_t()> clock) { clock_ = std::move(clock); }
  bool HasCapture() const { return capture_; }
  // Ctrl and Shift as the last key and mouse messages reported them.
  bool CtrlDown() const { return ctrl_; }
  bool ShiftDown() const { return shift_; }

 protected:
  // WM_CREATE: the shared device, made on the first 3D window. -1 never: a window without a
  // device paints its fallback.
  int OnCreate() override;
  void OnDestroy() override;

  // Message handlers; each subclass handler ends by calling its base's.
  virtual void OnSize(int width, int height);
  virtual void OnMouseMove(UINT flags, int x, int y);
  virtual void OnMouseWheel(int delta, int x, int y);
  virtual void OnKeyDown(UINT key);
  virtual void OnKeyUp(UINT key);
  virtual void OnLButtonDown(UINT flags, int x, int y);
  virtual void OnLButtonUp(UINT flags, int x, int y);
  virtual void OnMButtonDown(UINT flags, int x, int y) { (void)flags, (void)x, (void)y; }
  // Fill mode + 1, back to points after solid; repaint.
  void OnCycleFillMode();
  // Fill mode := command - 32927; repaint.
  void OnFillMode(UINT id);
  void OnUpdateFillMode(CCmdUI& cmd);

  uint64_t Now() const;
  void SetCapture() { capture_ = true; }
  void ReleaseCapture() { capture_ = false; }

 private:
  void ArmRetry();
  void NoteModifiers(UINT flags);

  HRESULT last_result_ = 0;
  bool capture_ = false;
  bool ctrl_ = false;
  bool shift_ = false;
  bool retry_armed_ = false;
  std::function<uint64_t()> clock_;
};

}  // namespace velmora

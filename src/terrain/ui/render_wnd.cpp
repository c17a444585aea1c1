// The 3D render window: painting through the shared device, sizing, arcball input, fill modes.
#include "terrain/ui/render_wnd.h"

#include <algorithm>
#include <cstring>

#include "core/format.h"
#include "platform/gfx/graphics.h"
#include "platform/sync.h"
#include "terrain/d3d_context.h"

namespace velmora {
namespace {

constexpr unsigned kRetryMs = 1000;

}  // namespace

CRenderWnd::CRenderWnd() {
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM l) -> LRESULT {
    OnSize(static_cast<int>(l & 0xFFFF), static_cast<int>((l >> 16) & 0xFFFF));
    return 0;
  });
  MapMessage(WM_ERASEBKGND, [](WPARAM, LPARAM) -> LRESULT { return 1; });  // the scene paints every pixel
  MapMessage(WM_MOUSEMOVE, [this](WPARAM w, LPARAM l) -> LRESULT {
    OnMouseMove(static_cast<UINT>(w), GET_X_LPARAM(l), GET_Y_LPARAM(l));
    return 0;
  });
  MapMessage(WM_MOUSEWHEEL, [this](WPARAM w, LPARAM l) -> LRESULT {
    NoteModifiers(LOWORD(w));
    OnMouseWheel(GET_WHEEL_DELTA_WPARAM(w), GET_X_LPARAM(l), GET_Y_LPARAM(l));
    return 0;
  });
  MapMessage(WM_KEYDOWN, [this](WPARAM w, LPARAM) -> LRESULT {
    OnKeyDown(static_cast<UINT>(w));
    return 0;
  });
  MapMessage(WM_KEYUP, [this](WPARAM w, LPARAM) -> LRESULT {
    OnKeyUp(static_cast<UINT>(w));
    return 0;
  });
  MapMessage(WM_LBUTTONDOWN, [this](WPARAM w, LPARAM l) -> LRESULT {
    OnLButtonDown(static_cast<UINT>(w), GET_X_LPARAM(l), GET_Y_LPARAM(l));
    return 0;
  });
  MapMessage(WM_LBUTTONUP, [this](WPARAM w, LPARAM l) -> LRESULT {
    OnLButtonUp(static_cast<UINT>(w), GET_X_LPARAM(l), GET_Y_LPARAM(l));
    return 0;
  });
  MapMessage(WM_MBUTTONDOWN, [this](WPARAM w, LPARAM l) -> LRESULT {
    OnMButtonDown(static_cast<UINT>(w), GET_X_LPARAM(l), GET_Y_LPARAM(l));
    return 0;
  });
  MapCommand(ID_FILLMODE_CYCLE, [this] { OnCycleFillMode(); });
  MapCommandRange(ID_FILLMODE_POINT, ID_FILLMODE_SOLID, [this](UINT id) { OnFillMode(id); });
  for (UINT id = ID_FILLMODE_POINT; id <= ID_FILLMODE_SOLID; ++id)
    MapUpdateCommandUI(id, [this](CCmdUI& cmd) { OnUpdateFillMode(cmd); });
  MapTimer(ID_RENDER_RETRY_TIMER, [this] {
    KillTimer(ID_RENDER_RETRY_TIMER);
    retry_armed_ = false;
    if (!g_pD3DDevice) g_D3DContext.CreateD3DDevice(GetSafeHwnd());
    Invalidate();
  });
}

CRenderWnd::~CRenderWnd() { DestroyWindow(); }

int CRenderWnd::OnCreate() {
  g_D3DContext.CreateD3DDevice(GetSafeHwnd());
  return 0;
}

void CRenderWnd::OnDestroy() {
  if (retry_armed_) KillTimer(ID_RENDER_RETRY_TIMER);
  retry_armed_ = false;
  if (IDirect3DDevice9* device = g_pD3DDevice) device->ForgetWindow(GetSafeHwnd());
}

uint64_t CRenderWnd::Now() const { return clock_ ? clock_() : TickCount64(); }

bool CRenderWnd::OnPaint(CBitmap& canvas) {
  if (canvas.IsEmpty()) return false;
  // The canvas is the window's client area: a size the scene has not heard of yet is a resize.
  if (uint32_t(canvas.Width()) != Viewport().Width || uint32_t(canvas.Height()) != Viewport().Height)
    WindowProc(WM_SIZE, 0, MAKELPARAM(canvas.Width(), canvas.Height()));
  bool drawn = false;
  last_result_ = RenderInto(GetSafeHwnd(), canvas, &drawn);
  if (!drawn) ArmRetry();
  return true;
}

void CRenderWnd::ArmRetry() {
  // Painting is tried again, once a second rather than at once (the device may take long to
  // come back, and a tight repaint loop would take the user-interface thread with it).
  if (!retry_armed_ && IsWindow()) retry_armed_ = SetTimer(ID_RENDER_RETRY_TIMER, kRetryMs);
}

void CRenderWnd::OnSize(int width, int height) {
  Resize(static_cast<uint32_t>(std::max(0, width)), static_cast<uint32_t>(std::max(0, height)));
  Invalidate();
}

void CRenderWnd::NoteModifiers(UINT flags) {
  ctrl_ = (flags & MK_CONTROL) != 0;
  shift_ = (flags & MK_SHIFT) != 0;
}

void CRenderWnd::OnMouseMove(UINT flags, int x, int y) {
  NoteModifiers(flags);
  if (GetFocusWindow() != this) SetFocus();
  if (SceneMouseMove((flags & MK_LBUTTON) != 0, x, y, static_cast<uint32_t>(Now()))) Invalidate();
}

void CRenderWnd::OnMouseWheel(int delta, int, int) {
  arcball_.Zoom(delta >= 1);
  Invalidate();
}

void CRenderWnd::OnKeyDown(UINT key) {
  switch (key) {
    case VK_LEFT: arcball_.Pan(-0.01f, 0); break;
    case VK_UP: arcball_.Pan(0, -0.01f); break;
    case VK_RIGHT: arcball_.Pan(0.01f, 0); break;
    case VK_DOWN: arcball_.Pan(0, 0.01f); break;
    case VK_CONTROL: ctrl_ = true; break;
    case VK_SHIFT: shift_ = true; break;
    default: break;
  }
  Invalidate();
}

void CRenderWnd::OnKeyUp(UINT key) {
  if (key == VK_CONTROL) ctrl_ = false;
  if (key == VK_SHIFT) shift_ = false;
}

void CRenderWnd::OnLButtonDown(UINT flags, int x, int y) {
  NoteModifiers(flags);
  SetCapture();
  SceneButtonDown(x, y);
}

void CRenderWnd::OnLButtonUp(UINT flags, int, int) {
  NoteModifiers(flags);
  ReleaseCapture();
}

void CRenderWnd::OnCycleFillMode() {
  const int mode = g_D3DContext.FillMode();
  g_D3DContext.SetFillMode(mode >= kFillModeSolid || mode < kFillModePoint ? kFillModePoint : mode + 1);
  Invalidate();
}

void CRenderWnd::OnFillMode(UINT id) {
  g_D3DContext.SetFillMode(static_cast<int>(id - ID_FILLMODE_CYCLE));
  Invalidate();
}

void CRenderWnd::OnUpdateFillMode(CCmdUI& cmd) {
  cmd.SetCheck(cmd.Id() == ID_FILLMODE_CYCLE + static_cast<UINT>(g_D3DContext.FillMode()) ? 1 : 0);
}

}  // namespace velmora

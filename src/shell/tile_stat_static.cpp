// The tile-state panel with its 3D scene.
#include "shell/tile_stat_static.h"

#include <algorithm>

#include "platform/sync.h"
#include "terrain/d3d_context.h"

namespace velmora {

CTileStatStatic::CTileStatStatic() {
  MapMessage(WM_SIZE, [this](WPARAM, LPARAM l) -> LRESULT {
    OnSize(static_cast<int>(l & 0xFFFF), static_cast<int>((l >> 16) & 0xFFFF));
    return 0;
  });
  MapMessage(WM_ERASEBKGND, [](WPARAM, LPARAM) -> LRESULT { return 1; });
  MapMessage(WM_MOUSEMOVE, [this](WPARAM w, LPARAM l) -> LRESULT {
    OnMouseMove(static_cast<UINT>(w), GET_X_LPARAM(l), GET_Y_LPARAM(l));
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
  MapTimer(ID_TILE_STAT_RETRY_TIMER, [this] {
    KillTimer(ID_TILE_STAT_RETRY_TIMER);
    retry_armed_ = false;
    if (!g_pD3DDevice) g_D3DContext.CreateD3DDevice(GetSafeHwnd());
    Invalidate();
  });
}

CTileStatStatic::~CTileStatStatic() { DestroyWindow(); }

int CTileStatStatic::OnCreate() {
  g_D3DContext.CreateD3DDevice(GetSafeHwnd());
  return 0;
}

void CTileStatStatic::PreSubclassWindow() {
  g_D3DContext.CreateD3DDevice(GetSafeHwnd());
  const RECT r = GetWindowRect();
  Resize(static_cast<uint32_t>(std::max(0, r.Width())), static_cast<uint32_t>(std::max(0, r.Height())));
}

void CTileStatStatic::OnDestroy() {
  if (retry_armed_) KillTimer(ID_TILE_STAT_RETRY_TIMER);
  retry_armed_ = false;
  if (IDirect3DDevice9* device = g_pD3DDevice) device->ForgetWindow(GetSafeHwnd());
}

void CTileStatStatic::OnSize(int width, int height) {
  Resize(static_cast<uint32_t>(std::max(0, width)), static_cast<uint32_t>(std::max(0, height)));
  Invalidate();
}

void CTileStatStatic::OnMouseMove(UINT flags, int x, int y) {
  const uint64_t now = clock_ ? clock_() : TickCount64();
  if (SceneMouseMove((flags & MK_LBUTTON) != 0, x, y, static_cast<uint32_t>(now))) Invalidate();
}

void CTileStatStatic::OnLButtonDown(UINT, int x, int y) { SceneButtonDown(x, y); }

void CTileStatStatic::OnLButtonUp(UINT, int, int) {}

bool CTileStatStatic::PaintScene(CBitmap& canvas) {
  if (canvas.IsEmpty()) return false;
  if (uint32_t(canvas.Width()) != Viewport().Width || uint32_t(canvas.Height()) != Viewport().Height)
    Resize(uint32_t(canvas.Width()), uint32_t(canvas.Height()));
  bool drawn = false;
  last_result_ = RenderInto(GetSafeHwnd(), canvas, &drawn);
  if (!drawn && !retry_armed_ && IsWindow()) retry_armed_ = SetTimer(ID_TILE_STAT_RETRY_TIMER, 1000);
  return true;
}

}  // namespace velmora

// One frame of a 3D window through the shared device, and the shared text and light helpers.
#include "terrain/d3d_scene.h"

#include <cstring>
#include <mutex>

#include "core/format.h"
#include "platform/gfx/graphics.h"
#include "platform/sync.h"
#include "terrain/d3d_context.h"

namespace velmora {
namespace {

constexpr float kPi = 3.14159265358979323846f;

void SetIdentity(D3DXMATRIX* a, D3DXMATRIX* b, D3DXMATRIX* c) {
  D3DXMatrixIdentity(a);
  D3DXMatrixIdentity(b);
  D3DXMatrixIdentity(c);
}

}  // namespace

CD3DScene::CD3DScene() {
  D3DXMatrixIdentity(&projection_);
  D3DXMatrixIdentity(&world_);
  const D3DXVECTOR3 eye(0, 0, 50), at(0, 0, -10), up(0, 1, 0);
  D3DXMatrixLookAtLH(&view_, &eye, &at, &up);
  last_tick_ = static_cast<uint32_t>(TickCount64());
}

HRESULT CD3DScene::Render(R3dWindow window) {
  IDirect3DDevice9* device = g_pD3DDevice;
  if (!device) return 1;
  std::lock_guard<std::recursive_mutex> lock(g_D3DContext.DeviceLock());

  HRESULT hr = device->TestCooperativeLevel();
  if (device_lost_) {
    // Nothing is drawn while the loss lasts; once the device works again (reset here or by
    // another window), the window draws again.
    if (hr == D3DERR_DEVICELOST) return 0;
    if (hr == D3D_OK) device_lost_ = 0;
  }
  if (hr == D3DERR_DEVICELOST) return hr;
  if (hr == D3DERR_DEVICENOTRESET) {
    InvalidateDeviceObjects();
    const HRESULT reset = g_D3DContext.ResetDevice();
    RestoreDeviceObjects();
    if (SUCCEEDED(reset)) device_lost_ = 0;
    return 1;
  }
  if (FAILED(hr)) return hr;

  D3DDISPLAYMODE mode;
  if (IDirect3D9* d3d = g_D3DContext.Direct3D()) d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
  D3DPRESENT_PARAMETERS params;
  params.BackBufferWidth = viewport_.Width;
  params.BackBufferHeight = viewport_.Height;
  params.BackBufferFormat = mode.Format;
  params.BackBufferCount = 1;
  params.SwapEffect = D3DSWAPEFFECT_COPY;
  params.hDeviceWindow = window;
  params.Windowed = 1;
  params.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
  IDirect3DSwapChain9* swap = nullptr;
  hr = device->CreateAdditionalSwapChain(&params, &swap);
  if (!swap) return hr;
  IDirect3DSurface9* back = nullptr;
  swap->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &back);
  if (!back) {
    swap->Release();
    return D3DERR_INVALIDCALL;
  }
  IDirect3DSurface9* depth = nullptr;
  hr = device->CreateDepthStencilSurface(viewport_.Width, viewport_.Height, D3DFMT_D16, D3DMULTISAMPLE_NONE, 0, 1,
                                         &depth);
  if (!depth) {
    back->Release();
    swap->Release();
    return hr;
  }
  device->SetRenderTarget(0, back);
  device->SetDepthStencilSurface(depth);

  SetupRenderStates();
  SetIdentity(&projection_, &view_, &world_);
  SetupCamera();
  device->SetTransform(D3DTS_PROJECTION, &projection_);
  device->SetTransform(D3DTS_VIEW, &view_);
  device->SetTransform(D3DTS_WORLD, &world_);
  device->SetViewport(&viewport_);

  if (SUCCEEDED(device->BeginScene())) {
    DrawScene();
    device->EndScene();
  }
  hr = swap->Present(nullptr, nullptr, 0, nullptr, 0);
  depth->Release();
  back->Release();
  swap->Release();
  if (FAILED(hr)) {
    if (hr == D3DERR_DEVICELOST) device_lost_ = 1;
    return hr;
  }
  SetIdentity(&projection_, &view_, &world_);
  device->SetTransform(D3DTS_PROJECTION, &projection_);
  device->SetTransform(D3DTS_VIEW, &view_);
  return device->SetTransform(D3DTS_WORLD, &world_);
}

HRESULT CD3DScene::RenderInto(R3dWindow window, CBitmap& canvas, bool* drawn) {
  const HRESULT result = Render(window);
  IDirect3DDevice9* device = g_pD3DDevice;
  *drawn = result == 0 && device && device->CopyPresentedFrameInto(window, &canvas);
  if (!*drawn) PaintRenderFallback(canvas, result == 0 ? 1 : result);
  return result;
}

void CD3DScene::SceneButtonDown(int x, int y) { arcball_.BeginDrag(x, y); }

bool CD3DScene::SceneMouseMove(bool left_down, int x, int y, uint32_t now_ms) {
  // A mouse move this long after the previous one starts a new drag instead of turning the view.
  constexpr uint32_t kDragPauseMs = 50;
  // Ticks of 32 bits: the difference is right across a wrap.
  const bool turned = left_down && now_ms - last_tick_ < kDragPauseMs;
  if (turned) arcball_.Drag(x, y);
  last_x_ = x;
  last_y_ = y;
  last_tick_ = now_ms;
  return turned;
}

void PaintRenderFallback(CBitmap& canvas, HRESULT result) {
  canvas.Clear(kRenderFallbackColor);
  CGraphics g(canvas);
  g.DrawString(FormatC("%x", static_cast<unsigned>(result)), CFont(), 0xFF000000u, 0, 0);
}

void CD3DScene::Resize(uint32_t width, uint32_t height) {
  viewport_ = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
  aspect_ = height > 0 ? float(width) / float(height) : 1.0f;
  arcball_.SetWindowSize(static_cast<int>(width), static_cast<int>(height));
}

void CD3DScene::SetupRenderStates() {
  IDirect3DDevice9* d = g_pD3DDevice;
  if (!d) return;
  d->SetRenderState(D3DRS_LIGHTING, 1);
  d->SetRenderState(D3DRS_AMBIENT, 0xFFFFFFFFu);
  d->SetRenderState(D3DRS_SPECULARENABLE, 1);
  d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
  d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
  d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
  d->SetRenderState(D3DRS_ZENABLE, 1);
  d->SetRenderState(D3DRS_ZWRITEENABLE, 1);
  d->SetRenderState(D3DRS_FOGENABLE, 0);
}

void CD3DScene::SetupCamera() {
  arcball_.GetViewMatrix(&view_);
  const float r = arcball_.Radius();
  D3DXMatrixPerspectiveFovLH(&projection_, kPi / 4, aspect_, r * 0.1f, r * 10.0f);
}

void CD3DScene::DrawScene() {
  if (IDirect3DDevice9* d = g_pD3DDevice) d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
  DrawText3D("Velmora", 0, 0, 0xFFFF00FFu);
}

R3dRect Text3DRect(const char* text, int x, int y) {
  const size_t bytes = text ? std::strlen(text) : 0;
  int breaks = 0;
  for (size_t i = 0; i < bytes; ++i) breaks += text[i] == '\n' ? 1 : 0;
  return R3dRect{x, y, x + 20 * static_cast<int>(bytes), y + 20 + 20 * breaks};
}

int DrawText3D(const char* text, int x, int y, D3DCOLOR color) {
  std::lock_guard<std::recursive_mutex> lock(g_D3DContext.DeviceLock());
  ID3DXFont* font = g_D3DContext.Font();
  if (!font || !text) return 0;
  R3dRect rect = Text3DRect(text, x, y);
  return font->DrawTextA(nullptr, text, -1, &rect, DT_EXPANDTABS, color);
}

void SetupDefaultLight() {
  IDirect3DDevice9* d = g_pD3DDevice;
  if (!d) return;
  d->SetRenderState(D3DRS_LIGHTING, 1);
  d->SetRenderState(D3DRS_AMBIENT, 0xFF888888u);
  d->SetRenderState(D3DRS_SPECULARENABLE, 1);
  D3DLIGHT9 light{};
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = D3DCOLORVALUE{1, 1, 1, 0};
  light.Position = D3DVECTOR{0, -1, 1};
  light.Range = 1000.0f;
  D3DXMATRIX turn, inverse;
  D3DXMatrixRotationYawPitchRoll(&turn, 1.0f, 0, 0);
  D3DXMatrixInverse(&inverse, nullptr, &turn);
  const D3DXVECTOR3 toward(0, -1, 1);
  D3DXVECTOR3 direction;
  D3DXVec3TransformCoord(&direction, &toward, &inverse);
  D3DXVec3Normalize(&direction, &direction);
  light.Direction = direction;
  d->SetLight(0, &light);
  d->LightEnable(0, 1);
}

}  // namespace velmora

// The shared 3D device, its font and fill mode.
#include "terrain/d3d_context.h"

#include "core/log.h"
#include "core/settings.h"

namespace velmora {

CD3DContext g_D3DContext;
IDirect3DDevice9* g_pD3DDevice = nullptr;

CD3DContext::~CD3DContext() {
  SetFont(nullptr);
  if (device_) {
    if (g_pD3DDevice == device_) g_pD3DDevice = nullptr;
    device_->Release();
    device_ = nullptr;
  }
  if (d3d_) {
    d3d_->Release();
    d3d_ = nullptr;
  }
}

void CD3DContext::SetFont(ID3DXFont* font) {
  // Under the device lock: text is drawn inside frames, which hold it.
  std::lock_guard<std::recursive_mutex> lock(lock_);
  ID3DXFont* old = font_.exchange(font, std::memory_order_acq_rel);
  if (old) old->Release();
}

bool CD3DContext::CreateD3DDevice(R3dWindow window) {
  std::lock_guard<std::mutex> guard(create_mutex_);
  if (d3d_) return true;
  IDirect3D9* d3d = Direct3DCreate9(D3D_SDK_VERSION);
  if (!d3d) {
    AppLog("3D: no OpenGL context: %s", Direct3DLastError().c_str());
    return false;
  }
  D3DDISPLAYMODE mode;
  d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode);
  D3DCAPS9 caps;
  if (FAILED(d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps)) &&
      FAILED(d3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_REF, &caps))) {
    AppLog("3D: the adapter reports no capabilities");
    d3d->Release();
    return false;
  }
  D3DPRESENT_PARAMETERS params;
  params.BackBufferWidth = 400;
  params.BackBufferHeight = 300;
  params.BackBufferFormat = D3DFMT_X8R8G8B8;
  params.BackBufferCount = 1;
  params.MultiSampleType = D3DMULTISAMPLE_NONE;
  params.SwapEffect = D3DSWAPEFFECT_DISCARD;
  params.hDeviceWindow = window;
  params.Windowed = 1;
  params.EnableAutoDepthStencil = 1;
  params.AutoDepthStencilFormat = D3DFMT_D16;
  IDirect3DDevice9* device = nullptr;
  const HRESULT hr = d3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                       D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED |
                                           D3DCREATE_FPU_PRESERVE,
                                       &params, &device);
  if (FAILED(hr)) {
    AppLog("3D: the device cannot be made (0x%08x)", static_cast<unsigned>(hr));
    d3d->Release();
    return false;
  }
  d3d_ = d3d;
  device_ = device;
  caps_ = caps;
  params_ = params;
  if (!g_pD3DDevice) g_pD3DDevice = device;
  AppLog("3D: %s", device->Description().c_str());

  // 9 points at the 96 dots per inch the layouts assume: 12 pixels of character height.
  ID3DXFont* font = nullptr;
  if (FAILED(D3DXCreateFontA(device, -12, 0, 100, 1, 0, 1, 0, 0, 0, "Arial", &font)))
    AppLog("3D: the text font cannot be made; 3D views draw no text");
  SetFont(font);
  SetFillMode(GetProfileInt("3d", "fillmode", kFillModeSolid));
  return true;
}

HRESULT CD3DContext::ResetDevice() {
  if (!device_) return D3DERR_INVALIDCALL;
  if (ID3DXFont* font = Font()) font->OnLostDevice();
  D3DPRESENT_PARAMETERS params = params_;
  const HRESULT hr = device_->Reset(&params);
  if (ID3DXFont* font = Font()) font->OnResetDevice();
  if (FAILED(hr)) AppLog("3D: the device reset failed (0x%08x)", static_cast<unsigned>(hr));
  return hr;
}

}  // namespace velmora

// CD3DContext: the program's one 3D device, shared by every 3D window: made once (on the main
// frame's window or the first 3D window), with the shared text font, the fill mode of all 3D
// views and the device lock that a frame holds. g_D3DContext is the instance; g_pD3DDevice the
// device, null until it is made.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

#include "platform/r3d/d3dx_font.h"
#include "platform/r3d/device.h"

namespace velmora {

// Fill modes (the device's values): 1 points, 2 wireframe, 3 solid.
inline constexpr int kFillModePoint = 1;
inline constexpr int kFillModeWireframe = 2;
inline constexpr int kFillModeSolid = 3;

class CD3DContext {
 public:
  CD3DContext() = default;
  // Releases the font, the device (clearing g_pD3DDevice when it is this context's) and the
  // adapter object.
  ~CD3DContext();
  CD3DContext(const CD3DContext&) = delete;
  CD3DContext& operator=(const CD3DContext&) = delete;

  // Makes the device on the first call (back buffer 400 x 300, automatic 16-bit depth), the
  // shared font (9 points, "Arial"; its failure is logged and leaves no font) and reads the fill
  // mode from the profile ("3d"/"fillmode", default 3). Later calls return true at once and
  // change nothing. False (logged) when no device can be made; a later call tries again.
  // `window` 0 stands for the main window.
  bool CreateD3DDevice(R3dWindow window);
  // Resets the device with the saved present parameters, telling the font before and after.
  // The device's result (D3D_OK when the device works again).
  HRESULT ResetDevice();

  // The lock a frame holds from start to end (recursive).
  std::recursive_mutex& DeviceLock() { return lock_; }
  IDirect3D9* Direct3D() const { return d3d_; }
  IDirect3DDevice9* Device() const { return device_; }
  const D3DCAPS9& Caps() const { return caps_; }
  const D3DPRESENT_PARAMETERS& PresentParameters() const { return params_; }

  // The shared font; null when it could not be made.
  ID3DXFont* Font() const { return font_.load(std::memory_order_acquire); }
  // Replaces the shared font (the context takes the reference; null leaves none).
  void SetFont(ID3DXFont* font);

  // The fill mode every 3D view draws with at its next frame (not written back to the profile).
  int FillMode() const { return fill_mode_.load(std::memory_order_relaxed); }
  void SetFillMode(int mode) { fill_mode_.store(mode, std::memory_order_relaxed); }

 private:
  std::mutex create_mutex_;
  IDirect3D9* d3d_ = nullptr;
  IDirect3DDevice9* device_ = nullptr;
  D3DCAPS9 caps_;
  D3DPRESENT_PARAMETERS params_;
  std::atomic<ID3DXFont*> font_{nullptr};
  std::atomic<int> fill_mode_{kFillModeSolid};
  std::recursive_mutex lock_;
};

extern CD3DContext g_D3DContext;
// The device of the first context that made one; read by every object that makes or draws
// device resources. Set before any 3D window exists and cleared at exit.
extern IDirect3DDevice9* g_pD3DDevice;

}  // namespace velmora

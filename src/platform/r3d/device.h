// The 3D device on OpenGL: IDirect3D9 (the adapter: display mode, caps, device creation) and
// IDirect3DDevice9 (states, transforms, lights, resources, drawing, presenting), shaped after the
// Direct3D 9 calls the 3D views make and run on one OpenGL context of our own (EglContext).
//
// Conventions kept from the 3D code: row-vector matrices, left-handed coordinates, depth 0..1,
// clockwise triangles in front (D3DCULL_CCW culls the others), the pixel (0, 0) at the top left.
// The device renders with y flipped and depth remapped so that GL's window coordinates are the
// device's screen coordinates and a readback yields rows top first.
//
// Threads: every call may come from any thread. State calls and drawing take the device's lock;
// BeginScene keeps it (and the context current on the calling thread) until EndScene. Creating
// and filling resources takes no GL and no device lock, so loader threads make textures and meshes
// while the rendering thread draws; the rendering thread uploads them when it binds them.
//
// Device loss: an OpenGL context does not lose its objects when a window changes, so a device is
// lost only when the front end says so (NotifyDeviceLost, e.g. its display went away). Presents
// then fail with D3DERR_DEVICELOST; once NotifyDeviceRestorable is called TestCooperativeLevel
// answers D3DERR_DEVICENOTRESET, and Reset makes a new context: every resource uploads itself
// again from memory, so no resource has to be made anew.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/gfx/bitmap.h"
#include "platform/r3d/d3d_types.h"
#include "platform/r3d/d3dx_math.h"
#include "platform/r3d/resources.h"

namespace velmora {

class R3dCore;
class IDirect3DDevice9;

class IDirect3D9 : public R3dUnknown {
 public:
  // Adapter 0 only. The format is D3DFMT_X8R8G8B8; the size is nominal (frames are rendered
  // off screen at the size of each window).
  HRESULT GetAdapterDisplayMode(uint32_t adapter, D3DDISPLAYMODE* mode) const;
  // D3DDEVTYPE_HAL and D3DDEVTYPE_REF both describe the OpenGL context.
  HRESULT GetDeviceCaps(uint32_t adapter, D3DDEVTYPE type, D3DCAPS9* caps) const;
  HRESULT CreateDevice(uint32_t adapter, D3DDEVTYPE type, R3dWindow focus_window, uint32_t behavior_flags,
                       D3DPRESENT_PARAMETERS* params, IDirect3DDevice9** device);
  // The EGL platform and the GL renderer, for the log.
  const std::string& Description() const;

 private:
  friend IDirect3D9* Direct3DCreate9(uint32_t sdk_version);
  explicit IDirect3D9(std::shared_ptr<R3dCore> core);
  ~IDirect3D9() override;
  std::shared_ptr<R3dCore> core_;  // handed to the first device
  bool core_taken_ = false;
  D3DCAPS9 caps_;
  std::string description_;
};

// Opens the OpenGL context. Null when no EGL display or context can be had; the reason is then in
// Direct3DLastError().
IDirect3D9* Direct3DCreate9(uint32_t sdk_version);
std::string Direct3DLastError();

class IDirect3DDevice9 : public R3dUnknown {
 public:
  // ---- device ---------------------------------------------------------------------------------
  HRESULT TestCooperativeLevel();
  // Back to the states of a new device with the given parameters; a device that was lost gets a
  // new GL context. D3DERR_DEVICELOST while the loss lasts.
  HRESULT Reset(D3DPRESENT_PARAMETERS* params);
  HRESULT GetDeviceCaps(D3DCAPS9* caps) const;
  const std::string& Description() const;

  // ---- resources ------------------------------------------------------------------------------
  // Sides 1..the GL limit, 1 GiB at most; formats D3DFMT_A8R8G8B8 and D3DFMT_X8R8G8B8; levels 0
  // asks for the whole chain (levels beyond the first are made from it on upload).
  HRESULT CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, D3DFORMAT format,
                        D3DPOOL pool, IDirect3DTexture9** texture, void* shared_handle = nullptr);
  // 1 byte to 1 GiB.
  HRESULT CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, D3DPOOL pool,
                             IDirect3DVertexBuffer9** buffer, void* shared_handle = nullptr);
  // D3DFMT_INDEX16 or D3DFMT_INDEX32, one index to 1 GiB.
  HRESULT CreateIndexBuffer(uint32_t length, uint32_t usage, D3DFORMAT format, D3DPOOL pool,
                            IDirect3DIndexBuffer9** buffer, void* shared_handle = nullptr);
  // A window's frame: a back buffer of the parameters' size (a side of 0 becomes 1) for the
  // parameters' window.
  HRESULT CreateAdditionalSwapChain(D3DPRESENT_PARAMETERS* params, IDirect3DSwapChain9** swap_chain);
  // Sides 1..the GL limit; D3DFMT_D16 only.
  HRESULT CreateDepthStencilSurface(uint32_t width, uint32_t height, D3DFORMAT format,
                                    D3DMULTISAMPLE_TYPE multisample, uint32_t quality, int discard,
                                    IDirect3DSurface9** surface, void* shared_handle = nullptr);
  // The device's own back buffer (never presented).
  HRESULT GetBackBuffer(uint32_t swap_chain, uint32_t index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** out);

  // ---- targets and viewport -------------------------------------------------------------------
  // Target 0 only; also sets the viewport to the whole target.
  HRESULT SetRenderTarget(uint32_t index, IDirect3DSurface9* surface);
  HRESULT GetRenderTarget(uint32_t index, IDirect3DSurface9** surface);
  HRESULT SetDepthStencilSurface(IDirect3DSurface9* surface);
  HRESULT SetViewport(const D3DVIEWPORT9* viewport);
  HRESULT GetViewport(D3DVIEWPORT9* viewport) const;
  HRESULT SetScissorRect(const R3dRect* rect);

  // ---- states ---------------------------------------------------------------------------------
  HRESULT SetRenderState(D3DRENDERSTATETYPE state, uint32_t value);
  HRESULT GetRenderState(D3DRENDERSTATETYPE state, uint32_t* value) const;
  HRESULT SetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t value);
  HRESULT GetTextureStageState(uint32_t stage, D3DTEXTURESTAGESTATETYPE type, uint32_t* value) const;
  HRESULT SetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t value);
  HRESULT GetSamplerState(uint32_t sampler, D3DSAMPLERSTATETYPE type, uint32_t* value) const;
  HRESULT SetTransform(D3DTRANSFORMSTATETYPE state, const D3DXMATRIX* matrix);
  HRESULT GetTransform(D3DTRANSFORMSTATETYPE state, D3DXMATRIX* matrix) const;
  HRESULT SetMaterial(const D3DMATERIAL9* material);
  HRESULT GetMaterial(D3DMATERIAL9* material) const;
  HRESULT SetLight(uint32_t index, const D3DLIGHT9* light);
  HRESULT GetLight(uint32_t index, D3DLIGHT9* light) const;
  // At most eight lights are on at once.
  HRESULT LightEnable(uint32_t index, int enable);
  HRESULT GetLightEnable(uint32_t index, int* enable) const;
  // Stage 0 is drawn; the device holds a reference to the texture while it is set.
  HRESULT SetTexture(uint32_t stage, IDirect3DTexture9* texture);
  HRESULT SetStreamSource(uint32_t stream, IDirect3DVertexBuffer9* buffer, uint32_t offset, uint32_t stride);
  // Position (D3DFVF_XYZ) with an optional normal, diffuse colour and texture coordinates.
  HRESULT SetFVF(uint32_t fvf);
  HRESULT GetFVF(uint32_t* fvf) const;
  HRESULT SetIndices(IDirect3DIndexBuffer9* indices);

  // ---- drawing --------------------------------------------------------------------------------
  HRESULT BeginScene();
  HRESULT EndScene();
  // Clears the viewport (narrowed to the rectangles when given).
  HRESULT Clear(uint32_t count, const R3dRect* rects, uint32_t flags, D3DCOLOR color, float z, uint32_t stencil);
  HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, uint32_t start_vertex, uint32_t primitive_count);
  HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, int base_vertex, uint32_t min_vertex, uint32_t num_vertices,
                               uint32_t start_index, uint32_t primitive_count);
  // Vertices from memory; stream 0 is unset afterwards.
  HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE type, uint32_t primitive_count, const void* vertices, uint32_t stride);

  // ---- windows and loss -----------------------------------------------------------------------
  // The last frame a window presented; false when it has none.
  bool CopyPresentedFrame(R3dWindow window, CBitmap* out) const;
  // The same into a picture the caller holds (a window's canvas), without making a new one: false
  // (the picture untouched) when the window has no frame or the frame's size is not the picture's.
  bool CopyPresentedFrameInto(R3dWindow window, CBitmap* out) const;
  // Called on the rendering thread after each frame a window presents (the front end schedules
  // its repaint there; it must not render).
  void SetFrameSink(std::function<void(R3dWindow)> sink);
  // Drops the frame of a window that closed.
  void ForgetWindow(R3dWindow window);
  void NotifyDeviceLost();
  void NotifyDeviceRestorable();

  // A copy of every state, and setting it back (text drawing uses them around its own states).
  struct StateBlock;
  struct StateBlockDeleter {
    void operator()(StateBlock* block) const;
  };
  using StateBlockPtr = std::unique_ptr<StateBlock, StateBlockDeleter>;
  StateBlockPtr CaptureState() const;
  void ApplyState(const StateBlock& block);

  // Bytes per vertex of a vertex format; 0 for formats the device does not draw.
  static uint32_t VertexSize(uint32_t fvf);

 private:
  friend class IDirect3D9;
  struct State;
  struct Applied;
  IDirect3DDevice9(std::shared_ptr<R3dCore> core, const D3DPRESENT_PARAMETERS& params, const D3DCAPS9& caps);
  ~IDirect3DDevice9() override;

  void SetDefaults();
  HRESULT MakeOwnTargets();
  // Inside a GL scope: binds the framebuffer of the current targets and brings the GL states in
  // line with the device's; false when there is nothing to draw into.
  bool PrepareTarget();
  bool PrepareDraw(bool indexed);
  void ApplyRaster();
  void ApplyTransformsAndLights();
  void ApplyTextureStage(bool full);
  bool ApplyVertexArrays(const uint8_t* client_base);
  void ReleaseGl();

  std::shared_ptr<R3dCore> core_;
  D3DPRESENT_PARAMETERS params_;
  D3DCAPS9 caps_;
  std::unique_ptr<State> state_;
  std::unique_ptr<Applied> applied_;
  IDirect3DSurface9* own_back_ = nullptr;
  IDirect3DSurface9* own_depth_ = nullptr;
  int scene_depth_ = 0;
};

}  // namespace velmora

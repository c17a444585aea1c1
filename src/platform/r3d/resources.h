// The 3D device's resources: the reference-counted base, textures, vertex and index buffers,
// render-target and depth surfaces, and the swap chain that presents a window's frame.
//
// Every texture and buffer keeps its contents in memory (as a managed resource does) and is
// filled through Lock/Unlock on any thread: no GL call is made there. The rendering thread
// uploads a resource when it binds it after a change, and again after a device reset. A Lock
// holds the resource until its Unlock, so the upload never reads half-written contents; locking
// a resource twice from one thread fails.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/r3d/d3d_types.h"

namespace velmora {

class R3dCore;
struct SurfaceStorage;
class IDirect3DDevice9;

// Reference counting of every object the device hands out: the creator holds one reference,
// Release drops one and deletes the object at zero.
class R3dUnknown {
 public:
  uint32_t AddRef() { return refs_.fetch_add(1, std::memory_order_relaxed) + 1; }
  uint32_t Release() {
    const uint32_t left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
  }

 protected:
  R3dUnknown() = default;
  virtual ~R3dUnknown() = default;
  R3dUnknown(const R3dUnknown&) = delete;
  R3dUnknown& operator=(const R3dUnknown&) = delete;

 private:
  std::atomic<uint32_t> refs_{1};
};

struct D3DSURFACE_DESC {
  D3DFORMAT Format = D3DFMT_UNKNOWN;
  D3DPOOL Pool = D3DPOOL_DEFAULT;
  uint32_t Width = 0;
  uint32_t Height = 0;
};

struct D3DVERTEXBUFFER_DESC {
  D3DPOOL Pool = D3DPOOL_MANAGED;
  uint32_t Usage = 0;
  uint32_t Size = 0;
  uint32_t FVF = 0;
};

struct D3DINDEXBUFFER_DESC {
  D3DFORMAT Format = D3DFMT_INDEX16;
  D3DPOOL Pool = D3DPOOL_MANAGED;
  uint32_t Usage = 0;
  uint32_t Size = 0;
};

// Largest texture, buffer or surface the device allocates, whatever GL would accept.
inline constexpr uint64_t kMaxResourceBytes = uint64_t(1) << 30;

// The lock shared by textures and buffers: held from Lock to Unlock by one thread.
class ResourceLock {
 public:
  // False when the calling thread holds it already.
  bool Acquire();
  // False when the calling thread does not hold it.
  bool ReleaseIfOwner();
  bool HeldByCaller() const { return owner_.load(std::memory_order_acquire) == std::this_thread::get_id(); }
  std::mutex& Mutex() { return mutex_; }

 private:
  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};
};

// ---- textures ---------------------------------------------------------------------------------
class IDirect3DTexture9 : public R3dUnknown {
 public:
  uint32_t GetLevelCount() const { return levels_; }
  HRESULT GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) const;
  // Level 0 only (further levels are made from it when the texture is uploaded). `rect` null
  // locks the whole level. Pixels are 32-bit words 0xAARRGGBB (alpha ignored for X8R8G8B8).
  HRESULT LockRect(uint32_t level, D3DLOCKED_RECT* locked, const R3dRect* rect, uint32_t flags);
  HRESULT UnlockRect(uint32_t level);

  // Internal to the device: binds the texture to GL_TEXTURE_2D of the active unit, uploading
  // it first when it changed or belongs to an older generation. Inside a GL scope.
  bool BindGl(R3dCore& core);

 private:
  friend class IDirect3DDevice9;
  IDirect3DTexture9(std::shared_ptr<R3dCore> core, uint32_t width, uint32_t height, uint32_t levels,
                    D3DFORMAT format, D3DPOOL pool);
  ~IDirect3DTexture9() override;

  std::shared_ptr<R3dCore> core_;
  uint32_t width_, height_, levels_;
  D3DFORMAT format_;
  D3DPOOL pool_;
  ResourceLock lock_;
  std::vector<uint32_t> pixels_;  // level 0, guarded by lock_
  bool lock_read_only_ = false;
  std::atomic<bool> dirty_{true};
  uint32_t gl_name_ = 0;  // rendering thread only
  uint64_t gl_generation_ = 0;
};

// ---- buffers ----------------------------------------------------------------------------------
// Contents and upload shared by vertex and index buffers.
class R3dBuffer : public R3dUnknown {
 public:
  // `size` 0 with `offset` 0 locks the whole buffer.
  HRESULT Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags);
  HRESULT Unlock();
  uint32_t Size() const { return static_cast<uint32_t>(bytes_.size()); }

  // Internal to the device: the GL buffer bound to `target` (GL_ARRAY_BUFFER or
  // GL_ELEMENT_ARRAY_BUFFER), uploaded first when it changed. Inside a GL scope; 0 on failure.
  uint32_t BindGl(R3dCore& core, uint32_t target);

 protected:
  R3dBuffer(std::shared_ptr<R3dCore> core, std::vector<uint8_t>&& bytes);
  ~R3dBuffer() override;

 private:
  std::shared_ptr<R3dCore> core_;
  ResourceLock lock_;
  std::vector<uint8_t> bytes_;  // guarded by lock_
  bool lock_read_only_ = false;
  uint32_t lock_begin_ = 0, lock_end_ = 0;
  uint32_t dirty_begin_ = 0, dirty_end_ = 0;  // guarded by lock_
  std::atomic<bool> dirty_{true};
  uint32_t gl_name_ = 0;  // rendering thread only
  uint64_t gl_generation_ = 0;
};

class IDirect3DVertexBuffer9 : public R3dBuffer {
 public:
  HRESULT GetDesc(D3DVERTEXBUFFER_DESC* desc) const;

 private:
  friend class IDirect3DDevice9;
  IDirect3DVertexBuffer9(std::shared_ptr<R3dCore> core, std::vector<uint8_t>&& bytes, uint32_t usage, uint32_t fvf,
                         D3DPOOL pool)
      : R3dBuffer(std::move(core), std::move(bytes)), usage_(usage), fvf_(fvf), pool_(pool) {}
  uint32_t usage_, fvf_;
  D3DPOOL pool_;
};

class IDirect3DIndexBuffer9 : public R3dBuffer {
 public:
  HRESULT GetDesc(D3DINDEXBUFFER_DESC* desc) const;
  D3DFORMAT Format() const { return format_; }

 private:
  friend class IDirect3DDevice9;
  IDirect3DIndexBuffer9(std::shared_ptr<R3dCore> core, std::vector<uint8_t>&& bytes, uint32_t usage,
                        D3DFORMAT format, D3DPOOL pool)
      : R3dBuffer(std::move(core), std::move(bytes)), usage_(usage), format_(format), pool_(pool) {}
  uint32_t usage_;
  D3DFORMAT format_;
  D3DPOOL pool_;
};

// ---- surfaces and swap chains -----------------------------------------------------------------
// A render-target or depth surface: GL renderbuffer storage taken from the device's pool and
// given back when the surface is released.
class IDirect3DSurface9 : public R3dUnknown {
 public:
  HRESULT GetDesc(D3DSURFACE_DESC* desc) const;
  SurfaceStorage& Storage() { return *storage_; }

 private:
  friend class IDirect3DDevice9;
  friend class IDirect3DSwapChain9;
  IDirect3DSurface9(std::shared_ptr<R3dCore> core, std::shared_ptr<SurfaceStorage> storage);
  ~IDirect3DSurface9() override;
  std::shared_ptr<R3dCore> core_;
  std::shared_ptr<SurfaceStorage> storage_;
};

// The frame of one window: a back buffer of the window's size. Present reads it back into the
// window's frame, which the front end shows (IDirect3DDevice9::CopyPresentedFrame).
class IDirect3DSwapChain9 : public R3dUnknown {
 public:
  HRESULT GetBackBuffer(uint32_t index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** out);
  HRESULT GetPresentParameters(D3DPRESENT_PARAMETERS* out) const;
  // Rectangles, the override window and the dirty region are not used: the whole back buffer
  // becomes the frame of the swap chain's window. D3DERR_DEVICELOST while the device is lost.
  HRESULT Present(const R3dRect* source, const R3dRect* dest, R3dWindow override_window, const void* dirty,
                  uint32_t flags);

 private:
  friend class IDirect3DDevice9;
  IDirect3DSwapChain9(std::shared_ptr<R3dCore> core, const D3DPRESENT_PARAMETERS& params, IDirect3DSurface9* back);
  ~IDirect3DSwapChain9() override;
  std::shared_ptr<R3dCore> core_;
  D3DPRESENT_PARAMETERS params_;
  IDirect3DSurface9* back_;
};

}  // namespace velmora

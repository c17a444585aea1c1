// Textures, buffers, surfaces and swap chains of the 3D device: contents in memory, uploaded by
// the rendering thread when bound.
#include "platform/r3d/resources.h"

#include <algorithm>
#include <cstring>

#include "platform/r3d/gl_api.h"
#include "platform/r3d/r3d_core.h"

namespace velmora {

// ---- lock -------------------------------------------------------------------------------------
bool ResourceLock::Acquire() {
  if (HeldByCaller()) return false;
  mutex_.lock();
  owner_.store(std::this_thread::get_id(), std::memory_order_release);
  return true;
}

bool ResourceLock::ReleaseIfOwner() {
  if (!HeldByCaller()) return false;
  owner_.store(std::thread::id(), std::memory_order_release);
  mutex_.unlock();
  return true;
}

// ---- textures ---------------------------------------------------------------------------------
IDirect3DTexture9::IDirect3DTexture9(std::shared_ptr<R3dCore> core, uint32_t width, uint32_t height,
                                     uint32_t levels, D3DFORMAT format, D3DPOOL pool)
    : core_(std::move(core)),
      width_(width),
      height_(height),
      levels_(levels),
      format_(format),
      pool_(pool),
      pixels_(size_t(width) * height, format == D3DFMT_X8R8G8B8 ? 0xFF000000u : 0u) {}

IDirect3DTexture9::~IDirect3DTexture9() { core_->QueueDelete(GlObjectKind::kTexture, gl_name_, gl_generation_); }

HRESULT IDirect3DTexture9::GetLevelDesc(uint32_t level, D3DSURFACE_DESC* desc) const {
  if (!desc || level >= levels_) return D3DERR_INVALIDCALL;
  desc->Format = format_;
  desc->Pool = pool_;
  desc->Width = std::max(1u, width_ >> level);
  desc->Height = std::max(1u, height_ >> level);
  return D3D_OK;
}

HRESULT IDirect3DTexture9::LockRect(uint32_t level, D3DLOCKED_RECT* locked, const R3dRect* rect, uint32_t flags) {
  if (!locked || level != 0) return D3DERR_INVALIDCALL;
  if (rect && (rect->left < 0 || rect->top < 0 || rect->right > static_cast<int>(width_) ||
               rect->bottom > static_cast<int>(height_) || rect->left >= rect->right || rect->top >= rect->bottom))
    return D3DERR_INVALIDCALL;
  if (!lock_.Acquire()) return D3DERR_INVALIDCALL;
  lock_read_only_ = (flags & D3DLOCK_READONLY) != 0;
  const size_t x = rect ? static_cast<size_t>(rect->left) : 0;
  const size_t y = rect ? static_cast<size_t>(rect->top) : 0;
  locked->Pitch = static_cast<int>(width_ * 4);
  locked->pBits = pixels_.data() + y * width_ + x;
  return D3D_OK;
}

HRESULT IDirect3DTexture9::UnlockRect(uint32_t level) {
  if (level != 0) return D3DERR_INVALIDCALL;
  const bool changed = !lock_read_only_;
  if (!lock_.ReleaseIfOwner()) return D3DERR_INVALIDCALL;
  if (changed) dirty_.store(true, std::memory_order_release);
  return D3D_OK;
}

bool IDirect3DTexture9::BindGl(R3dCore& core) {
  const bool current = gl_name_ != 0 && gl_generation_ == core.Generation();
  if (current && !dirty_.load(std::memory_order_acquire)) {
    glBindTexture(GL_TEXTURE_2D, gl_name_);
    return true;
  }
  if (!current) {
    GLuint name = 0;
    glGenTextures(1, &name);
    gl_name_ = name;
    gl_generation_ = core.Generation();
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(levels_) - 1);
    // Four channels either way, so that the words upload as they lie; an X8 texture reads its
    // alpha as 1 whatever the word holds.
    if (format_ == D3DFMT_X8R8G8B8) glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_A, GL_ONE);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), 0, GL_BGRA,
                 GL_UNSIGNED_INT_8_8_8_8_REV, nullptr);
    dirty_.store(true, std::memory_order_relaxed);
  } else {
    glBindTexture(GL_TEXTURE_2D, gl_name_);
  }
  // A texture locked by the rendering thread itself keeps its old contents until unlocked.
  if (lock_.HeldByCaller()) return true;
  std::lock_guard<std::mutex> guard(lock_.Mutex());
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, static_cast<GLsizei>(width_), static_cast<GLsizei>(height_), GL_BGRA,
                  GL_UNSIGNED_INT_8_8_8_8_REV, pixels_.data());
  if (levels_ > 1) glGenerateMipmap(GL_TEXTURE_2D);
  dirty_.store(false, std::memory_order_release);
  return true;
}

// ---- buffers ----------------------------------------------------------------------------------
R3dBuffer::R3dBuffer(std::shared_ptr<R3dCore> core, std::vector<uint8_t>&& bytes)
    : core_(std::move(core)), bytes_(std::move(bytes)) {
  dirty_end_ = static_cast<uint32_t>(bytes_.size());
}

R3dBuffer::~R3dBuffer() { core_->QueueDelete(GlObjectKind::kBuffer, gl_name_, gl_generation_); }

HRESULT R3dBuffer::Lock(uint32_t offset, uint32_t size, void** data, uint32_t flags) {
  if (!data) return D3DERR_INVALIDCALL;
  const uint64_t length = bytes_.size();
  if (offset == 0 && size == 0) size = static_cast<uint32_t>(length);
  if (uint64_t(offset) + size > length) return D3DERR_INVALIDCALL;
  if (!lock_.Acquire()) return D3DERR_INVALIDCALL;
  lock_read_only_ = (flags & D3DLOCK_READONLY) != 0;
  lock_begin_ = offset;
  lock_end_ = offset + size;
  *data = bytes_.data() + offset;
  return D3D_OK;
}

HRESULT R3dBuffer::Unlock() {
  if (!lock_.HeldByCaller()) return D3DERR_INVALIDCALL;
  if (!lock_read_only_ && lock_end_ > lock_begin_) {
    if (dirty_.load(std::memory_order_relaxed) && dirty_end_ > dirty_begin_) {
      dirty_begin_ = std::min(dirty_begin_, lock_begin_);
      dirty_end_ = std::max(dirty_end_, lock_end_);
    } else {
      dirty_begin_ = lock_begin_;
      dirty_end_ = lock_end_;
    }
    dirty_.store(true, std::memory_order_release);
  }
  lock_.ReleaseIfOwner();
  return D3D_OK;
}

uint32_t R3dBuffer::BindGl(R3dCore& core, uint32_t target) {
  const bool current = gl_name_ != 0 && gl_generation_ == core.Generation();
  if (current && !dirty_.load(std::memory_order_acquire)) {
    glBindBuffer(target, gl_name_);
    return gl_name_;
  }
  if (lock_.HeldByCaller()) {
    if (!current) return 0;
    glBindBuffer(target, gl_name_);
    return gl_name_;
  }
  std::lock_guard<std::mutex> guard(lock_.Mutex());
  if (!current) {
    GLuint name = 0;
    glGenBuffers(1, &name);
    gl_name_ = name;
    gl_generation_ = core.Generation();
    glBindBuffer(target, name);
    glBufferData(target, static_cast<GLsizeiptr>(bytes_.size()), bytes_.data(), GL_STATIC_DRAW);
  } else {
    glBindBuffer(target, gl_name_);
    if (dirty_end_ > dirty_begin_)
      glBufferSubData(target, dirty_begin_, dirty_end_ - dirty_begin_, bytes_.data() + dirty_begin_);
  }
  dirty_begin_ = dirty_end_ = 0;
  dirty_.store(false, std::memory_order_release);
  return gl_name_;
}

HRESULT IDirect3DVertexBuffer9::GetDesc(D3DVERTEXBUFFER_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  desc->Pool = pool_;
  desc->Usage = usage_;
  desc->Size = Size();
  desc->FVF = fvf_;
  return D3D_OK;
}

HRESULT IDirect3DIndexBuffer9::GetDesc(D3DINDEXBUFFER_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  desc->Format = format_;
  desc->Pool = pool_;
  desc->Usage = usage_;
  desc->Size = Size();
  return D3D_OK;
}

// ---- surfaces and swap chains -----------------------------------------------------------------
IDirect3DSurface9::IDirect3DSurface9(std::shared_ptr<R3dCore> core, std::shared_ptr<SurfaceStorage> storage)
    : core_(std::move(core)), storage_(std::move(storage)) {}

IDirect3DSurface9::~IDirect3DSurface9() { core_->ReturnSurface(std::move(storage_)); }

HRESULT IDirect3DSurface9::GetDesc(D3DSURFACE_DESC* desc) const {
  if (!desc) return D3DERR_INVALIDCALL;
  desc->Format = storage_->format;
  desc->Pool = D3DPOOL_DEFAULT;
  desc->Width = storage_->width;
  desc->Height = storage_->height;
  return D3D_OK;
}

IDirect3DSwapChain9::IDirect3DSwapChain9(std::shared_ptr<R3dCore> core, const D3DPRESENT_PARAMETERS& params,
                                         IDirect3DSurface9* back)
    : core_(std::move(core)), params_(params), back_(back) {}

IDirect3DSwapChain9::~IDirect3DSwapChain9() {
  if (back_) back_->Release();
}

HRESULT IDirect3DSwapChain9::GetBackBuffer(uint32_t index, D3DBACKBUFFER_TYPE type, IDirect3DSurface9** out) {
  if (!out || index != 0 || type != D3DBACKBUFFER_TYPE_MONO || !back_) return D3DERR_INVALIDCALL;
  back_->AddRef();
  *out = back_;
  return D3D_OK;
}

HRESULT IDirect3DSwapChain9::GetPresentParameters(D3DPRESENT_PARAMETERS* out) const {
  if (!out) return D3DERR_INVALIDCALL;
  *out = params_;
  return D3D_OK;
}

HRESULT IDirect3DSwapChain9::Present(const R3dRect*, const R3dRect*, R3dWindow, const void*, uint32_t) {
  if (core_->Lost() != LostState::kOk) return D3DERR_DEVICELOST;
  GlScope scope(*core_);
  if (!scope.ok()) return D3DERR_DRIVERINTERNALERROR;
  if (!core_->StoreFrame(params_.hDeviceWindow, back_->Storage())) return D3DERR_DRIVERINTERNALERROR;
  return D3D_OK;
}

}  // namespace velmora

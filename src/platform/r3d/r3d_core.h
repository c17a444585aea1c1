// R3dCore: what the 3D device and every resource it made share. Internal to platform/r3d.
//
// - The GL context and its lock. GL is called only inside a scope (Enter/Leave) that holds the
//   lock and has the context current on the calling thread; the outermost Leave releases the
//   context, so any thread may render next. Resources are filled on any thread in memory and
//   uploaded by the rendering thread when it binds them.
// - The generation of GL objects: it changes when the context is made anew (device reset), and a
//   resource whose GL object belongs to an older generation uploads itself again.
// - GL names of released resources, deleted at the next scope (a resource may die on a thread
//   that has no context).
// - Render-target storage: surfaces are made and released every frame, so their renderbuffers
//   are pooled by size and format.
// - The frame each window presented last, and the device-lost state.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/gfx/bitmap.h"
#include "platform/r3d/d3d_types.h"
#include "platform/r3d/egl_context.h"

namespace velmora {

enum class GlObjectKind { kBuffer, kTexture, kRenderbuffer, kFramebuffer, kSampler };

// One GL renderbuffer: the storage of a render-target or depth surface.
struct SurfaceStorage {
  uint32_t name = 0;
  uint64_t generation = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  D3DFORMAT format = D3DFMT_UNKNOWN;
};

// Device-lost states.
enum class LostState { kOk, kLost, kNotReset };

class R3dCore {
 public:
  explicit R3dCore(std::unique_ptr<EglContext> egl);
  // Deletes what is left of the GL objects, then the context.
  ~R3dCore();
  R3dCore(const R3dCore&) = delete;
  R3dCore& operator=(const R3dCore&) = delete;

  // Takes the lock and, at the outermost level, makes the context current; false (lock not
  // held) when the context cannot be made current.
  bool Enter();
  void Leave();
  // The lock, for device state that is not GL (recursive: device calls nest).
  std::recursive_mutex& Mutex() { return mutex_; }
  // Inside a scope.
  uint64_t Generation() const { return generation_; }
  // Makes a new context in place of the old one (inside no scope). False, keeping the old one,
  // when a new one cannot be made.
  bool RecreateContext(std::string* error);
  const std::string& Description() const { return description_; }

  // Any thread: a GL name to delete at the next scope (dropped when its generation is past).
  void QueueDelete(GlObjectKind kind, uint32_t name, uint64_t generation);
  // Inside a scope.
  void DrainDeletes();

  // Render-target storage of a size and format, from the pool when one is free.
  std::shared_ptr<SurfaceStorage> TakeSurface(uint32_t width, uint32_t height, D3DFORMAT format);
  void ReturnSurface(std::shared_ptr<SurfaceStorage> storage);
  // Inside a scope: makes sure the renderbuffer exists in this generation.
  void EnsureSurface(SurfaceStorage& storage);
  // Inside a scope: reads a colour surface into the window's frame. False when the readback fails.
  bool StoreFrame(R3dWindow window, SurfaceStorage& storage);
  bool CopyFrame(R3dWindow window, CBitmap* out) const;
  // Copies the frame into `out`'s own pixels; false (out untouched) when there is none or its
  // size is not out's.
  bool CopyFrameInto(R3dWindow window, CBitmap* out) const;
  void ForgetFrame(R3dWindow window);
  void SetFrameSink(std::function<void(R3dWindow)> sink);

  LostState Lost() const { return lost_.load(std::memory_order_acquire); }
  void SetLost(LostState state) { lost_.store(state, std::memory_order_release); }

  // Limits read from GL when the core was made.
  uint32_t max_texture_size = 2048;
  uint32_t max_renderbuffer_size = 2048;
  uint32_t max_lights = 8;
  float max_point_size = 64.0f;

 private:
  void ReadLimits();
  void EnsureScratchFramebuffer();
  void DeleteNow(GlObjectKind kind, uint32_t name);

  std::recursive_mutex mutex_;
  std::unique_ptr<EglContext> egl_;
  std::string description_;
  int depth_ = 0;
  uint64_t generation_ = 1;
  uint32_t read_fbo_ = 0;  // framebuffer for readbacks and first clears
  uint64_t read_fbo_generation_ = 0;

  std::mutex deletes_mutex_;
  struct PendingDelete {
    GlObjectKind kind;
    uint32_t name;
    uint64_t generation;
  };
  std::vector<PendingDelete> deletes_;

  std::mutex pool_mutex_;
  std::vector<std::shared_ptr<SurfaceStorage>> pool_;

  mutable std::mutex frames_mutex_;
  std::map<R3dWindow, CBitmap> frames_;
  std::function<void(R3dWindow)> frame_sink_;

  std::atomic<LostState> lost_{LostState::kOk};
};

// A GL scope for the lifetime of the object.
class GlScope {
 public:
  explicit GlScope(R3dCore& core) : core_(core), ok_(core.Enter()) {}
  ~GlScope() {
    if (ok_) core_.Leave();
  }
  GlScope(const GlScope&) = delete;
  GlScope& operator=(const GlScope&) = delete;
  bool ok() const { return ok_; }

 private:
  R3dCore& core_;
  bool ok_;
};

}  // namespace velmora

// The GL context scope, deferred deletions, render-target pool and presented frames shared by
// the 3D device and its resources.
#include "platform/r3d/r3d_core.h"

#include <algorithm>
#include <cstring>

#include "platform/r3d/gl_api.h"

namespace velmora {
namespace {

// Free render-target storages kept for reuse; a window resize leaves a few of the old size.
constexpr size_t kMaxPooledSurfaces = 6;

GLenum SurfaceInternalFormat(D3DFORMAT format) {
  switch (format) {
    case D3DFMT_D16:
      return GL_DEPTH_COMPONENT16;
    default:
      // Colour targets are RGBA so that readbacks take the straight copy path; the device keeps
      // the alpha channel at 1 for the X8 format (writes to alpha are masked).
      return GL_RGBA8;
  }
}

}  // namespace

R3dCore::R3dCore(std::unique_ptr<EglContext> egl) : egl_(std::move(egl)) {
  description_ = egl_ ? egl_->Description() : std::string();
  GlScope scope(*this);
  if (scope.ok()) ReadLimits();
}

R3dCore::~R3dCore() {
  if (!egl_) return;
  if (Enter()) {
    DrainDeletes();
    for (auto& s : pool_)
      if (s->name && s->generation == generation_) DeleteNow(GlObjectKind::kRenderbuffer, s->name);
    pool_.clear();
    if (read_fbo_ && read_fbo_generation_ == generation_) DeleteNow(GlObjectKind::kFramebuffer, read_fbo_);
    Leave();
  }
  egl_.reset();
}

void R3dCore::ReadLimits() {
  GLint v = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
  if (v > 0) max_texture_size = static_cast<uint32_t>(v);
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &v);
  if (v > 0) max_renderbuffer_size = static_cast<uint32_t>(v);
  glGetIntegerv(GL_MAX_LIGHTS, &v);
  if (v > 0) max_lights = static_cast<uint32_t>(v);
  GLfloat range[2] = {1, 64};
  glGetFloatv(GL_ALIASED_POINT_SIZE_RANGE, range);
  if (range[1] > 0) max_point_size = range[1];
  while (glGetError() != GL_NO_ERROR) {
  }
}

bool R3dCore::Enter() {
  mutex_.lock();
  if (depth_ == 0) {
    if (!egl_ || !egl_->MakeCurrent()) {
      mutex_.unlock();
      return false;
    }
  }
  ++depth_;
  if (depth_ == 1) DrainDeletes();
  return true;
}

void R3dCore::Leave() {
  if (--depth_ == 0) egl_->Release();
  mutex_.unlock();
}

bool R3dCore::RecreateContext(std::string* error) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (depth_ != 0) {
    if (error) *error = "the context is in use";
    return false;
  }
  std::unique_ptr<EglContext> fresh = EglContext::Create(error);
  if (!fresh) return false;
  // Every GL object of the old context goes with it.
  egl_ = std::move(fresh);
  description_ = egl_->Description();
  ++generation_;
  {
    std::lock_guard<std::mutex> pool_lock(pool_mutex_);
    pool_.clear();
  }
  {
    std::lock_guard<std::mutex> deletes_lock(deletes_mutex_);
    deletes_.clear();
  }
  read_fbo_ = 0;
  GlScope scope(*this);
  if (scope.ok()) ReadLimits();
  return true;
}

void R3dCore::QueueDelete(GlObjectKind kind, uint32_t name, uint64_t generation) {
  if (name == 0) return;
  std::lock_guard<std::mutex> lock(deletes_mutex_);
  deletes_.push_back({kind, name, generation});
}

void R3dCore::DeleteNow(GlObjectKind kind, uint32_t name) {
  GLuint n = name;
  switch (kind) {
    case GlObjectKind::kBuffer:
      glDeleteBuffers(1, &n);
      break;
    case GlObjectKind::kTexture:
      glDeleteTextures(1, &n);
      break;
    case GlObjectKind::kRenderbuffer:
      glDeleteRenderbuffers(1, &n);
      break;
    case GlObjectKind::kFramebuffer:
      glDeleteFramebuffers(1, &n);
      break;
    case GlObjectKind::kSampler:
      glDeleteSamplers(1, &n);
      break;
  }
}

void R3dCore::DrainDeletes() {
  std::vector<PendingDelete> pending;
  {
    std::lock_guard<std::mutex> lock(deletes_mutex_);
    pending.swap(deletes_);
  }
  for (const PendingDelete& d : pending)
    if (d.generation == generation_) DeleteNow(d.kind, d.name);
}

std::shared_ptr<SurfaceStorage> R3dCore::TakeSurface(uint32_t width, uint32_t height, D3DFORMAT format) {
  std::lock_guard<std::mutex> lock(pool_mutex_);
  for (auto it = pool_.begin(); it != pool_.end(); ++it) {
    if ((*it)->width == width && (*it)->height == height && (*it)->format == format) {
      std::shared_ptr<SurfaceStorage> s = *it;
      pool_.erase(it);
      return s;
    }
  }
  auto s = std::make_shared<SurfaceStorage>();
  s->width = width;
  s->height = height;
  s->format = format;
  return s;
}

void R3dCore::ReturnSurface(std::shared_ptr<SurfaceStorage> storage) {
  if (!storage || storage->name == 0) return;
  std::lock_guard<std::mutex> lock(pool_mutex_);
  pool_.push_back(std::move(storage));
  while (pool_.size() > kMaxPooledSurfaces) {
    QueueDelete(GlObjectKind::kRenderbuffer, pool_.front()->name, pool_.front()->generation);
    pool_.erase(pool_.begin());
  }
}

void R3dCore::EnsureSurface(SurfaceStorage& storage) {
  if (storage.name != 0 && storage.generation == generation_) return;
  GLuint name = 0;
  glGenRenderbuffers(1, &name);
  glBindRenderbuffer(GL_RENDERBUFFER, name);
  glRenderbufferStorage(GL_RENDERBUFFER, SurfaceInternalFormat(storage.format), static_cast<GLsizei>(storage.width),
                        static_cast<GLsizei>(storage.height));
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  storage.name = name;
  storage.generation = generation_;
  // New storage starts black and opaque (the device never writes the alpha of its X8 targets) and
  // at the far depth, so that a frame drawn without a clear is the same on every driver.
  EnsureScratchFramebuffer();
  GLint previous_draw = 0;
  glGetIntegerv(GL_DRAW_FRAMEBUFFER_BINDING, &previous_draw);
  GLboolean scissor = glIsEnabled(GL_SCISSOR_TEST);
  GLboolean mask[4];
  glGetBooleanv(GL_COLOR_WRITEMASK, mask);
  GLboolean depth_mask = GL_TRUE;
  glGetBooleanv(GL_DEPTH_WRITEMASK, &depth_mask);
  GLfloat clear_color[4];
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear_color);
  GLfloat clear_depth = 1;
  glGetFloatv(GL_DEPTH_CLEAR_VALUE, &clear_depth);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, read_fbo_);
  glDisable(GL_SCISSOR_TEST);
  const bool depth = storage.format == D3DFMT_D16;
  glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, depth ? GL_DEPTH_ATTACHMENT : GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                            name);
  if (depth) {
    glDepthMask(GL_TRUE);
    glClearDepth(1.0);
    glClear(GL_DEPTH_BUFFER_BIT);
  } else {
    glDrawBuffer(GL_COLOR_ATTACHMENT0);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
  }
  glFramebufferRenderbuffer(GL_DRAW_FRAMEBUFFER, depth ? GL_DEPTH_ATTACHMENT : GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER,
                            0);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, static_cast<GLuint>(previous_draw));
  if (scissor) glEnable(GL_SCISSOR_TEST);
  glColorMask(mask[0], mask[1], mask[2], mask[3]);
  glDepthMask(depth_mask);
  glClearColor(clear_color[0], clear_color[1], clear_color[2], clear_color[3]);
  glClearDepth(clear_depth);
}

void R3dCore::EnsureScratchFramebuffer() {
  if (read_fbo_ != 0 && read_fbo_generation_ == generation_) return;
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  read_fbo_ = fbo;
  read_fbo_generation_ = generation_;
}

bool R3dCore::StoreFrame(R3dWindow window, SurfaceStorage& storage) {
  EnsureSurface(storage);
  EnsureScratchFramebuffer();
  GLint previous_read = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previous_read);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, read_fbo_);
  glFramebufferRenderbuffer(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, storage.name);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  bool ok = glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  if (ok) {
    std::lock_guard<std::mutex> lock(frames_mutex_);
    CBitmap& frame = frames_[window];
    if (frame.Width() != static_cast<int>(storage.width) || frame.Height() != static_cast<int>(storage.height))
      ok = frame.Create(static_cast<int>(storage.width), static_cast<int>(storage.height));
    if (ok) {
      // Rows come bottom-up in GL's terms, which is top-down in the device's (the device renders
      // with y flipped), so they land in the bitmap as they are.
      glPixelStorei(GL_PACK_ALIGNMENT, 4);
      glPixelStorei(GL_PACK_ROW_LENGTH, 0);
      glReadPixels(0, 0, static_cast<GLsizei>(storage.width), static_cast<GLsizei>(storage.height), GL_BGRA,
                   GL_UNSIGNED_INT_8_8_8_8_REV, frame.Pixels());
      ok = glGetError() == GL_NO_ERROR;
    }
    if (!ok) frames_.erase(window);
  }
  glFramebufferRenderbuffer(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, 0);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previous_read));
  if (ok) {
    std::function<void(R3dWindow)> sink;
    {
      std::lock_guard<std::mutex> lock(frames_mutex_);
      sink = frame_sink_;
    }
    if (sink) sink(window);
  }
  return ok;
}

bool R3dCore::CopyFrame(R3dWindow window, CBitmap* out) const {
  std::lock_guard<std::mutex> lock(frames_mutex_);
  auto it = frames_.find(window);
  if (it == frames_.end()) return false;
  *out = it->second.Clone();
  return !out->IsEmpty();
}

bool R3dCore::CopyFrameInto(R3dWindow window, CBitmap* out) const {
  std::lock_guard<std::mutex> lock(frames_mutex_);
  auto it = frames_.find(window);
  if (it == frames_.end() || it->second.IsEmpty() || out->IsEmpty() || out->Width() != it->second.Width() ||
      out->Height() != it->second.Height())
    return false;
  std::memcpy(out->Pixels(), it->second.Pixels(), out->ByteSize());
  return true;
}

void R3dCore::ForgetFrame(R3dWindow window) {
  std::lock_guard<std::mutex> lock(frames_mutex_);
  frames_.erase(window);
}

void R3dCore::SetFrameSink(std::function<void(R3dWindow)> sink) {
  std::lock_guard<std::mutex> lock(frames_mutex_);
  frame_sink_ = std::move(sink);
}

}  // namespace velmora

// EglContext: the one OpenGL context of the 3D device, on EGL. It renders into framebuffer
// objects only, so it needs no window: the surfaceless platform (EGL_MESA_platform_surfaceless)
// comes first, then the device platform (EGL_EXT_platform_device), then the default display
// with a 1 x 1 pbuffer. Desktop OpenGL, compatibility profile.
#pragma once
#include <memory>
#include <string>

namespace velmora {

class EglContext {
 public:
  // A new context, or null with the reason in *error.
  static std::unique_ptr<EglContext> Create(std::string* error);
  ~EglContext();
  EglContext(const EglContext&) = delete;
  EglContext& operator=(const EglContext&) = delete;

  // Binds the context to the calling thread; false when EGL refuses (it is current elsewhere).
  bool MakeCurrent();
  // Unbinds it from the calling thread (pending drawing is flushed).
  void Release();
  // "<platform>: <GL renderer>, <GL version>", for the log.
  const std::string& Description() const { return description_; }

 private:
  EglContext() = default;
  void* display_ = nullptr;
  void* context_ = nullptr;
  void* surface_ = nullptr;  // the pbuffer of the fallback; null when surfaceless
  std::string description_;
};

}  // namespace velmora

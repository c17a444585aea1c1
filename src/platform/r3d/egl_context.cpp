// The 3D device's OpenGL context on EGL, without a window.
#include "platform/r3d/egl_context.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace velmora {
namespace {

// Displays are initialised once and never terminated: EGL hands out one display per platform
// for the whole process (a second context shares it, and eglTerminate would end the first one's
// too), and EGL tidies its displays at exit itself. Keeping the driver loaded to the end also
// lets leak checkers name the driver's own allocations.
bool InitializeDisplay(EGLDisplay display) {
  EGLint major = 0, minor = 0;
  return eglInitialize(display, &major, &minor) == EGL_TRUE;
}

bool HasExtension(const char* list, const char* name) {
  if (!list) return false;
  const std::string all = std::string(" ") + list + " ";
  return all.find(std::string(" ") + name + " ") != std::string::npos;
}

std::string Hex(EGLint v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", static_cast<unsigned>(v));
  return buf;
}

struct Candidate {
  const char* name;
  EGLDisplay display;
  bool needs_pbuffer;
};

}  // namespace

std::unique_ptr<EglContext> EglContext::Create(std::string* error) {
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  auto get_platform_display =
      reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
  std::string reasons;

  std::vector<Candidate> candidates;
  if (get_platform_display && HasExtension(client, "EGL_MESA_platform_surfaceless"))
    candidates.push_back({"surfaceless", get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr),
                          false});
  if (get_platform_display && HasExtension(client, "EGL_EXT_platform_device")) {
    auto query_devices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
    EGLDeviceEXT devices[4];
    EGLint count = 0;
    if (query_devices && query_devices(4, devices, &count) && count > 0)
      candidates.push_back({"device", get_platform_display(EGL_PLATFORM_DEVICE_EXT, devices[0], nullptr), false});
  }
  candidates.push_back({"default display", eglGetDisplay(EGL_DEFAULT_DISPLAY), true});

  for (const Candidate& c : candidates) {
    if (c.display == EGL_NO_DISPLAY) {
      reasons += std::string(c.name) + ": no display; ";
      continue;
    }
    if (!InitializeDisplay(c.display)) {
      reasons += std::string(c.name) + ": eglInitialize " + Hex(eglGetError()) + "; ";
      continue;
    }
    auto fail = [&](const char* what) {
      reasons += std::string(c.name) + ": " + what + " " + Hex(eglGetError()) + "; ";
    };
    if (!eglBindAPI(EGL_OPENGL_API)) {
      fail("eglBindAPI");
      continue;
    }
    const char* display_ext = eglQueryString(c.display, EGL_EXTENSIONS);
    const bool surfaceless = !c.needs_pbuffer && HasExtension(display_ext, "EGL_KHR_surfaceless_context");
    EGLConfig config = nullptr;
    EGLint count = 0;
    const EGLint pbuffer_attribs[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                      EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_NONE};
    const EGLint any_attribs[] = {EGL_SURFACE_TYPE, 0, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    if (!surfaceless || !HasExtension(display_ext, "EGL_KHR_no_config_context")) {
      const EGLint* attribs = surfaceless ? any_attribs : pbuffer_attribs;
      if (!eglChooseConfig(c.display, attribs, &config, 1, &count) || count < 1) {
        fail("no OpenGL config");
        continue;
      }
    }
    // Releasing the context at the end of each scope need not flush: the next scope (or the
    // readback of a frame) flushes anyway.
    std::vector<EGLint> context_attribs = {EGL_CONTEXT_MAJOR_VERSION, 3, EGL_CONTEXT_MINOR_VERSION, 0,
                                           EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                           EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT};
    if (HasExtension(display_ext, "EGL_KHR_context_flush_control")) {
      context_attribs.push_back(EGL_CONTEXT_RELEASE_BEHAVIOR_KHR);
      context_attribs.push_back(EGL_CONTEXT_RELEASE_BEHAVIOR_NONE_KHR);
    }
    context_attribs.push_back(EGL_NONE);
    EGLContext context = eglCreateContext(c.display, config, EGL_NO_CONTEXT, context_attribs.data());
    if (context == EGL_NO_CONTEXT) {
      fail("eglCreateContext");
      continue;
    }
    EGLSurface surface = EGL_NO_SURFACE;
    if (!surfaceless) {
      const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
      surface = eglCreatePbufferSurface(c.display, config, size);
      if (surface == EGL_NO_SURFACE) {
        eglDestroyContext(c.display, context);
        fail("eglCreatePbufferSurface");
        continue;
      }
    }
    std::unique_ptr<EglContext> result(new EglContext);
    result->display_ = c.display;
    result->context_ = context;
    result->surface_ = surface;
    if (!result->MakeCurrent()) {
      reasons += std::string(c.name) + ": eglMakeCurrent " + Hex(eglGetError()) + "; ";
      continue;  // the destructor releases context, surface and display
    }
    const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    result->description_ = std::string(c.name) + ": " + (renderer ? renderer : "?") + ", " + (version ? version : "?");
    result->Release();
    return result;
  }
  if (error) *error = reasons.empty() ? "no EGL display" : reasons;
  return nullptr;
}

EglContext::~EglContext() {
  if (!display_) return;
  EGLDisplay display = static_cast<EGLDisplay>(display_);
  if (eglGetCurrentContext() == static_cast<EGLContext>(context_))
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (surface_) eglDestroySurface(display, static_cast<EGLSurface>(surface_));
  if (context_) eglDestroyContext(display, static_cast<EGLContext>(context_));
}

bool EglContext::MakeCurrent() {
  EGLSurface surface = surface_ ? static_cast<EGLSurface>(surface_) : EGL_NO_SURFACE;
  return eglMakeCurrent(static_cast<EGLDisplay>(display_), surface, surface, static_cast<EGLContext>(context_)) ==
         EGL_TRUE;
}

void EglContext::Release() {
  eglMakeCurrent(static_cast<EGLDisplay>(display_), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
}

}  // namespace velmora

// The GL context a caller had current on its thread before a render, set aside while the effect
// renders in contexts of its own and made current again afterwards. A host may draw with its own
// context (EGL with OpenGL or OpenGL ES, or GLX), on the same thread that asks us for a frame.
#pragma once

#include <epoxy/egl.h>

#include <array>

namespace vbridge {

class CallerContext {
 public:
  // Notes what is current on this thread and releases it, so that the effect's contexts can be
  // made current whatever the caller's was.
  CallerContext();
  // Releases the effect's context and makes the caller's current again, as it was: same context,
  // display, surfaces and bound EGL API. Failures are not reported: there is nobody to tell, and
  // the caller's context is whatever EGL left.
  ~CallerContext();
  CallerContext(const CallerContext&) = delete;
  CallerContext& operator=(const CallerContext&) = delete;

 private:
  // What one EGL client API had current.
  struct EglBinding {
    EGLenum api = EGL_NONE;
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLSurface draw = EGL_NO_SURFACE;
    EGLSurface read = EGL_NO_SURFACE;
    EGLContext context = EGL_NO_CONTEXT;
  };
  // What GLX had current, when the process has GLX loaded; its types kept opaque, so that neither
  // X11 nor GLX is a dependency of ours.
  struct GlxBinding {
    void* display = nullptr;
    unsigned long draw = 0;
    unsigned long read = 0;
    void* context = nullptr;
  };

  EGLenum bound_api_ = EGL_NONE;
  std::array<EglBinding, 2> egl_{};
  GlxBinding glx_;
};

}  // namespace vbridge

#include "bridge/caller_context.h"

#include <dlfcn.h>

#include "cgl.h"

namespace vbridge {

namespace {

// GLX as a process may already have it loaded. Looked up, never loaded: a process without it has
// no GLX context current.
struct Glx {
  using GetContext = void* (*)();
  using GetDisplay = void* (*)();
  using GetDrawable = unsigned long (*)();
  using MakeContextCurrent = int (*)(void*, unsigned long, unsigned long, void*);
  GetContext get_context = nullptr;
  GetDisplay get_display = nullptr;
  GetDrawable get_draw = nullptr;
  GetDrawable get_read = nullptr;
  MakeContextCurrent make_current = nullptr;
};

template <typename F>
F Symbol(void* library, const char* name) {
  return reinterpret_cast<F>(dlsym(library, name));
}

// Whatever GLX the process has loaded; all null when it has none. The libraries are looked up
// each time: a host may load GLX after our first frame.
Glx LoadedGlx() {
  Glx glx;
  for (const char* name : {"libGLX.so.0", "libGL.so.1"}) {
    void* library = dlopen(name, RTLD_NOW | RTLD_NOLOAD);
    if (!library) continue;
    glx.get_context = Symbol<Glx::GetContext>(library, "glXGetCurrentContext");
    glx.get_display = Symbol<Glx::GetDisplay>(library, "glXGetCurrentDisplay");
    glx.get_draw = Symbol<Glx::GetDrawable>(library, "glXGetCurrentDrawable");
    glx.get_read = Symbol<Glx::GetDrawable>(library, "glXGetCurrentReadDrawable");
    glx.make_current = Symbol<Glx::MakeContextCurrent>(library, "glXMakeContextCurrent");
    // The process keeps the library loaded; this lookup's reference is not needed.
    dlclose(library);
    if (glx.get_context && glx.get_display && glx.get_draw && glx.get_read && glx.make_current)
      return glx;
  }
  return {};
}

// Whether EGL is loaded at all: a caller that never used EGL has nothing current there, and
// asking would load it for nothing.
bool EglLoaded() {
  void* library = dlopen("libEGL.so.1", RTLD_NOW | RTLD_NOLOAD);
  if (!library) return false;
  dlclose(library);
  return true;
}

}  // namespace

CallerContext::CallerContext() {
  if (const Glx glx = LoadedGlx(); glx.get_context) {
    glx_.context = glx.get_context();
    if (glx_.context) {
      glx_.display = glx.get_display();
      glx_.draw = glx.get_draw();
      glx_.read = glx.get_read();
      glx.make_current(glx_.display, 0, 0, nullptr);
    }
  }
  if (!EglLoaded()) return;
  bound_api_ = eglQueryAPI();
  const EGLenum apis[] = {EGL_OPENGL_API, EGL_OPENGL_ES_API};
  for (size_t i = 0; i < egl_.size(); ++i) {
    if (!eglBindAPI(apis[i])) continue;
    EglBinding& b = egl_[i];
    b.context = eglGetCurrentContext();
    if (b.context == EGL_NO_CONTEXT) continue;
    b.display = eglGetCurrentDisplay();
    // Some EGLs keep one context for both APIs: the context's own API is the one to bind again.
    EGLint client_type = 0;
    b.api = eglQueryContext(b.display, b.context, EGL_CONTEXT_CLIENT_TYPE, &client_type)
                ? static_cast<EGLenum>(client_type)
                : apis[i];
    b.draw = eglGetCurrentSurface(EGL_DRAW);
    b.read = eglGetCurrentSurface(EGL_READ);
    eglMakeCurrent(b.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
  eglBindAPI(bound_api_);
}

CallerContext::~CallerContext() {
  // Through the context layer, so that it knows its context is no longer current here.
  CGLSetCurrentContext(nullptr);
  for (const EglBinding& b : egl_) {
    if (b.context == EGL_NO_CONTEXT) continue;
    eglBindAPI(b.api);
    eglMakeCurrent(b.display, b.draw, b.read, b.context);
  }
  if (bound_api_ != EGL_NONE) eglBindAPI(bound_api_);
  if (glx_.context) {
    const Glx glx = LoadedGlx();
    if (glx.make_current) glx.make_current(glx_.display, glx_.draw, glx_.read, glx_.context);
  }
}

}  // namespace vbridge

#include "cgl.h"

#include <epoxy/egl.h>

#include <atomic>
#include <cstdio>
#include <iterator>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

struct _CGLPixelFormatObject {
  bool core;
};

struct _CGLContextObject {
  EGLContext egl;
  std::atomic<int> refs;
  // Distinguishes this context from an earlier one that happened to live at the same address.
  uint64_t serial;
};

namespace {

constexpr EGLint kCoreContextAttribs[] = {EGL_CONTEXT_MAJOR_VERSION,
                                          3,
                                          EGL_CONTEXT_MINOR_VERSION,
                                          3,
                                          EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                          EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                          EGL_NONE};
constexpr EGLint kLegacyContextAttribs[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                            EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};

enum class Platform { kNone, kDevice, kSurfaceless };

struct Display {
  EGLDisplay dpy = EGL_NO_DISPLAY;
  EGLConfig config = EGL_NO_CONFIG_KHR;
  Platform platform = Platform::kNone;
  // Why no display could be opened; empty when one was.
  std::string failure;
};

// Set once the display has been opened (successfully or not), so that paths which must not
// open it, such as releasing the current context or thread exit, can tell whether EGL was used.
std::atomic<Display*> g_display{nullptr};

struct Registry {
  std::mutex mutex;
  std::unordered_map<CGLContextObj, uint64_t> live;
  uint64_t next_serial = 1;
};

// Heap-allocated, and freed only when no context is alive (ReleaseProcessState): threads may
// still create or release contexts while the process runs its static destructors.
std::atomic<Registry*> g_registry{nullptr};

Registry& TheRegistry() {
  static Registry* const registry = [] {
    auto* made = new Registry;
    g_registry.store(made, std::memory_order_release);
    return made;
  }();
  return *registry;
}

struct ThreadState {
  CGLContextObj current = nullptr;
  uint64_t current_serial = 0;
  CGLError last_error = kCGLNoError;
  std::string last_text;

  ThreadState() = default;
  ThreadState(const ThreadState&) = delete;
  ThreadState& operator=(const ThreadState&) = delete;

  // A context left current on a thread that ends would stay bound to that dead thread: EGL
  // would then refuse to make it current anywhere else and never free it.
  ~ThreadState() {
    if (current == nullptr) return;
    Display* display = g_display.load(std::memory_order_acquire);
    if (display == nullptr || display->dpy == EGL_NO_DISPLAY) return;
    eglBindAPI(EGL_OPENGL_API);
    eglMakeCurrent(display->dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  }
};

thread_local ThreadState t_state;

// The errors are numbered from kCGLBadAttribute without gaps, so their texts are a table.
constexpr const char* kBadTexts[] = {
    "unknown pixel format attribute",        // kCGLBadAttribute
    "unknown property",                      // kCGLBadProperty
    "invalid pixel format",                  // kCGLBadPixelFormat
    "invalid renderer information",          // kCGLBadRendererInfo
    "invalid context",                       // kCGLBadContext
    "invalid drawable",                      // kCGLBadDrawable
    "no usable display",                     // kCGLBadDisplay
    "context in the wrong state",            // kCGLBadState
    "invalid value",                         // kCGLBadValue
    "contexts or formats do not match",      // kCGLBadMatch
    "invalid enumerant",                     // kCGLBadEnumeration
    "invalid offscreen drawable",            // kCGLBadOffScreen
    "invalid fullscreen drawable",           // kCGLBadFullScreen
    "invalid window",                        // kCGLBadWindow
    "invalid pointer",                       // kCGLBadAddress
    "invalid code module",                   // kCGLBadCodeModule
    "out of memory",                         // kCGLBadAlloc
    "no connection to the graphics system",  // kCGLBadConnection
};
static_assert(std::size(kBadTexts) == kCGLBadConnection - kCGLBadAttribute + 1);

const char* BaseText(CGLError error) {
  if (error == kCGLNoError) return "no error";
  const int slot = static_cast<int>(error) - kCGLBadAttribute;
  if (slot < 0 || slot >= static_cast<int>(std::size(kBadTexts))) return "unknown error";
  return kBadTexts[slot];
}

const char* EglErrorName(EGLint code) {
  switch (code) {
#define VARNEX_EGL_ERROR(name) \
  case name:                   \
    return #name;
    VARNEX_EGL_ERROR(EGL_SUCCESS)
    VARNEX_EGL_ERROR(EGL_NOT_INITIALIZED)
    VARNEX_EGL_ERROR(EGL_BAD_ACCESS)
    VARNEX_EGL_ERROR(EGL_BAD_ALLOC)
    VARNEX_EGL_ERROR(EGL_BAD_ATTRIBUTE)
    VARNEX_EGL_ERROR(EGL_BAD_CONFIG)
    VARNEX_EGL_ERROR(EGL_BAD_CONTEXT)
    VARNEX_EGL_ERROR(EGL_BAD_CURRENT_SURFACE)
    VARNEX_EGL_ERROR(EGL_BAD_DISPLAY)
    VARNEX_EGL_ERROR(EGL_BAD_MATCH)
    VARNEX_EGL_ERROR(EGL_BAD_NATIVE_PIXMAP)
    VARNEX_EGL_ERROR(EGL_BAD_NATIVE_WINDOW)
    VARNEX_EGL_ERROR(EGL_BAD_PARAMETER)
    VARNEX_EGL_ERROR(EGL_BAD_SURFACE)
    VARNEX_EGL_ERROR(EGL_CONTEXT_LOST)
#undef VARNEX_EGL_ERROR
  }
  return "unknown EGL error";
}

struct EglFailure {
  EGLint code;
  std::string text;  // e.g. "EGL_BAD_MATCH (0x3009) from eglCreateContext"
};

// Must be called right after the failing EGL call: the error is per thread and reset by the
// next call.
EglFailure TakeEglFailure(const char* call) {
  const EGLint code = eglGetError();
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%04X", static_cast<unsigned>(code));
  return {code, std::string(EglErrorName(code)) + " (" + hex + ") from " + call};
}

CGLError Fail(CGLError error, const std::string& detail) {
  ThreadState& t = t_state;
  t.last_error = error;
  t.last_text = BaseText(error);
  if (!detail.empty()) t.last_text += ": " + detail;
  return error;
}

CGLError FailFromEgl(const char* call, CGLError fallback) {
  const EglFailure failure = TakeEglFailure(call);
  CGLError error = fallback;
  switch (failure.code) {
    case EGL_NOT_INITIALIZED:
    case EGL_BAD_DISPLAY:
      error = kCGLBadDisplay;
      break;
    case EGL_BAD_ALLOC:
      error = kCGLBadAlloc;
      break;
    case EGL_BAD_MATCH:
      error = kCGLBadMatch;
      break;
    case EGL_BAD_CONFIG:
    case EGL_BAD_ATTRIBUTE:
      error = kCGLBadPixelFormat;
      break;
    case EGL_BAD_CONTEXT:
    case EGL_CONTEXT_LOST:
      error = kCGLBadContext;
      break;
    case EGL_BAD_ACCESS:  // current on another thread
      error = kCGLBadState;
      break;
    default:
      break;
  }
  return Fail(error, failure.text);
}

bool HasExtension(const char* list, const char* name) {
  return list != nullptr && epoxy_extension_in_string(list, name);
}

// Initialises `dpy` and checks that it can make the contexts we hand out. Returns why not, or
// an empty string after filling `out`.
std::string Probe(EGLDisplay dpy, Display* out) {
  EGLint major = 0;
  EGLint minor = 0;
  if (!eglInitialize(dpy, &major, &minor)) return TakeEglFailure("eglInitialize").text;
  // A display we reject is left initialised: termination is not reference counted, and
  // other code in the process may be using the same display.
  const char* extensions = eglQueryString(dpy, EGL_EXTENSIONS);
  if (!HasExtension(extensions, "EGL_KHR_surfaceless_context")) {
    return "display lacks EGL_KHR_surfaceless_context";
  }
  if (major == 1 && minor < 5 && !HasExtension(extensions, "EGL_KHR_create_context")) {
    return "display cannot create core-profile contexts";
  }
  EGLConfig config = EGL_NO_CONFIG_KHR;
  if (!HasExtension(extensions, "EGL_KHR_no_config_context") &&
      !HasExtension(extensions, "EGL_MESA_configless_context")) {
    // We never render to an EGL surface, so any surface type will do.
    const EGLint attribs[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0, EGL_NONE};
    EGLint count = 0;
    if (!eglChooseConfig(dpy, attribs, &config, 1, &count)) {
      return TakeEglFailure("eglChooseConfig").text;
    }
    if (count < 1) return "no config renders desktop OpenGL";
  }
  if (!eglBindAPI(EGL_OPENGL_API)) return TakeEglFailure("eglBindAPI").text;
  // Some devices initialise but cannot create a desktop core context (e.g. a GLES-only
  // driver), so the only reliable test is to make one.
  const EGLContext trial = eglCreateContext(dpy, config, EGL_NO_CONTEXT, kCoreContextAttribs);
  if (trial == EGL_NO_CONTEXT) return TakeEglFailure("eglCreateContext").text;
  eglDestroyContext(dpy, trial);
  out->dpy = dpy;
  out->config = config;
  return {};
}

Display* OpenDisplay() {
  auto* display = new Display;
  // Without libEGL every epoxy EGL entry point aborts the process when first called.
  if (!epoxy_has_egl()) {
    display->failure = "libEGL could not be loaded";
    return display;
  }
  const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (client == nullptr) {
    display->failure = TakeEglFailure("eglQueryString").text + " (no client extensions)";
    return display;
  }
  if (*client == '\0') {
    // The vendor-neutral loader answers even when it found no driver to dispatch to.
    display->failure = "no EGL driver found (EGL reports no client extensions)";
    return display;
  }
  // Epoxy aborts on a call to an extension function it cannot resolve, so every function
  // below is only reached once the extension providing it has been announced.
  if (!HasExtension(client, "EGL_EXT_platform_base")) {
    display->failure = "EGL lacks EGL_EXT_platform_base";
    return display;
  }

  std::vector<EGLDeviceEXT> hardware;
  std::vector<EGLDeviceEXT> software;
  const bool can_enumerate = HasExtension(client, "EGL_EXT_device_enumeration") ||
                             HasExtension(client, "EGL_EXT_device_base");
  const bool can_query =
      HasExtension(client, "EGL_EXT_device_query") || HasExtension(client, "EGL_EXT_device_base");
  EGLint device_count = 0;
  if (HasExtension(client, "EGL_EXT_platform_device") && can_enumerate &&
      eglQueryDevicesEXT(0, nullptr, &device_count) && device_count > 0) {
    std::vector<EGLDeviceEXT> devices(static_cast<size_t>(device_count));
    if (!eglQueryDevicesEXT(device_count, devices.data(), &device_count)) device_count = 0;
    devices.resize(static_cast<size_t>(device_count));
    for (EGLDeviceEXT device : devices) {
      // A device whose extensions cannot be read is tried as hardware: if it is not, the
      // trial context still decides.
      const char* extensions =
          can_query ? eglQueryDeviceStringEXT(device, EGL_EXTENSIONS) : nullptr;
      (HasExtension(extensions, "EGL_MESA_device_software") ? software : hardware)
          .push_back(device);
    }
  }

  std::string reasons;
  auto note = [&reasons](const std::string& what, const std::string& why) {
    if (!reasons.empty()) reasons += "; ";
    reasons += what + ": " + why;
  };
  auto try_device = [&](EGLDeviceEXT device, const std::string& what) {
    const EGLDisplay dpy = eglGetPlatformDisplayEXT(EGL_PLATFORM_DEVICE_EXT, device, nullptr);
    std::string why = dpy == EGL_NO_DISPLAY ? TakeEglFailure("eglGetPlatformDisplayEXT").text
                                            : Probe(dpy, display);
    if (why.empty()) {
      display->platform = Platform::kDevice;
      return true;
    }
    note(what, why);
    return false;
  };

  for (size_t i = 0; i < hardware.size(); ++i) {
    if (try_device(hardware[i], "device " + std::to_string(i))) return display;
  }
  if (HasExtension(client, "EGL_MESA_platform_surfaceless")) {
    const EGLDisplay dpy =
        eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    std::string why = dpy == EGL_NO_DISPLAY ? TakeEglFailure("eglGetPlatformDisplayEXT").text
                                            : Probe(dpy, display);
    if (why.empty()) {
      display->platform = Platform::kSurfaceless;
      return display;
    }
    note("surfaceless platform", why);
  }
  // A software device renders like the surfaceless platform; it is the last resort.
  for (size_t i = 0; i < software.size(); ++i) {
    if (try_device(software[i], "software device " + std::to_string(i))) return display;
  }
  display->failure =
      reasons.empty() ? "EGL offers neither a device nor the surfaceless platform" : reasons;
  return display;
}

Display& TheDisplay() {
  // Never terminated: contexts may outlive every static object, and other threads may still
  // be rendering while the process exits.
  static Display* const display = [] {
    Display* opened = OpenDisplay();
    g_display.store(opened, std::memory_order_release);
    return opened;
  }();
  return *display;
}

// A module holding this layer may be loaded and unloaded many times in one process; the display
// record and the registry would be lost with each copy. They are freed when this code's static
// objects go, at unload or at exit, if no context is alive: a context's owner could still be
// about to release it from another thread. The EGL display itself stays initialised, since
// termination is not reference counted.
__attribute__((destructor)) void ReleaseProcessState() {
  Registry* registry = g_registry.load(std::memory_order_acquire);
  if (registry != nullptr) {
    std::lock_guard lock(registry->mutex);
    if (!registry->live.empty()) return;
  }
  delete g_display.exchange(nullptr, std::memory_order_acq_rel);
  delete g_registry.exchange(nullptr, std::memory_order_acq_rel);
}

CGLError DestroyNow(CGLContextObj ctx) {
  const Display& display = TheDisplay();
  ThreadState& t = t_state;
  CGLError error = kCGLNoError;
  if (t.current == ctx && t.current_serial == ctx->serial) {
    eglBindAPI(EGL_OPENGL_API);
    if (!eglMakeCurrent(display.dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT)) {
      error = FailFromEgl("eglMakeCurrent", kCGLBadContext);
    }
    t.current = nullptr;
  }
  {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.live.erase(ctx);
  }
  // If another thread still has it current, EGL defers the destruction until it is released.
  if (!eglDestroyContext(display.dpy, ctx->egl)) {
    error = FailFromEgl("eglDestroyContext", kCGLBadContext);
  }
  delete ctx;
  return error;
}

}  // namespace

extern "C" {

const char* CGLErrorString(CGLError error) {
  const ThreadState& t = t_state;
  if (error != kCGLNoError && error == t.last_error && !t.last_text.empty()) {
    return t.last_text.c_str();
  }
  return BaseText(error);
}

CGLError CGLChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix,
                              GLint* npix) {
  if (pix != nullptr) *pix = nullptr;
  if (npix != nullptr) *npix = 0;
  if (pix == nullptr || npix == nullptr) return Fail(kCGLBadAddress, "null result pointer");

  bool core = true;
  for (size_t i = 0; attribs != nullptr && attribs[i] != 0; ++i) {
    const int attribute = static_cast<int>(attribs[i]);
    if (attribute != kCGLPFAOpenGLProfile) {
      return Fail(kCGLBadAttribute, "attribute " + std::to_string(attribute));
    }
    const int profile = static_cast<int>(attribs[++i]);
    if (profile == kCGLOGLPVersion_3_2_Core) {
      core = true;
    } else if (profile == kCGLOGLPVersion_Legacy) {
      core = false;
    } else {
      // Also catches a list that ends right after the attribute: we must not read past it.
      return Fail(kCGLBadValue, "OpenGL profile " + std::to_string(profile));
    }
  }

  const Display& display = TheDisplay();
  if (display.dpy == EGL_NO_DISPLAY) return Fail(kCGLBadDisplay, display.failure);
  *pix = new _CGLPixelFormatObject{core};
  *npix = 1;
  return kCGLNoError;
}

CGLError CGLDestroyPixelFormat(CGLPixelFormatObj pix) {
  delete pix;
  return kCGLNoError;
}

CGLError CGLCreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx) {
  if (ctx == nullptr) return Fail(kCGLBadAddress, "null result pointer");
  *ctx = nullptr;
  if (pix == nullptr) return Fail(kCGLBadPixelFormat, "null pixel format");
  const Display& display = TheDisplay();
  if (display.dpy == EGL_NO_DISPLAY) return Fail(kCGLBadDisplay, display.failure);

  // The bound API is per thread and decides what kind of context EGL creates.
  if (!eglBindAPI(EGL_OPENGL_API)) return FailFromEgl("eglBindAPI", kCGLBadDisplay);
  const EGLContext egl =
      eglCreateContext(display.dpy, display.config, share ? share->egl : EGL_NO_CONTEXT,
                       pix->core ? kCoreContextAttribs : kLegacyContextAttribs);
  if (egl == EGL_NO_CONTEXT) return FailFromEgl("eglCreateContext", kCGLBadContext);

  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  auto* created = new _CGLContextObject{egl, 1, registry.next_serial++};
  registry.live.emplace(created, created->serial);
  *ctx = created;
  return kCGLNoError;
}

CGLContextObj CGLRetainContext(CGLContextObj ctx) {
  if (ctx != nullptr) ctx->refs.fetch_add(1, std::memory_order_relaxed);
  return ctx;
}

void CGLReleaseContext(CGLContextObj ctx) {
  if (ctx != nullptr && ctx->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    DestroyNow(ctx);
  }
}

CGLError CGLDestroyContext(CGLContextObj ctx) {
  if (ctx == nullptr) return Fail(kCGLBadContext, "null context");
  if (ctx->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) return DestroyNow(ctx);
  return kCGLNoError;
}

CGLError CGLSetCurrentContext(CGLContextObj ctx) {
  ThreadState& t = t_state;
  if (ctx == nullptr) {
    // Opening the display only to release nothing would be wasted work.
    const Display* display = g_display.load(std::memory_order_acquire);
    if (display != nullptr && display->dpy != EGL_NO_DISPLAY) {
      // Releasing affects only the context of the bound API, which defaults to OpenGL ES.
      eglBindAPI(EGL_OPENGL_API);
      if (!eglMakeCurrent(display->dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT)) {
        return FailFromEgl("eglMakeCurrent", kCGLBadContext);
      }
    }
    t.current = nullptr;
    return kCGLNoError;
  }
  const Display& display = TheDisplay();
  eglBindAPI(EGL_OPENGL_API);
  if (!eglMakeCurrent(display.dpy, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx->egl)) {
    return FailFromEgl("eglMakeCurrent", kCGLBadContext);
  }
  t.current = ctx;
  t.current_serial = ctx->serial;
  return kCGLNoError;
}

CGLContextObj CGLGetCurrentContext(void) {
  const ThreadState& t = t_state;
  if (t.current == nullptr) return nullptr;
  // The last reference may have been given back on another thread while the context was
  // current here; the handle is gone then, even though EGL keeps the context until released.
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  const auto found = registry.live.find(t.current);
  if (found == registry.live.end() || found->second != t.current_serial) return nullptr;
  return t.current;
}

}  // extern "C"

namespace cgl {

int LiveContextCount() {
  Registry& registry = TheRegistry();
  std::lock_guard lock(registry.mutex);
  return static_cast<int>(registry.live.size());
}

const char* PlatformName() {
  switch (TheDisplay().platform) {
    case Platform::kDevice:
      return "device";
    case Platform::kSurfaceless:
      return "surfaceless";
    case Platform::kNone:
      break;
  }
  return "none";
}

}  // namespace cgl

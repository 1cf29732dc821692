// A context API shaped like macOS's CGL, implemented headless on EGL (libepoxy). The effect's GL
// runtime is written against these names. One process-wide EGL display is opened on first use:
// a hardware EGL device when one can make the context, otherwise Mesa's surfaceless platform.
// Contexts are OpenGL core profile 3.3 or later and are made current without a surface.
#pragma once

#include <cstdint>

extern "C" {

typedef struct _CGLContextObject* CGLContextObj;
typedef struct _CGLPixelFormatObject* CGLPixelFormatObj;
typedef int32_t GLint;

// Attribute lists carry values (such as profile versions) next to the attribute names, so the
// type must hold any 32-bit value, not only the names listed here.
typedef enum CGLPixelFormatAttribute : int32_t {
  kCGLPFAOpenGLProfile = 99,
} CGLPixelFormatAttribute;

enum { kCGLOGLPVersion_Legacy = 0x1000, kCGLOGLPVersion_3_2_Core = 0x3200 };

typedef enum CGLError {
  kCGLNoError = 0,
  kCGLBadAttribute = 10000,
  kCGLBadProperty = 10001,
  kCGLBadPixelFormat = 10002,
  kCGLBadRendererInfo = 10003,
  kCGLBadContext = 10004,
  kCGLBadDrawable = 10005,
  kCGLBadDisplay = 10006,
  kCGLBadState = 10007,
  kCGLBadValue = 10008,
  kCGLBadMatch = 10009,
  kCGLBadEnumeration = 10010,
  kCGLBadOffScreen = 10011,
  kCGLBadFullScreen = 10012,
  kCGLBadWindow = 10013,
  kCGLBadAddress = 10014,
  kCGLBadCodeModule = 10015,
  kCGLBadAlloc = 10016,
  kCGLBadConnection = 10017,
} CGLError;

// A readable text for an error; for errors that came from EGL it names what EGL reported. The
// details belong to the last failure on the calling thread; the text stays valid until the next
// failing call on that thread.
const char* CGLErrorString(CGLError error);

// Chooses a pixel format from a zero-terminated attribute list. `npix` receives the number of
// virtual screens (1 on success, 0 on failure). `pix` receives null on failure.
CGLError CGLChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix,
                              GLint* npix);
CGLError CGLDestroyPixelFormat(CGLPixelFormatObj pix);

// Creates a context holding one reference. `share` may be null. `ctx` receives null on failure.
CGLError CGLCreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx);
CGLContextObj CGLRetainContext(CGLContextObj ctx);
// Both give one reference back; the context is destroyed when none is left. A context that is
// still current on some thread is destroyed by EGL once no thread has it current.
void CGLReleaseContext(CGLContextObj ctx);
CGLError CGLDestroyContext(CGLContextObj ctx);

// Null makes no context current on the calling thread.
CGLError CGLSetCurrentContext(CGLContextObj ctx);
CGLContextObj CGLGetCurrentContext(void);

}  // extern "C"

namespace cgl {
// Number of contexts alive in the process (created and not yet destroyed). For tests.
int LiveContextCount();
// A text describing the display in use ("device", "surfaceless" or "none"). For diagnostics.
const char* PlatformName();
}  // namespace cgl

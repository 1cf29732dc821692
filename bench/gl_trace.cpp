#include "bench/gl_trace.h"

#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>

namespace vbench {

namespace {

std::atomic<bool> installed{false};
std::atomic<int64_t> window_start_ns{0};
std::atomic<int64_t> first_ns{-1};
std::atomic<int64_t> last_ns{-1};
std::atomic<int64_t> compiles{0};
std::atomic<int64_t> links{0};
std::atomic<int64_t> contexts{0};
std::atomic<int64_t> textures{0};
std::atomic<int64_t> draws{0};
std::atomic<int> last_w{0}, last_h{0}, max_w{0}, max_h{0};
// The widths of the first allocations since the reset, in order.
constexpr int kKeptWidths = 64;
std::atomic<int> alloc_widths[kKeptWidths];
std::atomic<int> alloc_count{0};
std::atomic<bool> sync_mode{false};
std::atomic<int64_t> bucket_ns[kBucketCount];
std::atomic<int64_t> bucket_cpu_ns[kBucketCount];
std::atomic<int64_t> window_cpu_ns{0};

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// CPU time of the whole process: the driver's worker threads count too.
int64_t ProcessCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Marks the start and end of one traced call, and adds its duration to a bucket. CPU time is
// read only in sync mode, where each call's work is done before it returns.
struct CallSpan {
  explicit CallSpan(int b = -1)
      : bucket(b), start(NowNs()), cpu_start(b >= 0 && sync_mode.load() ? ProcessCpuNs() : 0) {
    int64_t expected = -1;
    first_ns.compare_exchange_strong(expected, start);
  }
  ~CallSpan() {
    const int64_t end = NowNs();
    last_ns.store(end);
    if (bucket < 0) return;
    bucket_ns[bucket].fetch_add(end - start);
    if (sync_mode.load()) bucket_cpu_ns[bucket].fetch_add(ProcessCpuNs() - cpu_start);
  }
  int bucket;
  int64_t start;
  int64_t cpu_start;
};

// The resolved entry points the wrappers forward to.
PFNGLCOMPILESHADERPROC real_compile = nullptr;
PFNGLLINKPROGRAMPROC real_link = nullptr;
PFNGLGETERRORPROC real_get_error = nullptr;
PFNGLGETINTEGERVPROC real_get_integerv = nullptr;
PFNGLGENTEXTURESPROC real_gen_textures = nullptr;
PFNGLDELETETEXTURESPROC real_delete_textures = nullptr;
PFNGLDELETEFRAMEBUFFERSPROC real_delete_framebuffers = nullptr;
PFNGLFINISHPROC real_finish = nullptr;
PFNGLREADPIXELSPROC real_read_pixels = nullptr;
PFNGLTEXIMAGE2DPROC real_tex_image = nullptr;
PFNGLTEXSUBIMAGE2DPROC real_tex_sub_image = nullptr;
PFNGLCLEARPROC real_clear = nullptr;
PFNGLDRAWARRAYSPROC real_draw_arrays = nullptr;
PFNGLDRAWARRAYSINSTANCEDPROC real_draw_instanced = nullptr;
PFNEGLCREATECONTEXTPROC real_create_context = nullptr;
PFNEGLMAKECURRENTPROC real_make_current = nullptr;

void EPOXY_CALLSPEC TracedCompile(GLuint shader) {
  CallSpan span;
  compiles.fetch_add(1);
  real_compile(shader);
}
void EPOXY_CALLSPEC TracedLink(GLuint program) {
  CallSpan span;
  links.fetch_add(1);
  real_link(program);
}
GLenum EPOXY_CALLSPEC TracedGetError() {
  CallSpan span;
  return real_get_error();
}
void EPOXY_CALLSPEC TracedGetIntegerv(GLenum name, GLint* data) {
  CallSpan span;
  real_get_integerv(name, data);
}
void EPOXY_CALLSPEC TracedTexImage(GLenum target, GLint level, GLint internal, GLsizei w, GLsizei h,
                                   GLint border, GLenum format, GLenum type, const void* data) {
  CallSpan span(kAllocate);
  const int n = alloc_count.fetch_add(1);
  if (n < kKeptWidths) alloc_widths[n].store(w);
  last_w.store(w);
  last_h.store(h);
  if (static_cast<int64_t>(w) * h > static_cast<int64_t>(max_w.load()) * max_h.load()) {
    max_w.store(w);
    max_h.store(h);
  }
  real_tex_image(target, level, internal, w, h, border, format, type, data);
}
void EPOXY_CALLSPEC TracedTexSubImage(GLenum target, GLint level, GLint x, GLint y, GLsizei w,
                                      GLsizei h, GLenum format, GLenum type, const void* data) {
  CallSpan span(kUpload);
  real_tex_sub_image(target, level, x, y, w, h, format, type, data);
  if (sync_mode.load()) real_finish();
}
void EPOXY_CALLSPEC TracedClear(GLbitfield mask) {
  CallSpan span(kClear);
  real_clear(mask);
  if (sync_mode.load()) real_finish();
}
void EPOXY_CALLSPEC TracedDrawArrays(GLenum mode, GLint first, GLsizei count) {
  CallSpan span(kDraw);
  draws.fetch_add(1);
  real_draw_arrays(mode, first, count);
  if (sync_mode.load()) real_finish();
}
void EPOXY_CALLSPEC TracedDrawInstanced(GLenum mode, GLint first, GLsizei count,
                                        GLsizei instances) {
  CallSpan span(kDraw);
  draws.fetch_add(1);
  real_draw_instanced(mode, first, count, instances);
  if (sync_mode.load()) real_finish();
}
void EPOXY_CALLSPEC TracedGenTextures(GLsizei n, GLuint* names) {
  CallSpan span;
  textures.fetch_add(n);
  real_gen_textures(n, names);
}
void EPOXY_CALLSPEC TracedDeleteTextures(GLsizei n, const GLuint* names) {
  CallSpan span(kDelete);
  real_delete_textures(n, names);
}
void EPOXY_CALLSPEC TracedDeleteFramebuffers(GLsizei n, const GLuint* names) {
  CallSpan span(kDelete);
  real_delete_framebuffers(n, names);
}
void EPOXY_CALLSPEC TracedFinish() {
  CallSpan span(kFinish);
  real_finish();
}
void EPOXY_CALLSPEC TracedReadPixels(GLint x, GLint y, GLsizei w, GLsizei h, GLenum format,
                                     GLenum type, void* data) {
  CallSpan span(kRead);
  real_read_pixels(x, y, w, h, format, type, data);
}
EGLContext EPOXY_CALLSPEC TracedCreateContext(EGLDisplay dpy, EGLConfig config, EGLContext share,
                                              const EGLint* attribs) {
  CallSpan span;
  contexts.fetch_add(1);
  return real_create_context(dpy, config, share, attribs);
}
EGLBoolean EPOXY_CALLSPEC TracedMakeCurrent(EGLDisplay dpy, EGLSurface draw, EGLSurface read,
                                            EGLContext ctx) {
  CallSpan span;
  return real_make_current(dpy, draw, read, ctx);
}

}  // namespace

bool InstallGLTrace() {
  if (installed.load()) return true;
  if (eglGetCurrentContext() == EGL_NO_CONTEXT) return false;
  // Until an entry point is first called, epoxy's pointer leads to a resolver that overwrites the
  // pointer with the driver's function. These calls change no state (or only set an error that is
  // cleared), so afterwards every pointer below holds the driver's function.
  glCompileShader(0);
  glLinkProgram(0);
  GLint value = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &value);
  glGenTextures(0, nullptr);
  glDeleteTextures(0, nullptr);
  glDeleteFramebuffers(0, nullptr);
  glFinish();
  uint8_t pixel[16] = {};
  glReadPixels(0, 0, 0, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  // Drawing and allocating with nothing bound only raises errors.
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 0, 0, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
  glClear(0);
  glDrawArrays(GL_POINTS, 0, 0);
  glDrawArraysInstanced(GL_POINTS, 0, 0, 0);
  while (glGetError() != GL_NO_ERROR) {
  }
  // The context layer has already created and made current the caller's context.
  real_compile = epoxy_glCompileShader;
  real_link = epoxy_glLinkProgram;
  real_get_error = epoxy_glGetError;
  real_get_integerv = epoxy_glGetIntegerv;
  real_gen_textures = epoxy_glGenTextures;
  real_delete_textures = epoxy_glDeleteTextures;
  real_delete_framebuffers = epoxy_glDeleteFramebuffers;
  real_finish = epoxy_glFinish;
  real_read_pixels = epoxy_glReadPixels;
  real_tex_image = epoxy_glTexImage2D;
  real_tex_sub_image = epoxy_glTexSubImage2D;
  real_clear = epoxy_glClear;
  real_draw_arrays = epoxy_glDrawArrays;
  real_draw_instanced = epoxy_glDrawArraysInstanced;
  real_create_context = epoxy_eglCreateContext;
  real_make_current = epoxy_eglMakeCurrent;

  epoxy_glCompileShader = TracedCompile;
  epoxy_glLinkProgram = TracedLink;
  epoxy_glGetError = TracedGetError;
  epoxy_glGetIntegerv = TracedGetIntegerv;
  epoxy_glGenTextures = TracedGenTextures;
  epoxy_glDeleteTextures = TracedDeleteTextures;
  epoxy_glDeleteFramebuffers = TracedDeleteFramebuffers;
  epoxy_glFinish = TracedFinish;
  epoxy_glReadPixels = TracedReadPixels;
  epoxy_glTexImage2D = TracedTexImage;
  epoxy_glTexSubImage2D = TracedTexSubImage;
  epoxy_glClear = TracedClear;
  epoxy_glDrawArrays = TracedDrawArrays;
  epoxy_glDrawArraysInstanced = TracedDrawInstanced;
  epoxy_eglCreateContext = TracedCreateContext;
  epoxy_eglMakeCurrent = TracedMakeCurrent;
  installed.store(true);
  ResetGLTrace();
  return true;
}

bool GLTraceInstalled() {
  return installed.load();
}

void SetGLTraceSync(bool sync) {
  sync_mode.store(sync);
}

const char* BucketName(int bucket) {
  static const char* const names[kBucketCount] = {"allocate", "clear", "upload", "draw",
                                                  "finish",   "read",  "delete"};
  return bucket >= 0 && bucket < kBucketCount ? names[bucket] : "";
}

void ResetGLTrace() {
  draws.store(0);
  last_w.store(0);
  last_h.store(0);
  max_w.store(0);
  max_h.store(0);
  alloc_count.store(0);
  for (auto& b : bucket_ns) b.store(0);
  for (auto& b : bucket_cpu_ns) b.store(0);
  window_cpu_ns.store(ProcessCpuNs());
  compiles.store(0);
  links.store(0);
  contexts.store(0);
  textures.store(0);
  first_ns.store(-1);
  last_ns.store(-1);
  window_start_ns.store(NowNs());
}

GLTraceCounts ReadGLTrace() {
  GLTraceCounts counts;
  counts.compiles = compiles.load();
  counts.links = links.load();
  counts.contexts = contexts.load();
  counts.textures = textures.load();
  counts.draws = draws.load();
  counts.last_alloc_w = last_w.load();
  counts.last_alloc_h = last_h.load();
  counts.max_alloc_w = max_w.load();
  counts.max_alloc_h = max_h.load();
  const int n = std::min(alloc_count.load(), kKeptWidths);
  for (int i = n - 1; i >= 0; --i) {
    if (alloc_widths[i].load() > counts.last_alloc_w) {
      counts.last_wider_alloc_w = alloc_widths[i].load();
      break;
    }
  }
  for (int b = 0; b < kBucketCount; ++b)
    counts.bucket_ms[b] = static_cast<double>(bucket_ns[b].load()) * 1e-6;
  for (int b = 0; b < kBucketCount; ++b)
    counts.bucket_cpu_ms[b] = static_cast<double>(bucket_cpu_ns[b].load()) * 1e-6;
  counts.cpu_ms = static_cast<double>(ProcessCpuNs() - window_cpu_ns.load()) * 1e-6;
  const int64_t start = window_start_ns.load();
  const int64_t first = first_ns.load();
  if (first >= 0) {
    counts.first_ms = static_cast<double>(first - start) * 1e-6;
    counts.last_ms = static_cast<double>(last_ns.load() - start) * 1e-6;
  }
  return counts;
}

}  // namespace vbench

// Counts and times GL and EGL calls made anywhere in this process, the loaded module included,
// without touching the module: libepoxy dispatches every call through one process-wide function
// pointer per entry point, and the trace puts a counting wrapper in front of a few of them.
//
// What it gives the benchmark:
// - shader compiles, program links and context creations per render, which show whether a
//   render on a thread that has rendered before builds anything;
// - the span from the first to the last traced call of a render, which brackets the effect's GL
//   phase (making its context current, the passes, the read-back, deleting the targets) and
//   leaves out the host-side work around it.
#pragma once

#include <cstdint>

namespace vbench {

// Where the traced time of a window went, in ms. In sync mode every draw and clear waits for its
// own work, so the GPU's time for it lands in its bucket instead of in the read-back's wait.
enum GLBucket { kAllocate, kClear, kUpload, kDraw, kFinish, kRead, kDelete, kBucketCount };
const char* BucketName(int bucket);

struct GLTraceCounts {
  int64_t compiles = 0;  // glCompileShader
  int64_t links = 0;     // glLinkProgram
  int64_t contexts = 0;  // eglCreateContext
  int64_t textures = 0;  // names made by glGenTextures
  int64_t draws = 0;
  int last_alloc_w = 0;  // size of the last texture storage allocated (glTexImage2D)
  int last_alloc_h = 0;
  int max_alloc_w = 0;  // size of the largest one asked for, whether or not it fitted
  // Width of the last allocation wider than the last one (a render's output, made last): the
  // supersampled targets a render kept after any that did not fit; 0 when there were none.
  int last_wider_alloc_w = 0;
  int max_alloc_h = 0;
  double bucket_ms[kBucketCount] = {};
  double bucket_cpu_ms[kBucketCount] = {};  // sync mode only
  double cpu_ms = 0;                        // process CPU time since Reset, at the reading
  double first_ms = -1;  // first traced call since Reset, ms after Reset; -1 when none
  double last_ms = -1;   // end of the last traced call since Reset
  double SpanMs() const { return first_ms < 0 ? 0.0 : last_ms - first_ms; }
};

// Installs the wrappers. Needs a current context: each entry point is resolved by one harmless
// call before its wrapper goes in. Returns false (and installs nothing) when an entry point
// cannot be resolved. Calling it again does nothing.
bool InstallGLTrace();
bool GLTraceInstalled();
// Profiling only: makes every traced draw and clear wait for its work (slows renders down).
void SetGLTraceSync(bool sync);
// Starts a new window of counts and times.
void ResetGLTrace();
GLTraceCounts ReadGLTrace();

}  // namespace vbench

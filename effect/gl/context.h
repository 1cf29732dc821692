// Off-screen GL contexts and the GL record each render thread owns. Contexts come from the
// CGL-shaped layer in cgl/; none is ever shared with another.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "cgl.h"
#include "gl/program_variants.h"
#include "pf_sdk.h"

// The pixel format used when the caller gives none: only a 3.2-or-later core profile. Everything
// is drawn into framebuffer objects, so no colour, depth or acceleration attributes are asked for.
extern const CGLPixelFormatAttribute attributes_default[4];

// The five program names of one context; 0 stands for a program that failed to build.
struct GLPrograms {
  uint32_t swizzleInProgram;
  uint32_t displaceProgram;
  uint32_t blurWProgram;
  uint32_t blurHProgram;
  uint32_t identityProgram;
};

// A context with its programs. The global record (in the effect's global data) also holds the
// driver's identification texts and whether renders may use variants; a per-thread record leaves
// those empty and keeps the variants its renders built.
struct LocalGLStruct {
  CGLContextObj ctx;  // owned by the record
  GLPrograms programs;
  char glVersion[100];
  char glVendor[100];
  char glRenderer[100];
  char glslVersion[100];
  bool variantsAllowed;
  ProgramVariants variants;  // programs owned by the record, built in ctx
};

// Held by a render for its whole GL phase, so GL work of renders never overlaps in the process.
extern std::recursive_mutex globalMutex;

// Ends a thread's or the global record's GL objects: with its context current, deletes the five
// programs and the kept variants, then the context, and clears the context field, so a second
// call finds nothing. The context stays current (a dangling name) until the caller makes another
// current. A null record, or one without a context, needs no GL call.
void DeleteGLRecord(LocalGLStruct* record);

// Ends a thread's record: its GL objects, then the record itself.
struct tls_ctx_deleter {
  void operator()(LocalGLStruct* record) const;
};

// The calling thread's render record; empty until the thread's first render that finds GL, and
// destroyed with the thread.
extern thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;

// A new context sharing objects with `share` (may be null), from `attributes` (null: the default
// list). Failures are printed; the result is then null. End it with DeleteContext only.
CGLContextObj CreateContext(CGLContextObj share, const CGLPixelFormatAttribute* attributes);

// Gives back the extra reference CreateContext took and destroys the context. Null: nothing.
void DeleteContext(CGLContextObj ctx);

// Makes `ctx` current on the calling thread; null makes no context current. Failures are printed.
void SetCurrentContext(CGLContextObj ctx);

CGLContextObj GetCurrentContext();

bool IsContextValid(CGLContextObj ctx);

// Makes the calling thread's context current, first creating the thread's record (context and
// programs) when it has none and the global data holds a context. Without GL the slot stays
// empty, which the caller finds in local_render_data. `out_data` is not used. The context stays
// current afterwards. Callers hold globalMutex.
void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* out_data);

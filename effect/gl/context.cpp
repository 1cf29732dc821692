#include "gl/context.h"

#include <mutex>
#include <ostream>

#include "gl/diagnostics.h"
#include "gl/program.h"

const CGLPixelFormatAttribute attributes_default[4] = {
    kCGLPFAOpenGLProfile, static_cast<CGLPixelFormatAttribute>(kCGLOGLPVersion_3_2_Core),
    static_cast<CGLPixelFormatAttribute>(0), static_cast<CGLPixelFormatAttribute>(0)};

thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;

std::recursive_mutex globalMutex;

CGLContextObj CreateContext(CGLContextObj share, const CGLPixelFormatAttribute* attributes) {
  if (attributes == nullptr) attributes = attributes_default;
  CGLPixelFormatObj pixel_format = nullptr;
  GLint virtual_screens = 0;
  CGLError error = CGLChoosePixelFormat(attributes, &pixel_format, &virtual_screens);
  if (error != kCGLNoError)
    GLDiagnostics() << virtual_screens << " - " << CGLErrorString(error) << std::endl;
  // A failed choice goes on: creation then fails too and reports why.
  CGLContextObj ctx = nullptr;
  error = CGLCreateContext(pixel_format, share, &ctx);
  if (error != kCGLNoError)
    GLDiagnostics() << virtual_screens << " - " << CGLErrorString(error) << std::endl;
  // The context keeps what it needs of the format.
  if (pixel_format != nullptr) CGLDestroyPixelFormat(pixel_format);
  // The extra reference is given back by DeleteContext, so no context made here may be ended
  // with a bare destroy.
  return CGLRetainContext(ctx);
}

void DeleteContext(CGLContextObj ctx) {
  if (ctx == nullptr) return;
  CGLReleaseContext(ctx);
  const CGLError error = CGLDestroyContext(ctx);
  if (error != kCGLNoError)
    GLDiagnostics() << "Destroy CTX Failed-" << CGLErrorString(error) << std::endl;
}

void SetCurrentContext(CGLContextObj ctx) {
  const CGLError error = CGLSetCurrentContext(ctx);
  if (error != kCGLNoError)
    GLDiagnostics() << "Cannot Set CTX - " << CGLErrorString(error) << std::endl;
}

CGLContextObj GetCurrentContext() {
  return CGLGetCurrentContext();
}

bool IsContextValid(CGLContextObj ctx) {
  return ctx != nullptr;
}

void DeleteGLRecord(LocalGLStruct* record) {
  if (record == nullptr || record->ctx == nullptr) return;
  // Programs belong to their context: it must be current while they are deleted.
  SetCurrentContext(record->ctx);
  DeleteGLPrograms(&record->programs);
  DeleteProgramVariants(&record->variants);
  DeleteContext(record->ctx);
  record->ctx = nullptr;
}

void tls_ctx_deleter::operator()(LocalGLStruct* record) const {
  DeleteGLRecord(record);
  delete record;
}

void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* /*out_data*/) {
  static std::mutex tls_mutex;
  // Thread-local objects are destroyed in the reverse order of their first use on the thread.
  // Touching the context layer's per-thread state before local_render_data makes the record's
  // deleter run at thread exit while that state is still alive.
  [[maybe_unused]] thread_local const bool context_layer_first = (CGLGetCurrentContext(), true);

  std::lock_guard<std::mutex> lock(tls_mutex);
  if (local_render_data) {
    SetCurrentContext(local_render_data->ctx);
    return;
  }

  // No global context means global setup found no GL: the render reports the empty slot.
  if (in_data == nullptr || in_data->global_data == nullptr) return;
  const auto* global = static_cast<const LocalGLStruct*>(*in_data->global_data);
  if (global == nullptr || global->ctx == nullptr) return;

  local_render_data.reset(new LocalGLStruct{});
  local_render_data->ctx = CreateContext(nullptr, nullptr);
  if (local_render_data->ctx == nullptr) {
    local_render_data.reset();
    return;
  }
  SetCurrentContext(local_render_data->ctx);
  CreateGLPrograms(&local_render_data->programs);
}

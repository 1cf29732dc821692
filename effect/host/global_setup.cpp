// The process-wide GL record kept in the host's global-data handle. Building it at load proves
// that a GL context can be made on this machine (render threads only make their own contexts
// when it holds one) and captures the driver's identification texts for the control panel.
#include <epoxy/gl.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "gl/context.h"
#include "gl/program.h"
#include "host/handlers.h"
#include "hostkit/suite_handler.h"

namespace {

// Copies the driver's text for `name` into `field`, cut to the field's size less the terminator.
// A text the driver does not give leaves the field empty. Needs a current context.
template <size_t N>
void CopyDriverText(char (&field)[N], GLenum name) {
  const char* text = reinterpret_cast<const char*>(glGetString(name));
  const size_t length = text ? strnlen(text, N - 1) : 0;
  if (length > 0) std::memcpy(field, text, length);
  field[length] = '\0';
}

// A field's text up to its terminator, or the whole field if a damaged record lacks one.
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return {field, strnlen(field, N)};
}

// Renders draw the displacement with programs specialised for their settings unless the
// environment says VARNEX_GL_VARIANTS=0, which keeps every render on the general program, for
// comparing the two. Read once here, so a render never reads the environment.
bool VariantsWanted() {
  const char* setting = std::getenv("VARNEX_GL_VARIANTS");
  return setting == nullptr || std::strcmp(setting, "0") != 0;
}

}  // namespace

// Leaves the thread's previous context current on every path. Without GL the block stays zeroed:
// a null context and four empty texts, and still no error, so the effect loads and shows it.
PF_Err GlobalDataSetup(PF_InData* in_data, PF_OutData* out_data) {
  AEGP_SuiteHandler suites(in_data->pica_basicP);
  const PF_HandleSuite2* handles = suites.HandleSuite2();

  out_data->global_data = handles->host_new_handle(sizeof(LocalGLStruct));
  if (!out_data->global_data) return PF_Err_NONE;
  // Locked for good: the parameter setup and the render threads read the block through the
  // handle directly.
  auto* record = static_cast<LocalGLStruct*>(handles->host_lock_handle(out_data->global_data));
  if (!record) {
    // The block could not be zeroed, so it must not stay behind for tear-down and the render
    // threads to read a context from.
    handles->host_dispose_handle(out_data->global_data);
    out_data->global_data = nullptr;
    return PF_Err_NONE;
  }
  std::memset(record, 0, sizeof(LocalGLStruct));

  CGLContextObj previous = GetCurrentContext();
  CGLContextObj ctx = CreateContext(nullptr, nullptr);
  if (!IsContextValid(ctx)) {
    SetCurrentContext(previous);
    return PF_Err_NONE;
  }
  record->ctx = ctx;
  record->variantsAllowed = VariantsWanted();
  SetCurrentContext(ctx);
  CreateGLPrograms(&record->programs);
  CopyDriverText(record->glVersion, GL_VERSION);
  CopyDriverText(record->glVendor, GL_VENDOR);
  CopyDriverText(record->glRenderer, GL_RENDERER);
  CopyDriverText(record->glslVersion, GL_SHADING_LANGUAGE_VERSION);
  SetCurrentContext(previous);
  return PF_Err_NONE;
}

// Deletes the record's programs and context and leaves no context current. The handle itself
// stays with the host, which frees it when it unloads the effect. The context field is cleared,
// so a second tear-down finds nothing to delete.
PF_Err GlobalSetdown(PF_InData* in_data) {
  AEGP_SuiteHandler suites(in_data->pica_basicP);
  const PF_HandleSuite2* handles = suites.HandleSuite2();
  if (!in_data->global_data) return PF_Err_NONE;
  auto* record = static_cast<LocalGLStruct*>(handles->host_lock_handle(in_data->global_data));
  if (!record || !record->ctx) return PF_Err_NONE;

  DeleteGLRecord(record);
  SetCurrentContext(nullptr);
  return PF_Err_NONE;
}

DriverTexts DriverTextsOf(PF_Handle global_data) {
  const auto* gl = global_data ? static_cast<const LocalGLStruct*>(*global_data) : nullptr;
  if (!gl || gl->glVersion[0] == '\0') return {};
  return {FieldText(gl->glVersion), FieldText(gl->glVendor), FieldText(gl->glRenderer),
          FieldText(gl->glslVersion)};
}

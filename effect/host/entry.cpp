// The plug-in's single entry point: routes each host command to its handler and turns whatever a
// handler throws into a PF_Err, so that nothing but an error code ever crosses into the host.
#include <new>

#include "host/handlers.h"
#include "hostkit/suite_handler.h"
#include "hostkit/version.h"
#include "params/param_handlers.h"
#include "render/smart_render.h"

namespace {

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
  AEGP_SuiteHandler suites(in_data->pica_basicP);
  suites.ANSICallbacksSuite1()->sprintf(
      out_data->return_msg, "%s v%d.%d.%d\n%s%s%s", kProductName, kMajorVersion, kMinorVersion,
      kBugVersion,
      "\nDisplaces pixels based on selected channels\nusing a variety of transformations.\n\n",
      "Made by the Varnex developers.\n", "Rendered with OpenGL 3.3 core shaders.\n");
  return PF_Err_NONE;
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
  // Version and flags go first so the host has them even when the GL set-up below fails.
  out_data->my_version = kEffectVersion;
  out_data->out_flags = kGlobalOutFlags;
  out_data->out_flags2 = kGlobalOutFlags2;
  return GlobalDataSetup(in_data, out_data);
}

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                void* extra) {
  switch (cmd) {
    case PF_Cmd_ABOUT:
      return About(in_data, out_data);
    case PF_Cmd_GLOBAL_SETUP:
      return GlobalSetup(in_data, out_data);
    case PF_Cmd_GLOBAL_SETDOWN:
      return GlobalSetdown(in_data);
    case PF_Cmd_PARAMS_SETUP:
      return ParamsSetup(in_data, out_data, DriverTextsOf(out_data->global_data));
    case PF_Cmd_USER_CHANGED_PARAM:
      return UserChangedParam(in_data, out_data, params,
                              static_cast<const PF_UserChangedParamExtra*>(extra));
    case PF_Cmd_UPDATE_PARAMS_UI:
      return UpdateParamsUI(in_data, out_data, params);
    case PF_Cmd_QUERY_DYNAMIC_FLAGS:
      return QueryDynamicFlags(in_data, out_data);
    case PF_Cmd_SMART_PRE_RENDER:
      return SmartPreRender(in_data, out_data, static_cast<PF_PreRenderExtra*>(extra));
    case PF_Cmd_SMART_RENDER:
      return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
    default:
      // The effect renders only through the smart-render pair; every other command is a no-op.
      return PF_Err_NONE;
  }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data,
                                                                    PF_OutData* out_data,
                                                                    PF_ParamDef* params[],
                                                                    PF_LayerDef* output,
                                                                    void* extra) {
  (void)output;
  if (cmd > PF_Cmd_SMART_RENDER) return PF_Err_NONE;
  try {
    return Dispatch(cmd, in_data, out_data, params, extra);
  } catch (PF_Err thrown) {
    return thrown;
  } catch (const std::bad_alloc&) {
    return PF_Err_OUT_OF_MEMORY;
  } catch (...) {
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
}

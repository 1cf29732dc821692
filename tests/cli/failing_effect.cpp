// A stand-in plug-in for the command's failure paths: it declares as many controls as the real
// one, so the command accepts it, and fails every render with PF_Err_OUT_OF_MEMORY.
#include <cstdio>

#include "pf_sdk.h"

extern "C" __attribute__((visibility("default"))) PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data,
                                                                    PF_OutData* out_data,
                                                                    PF_ParamDef**, PF_LayerDef*,
                                                                    void*) {
  switch (cmd) {
    case PF_Cmd_PARAMS_SETUP:
      for (int i = 1; i < 70; ++i) {
        PF_ParamDef def{};
        def.uu.id = i;
        def.param_type = PF_Param_CHECKBOX;
        std::snprintf(def.name, sizeof def.name, "Check %d", i);
        if (PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) return err;
      }
      out_data->num_params = 70;
      return PF_Err_NONE;
    case PF_Cmd_SMART_RENDER:
      return PF_Err_OUT_OF_MEMORY;
    default:
      return PF_Err_NONE;
  }
}

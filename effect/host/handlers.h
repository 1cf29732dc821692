// The command handlers that EffectMain routes to. Each returns a PF_Err or throws one; only the
// entry catches.
#pragma once

#include "pf_sdk.h"

// Global data: the process-wide GL record in the host's global-data handle.
PF_Err GlobalDataSetup(PF_InData* in_data, PF_OutData* out_data);
PF_Err GlobalSetdown(PF_InData* in_data);

// Controls.
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data);
PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]);
PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                        const PF_UserChangedParamExtra* extra);

// Pre-render negotiation and the dynamic-flags query.
PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);
PF_Err QueryDynamicFlags(PF_InData* in_data, PF_OutData* out_data);

// The render.
PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

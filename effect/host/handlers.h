// The handlers of the entry's own layer: the process-wide GL record and the pre-render
// negotiation. Each returns a PF_Err or throws one; only the entry catches.
#pragma once

#include "params/param_handlers.h"
#include "pf_sdk.h"

// Global data: the process-wide GL record in the host's global-data handle.
PF_Err GlobalDataSetup(PF_InData* in_data, PF_OutData* out_data);
PF_Err GlobalSetdown(PF_InData* in_data);

// The driver texts the record in `global_data` holds; all empty for no handle, or a record whose
// context was never made.
DriverTexts DriverTextsOf(PF_Handle global_data);

// Pre-render negotiation and the dynamic-flags query.
PF_Err SmartPreRender(PF_InData* in_data, PF_OutData* out_data, PF_PreRenderExtra* extra);
PF_Err QueryDynamicFlags(PF_InData* in_data, PF_OutData* out_data);

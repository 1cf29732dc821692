// The render's handler. It returns a PF_Err or throws one; only the entry catches.
#pragma once

#include "pf_sdk.h"

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);

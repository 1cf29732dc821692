// The entry of the effect linked into a test program from its static library, for tests that
// drive the effect in-process (our host's linked-entry constructor, or a wrapper around it).
#pragma once

#include "pf_sdk.h"

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);

// The control commands' handlers. Each returns a PF_Err or throws one; only the entry catches.
#pragma once

#include <string_view>

#include "pf_sdk.h"

// The GPU driver's four identification texts, as global setup captured them; all empty when it
// found no GL.
struct DriverTexts {
  std::string_view version;
  std::string_view vendor;
  std::string_view renderer;
  std::string_view glslVersion;
};

// Declares the control table to the host, the driver texts as the entries of their popups.
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data, const DriverTexts& driver);
PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]);
PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                        const PF_UserChangedParamExtra* extra);

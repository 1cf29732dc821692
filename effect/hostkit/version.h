// The effect's name and version: reported to the host, printed in the About text and shown in the
// product label of the control panel.
#pragma once

#include "pf_sdk.h"

inline constexpr const char* kProductName = "Varnex";
inline constexpr int kMajorVersion = 1;
inline constexpr int kMinorVersion = 6;
inline constexpr int kBugVersion = 1;
inline constexpr int kBuildVersion = 4;

inline constexpr A_u_long kEffectVersion =
    PF_VERSION(kMajorVersion, kMinorVersion, kBugVersion, PF_Stage_DEVELOP, kBuildVersion);

inline constexpr PF_OutFlags kGlobalOutFlags =
    PF_OutFlag_NON_PARAM_VARY | PF_OutFlag_SEND_UPDATE_PARAMS_UI;

inline constexpr PF_OutFlags2 kGlobalOutFlags2 =
    PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS | PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG |
    PF_OutFlag2_SUPPORTS_SMART_RENDER | PF_OutFlag2_FLOAT_COLOR_AWARE |
    PF_OutFlag2_AUTOMATIC_WIDE_TIME_INPUT | PF_OutFlag2_SUPPORTS_THREADED_RENDERING;

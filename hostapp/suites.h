// The host's suite and callback implementations, each group in its own file; each runs through
// the wrapper in callback.h.
#pragma once

#include "hostapp/callback.h"
#include "pf_suites.h"

namespace vhost {

class Host;

// Handle and ANSI suites.
void InstallBasicSuites(Host& host);
// The basic suite, which hands out the registered ones.
SPBasicSuite* BasicSuite();
// checkout_param, checkin_param and add_param.
void InstallParamCallbacks(PF_InteractCallbacks* inter);
// AEGP PF Interface, Effect, Stream, Dynamic Stream, Keyframe and Utility suites.
void InstallAegpSuites(Host& host);
// PF Param Utils suite.
void InstallParamUtilsSuite(Host& host);
// utils->fill: clears (or fills) a world the effect was handed.
PF_Err HostFill(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* rect,
                PF_EffectWorld* world);

}  // namespace vhost

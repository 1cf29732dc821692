// PF_Cmd_UPDATE_PARAMS_UI: hides the controls the user never sees, and shows, greys out and names
// the two scale sliders after "Uniform Scale". Everything is reissued at every update, whatever
// the panel shows now, so the panel follows the current value and nothing is remembered.
#include "hostkit/suite_handler.h"
#include "params/param_handlers.h"
#include "params/param_ids.h"
#include "params/param_name.h"

namespace {

// Every suite the update uses, acquired before any reference is taken, so that a suite the host
// cannot supply fails the command before there is anything to give back.
struct UiSuites {
  const AEGP_PFInterfaceSuite1* pf_interface;
  const AEGP_StreamSuite7* streams;
  const AEGP_DynamicStreamSuite2* dynamic_streams;
  const PF_ParamUtilsSuite3* param_utils;
  const AEGP_EffectSuite2* effects;
};

UiSuites AcquireUiSuites(AEGP_SuiteHandler& suites) {
  return {suites.PFInterfaceSuite1(), suites.StreamSuite7(), suites.DynamicStreamSuite2(),
          suites.ParamUtilsSuite3(), suites.EffectSuite2()};
}

// The panel state a "Uniform Scale" value asks for: on shows one slider, "Scale", for both axes.
PF_ParamDef ScaleYCopy(const PF_ParamDef& current, bool uniform) {
  PF_ParamDef copy = current;
  copy.param_type = PF_Param_FLOAT_SLIDER;
  copy.ui_flags = uniform ? (copy.ui_flags | PF_PUI_DISABLED) : (copy.ui_flags & ~PF_PUI_DISABLED);
  copy.flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
  SetParamName(copy, "Scale Y");
  return copy;
}

PF_ParamDef ScaleXCopy(const PF_ParamDef& current, bool uniform) {
  PF_ParamDef copy = current;
  copy.param_type = PF_Param_FLOAT_SLIDER;
  copy.flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
  SetParamName(copy, uniform ? "Scale" : "Scale X");
  return copy;
}

// Hides (hide non-zero) or shows one control through its stream's dynamic HIDDEN flag, without an
// undo step. A stream the host handed out is given back, also when a call failed; the first
// failure is returned.
PF_Err hideStream(AEGP_SuiteHandler& suites, A_long index, AEGP_EffectRefH* effect,
                  A_Boolean hide) {
  const AEGP_StreamSuite7* streams = suites.StreamSuite7();
  AEGP_StreamRefH stream = nullptr;
  PF_Err err = streams->AEGP_GetNewEffectStreamByIndex(0, *effect, index, &stream);
  if (!err)
    err = suites.DynamicStreamSuite2()->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN,
                                                                  false, hide);
  if (stream) {
    const PF_Err dispose_err = streams->AEGP_DisposeStream(stream);
    if (!err) err = dispose_err;
  }
  return err;
}

}  // namespace

PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[]) {
  // The scale records are read below; a host that handed fewer controls has nothing to update.
  if (!params || in_data->num_params <= PARAM_SCALE_Y || !params[PARAM_UNIFORM_SCALE] ||
      !params[PARAM_SCALE_X] || !params[PARAM_SCALE_Y])
    return PF_Err_BAD_CALLBACK_PARAM;

  AEGP_SuiteHandler suites(in_data->pica_basicP);
  const UiSuites s = AcquireUiSuites(suites);

  AEGP_EffectRefH effect = nullptr;
  PF_Err err = s.pf_interface->AEGP_GetNewEffectForEffect(0, in_data->effect_ref, &effect);

  for (A_long index = PARAM_DEBUG_GROUP; index <= PARAM_DEBUG_GROUP_END && !err; ++index)
    err = hideStream(suites, index, &effect, true);
  if (!err) err = hideStream(suites, PARAM_VIEW, &effect, true);

  if (!err) {
    const bool uniform = params[PARAM_UNIFORM_SCALE]->u.bd.value == 1;
    const PF_ParamDef scale_y = ScaleYCopy(*params[PARAM_SCALE_Y], uniform);
    const PF_ParamDef scale_x = ScaleXCopy(*params[PARAM_SCALE_X], uniform);
    err = s.param_utils->PF_UpdateParamUI(in_data->effect_ref, PARAM_SCALE_Y, &scale_y);
    if (!err) err = s.param_utils->PF_UpdateParamUI(in_data->effect_ref, PARAM_SCALE_X, &scale_x);
    if (!err) err = hideStream(suites, PARAM_SCALE_Y, &effect, uniform);
  }

  if (effect) {
    const PF_Err dispose_err = s.effects->AEGP_DisposeEffect(effect);
    if (!err) err = dispose_err;
  }
  return err;
}

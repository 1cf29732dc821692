// PF_Cmd_USER_CHANGED_PARAM: the buttons' actions. A reset button writes its group's defaults as
// one undo step; a link button opens a page of the maker's site in the user's browser. Changes of
// any other control have no action here.
#include <cstdlib>
#include <span>

#include "hostkit/suite_handler.h"
#include "params/param_handlers.h"
#include "params/param_ids.h"
#include "params/param_table.h"

namespace {

struct ResetWrite {
  ParamIndex index;
  double value;  // in panel units, as AEGP_SetStreamValue takes them
};

struct ResetButton {
  ParamIndex button;
  const char* undo_name;
  std::span<const ResetWrite> writes;  // in the order written
};

// A control written back to its default as the control table declares it.
constexpr ResetWrite Default(ParamIndex index) {
  return {index, ControlRowOf(index).dephault};
}

// "Map Interpretation" goes back to "Standard" even on an instance that started "Legacy".
constexpr ResetWrite kAdjustmentWrites[] = {
    Default(PARAM_INVERT_MAP),          Default(PARAM_MAP_GAMMA),
    Default(PARAM_MAP_SOFTNESS),        Default(PARAM_MAP_MIX_INPUT),
    Default(PARAM_DISPLACEMENT_OFFSET), Default(PARAM_DISPLACEMENT_EASING),
    Default(PARAM_MAP_INTERPRETATION),
};
// "Scale Y" is written even while "Uniform Scale" hides it, so turning that off later shows 100.
constexpr ResetWrite kTransformWrites[] = {
    Default(PARAM_TRANSLATE_X),
    Default(PARAM_TRANSLATE_Y),
    Default(PARAM_ROTATE),
    Default(PARAM_UNIFORM_SCALE),
    Default(PARAM_CLAMP_NEGATIVE_SCALE),
    Default(PARAM_SCALE_X),
    Default(PARAM_SCALE_Y),
    Default(PARAM_ANCHOR_X),
    Default(PARAM_ANCHOR_Y),
};
constexpr ResetWrite kIterationWrites[] = {Default(PARAM_ITERATIONS),
                                           Default(PARAM_SHUTTER_DURATION)};
constexpr ResetWrite kMultiplierWrites[] = {Default(PARAM_CA_RED), Default(PARAM_CA_GREEN),
                                            Default(PARAM_CA_BLUE)};

constexpr ResetButton kResetButtons[] = {
    {PARAM_RESET_ADJUSTMENTS, "Reset Adjustments Controls", kAdjustmentWrites},
    {PARAM_RESET_TRANSFORMS, "Reset Transform Controls", kTransformWrites},
    {PARAM_RESET_ITERATIONS, "Reset Iteration Controls", kIterationWrites},
    {PARAM_RESET_MULTIPLIERS, "Reset Chromatic Aberration Controls", kMultiplierWrites},
};

// The page commands are whole constants: nothing from the host or the user reaches the shell.
#ifdef __APPLE__
#define VARNEX_OPEN_PAGE "open "
#else
#define VARNEX_OPEN_PAGE "xdg-open "
#endif
#define VARNEX_SITE "https://varnex.example"

struct LinkButton {
  ParamIndex button;
  const char* command;
};

constexpr LinkButton kLinkButtons[] = {
    {PARAM_PRODUCT_PAGE, VARNEX_OPEN_PAGE VARNEX_SITE "/varnex"},
    {PARAM_FREE_PLUGINS, VARNEX_OPEN_PAGE VARNEX_SITE "/free"},
    {PARAM_GET_SUPPORT, VARNEX_OPEN_PAGE VARNEX_SITE "/varnex-support"},
};

#undef VARNEX_SITE
#undef VARNEX_OPEN_PAGE

const ResetButton* FindReset(PF_ParamIndex index) {
  for (const ResetButton& b : kResetButtons)
    if (b.button == index) return &b;
  return nullptr;
}

const LinkButton* FindLink(PF_ParamIndex index) {
  for (const LinkButton& b : kLinkButtons)
    if (b.button == index) return &b;
  return nullptr;
}

// Writes one value through a stream of its own. A stream the host handed out is given back, also
// when the write failed.
PF_Err WriteValue(const AEGP_StreamSuite9* streams, AEGP_EffectRefH effect, const ResetWrite& w) {
  AEGP_StreamRefH stream = nullptr;
  PF_Err err = streams->AEGP_GetNewEffectStreamByIndex(0, effect, w.index, &stream);
  if (!err) {
    AEGP_StreamValue2 value{};
    value.val.one_d = w.value;
    err = streams->AEGP_SetStreamValue(0, stream, &value);
  }
  if (stream) {
    const PF_Err dispose_err = streams->AEGP_DisposeStream(stream);
    if (!err) err = dispose_err;
  }
  return err;
}

// Writes the button's controls as one undo step. The first failure skips the remaining writes,
// but the group is still closed: left open, it would swallow the user's next edits into a reset
// that never completed.
PF_Err Reset(const ResetButton& reset, const AEGP_UtilitySuite7* utility,
             const AEGP_StreamSuite9* streams, AEGP_EffectRefH effect) {
  PF_Err err = utility->AEGP_StartUndoGroup(reset.undo_name);
  if (err) return err;
  for (const ResetWrite& w : reset.writes) {
    err = WriteValue(streams, effect, w);
    if (err) break;
  }
  const PF_Err end_err = utility->AEGP_EndUndoGroup();
  return err ? err : end_err;
}

}  // namespace

PF_Err UserChangedParam(PF_InData* in_data, PF_OutData*, PF_ParamDef*[],
                        const PF_UserChangedParamExtra* extra) {
  const ResetButton* reset = extra ? FindReset(extra->param_index) : nullptr;
  const LinkButton* link = extra ? FindLink(extra->param_index) : nullptr;

  // Suites first: a missing one then fails the command before any reference is taken.
  AEGP_SuiteHandler suites(in_data->pica_basicP);
  const AEGP_PFInterfaceSuite1* pf_interface = suites.PFInterfaceSuite1();
  const AEGP_EffectSuite3* effects = suites.EffectSuite3();
  const AEGP_UtilitySuite7* utility = reset ? suites.UtilitySuite7() : nullptr;
  const AEGP_StreamSuite9* streams = reset ? suites.StreamSuite9() : nullptr;

  AEGP_EffectRefH effect = nullptr;
  PF_Err err = pf_interface->AEGP_GetNewEffectForEffect(0, in_data->effect_ref, &effect);

  if (reset && !err) err = Reset(*reset, utility, streams, effect);

  // The page opens whether or not the host gave an effect reference; what the browser does with
  // it is not the effect's concern.
  if (link) {
    const int status = std::system(link->command);
    (void)status;
  }

  if (effect) {
    const PF_Err dispose_err = effects->AEGP_DisposeEffect(effect);
    if (!err) err = dispose_err;
  }
  return err;
}

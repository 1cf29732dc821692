// The render: checks the layers out, snapshots the controls, takes the transforms at the two
// shutter times, and then, under the process-wide GL lock and on the thread's own context, runs
// the pass chain into float framebuffers and reads the result back into the host's output.
#include "render/smart_render.h"

#include <cstring>
#include <mutex>

#include "gl/context.h"
#include "hostkit/checkout_ids.h"
#include "hostkit/suite_handler.h"
#include "params/messages.h"
#include "params/param_ids.h"
#include "render/my_params.h"
#include "render/passes.h"
#include "render/snapshot.h"

namespace {

constexpr int kFirstSnapshotIndex = PARAM_CHANNEL;

// The seven controls read at both shutter times, in snapshot order.
constexpr int kTransformControls[7] = {PARAM_TRANSLATE_X, PARAM_TRANSLATE_Y, PARAM_ROTATE,
                                       PARAM_SCALE_X,     PARAM_SCALE_Y,     PARAM_ANCHOR_X,
                                       PARAM_ANCHOR_Y};
// The five whose keyframes decide whether they get a trail, in query order.
constexpr int kAnimatedControls[5] = {PARAM_TRANSLATE_X, PARAM_TRANSLATE_Y, PARAM_ROTATE,
                                      PARAM_SCALE_X, PARAM_SCALE_Y};

// Slider values are percent of the frame; rotation arrives as 16.16 degrees.
TransformSet TransformFrom(const PF_ParamDef* rec) {
  TransformSet t;
  t.translateX = rec[0].u.fs_d.value * 0.01;
  t.translateY = rec[1].u.fs_d.value * 0.01;
  t.rot = static_cast<float>(rec[2].u.ad.value / 65536.0);
  t.scaleX = rec[3].u.fs_d.value * 0.01;
  t.scaleY = rec[4].u.fs_d.value * 0.01;
  t.anchorX = rec[5].u.fs_d.value * 0.01;
  t.anchorY = rec[6].u.fs_d.value * 0.01;
  return t;
}

// A control that is not animated still gives the iterations a trail: its later value is pulled
// toward "no transform" by the factor f, so the samples step from the full value toward it.
void ApplyTrail(const A_long* counts, float f, bool uniform_scale, myParams* p) {
  if (counts[0] <= 1 && p->prev.translateX == p->next.translateX)
    p->next.translateX = p->next.translateX * static_cast<double>(f);
  if (counts[1] <= 1 && p->prev.translateY == p->next.translateY)
    p->next.translateY = p->next.translateY * static_cast<double>(f);
  if (counts[2] <= 1 && p->prev.rot == p->next.rot) p->next.rot = p->next.rot * f;
  if (counts[3] <= 1 && p->prev.scaleX == p->next.scaleX)
    p->next.scaleX = 1.0f - (1.0f - static_cast<float>(p->next.scaleX)) * f;
  if (counts[4] <= 1 && p->prev.scaleY == p->next.scaleY)
    p->next.scaleY = 1.0f - (1.0f - static_cast<float>(p->next.scaleY)) * f;
  if (uniform_scale) {
    p->prev.scaleY = p->prev.scaleX;
    p->next.scaleY = p->next.scaleX;
  }
}

// Steps 6 and 7: the transforms at the two shutter times and the animation query. Returns the
// first host code; every reference obtained is released on every path.
PF_Err SnapshotTransforms(PF_InData* in_data, float s, bool uniform_scale, myParams* p) {
  A_long t_prev = in_data->current_time;
  A_long t_next = in_data->current_time;
  if (p->iterations >= 2) {
    const float d = static_cast<float>(in_data->time_step) * s;
    t_prev = static_cast<A_long>(static_cast<float>(in_data->current_time) - d);
    t_next = static_cast<A_long>(d + static_cast<float>(in_data->current_time));
  }

  PF_Err err = PF_Err_NONE;
  PF_ParamDef prev_rec[7];
  PF_ParamDef next_rec[7];
  std::memset(prev_rec, 0, sizeof prev_rec);
  std::memset(next_rec, 0, sizeof next_rec);
  for (int i = 0; i < 7 && !err; ++i)
    err = in_data->inter.checkout_param(in_data->effect_ref, kTransformControls[i], t_prev,
                                        in_data->time_step, in_data->time_scale, &prev_rec[i]);
  for (int i = 0; i < 7 && !err; ++i)
    err = in_data->inter.checkout_param(in_data->effect_ref, kTransformControls[i], t_next,
                                        in_data->time_step, in_data->time_scale, &next_rec[i]);
  for (int i = 0; i < 7; ++i) {
    PF_Err e1 = in_data->inter.checkin_param(in_data->effect_ref, &prev_rec[i]);
    PF_Err e2 = in_data->inter.checkin_param(in_data->effect_ref, &next_rec[i]);
    if (!err) err = e1 ? e1 : e2;
  }
  p->prev = TransformFrom(prev_rec);
  p->next = TransformFrom(next_rec);

  A_long counts[5] = {0, 0, 0, 0, 0};
  AEGP_SuiteHandler suites(in_data->pica_basicP);
  AEGP_EffectRefH effect = nullptr;
  AEGP_StreamRefH streams[5] = {nullptr, nullptr, nullptr, nullptr, nullptr};
  if (!err) {
    // Every suite the query and its release need is acquired before the first reference is
    // obtained, so a refused suite cannot strand a reference with no way to dispose of it.
    const AEGP_PFInterfaceSuite1* pf_interface = suites.PFInterfaceSuite1();
    const AEGP_StreamSuite9* stream9 = suites.StreamSuite9();
    const AEGP_KeyframeSuite4* keyframes = suites.KeyframeSuite4();
    const AEGP_StreamSuite7* stream7 = suites.StreamSuite7();
    const AEGP_EffectSuite2* effect2 = suites.EffectSuite2();

    err = pf_interface->AEGP_GetNewEffectForEffect(0, in_data->effect_ref, &effect);
    for (int i = 0; i < 5 && !err; ++i)
      err = stream9->AEGP_GetNewEffectStreamByIndex(0, effect, kAnimatedControls[i], &streams[i]);
    for (int i = 0; i < 5 && !err; ++i)
      err = keyframes->AEGP_GetStreamNumKFs(streams[i], &counts[i]);

    ApplyTrail(counts, 1.0f - s, uniform_scale, p);

    for (AEGP_StreamRefH stream : streams) {
      if (!stream) continue;
      PF_Err e = stream7->AEGP_DisposeStream(stream);
      if (!err) err = e;
    }
    if (effect) {
      PF_Err e = effect2->AEGP_DisposeEffect(effect);
      if (!err) err = e;
    }
  }
  return err;
}

// Global setup decided it once, in the global record; a host without global data gets no variants.
bool VariantsAllowed(const PF_InData* in_data) {
  if (in_data->global_data == nullptr) return false;
  const auto* global = static_cast<const LocalGLStruct*>(*in_data->global_data);
  return global != nullptr && global->variantsAllowed;
}

}  // namespace

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
  myParams params;
  std::memset(&params, 0, sizeof params);
  params.bpc = extra->input->bitdepth;

  // Buffers.
  PF_Err err =
      extra->cb->checkout_layer_pixels(in_data->effect_ref, kInputCheckoutId, &params.inputWorld);
  if (!err)
    err = extra->cb->checkout_layer_pixels(in_data->effect_ref, kMapCheckoutId, &params.mapWorld);
  if (!err) err = extra->cb->checkout_output(in_data->effect_ref, &params.outputWorld);
  if (!params.outputWorld) return err;
  PF_Err fill_err = in_data->utils->fill(in_data->effect_ref, nullptr, nullptr, params.outputWorld);
  if (!err) err = fill_err;
  if (!params.inputWorld) return err;
  if (err) {
    SendMessageAppendErr("error on buffer checkout", out_data, err, 0);
    return err;
  }
  // An empty layer has no pixels to displace; the cleared output is the whole answer.
  if (!HasPixels(params.inputWorld)) return PF_Err_NONE;

  // Control snapshot at the current time.
  PF_ParamDef snapshot[PARAM_NUM_PARAMS];
  std::memset(snapshot, 0, sizeof snapshot);
  for (int i = kFirstSnapshotIndex; i < PARAM_NUM_PARAMS; ++i) {
    PF_Err checkout =
        in_data->inter.checkout_param(in_data->effect_ref, i, in_data->current_time,
                                      in_data->time_step, in_data->time_scale, &snapshot[i]);
    PF_Err checkin = in_data->inter.checkin_param(in_data->effect_ref, &snapshot[i]);
    PF_Err code = checkout ? checkout : checkin;
    if (code) {
      SendMessageAppendErr("error on param checkout", out_data, code, checkin);
      SendMessageAppendErr("error on param initialisation", out_data, code, 0);
      return code;
    }
  }
  FillFromSnapshot(snapshot, in_data, &params);

  // Shutter: s is the half-width of the shutter as a fraction of one frame step.
  const float s = static_cast<float>(snapshot[PARAM_SHUTTER_DURATION].u.fs_d.value * 0.005);
  const bool uniform_scale = snapshot[PARAM_UNIFORM_SCALE].u.bd.value == 1;
  err = SnapshotTransforms(in_data, s, uniform_scale, &params);
  if (err) {
    SendMessageAppendErr("error on param initialisation", out_data, err, 0);
    return err;
  }

  // GL phase: one render at a time in the process, each on its own thread's context.
  std::lock_guard<std::recursive_mutex> lock(globalMutex);
  InitThreadLocalRenderData(in_data, out_data);
  if (!local_render_data) {
    SendMessageAppendErr("error on local_render_data.get()", out_data, 0, 0);
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
  }
  return RunPassChain(params, local_render_data->programs,
                      VariantsAllowed(in_data) ? &local_render_data->variants : nullptr, out_data);
}

// Tells the host, before a render, which layers the render needs and which area it produces, and
// whether the output varies over time without a control changing.
#include <cstring>

#include "host/handlers.h"
#include "hostkit/checkout_ids.h"
#include "hostkit/rects.h"
#include "params/param_ids.h"

PF_Err SmartPreRender(PF_InData* in_data, PF_OutData*, PF_PreRenderExtra* extra) {
  // The request is passed on exactly as the host gave it: the effect needs no border.
  PF_RenderRequest req = extra->input->output_request;
  PF_CheckoutResult input_result{};
  PF_CheckoutResult map_result{};

  PF_Err err = extra->cb->checkout_layer(in_data->effect_ref, PARAM_INPUT, kInputCheckoutId, &req,
                                         in_data->current_time, in_data->time_step,
                                         in_data->time_scale, &input_result);
  if (err) return err;
  // Asked for whether or not a map layer is chosen; the render copes with no pixels.
  err = extra->cb->checkout_layer(in_data->effect_ref, PARAM_MAP_LAYER, kMapCheckoutId, &req,
                                  in_data->current_time, in_data->time_step, in_data->time_scale,
                                  &map_result);
  if (err) return err;

  // The output follows the input layer alone; the map only displaces what is there.
  UnionLRect(&input_result.result_rect, &extra->output->result_rect);
  UnionLRect(&input_result.max_result_rect, &extra->output->max_result_rect);
  return PF_Err_NONE;
}

PF_Err QueryDynamicFlags(PF_InData* in_data, PF_OutData* out_data) {
  // With two or more iterations the render reads the transforms at neighbouring times, so the
  // output may change even where no control does. Look two time steps either side.
  const A_long t = in_data->current_time;
  const A_long d = in_data->time_step;
  const A_long times[5] = {t - 2 * d, t - d, t, t + d, t + 2 * d};
  PF_Err err = PF_Err_NONE;
  bool varies = false;
  PF_ParamDef iterations;
  for (A_long when : times) {
    std::memset(&iterations, 0, sizeof iterations);
    if (!err) {
      err = in_data->inter.checkout_param(in_data->effect_ref, PARAM_ITERATIONS, when, d,
                                          in_data->time_scale, &iterations);
      if (!err && iterations.u.sd.value >= 2) varies = true;
    }
    PF_Err checkin = in_data->inter.checkin_param(in_data->effect_ref, &iterations);
    if (!err) err = checkin;
  }
  if (!err) {
    if (varies)
      out_data->out_flags |= PF_OutFlag_NON_PARAM_VARY;
    else
      out_data->out_flags &= ~PF_OutFlag_NON_PARAM_VARY;
  }
  return err;
}

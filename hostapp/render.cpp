// Layers and rendering: the pre-render and smart-render callbacks, the output world, and the fill
// utility. The host hands layers out at the command's downsample factor, as a host's draft mode
// does; under a probe, with padded rows.
#include <algorithm>
#include <cstring>
#include <memory>

#include "effect/hostkit/checkout_ids.h"
#include "hostapp/draft_layers.h"
#include "hostapp/host.h"
#include "hostapp/probe.h"
#include "hostapp/suites.h"

namespace vhost {

namespace {

bool FullResolution(const Timing& t) {
  return t.downsample_x.num == static_cast<A_long>(t.downsample_x.den) &&
         t.downsample_y.num == static_cast<A_long>(t.downsample_y.den);
}

// The picture of a layer parameter at a time: index 0 is the layer the effect is applied to,
// index 1 the "Map Layer". Null: no layer. A layer over time hands its picture to `held`.
const Image* LayerAt(const RenderJob& job, PF_ParamIndex index, A_long time, A_u_long time_scale,
                     std::shared_ptr<const Image>* held) {
  const LayerOverTime& over_time = index == 0 ? job.input_at : job.map_at;
  if (!over_time) return index == 0 ? job.input : job.map;
  *held = over_time(time, time_scale);
  return held->get();
}

PF_LRect Intersection(const PF_LRect& a, const PF_LRect& b) {
  PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
             std::min(a.bottom, b.bottom)};
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

}  // namespace

// One checkout the pre-render made, and what the render's checkout of the same id is served:
// the layer at the time asked, at the command's resolution, within the rectangle asked.
struct ServedLayer {
  LayerCheckout asked;
  const Image* layer = nullptr;       // null: the parameter names no layer
  std::shared_ptr<const Image> held;  // the picture of a layer over time
  // What the host made of the layer for this checkout: the layer at the command's resolution,
  // when not full, or copied into padded rows under a probe.
  std::shared_ptr<const Image> made;
  PF_LRect rect{};               // the part served, in the input frame's coordinates
  int frame_x = 0, frame_y = 0;  // where that frame's origin lies in the layer's own pixels
};

// Per-render state shared by the two commands of one job.
struct RenderState {
  const RenderJob* job = nullptr;
  DraftLayers* drafts = nullptr;  // the host's layers at draft resolutions
  bool watched = false;           // a probe was installed when the render began
  // The frame the rectangles are given in: the input layer's origin at the current time.
  int frame_origin_x = 0, frame_origin_y = 0;
  std::vector<std::unique_ptr<ServedLayer>> checkouts;  // in the pre-render's order
  Image* output = nullptr;
  std::vector<std::unique_ptr<PF_LayerDef>> worlds;  // layer views handed out
};

namespace {

PF_LayerDef* HandOut(RenderState& render, PF_LayerDef view) {
  auto def = std::make_unique<PF_LayerDef>(view);
  PF_LayerDef* raw = def.get();
  render.worlds.push_back(std::move(def));
  return raw;
}

ServedLayer* FindCheckout(RenderState& render, A_long checkout_id) {
  for (auto& served : render.checkouts)
    if (served->asked.checkout_id == checkout_id) return served.get();
  return nullptr;
}

// Resolves what a checkout asked for into the layer and the part of it that will be served.
void Serve(const RenderState& render, ServedLayer& served) {
  const RenderJob& job = *render.job;
  served.layer =
      LayerAt(job, served.asked.index, served.asked.time, served.asked.time_scale, &served.held);
  if (!served.layer) return;
  if (!FullResolution(job.timing)) {
    const PF_RationalScale& x = job.timing.downsample_x;
    const PF_RationalScale& y = job.timing.downsample_y;
    // A picture handed over by reference can be kept; one lent by address can change after.
    served.made = served.held ? render.drafts->Get(served.held, x, y)
                              : std::make_shared<const Image>(Downsample(*served.layer, x, y));
    served.layer = served.made.get();
  }
  // Under a probe the effect meets padded rows in every layer, whoever made the picture.
  if (render.watched && Probe::HasTightRows(*served.layer)) {
    served.made = std::make_shared<const Image>(Probe::WithPaddedRows(*served.layer));
    served.layer = served.made.get();
  }
  const Image& layer = *served.layer;
  const int x = layer.origin_x - render.frame_origin_x;
  const int y = layer.origin_y - render.frame_origin_y;
  served.frame_x = -x;
  served.frame_y = -y;
  served.rect = Intersection({x, y, x + layer.width, y + layer.height}, served.asked.request.rect);
}

PF_Err CheckoutLayer(PF_ProgPtr, PF_ParamIndex index, A_long checkout_id,
                     const PF_RenderRequest* request, A_long what_time, A_long time_step,
                     A_u_long time_scale, PF_CheckoutResult* result) {
  const CallTime at{index, what_time, time_step, time_scale};
  return Callback({.name = "checkout_layer", .at = at}, Within::kRender, Given(request, result),
                  [&](CommandScope& scope) -> PF_Err {
                    std::memset(result, 0, sizeof *result);
                    RenderState& render = *scope.render;
                    // The effect's layer and its one layer parameter; an id names one checkout.
                    if ((index != 0 && index != 1) || FindCheckout(render, checkout_id))
                      return PF_Err_BAD_CALLBACK_PARAM;
                    auto served = std::make_unique<ServedLayer>();
                    served->asked = {index,     checkout_id, *request,
                                     what_time, time_step,   time_scale};
                    Serve(render, *served);
                    if (served->layer) {
                      result->result_rect = served->rect;
                      result->max_result_rect = served->rect;
                      result->ref_width = served->layer->width;
                      result->ref_height = served->layer->height;
                    }
                    result->par = {1, 1};
                    render.checkouts.push_back(std::move(served));
                    return PF_Err_NONE;
                  });
}

// The part of the layer a checkout was served, as a view into the layer's own pixels.
PF_LayerDef ServedView(const ServedLayer& served) {
  PF_LayerDef view = const_cast<Image*>(served.layer)->View();
  const int x = served.rect.left + served.frame_x;
  const int y = served.rect.top + served.frame_y;
  view.width = served.rect.right - served.rect.left;
  view.height = served.rect.bottom - served.rect.top;
  if (view.data && view.width > 0 && view.height > 0)
    view.data = static_cast<uint8_t*>(view.data) + static_cast<size_t>(y) * view.rowbytes +
                static_cast<size_t>(x) * served.layer->PixelBytes();
  view.extent_hint = {0, 0, view.width, view.height};
  view.origin_x += x;
  view.origin_y += y;
  return view;
}

PF_Err CheckoutLayerPixels(PF_ProgPtr, A_long checkout_id, PF_EffectWorld** pixels) {
  return Callback({.name = "checkout_layer_pixels"}, Within::kRender, Given(pixels),
                  [&](CommandScope& scope) -> PF_Err {
                    *pixels = nullptr;
                    RenderState& render = *scope.render;
                    // Only what the pre-render asked for can be checked out.
                    const ServedLayer* served = FindCheckout(render, checkout_id);
                    if (!served) return PF_Err_BAD_CALLBACK_PARAM;
                    if (!served->layer) return PF_Err_NONE;
                    *pixels = HandOut(render, ServedView(*served));
                    if (scope.trace) scope.trace->DamageLayer(checkout_id, **pixels);
                    return PF_Err_NONE;
                  });
}

PF_Err CheckinLayerPixels(PF_ProgPtr, A_long) {
  return Callback({.name = "checkin_layer_pixels"}, true,
                  [](CommandScope&) { return PF_Err_NONE; });
}

PF_Err CheckoutOutput(PF_ProgPtr, PF_EffectWorld** output) {
  return Callback({.name = "checkout_output"}, Within::kRender, Given(output),
                  [&](CommandScope& scope) {
                    *output = HandOut(*scope.render, scope.render->output->View());
                    return PF_Err_NONE;
                  });
}

PF_PreRenderCallbacks pre_render_callbacks = {CheckoutLayer};
PF_SmartRenderCallbacks smart_render_callbacks = {CheckoutLayerPixels, CheckinLayerPixels,
                                                  CheckoutOutput};

PF_Err Fill(const CommandScope& scope, const PF_Pixel* color, const PF_Rect* rect,
            PF_EffectWorld& world) {
  if (!world.data) return PF_Err_BAD_CALLBACK_PARAM;
  // Pixel size from the world's row length is ambiguous, so the host remembers the depth of the
  // render it is running; outside a render, 8 bits.
  const int bpc = scope.render ? scope.render->job->bpc : 8;
  const int pixel = bpc == 32 ? 16 : 4;
  PF_Rect r = rect ? *rect : PF_Rect{0, 0, world.width, world.height};
  r.left = std::max<A_long>(r.left, 0);
  r.top = std::max<A_long>(r.top, 0);
  r.right = std::min<A_long>(r.right, world.width);
  r.bottom = std::min<A_long>(r.bottom, world.height);
  uint8_t value[16] = {};
  if (color) {
    if (bpc == 32) {
      const float f[4] = {color->alpha / 255.0f, color->red / 255.0f, color->green / 255.0f,
                          color->blue / 255.0f};
      std::memcpy(value, f, sizeof f);
    } else {
      value[0] = color->alpha;
      value[1] = color->red;
      value[2] = color->green;
      value[3] = color->blue;
    }
  }
  auto* base = static_cast<uint8_t*>(world.data);
  for (A_long y = r.top; y < r.bottom; ++y) {
    uint8_t* row = base + static_cast<size_t>(y) * world.rowbytes;
    for (A_long x = r.left; x < r.right; ++x)
      std::memcpy(row + static_cast<size_t>(x) * pixel, value, pixel);
  }
  return PF_Err_NONE;
}

}  // namespace

PF_Err HostFill(PF_ProgPtr, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world) {
  return Callback({.name = "fill"}, Within::kAnywhere, Given(world),
                  [&](CommandScope& scope) { return Fill(scope, color, rect, *world); });
}

RenderResult Host::Render(const RenderJob& job) {
  RenderResult result;
  RenderState state;
  state.job = &job;
  state.drafts = &draft_layers_;
  state.watched = has_probe();

  // Without an input layer (a test of the effect's handling of a missing layer) the request is
  // empty and the output size must come from the job.
  std::shared_ptr<const Image> held_input;
  const Image* input = LayerAt(job, 0, job.timing.current_time, job.timing.time_scale, &held_input);
  if (input) {
    state.frame_origin_x = ScaledOrigin(input->origin_x, job.timing.downsample_x);
    state.frame_origin_y = ScaledOrigin(input->origin_y, job.timing.downsample_y);
  }
  PF_PreRenderInput pre_input{};
  if (job.request) {
    pre_input.output_request = *job.request;
  } else {
    if (input)
      pre_input.output_request.rect = {0, 0, ScaledSize(input->width, job.timing.downsample_x),
                                       ScaledSize(input->height, job.timing.downsample_y)};
    pre_input.output_request.channel_mask = 0xF;
  }
  pre_input.bitdepth = static_cast<A_short>(job.bpc);
  PF_PreRenderOutput pre_output{};
  PF_PreRenderExtra pre_extra{&pre_input, &pre_output, &pre_render_callbacks};
  result.pre_render_err = SendJob(PF_Cmd_SMART_PRE_RENDER, &pre_extra, job.timing, &state);
  result.result_rect = pre_output.result_rect;
  result.max_result_rect = pre_output.max_result_rect;
  for (const auto& served : state.checkouts) result.checkouts.push_back(served->asked);
  if (result.pre_render_err) {
    result.err = result.pre_render_err;
    return result;
  }

  int out_w = pre_output.result_rect.right - pre_output.result_rect.left;
  int out_h = pre_output.result_rect.bottom - pre_output.result_rect.top;
  if (job.output_size) {
    out_w = job.output_size->first;
    out_h = job.output_size->second;
  }
  out_w = std::max(out_w, 0);
  out_h = std::max(out_h, 0);
  // Without a probe the output stays zeroed: the effect clears what it checks out, and a render
  // that fails before its checkout leaves transparent black rather than whatever the heap held.
  result.output =
      state.watched ? Probe::Output(out_w, out_h, job.bpc) : Image::Make(out_w, out_h, job.bpc);
  state.output = &result.output;

  PF_SmartRenderInput render_input{};
  render_input.output_request = pre_input.output_request;
  render_input.bitdepth = static_cast<A_short>(job.bpc);
  PF_SmartRenderExtra render_extra{&render_input, &smart_render_callbacks};
  result.err = SendJob(PF_Cmd_SMART_RENDER, &render_extra, job.timing, &state);
  return result;
}

}  // namespace vhost

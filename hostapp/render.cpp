// Layers and rendering: the pre-render and smart-render callbacks, the output world, and the fill
// utility. The host hands layers out at the command's downsample factor, as a host's draft mode
// does, and always with padded rows.
#include <algorithm>
#include <cstring>
#include <memory>

#include "effect/hostkit/checkout_ids.h"
#include "hostapp/host.h"
#include "hostapp/suites.h"

namespace vhost {

namespace {

// Integer ceiling of n × num / den, at least 1 for a non-empty n.
int Scaled(int n, const PF_RationalScale& s) {
  if (n <= 0 || s.num <= 0 || s.den == 0) return n;
  long long v = (static_cast<long long>(n) * s.num + s.den - 1) / s.den;
  return static_cast<int>(std::max<long long>(v, 1));
}

// Box-filters an image down to the command's resolution. At full resolution the image is shared.
Image Downsample(const Image& src, const Timing& t) {
  const int w = Scaled(src.width, t.downsample_x);
  const int h = Scaled(src.height, t.downsample_y);
  Image out = Image::Make(w, h, src.bpc,
                          static_cast<int>(static_cast<long long>(src.origin_x) *
                                           t.downsample_x.num / t.downsample_x.den),
                          static_cast<int>(static_cast<long long>(src.origin_y) *
                                           t.downsample_y.num / t.downsample_y.den));
  for (int y = 0; y < h; ++y) {
    const int y0 = static_cast<int>(static_cast<long long>(y) * src.height / h);
    const int y1 =
        std::max(y0 + 1, static_cast<int>(static_cast<long long>(y + 1) * src.height / h));
    for (int x = 0; x < w; ++x) {
      const int x0 = static_cast<int>(static_cast<long long>(x) * src.width / w);
      const int x1 =
          std::max(x0 + 1, static_cast<int>(static_cast<long long>(x + 1) * src.width / w));
      for (int c = 0; c < 4; ++c) {
        double sum = 0;
        for (int sy = y0; sy < y1; ++sy)
          for (int sx = x0; sx < x1; ++sx) sum += src.Get(sx, sy, c);
        out.Set(x, y, c, static_cast<float>(sum / ((y1 - y0) * (x1 - x0))));
      }
    }
  }
  return out;
}

bool FullResolution(const Timing& t) {
  return t.downsample_x.num == static_cast<A_long>(t.downsample_x.den) &&
         t.downsample_y.num == static_cast<A_long>(t.downsample_y.den);
}

// The layers of one render at the command's resolution.
struct Layers {
  const Image* input = nullptr;
  const Image* map = nullptr;
  Image input_scaled;
  Image map_scaled;
};

// Fills `layers` in place: the scaled layers point into it, so it must not be copied afterwards.
void PrepareLayers(const RenderJob& job, Layers& layers) {
  if (FullResolution(job.timing)) {
    layers.input = job.input;
    layers.map = job.map;
    return;
  }
  if (job.input) {
    layers.input_scaled = Downsample(*job.input, job.timing);
    layers.input = &layers.input_scaled;
  }
  if (job.map) {
    layers.map_scaled = Downsample(*job.map, job.timing);
    layers.map = &layers.map_scaled;
  }
}

}  // namespace

// Per-render state shared by the two commands of one job.
struct RenderState {
  const RenderJob* job = nullptr;
  Layers layers;
  Image* output = nullptr;
  std::vector<std::unique_ptr<PF_LayerDef>> worlds;  // layer views handed out
};

namespace {

PF_LayerDef* HandOut(RenderState& render, const Image& img) {
  auto def = std::make_unique<PF_LayerDef>(const_cast<Image&>(img).View());
  PF_LayerDef* raw = def.get();
  render.worlds.push_back(std::move(def));
  return raw;
}

PF_Err CheckoutLayer(PF_ProgPtr, PF_ParamIndex index, A_long checkout_id, const PF_RenderRequest*,
                     A_long, A_long, A_u_long, PF_CheckoutResult* result) {
  return Callback({.name = "checkout_layer"}, Within::kRender, Given(result),
                  [&](CommandScope& scope) -> PF_Err {
                    std::memset(result, 0, sizeof *result);
                    const Layers& layers = scope.render->layers;
                    const Image* layer = nullptr;
                    if (index == 0 && checkout_id == kInputCheckoutId)
                      layer = layers.input;
                    else if (index == 1 && checkout_id == kMapCheckoutId)
                      layer = layers.map;
                    else
                      return PF_Err_BAD_CALLBACK_PARAM;
                    if (layer) {
                      // Rectangles in the input layer's coordinates.
                      const Image* input = layers.input;
                      const int x = input ? layer->origin_x - input->origin_x : layer->origin_x;
                      const int y = input ? layer->origin_y - input->origin_y : layer->origin_y;
                      result->result_rect = {x, y, x + layer->width, y + layer->height};
                      result->max_result_rect = result->result_rect;
                      result->ref_width = layer->width;
                      result->ref_height = layer->height;
                    }
                    result->par = {1, 1};
                    return PF_Err_NONE;
                  });
}

PF_Err CheckoutLayerPixels(PF_ProgPtr, A_long checkout_id, PF_EffectWorld** pixels) {
  return Callback({.name = "checkout_layer_pixels"}, Within::kRender, Given(pixels),
                  [&](CommandScope& scope) -> PF_Err {
                    *pixels = nullptr;
                    RenderState& render = *scope.render;
                    const Image* layer = nullptr;
                    if (checkout_id == kInputCheckoutId)
                      layer = render.layers.input;
                    else if (checkout_id == kMapCheckoutId)
                      layer = render.layers.map;
                    else
                      return PF_Err_BAD_CALLBACK_PARAM;
                    if (layer) *pixels = HandOut(render, *layer);
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
                    *output = HandOut(*scope.render, *scope.render->output);
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
  PrepareLayers(job, state.layers);

  // Without an input layer (a test of the effect's handling of a missing layer) the request is
  // empty and the output size must come from the job.
  const Image* input = state.layers.input;
  PF_PreRenderInput pre_input{};
  if (input) pre_input.output_request.rect = {0, 0, input->width, input->height};
  pre_input.output_request.channel_mask = 0xF;
  pre_input.bitdepth = static_cast<A_short>(job.bpc);
  PF_PreRenderOutput pre_output{};
  PF_PreRenderExtra pre_extra{&pre_input, &pre_output, &pre_render_callbacks};
  result.pre_render_err = SendJob(PF_Cmd_SMART_PRE_RENDER, &pre_extra, job.timing, &state);
  result.result_rect = pre_output.result_rect;
  result.max_result_rect = pre_output.max_result_rect;
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
  result.output = Image::Make(std::max(out_w, 0), std::max(out_h, 0), job.bpc);
  std::fill(result.output.storage.begin(), result.output.storage.end(), kUnwrittenByte);
  state.output = &result.output;

  PF_SmartRenderInput render_input{};
  render_input.output_request = pre_input.output_request;
  render_input.bitdepth = static_cast<A_short>(job.bpc);
  PF_SmartRenderExtra render_extra{&render_input, &smart_render_callbacks};
  result.err = SendJob(PF_Cmd_SMART_RENDER, &render_extra, job.timing, &state);
  return result;
}

}  // namespace vhost

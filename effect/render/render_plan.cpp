#include "render/render_plan.h"

#include <epoxy/gl.h>

#include "params/popups.h"

namespace {

// The largest factor, from the one asked for down by halves, at which a side of `resolution`
// still fits within the texture limit. A render that cannot have its factor gets the largest
// that fits instead of a blank frame.
float FittingFactor(float factor, const Vec2f& resolution, int max_texture_size) {
  const auto limit = static_cast<float>(max_texture_size);
  while (factor > 1.0f && (resolution.x * factor > limit || resolution.y * factor > limit))
    factor *= 0.5f;
  return factor;
}

// The input is read texel for texel when it is about to be replicated into a supersampled target.
int InputFilter(bool supersampled) {
  return supersampled ? GL_NEAREST : GL_LINEAR;
}

TargetSpec LayerSized(const myParams& p, int filter, bool cleared) {
  return {static_cast<uint32_t>(p.resolution.x), static_cast<uint32_t>(p.resolution.y), p.wrapMode,
          filter, cleared};
}

}  // namespace

RenderPlan PlanRender(const myParams& p, int max_texture_size) {
  RenderPlan plan{};
  plan.placesMap = HasPixels(p.mapWorld);
  plan.blurs = p.blurRadius > 0.1;
  // The blur writes the whole map target; a placed map layer may cover only part of the frame,
  // and the rest must read as transparent black.
  plan.hasMapTarget = p.usingAuxTex || plan.blurs;
  plan.upload = LayerSized(p, GL_LINEAR, false);
  plan.input = LayerSized(p, GL_LINEAR, false);
  plan.map = LayerSized(p, GL_LINEAR, p.usingAuxTex);
  if (plan.placesMap) {
    plan.mapUpload = {static_cast<uint32_t>(p.mapWorld->width),
                      static_cast<uint32_t>(p.mapWorld->height), p.wrapMode, GL_LINEAR, false};
  }
  plan.blur = LayerSized(p, GL_LINEAR, false);
  plan.output = LayerSized(p, GL_LINEAR, false);
  plan.output.wrap = GL_CLAMP_TO_BORDER;
  SetSupersampling(p, FittingFactor(p.aaFactor, p.resolution, max_texture_size), &plan);
  return plan;
}

void SetSupersampling(const myParams& p, float factor, RenderPlan* plan) {
  plan->factor = factor;
  // The filter follows the settled factor: a render that fell back to one pass samples the input
  // as one drawn without supersampling does.
  plan->input.filter = InputFilter(factor > 1.0f);
  const auto width = static_cast<uint32_t>(p.resolution.x * factor);
  const auto height = static_cast<uint32_t>(p.resolution.y * factor);
  // A pixel-replicating upscale into the first, a bilinear downscale out of the second.
  plan->superInput = {width, height, p.wrapMode, GL_NEAREST, false};
  plan->superOutput = {width, height, p.wrapMode, GL_LINEAR, false};
}

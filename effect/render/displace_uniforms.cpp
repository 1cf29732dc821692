#include "render/displace_uniforms.h"

#include <string>

namespace {

// One transform's seven uniforms, each named `prefix` followed by the field's name.
void SendTransform(UniformMap& uniforms, const std::string& prefix, const TransformSet& t) {
  uniforms[prefix + "translateX"] = VEC(static_cast<float>(t.translateX));
  uniforms[prefix + "translateY"] = VEC(static_cast<float>(t.translateY));
  uniforms[prefix + "anchorX"] = VEC(static_cast<float>(t.anchorX));
  uniforms[prefix + "anchorY"] = VEC(static_cast<float>(t.anchorY));
  uniforms[prefix + "scaleX"] = VEC(static_cast<float>(t.scaleX));
  uniforms[prefix + "scaleY"] = VEC(static_cast<float>(t.scaleY));
  uniforms[prefix + "rot"] = VEC(t.rot);
}

}  // namespace

void SendDisplaceUniforms(UniformMap& uniforms, const myParams& p, const RenderPlan& plan) {
  uniforms["usingAuxTex"] = IVEC(plan.hasMapTarget);
  uniforms["invert"] = IVEC(p.invert);
  uniforms["srcL"] = IVEC(p.channel);
  uniforms["viewMapL"] = IVEC(p.viewMap);
  uniforms["usingCA"] = IVEC(p.usingCA);
  uniforms["easingL"] = IVEC(static_cast<int>(p.easing));
  uniforms["iterL"] = IVEC(p.iterations);
  uniforms["legacyB"] = IVEC(p.legacy);
  uniforms["clampOverflowXformsL"] = IVEC(p.clampNegativeScale);
  uniforms["bpc"] = IVEC(p.bpc);
  uniforms["offsetF"] = VEC(static_cast<float>(p.offset));
  uniforms["gammaF"] = VEC(static_cast<float>(p.gamma));
  uniforms["redMult"] = VEC(static_cast<float>(p.redMult));
  uniforms["greenMult"] = VEC(static_cast<float>(p.greenMult));
  uniforms["blueMult"] = VEC(static_cast<float>(p.blueMult));
  SendTransform(uniforms, "prev_", p.prev);
  if (p.iterations >= 2) SendTransform(uniforms, "next_", p.next);
  uniforms["resV"] = VEC2(p.resolution);
}

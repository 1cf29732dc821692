#include "render/displace_uniforms.h"

void SendDisplaceUniforms(UniformMap& uniforms, const myParams* p) {
  uniforms["usingAuxTex"] = IVEC(p->usingAuxTex);
  uniforms["invert"] = IVEC(p->invert);
  uniforms["srcL"] = IVEC(p->channel);
  uniforms["viewMapL"] = IVEC(p->viewMap);
  uniforms["usingCA"] = IVEC(p->usingCA);
  uniforms["easingL"] = IVEC(static_cast<int>(p->easing));
  uniforms["iterL"] = IVEC(p->iterations);
  uniforms["legacyB"] = IVEC(p->legacy);
  uniforms["clampOverflowXformsL"] = IVEC(p->clampNegativeScale);
  uniforms["bpc"] = IVEC(p->bpc);
  uniforms["offsetF"] = VEC(static_cast<float>(p->offset));
  uniforms["gammaF"] = VEC(static_cast<float>(p->gamma));
  uniforms["redMult"] = VEC(static_cast<float>(p->redMult));
  uniforms["greenMult"] = VEC(static_cast<float>(p->greenMult));
  uniforms["blueMult"] = VEC(static_cast<float>(p->blueMult));
  uniforms["prev_translateX"] = VEC(static_cast<float>(p->prev.translateX));
  uniforms["prev_translateY"] = VEC(static_cast<float>(p->prev.translateY));
  uniforms["prev_anchorX"] = VEC(static_cast<float>(p->prev.anchorX));
  uniforms["prev_anchorY"] = VEC(static_cast<float>(p->prev.anchorY));
  uniforms["prev_scaleX"] = VEC(static_cast<float>(p->prev.scaleX));
  uniforms["prev_scaleY"] = VEC(static_cast<float>(p->prev.scaleY));
  uniforms["prev_rot"] = VEC(p->prev.rot);
  if (p->iterations >= 2) {
    uniforms["next_translateX"] = VEC(static_cast<float>(p->next.translateX));
    uniforms["next_translateY"] = VEC(static_cast<float>(p->next.translateY));
    uniforms["next_anchorX"] = VEC(static_cast<float>(p->next.anchorX));
    uniforms["next_anchorY"] = VEC(static_cast<float>(p->next.anchorY));
    uniforms["next_scaleX"] = VEC(static_cast<float>(p->next.scaleX));
    uniforms["next_scaleY"] = VEC(static_cast<float>(p->next.scaleY));
    uniforms["next_rot"] = VEC(p->next.rot);
  }
  uniforms["resV"] = VEC2(p->resolution);
}

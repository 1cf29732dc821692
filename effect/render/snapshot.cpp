#include "render/snapshot.h"

#include <epoxy/gl.h>

#include "params/param_ids.h"
#include "params/popups.h"
#include "render/matrices.h"

namespace {

uint32_t WrapModeFor(int32_t edge_behavior) {
  switch (edge_behavior) {
    case kEdgeRepeat:
      return GL_REPEAT;
    case kEdgeMirrorRepeat:
      return GL_MIRRORED_REPEAT;
    case kEdgeEdgeRepeat:
      return GL_CLAMP_TO_EDGE;
    default:
      // "None": the border colour is never set, so outside the layer is transparent black.
      return GL_CLAMP_TO_BORDER;
  }
}

float AntiAliasingFactor(int32_t popup) {
  switch (popup) {
    case kAntiAliasing2x:
      return 2.0f;
    case kAntiAliasing4x:
      return 4.0f;
    case kAntiAliasing8x:
      return 8.0f;
    default:
      return 1.0f;
  }
}

}  // namespace

void FillFromSnapshot(const PF_ParamDef* snap, const PF_InData* in_data, myParams* p) {
  p->downsampleX = in_data->downsample_x.den ? static_cast<double>(in_data->downsample_x.num) /
                                                   static_cast<double>(in_data->downsample_x.den)
                                             : 1.0;
  p->legacy = snap[PARAM_MAP_INTERPRETATION].u.pd.value == kMapInterpretationLegacy;
  p->iterations = snap[PARAM_ITERATIONS].u.sd.value;
  p->channel = snap[PARAM_CHANNEL].u.pd.value;
  p->viewMap = snap[PARAM_VIEW_MAP].u.bd.value;
  p->clampNegativeScale = snap[PARAM_CLAMP_NEGATIVE_SCALE].u.bd.value;
  p->edgeBehavior = snap[PARAM_EDGE_BEHAVIOR].u.pd.value;
  p->wrapMode = WrapModeFor(p->edgeBehavior);
  p->usingAuxTex = p->mapWorld != nullptr;
  p->invert = static_cast<uint8_t>(snap[PARAM_INVERT_MAP].u.bd.value);
  p->offset = snap[PARAM_DISPLACEMENT_OFFSET].u.fs_d.value;
  p->gamma = snap[PARAM_MAP_GAMMA].u.fs_d.value;
  p->blurRadius = snap[PARAM_MAP_SOFTNESS].u.fs_d.value * p->downsampleX;
  p->mapInputMix = static_cast<float>(snap[PARAM_MAP_MIX_INPUT].u.fs_d.value * 0.01);
  p->easing = snap[PARAM_DISPLACEMENT_EASING].u.pd.value;
  p->redMult = snap[PARAM_CA_RED].u.fs_d.value;
  p->greenMult = snap[PARAM_CA_GREEN].u.fs_d.value;
  p->blueMult = snap[PARAM_CA_BLUE].u.fs_d.value;
  auto differs = [](double m) { return m > 1.001 || m < 0.999; };
  p->usingCA = differs(p->redMult) || differs(p->greenMult) || differs(p->blueMult);
  p->antiAliasing = snap[PARAM_ANTI_ALIASING].u.pd.value;
  p->aaFactor = AntiAliasingFactor(p->antiAliasing);
  p->resolution = {static_cast<float>(p->inputWorld->width),
                   static_cast<float>(p->inputWorld->height)};
  p->aaResolution = {p->resolution.x * p->aaFactor, p->resolution.y * p->aaFactor};
  GenIdentityMatrix(p);
  if (HasPixels(p->mapWorld)) GenVertexMatrices(p, p->mapWorld, p->inputWorld);
}

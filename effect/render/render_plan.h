// What one render will do, decided before its first pass: which passes run, the supersampling
// factor, and every target's size, wrap mode and filter. The passes only read it.
#pragma once

#include <cstdint>

#include "render/my_params.h"

// How one target is made. A target that an upload or a pass over the full quad wholly overwrites
// before anything reads it starts undefined; only one that may be read where nothing was drawn
// starts cleared to transparent black.
struct TargetSpec {
  uint32_t width;
  uint32_t height;
  uint32_t wrap;
  int filter;  // non-mipmap, on both axes
  bool cleared;
};

struct RenderPlan {
  bool placesMap;     // a map layer with pixels is drawn onto the input's frame
  bool blurs;         // the map is softened by the separable blur
  bool hasMapTarget;  // the displacement reads a map: the placed layer, the blurred input, or both
  float factor;       // supersampling factor of the displacement; 1 draws it at the layer's size
  TargetSpec upload;
  TargetSpec input;
  TargetSpec map;
  TargetSpec mapUpload;  // meaningful only when placesMap
  TargetSpec blur;
  TargetSpec output;
  TargetSpec superInput;  // these two are meaningful only when factor > 1
  TargetSpec superOutput;
};

// The plan for a filled snapshot, with the factor the popup asks for halved until both sides of
// the supersampled targets fit within `max_texture_size` texels. Makes no GL call.
RenderPlan PlanRender(const myParams& params, int max_texture_size);

// Sets the plan's factor and the targets that follow it: the two supersampled ones and the
// input's filter. `factor` is the plan's own halved, as a render does when the GL could not
// allocate the larger targets.
void SetSupersampling(const myParams& params, float factor, RenderPlan* plan);

// The render's two layers as footage placed on the composition's timeline. They are opened and
// checked before anything renders, and the footage decides what the user left unsaid: a movie
// input's rate, the input's frames, the depth.
#pragma once

#include <memory>

#include "media/layer.h"
#include "pipeline/output_layout.h"
#include "pipeline/plan.h"

namespace vpipe {

struct RenderLayers {
  std::unique_ptr<vmedia::TimelineLayer> input;
  std::unique_ptr<vmedia::TimelineLayer> map;  // null: no map layer
  int bpc = 8;                                 // the render's, 8 or 32
  FootageFacts input_facts;                    // what the input's file says of itself
};

// Opens the input and the map, completes `settings` from them and checks the output against
// them: a range of images needs a frame number, and no output file may be one of the footage's
// own frames. Without an offset given, the map sits where its data window is relative to the
// input's. The layers' frames come converted as the settings' colour plan says (PlanColour),
// and the settings receive the output's colour space and conversion. Throws InputError, in one
// line naming the file, for footage that cannot be used.
RenderLayers OpenLayers(RenderSettings* settings);

}  // namespace vpipe

// Deterministic synthetic layers: the same pixels on every run and every machine, so medians
// from different runs describe the same work.
#pragma once

#include "hostapp/host.h"

namespace vbench {

// A zeroed buffer with the padded rows of a render under the probe that EffectRunner installs:
// the floor reads and writes rows laid out as the effect's are, and the host serves these layers
// without copying them in the timed render.
vhost::Image MakeHostBuffer(int width, int height, int bpc);
// A colourful frame with diagonal bands and a soft vignette in alpha, so displacement, blur and
// filtering all see varied values.
vhost::Image MakeInputLayer(int width, int height, int bpc);
// The input frame with deterministic grain (a few 8-bit steps per channel) over it, so that an
// encoder meets the noise of real footage rather than smooth gradients that compress to nothing.
vhost::Image MakeGrainyInputLayer(int width, int height, int bpc);
// A smooth map: concentric rings in luminance, a horizontal ramp in red.
vhost::Image MakeMapLayer(int width, int height, int bpc);

}  // namespace vbench

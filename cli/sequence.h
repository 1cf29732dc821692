// Rendering a list of frames on several host threads at once, each frame written as soon as it
// is done. The pictures do not depend on the number of threads: every frame is one independent
// render of the same images and controls at its own time.
#pragma once

#include <string>
#include <vector>

#include "cli/image_io.h"
#include "hostapp/host.h"

namespace vcli {

struct FrameJob {
  int frame = 0;
  std::string output;
};

struct SequencePlan {
  std::vector<FrameJob> frames;
  const vhost::Image* input = nullptr;
  const vhost::Image* map = nullptr;  // null: no map layer
  int bpc = 8;
  OutputFormat format;  // of every frame's file
  double fps = 24;
  int downsample = 1;
  int threads = 1;
  bool show_progress = false;
};

// Renders and writes every frame. On the first failure the other threads finish the frame they
// are on and stop; throws RenderError for a failed render (with the host code), a failed write, or
// anything else a worker threw, naming the frame. Frames
// written before the failure stay; the failed frame's file is not touched.
void RenderSequence(vhost::Host& host, const SequencePlan& plan);

}  // namespace vcli

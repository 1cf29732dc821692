// Rendering a list of frames on several host threads at once. The pictures do not depend on the
// number of threads: every frame is one independent render of the layers and controls at its own
// time. A sink takes each finished frame: images as they finish, a movie in frame order.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "hostapp/host.h"
#include "media/layer.h"
#include "pipeline/observer.h"
#include "pipeline/timing.h"

namespace vpipe {

// Where finished frames go. Take is called from writer threads while later frames render: at once
// for sinks that do not ask for order, one at a time and in the plan's order for those that do.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual bool in_order() const { return false; }
  // Throws RenderError (or anything else) when the frame cannot be kept; the sequence then stops.
  virtual void Take(int frame, const vhost::Image& image) = 0;
};

struct SequencePlan {
  std::vector<int> frames;  // composition frames, in the order an in-order sink receives them
  vmedia::TimelineLayer* input = nullptr;  // required
  vmedia::TimelineLayer* map = nullptr;    // null: no map layer
  int bpc = 8;
  FrameRate fps{24, 1};
  int downsample = 1;
  int threads = 1;  // render threads
  int writers = 0;  // threads handing frames to a sink that does not ask for order; 0: chosen
  RenderObserver* observer = nullptr;  // told of each frame that ends; may be null
  // Record a failed frame and go on with the others, for sinks that do not ask for order.
  bool continue_on_error = false;
};

// What became of one frame of the plan.
struct FrameOutcome {
  int frame = 0;
  double seconds = 0;   // from the start of its render until the sink had it
  bool done = false;    // false: it failed, or was never started after another one failed
  bool reused = false;  // its picture is the previous frame's, which it could not differ from
  std::string failure;  // the failure's line, naming the frame
};

// Renders every frame into `sink`. On the first failure the other threads finish the frame they
// are on and stop; the result's `stopped` says why: a failed render (with the host code), a layer
// that could not be decoded, a frame the sink refused, or anything else a worker threw, naming
// the frame. Frames the sink took before the failure stay with it; the failed frame never
// reaches it.
struct SequenceResult {
  std::vector<FrameOutcome> frames;    // in the plan's order
  std::optional<std::string> stopped;  // the failure that stopped the sequence, naming the frame
};

// A frame that cannot differ from the one before it (the same source frames of both layers, every
// control at the same value, and an effect whose dynamic-flags answer says it does not vary over
// time otherwise) is not rendered again: the sink takes the previous output once more.
// With continue_on_error a failed frame is only in its outcome, and the others go on. Frames are
// rendered on `threads` threads and handed to the sink on writer threads of their own (one for an
// in-order sink), so that a frame is encoded while the next ones render.
SequenceResult RenderSequence(vhost::Host& host, const SequencePlan& plan, FrameSink& sink);

// Renders one frame of the plan on the calling thread, as the sequence renders each of its frames
// (the plan's `frames`, threads and progress are not used). Throws RenderError, naming the frame,
// for a failed render or a layer that could not be read.
vhost::Image RenderPlanFrame(vhost::Host& host, const SequencePlan& plan, int frame);

}  // namespace vpipe

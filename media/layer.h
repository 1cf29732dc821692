// A source placed on the composition's timeline: which of its frames shows at a composition time,
// what shows outside its range, and the decoded frames kept for the renders that ask again.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>

#include "hostapp/host.h"
#include "media/source.h"

namespace vmedia {

// What a layer shows at times outside its source's range.
enum class Outside {
  kHold,         // the nearest frame: the first before the range, the last after it
  kLoop,         // the range repeated in both directions
  kTransparent,  // transparent black of the source's size
};

struct Placement {
  // The composition frame at which the source's first frame shows. Unset: an image sequence
  // keeps its own frame numbers (file 1001 shows at frame 1001), a movie starts at frame 0.
  // A still shows at every frame whatever its placement.
  std::optional<int> start;
  Outside outside = Outside::kHold;
};

struct LayerOptions {
  Placement placement;
  Rational composition_fps{24, 1};
  int bpc = 8;  // of the buffers handed to the effect
  int origin_x = 0;
  int origin_y = 0;
  // Decoded frames kept, in bytes; the oldest go first. At least the frames of one render.
  size_t cache_bytes = size_t{256} << 20;
};

class TimelineLayer {
 public:
  TimelineLayer(std::unique_ptr<Source> source, const LayerOptions& options);
  ~TimelineLayer();
  TimelineLayer(const TimelineLayer&) = delete;
  TimelineLayer& operator=(const TimelineLayer&) = delete;

  const Source& source() const;
  // The source frame shown at `time` ÷ `time_scale` seconds: the source frame whose own display
  // interval (at the source's rate, or the composition's for sequences) holds that time, taken
  // through the outside rule; nullopt where the layer is transparent.
  std::optional<int> SourceFrameAt(int64_t time, uint64_t time_scale) const;
  // The picture at that time, decoded once and kept; transparent black of the source's size
  // outside the range under kTransparent. Safe to call from several render threads at once.
  // Throws FootageError naming the frame when it cannot be decoded.
  std::shared_ptr<const vhost::Image> At(int64_t time, uint64_t time_scale);
  // Decodes, on the layer's own thread, the frames that the composition frames [first, last]
  // will ask for, in order, so that a render in frame order finds them ready.
  void ReadAhead(int first_composition_frame, int last_composition_frame);
  // The layer as our host's RenderJob takes it (input_at / map_at); it refers to this layer.
  vhost::LayerOverTime AsLayer();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vmedia

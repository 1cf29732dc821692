// Host time for a frame that a caller places by seconds, as frei0r hosts do. The effect reads time
// as ticks of a time scale, with a frame step: the step is the frame's duration, and a rate of
// num/den frames per second becomes the same ticks `varnex render --fps num/den` gives, so that a
// frame placed at frame / rate seconds meets the command's render of that frame exactly.
#pragma once

#include "hostapp/host.h"

namespace vbridge {

// The frame duration assumed until a caller's frames show another: the PAL rate.
inline constexpr double kDefaultFrameSeconds = 1.0 / 25;

// The host time of a frame starting at `seconds`, on a timeline whose frames last
// `frame_seconds`. A duration that is not a positive finite number counts as the default; a rate
// within a millionth of a whole number or of an NTSC rate (n × 1000/1001) is taken as exactly
// that, any other rate to a thousandth of a frame per second. Times beyond what the host's
// 32-bit ticks hold are clamped to the nearest they do.
vhost::Timing TimingAt(double seconds, double frame_seconds);

}  // namespace vbridge

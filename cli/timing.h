// Host time for frame numbers. A frame lasts kTimeStep ticks of a time scale of fps × kTimeStep,
// so a keyframe at frame f and the render of frame f meet at the same host time.
#pragma once

#include <cmath>

#include "cli/limits.h"
#include "hostapp/host.h"

namespace vcli {

inline A_u_long TimeScale(double fps) {
  return static_cast<A_u_long>(std::llround(fps * kTimeStep));
}

// Seconds at which frame `frame` (possibly fractional, for keyframes) starts.
inline double FrameSeconds(double frame, double fps) {
  return frame * kTimeStep / static_cast<double>(TimeScale(fps));
}

// What the host tells the effect about time and resolution when rendering `frame`.
inline vhost::Timing FrameTiming(int frame, double fps, int downsample) {
  vhost::Timing timing;
  timing.current_time = static_cast<A_long>(frame) * kTimeStep;
  timing.time_step = kTimeStep;
  timing.time_scale = TimeScale(fps);
  timing.downsample_x = {1, static_cast<A_u_long>(downsample)};
  timing.downsample_y = {1, static_cast<A_u_long>(downsample)};
  return timing;
}

}  // namespace vcli

// Host time for frame numbers. At a rate of num/den frames per second a frame lasts den × m
// ticks of a time scale of num × m, with m = kTimeStep / den (at least 1): a whole rate keeps
// kTimeStep ticks per frame for shutter offsets within a frame, and a rate such as 24000/1001
// stays exact. A keyframe at frame f and the render of frame f meet at the same host time.
#pragma once

#include <algorithm>
#include <cstdint>

#include "hostapp/host.h"
#include "media/source.h"
#include "pipeline/limits.h"

namespace vpipe {

using FrameRate = vmedia::Rational;

inline int64_t TicksPerUnit(const FrameRate& fps) {
  return std::max<int64_t>(1, kTimeStep / fps.den);
}

inline A_long TimeStep(const FrameRate& fps) {
  return static_cast<A_long>(fps.den * TicksPerUnit(fps));
}

inline A_u_long TimeScale(const FrameRate& fps) {
  return static_cast<A_u_long>(fps.num * TicksPerUnit(fps));
}

// Seconds at which frame `frame` (possibly fractional, for keyframes) starts: the same division
// the host makes of the time it is given.
inline double FrameSeconds(double frame, const FrameRate& fps) {
  return frame * TimeStep(fps) / static_cast<double>(TimeScale(fps));
}

// What the host tells the effect about time and resolution when rendering `frame`.
inline vhost::Timing FrameTiming(int frame, const FrameRate& fps, int downsample) {
  vhost::Timing timing;
  timing.time_step = TimeStep(fps);
  timing.current_time = static_cast<A_long>(frame) * timing.time_step;
  timing.time_scale = TimeScale(fps);
  timing.downsample_x = {1, static_cast<A_u_long>(downsample)};
  timing.downsample_y = {1, static_cast<A_u_long>(downsample)};
  return timing;
}

}  // namespace vpipe

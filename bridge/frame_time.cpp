#include "bridge/frame_time.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace vbridge {

namespace {

// The ticks of one frame step at a whole rate, so that times inside a frame keep their precision:
// the command's.
constexpr int64_t kTicksPerFrame = 1000;
// The largest rate taken: beyond it a frame step would be a fraction of a tick.
constexpr double kMaxRate = 1000;

struct Rate {
  int64_t num;
  int64_t den;
};

// The rate `frames_per_second` as a fraction the command would also write.
Rate RateOf(double frames_per_second) {
  for (const int64_t den : {int64_t{1}, int64_t{1001}}) {
    const double num = std::round(frames_per_second * den);
    if (num >= 1 && std::fabs(num / den - frames_per_second) <= 1e-6 * frames_per_second)
      return {static_cast<int64_t>(num), den};
  }
  const int64_t den = 1000;
  return {std::max<int64_t>(1, std::llround(frames_per_second * den)), den};
}

}  // namespace

vhost::Timing TimingAt(double seconds, double frame_seconds) {
  if (!(frame_seconds > 0) || !std::isfinite(frame_seconds)) frame_seconds = kDefaultFrameSeconds;
  const Rate rate = RateOf(std::min(1 / frame_seconds, kMaxRate));
  const int64_t ticks_per_unit = std::max<int64_t>(1, kTicksPerFrame / rate.den);
  vhost::Timing timing;
  timing.time_step = static_cast<A_long>(rate.den * ticks_per_unit);
  timing.time_scale = static_cast<A_u_long>(rate.num * ticks_per_unit);
  const double ticks = std::isfinite(seconds) ? std::round(seconds * timing.time_scale) : 0;
  constexpr double kLowest = std::numeric_limits<A_long>::min();
  constexpr double kHighest = std::numeric_limits<A_long>::max();
  timing.current_time = static_cast<A_long>(std::clamp(ticks, kLowest, kHighest));
  return timing;
}

}  // namespace vbridge

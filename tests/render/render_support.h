// Shared pieces of the render tests: a host with the effect set up, and a CPU model of the
// simplest displacement (a translation by a constant amount) as an oracle.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "hostapp/host.h"
#include "params/param_ids.h"
#include "params/popups.h"
#include "support/host_fixture.h"
#include "support/test_images.h"

namespace rtest {

using testimg::MaxDifference;
using testimg::Pattern;
using testimg::SamePixels;
using testimg::Uniform;

// Wrap of an integer texel coordinate for the four edge modes ("None" returns -1 outside).
enum class Edge { kNone, kRepeat, kMirror, kClamp };
inline int WrapIndex(int i, int n, Edge edge) {
  switch (edge) {
    case Edge::kNone:
      return (i < 0 || i >= n) ? -1 : i;
    case Edge::kRepeat:
      return ((i % n) + n) % n;
    case Edge::kMirror: {
      int period = 2 * n;
      int m = ((i % period) + period) % period;
      return m < n ? m : period - 1 - m;
    }
    case Edge::kClamp:
      return i < 0 ? 0 : (i >= n ? n - 1 : i);
  }
  return -1;
}

// The input shifted by (dx, dy) whole pixels toward larger x and y: what a full translation gives.
inline float Shifted(const vhost::Image& in, int x, int y, int c, int dx, int dy,
                     Edge edge = Edge::kNone) {
  int sx = WrapIndex(x - dx, in.width, edge);
  int sy = WrapIndex(y - dy, in.height, edge);
  if (sx < 0 || sy < 0) return 0.0f;
  return in.Get(sx, sy, c);
}

// A host with the effect's global data and controls set up. Renders default to no
// anti-aliasing so single-sample expectations are exact; tests that need it set it.
class RenderTest : public HostTest {
 protected:
  // The real module by default; tests of internals drive the linked-in effect instead.
  virtual std::unique_ptr<vhost::Host> MakeHost() {
    return std::make_unique<vhost::Host>(VARNEX_MODULE);
  }
  void SetUp() override {
    Adopt(MakeHost());
    ASSERT_EQ(host().GlobalSetup(), PF_Err_NONE);
    ASSERT_EQ(host().ParamsSetup(), PF_Err_NONE);
    Set(PARAM_ANTI_ALIASING, kAntiAliasingNone);
  }
  void Set(int index, double value) { host().controls().SetValue(index, value); }

  // "Channel" Alpha on an opaque layer gives the full amount 1 everywhere in the standard
  // interpretation: the transform applies as it is.
  void UseFullAmount() { Set(PARAM_CHANNEL, kChannelAlpha); }

  vhost::RenderResult Render(const vhost::Image& input, const vhost::Image* map = nullptr,
                             int bpc = 0, vhost::Timing timing = DefaultTiming()) {
    vhost::RenderJob job;
    job.timing = timing;
    job.bpc = bpc ? bpc : input.bpc;
    job.input = &input;
    job.map = map;
    return host().Render(job);
  }

  static vhost::Timing DefaultTiming() {
    vhost::Timing t;
    t.current_time = 2400;
    t.time_step = 100;
    t.time_scale = 2400;
    return t;
  }
};

}  // namespace rtest

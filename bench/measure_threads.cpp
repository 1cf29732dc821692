// What the first and the second render on a new thread cost and build.
#include <stdexcept>
#include <thread>

#include "bench/gl_trace.h"
#include "bench/measure.h"
#include "bench/synthetic.h"
#include "bench/timing.h"
#include "cgl.h"

namespace vbench {

ThreadRenders MeasureFirstRenders(EffectRunner& effect, const Config& config, const Frame& frame) {
  const vhost::Image input = MakeInputLayer(frame.width, frame.height, config.bpc);
  effect.Apply(config);
  ThreadRenders r;
  std::string error;
  // A thread of its own: the effect keeps one context per render thread, so only a thread that
  // has never rendered shows what a first render builds.
  std::thread worker([&] {
    try {
      for (int i = 0; i < 2; ++i) {
        const int live_before = cgl::LiveContextCount();
        ResetGLTrace();
        const Clock::time_point start = Clock::now();
        effect.Render(config.bpc, input, nullptr);
        r.ms[i] = MillisecondsSince(start);
        const GLTraceCounts trace = ReadGLTrace();
        r.contexts[i] = static_cast<long>(trace.contexts);
        r.compiles[i] = static_cast<long>(trace.compiles);
        r.links[i] = static_cast<long>(trace.links);
        r.live_contexts_delta[i] = cgl::LiveContextCount() - live_before;
      }
    } catch (const std::exception& e) {
      error = e.what();
    }
  });
  worker.join();
  if (!error.empty()) throw std::runtime_error(error);
  return r;
}

}  // namespace vbench

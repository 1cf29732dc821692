#include "cli/sequence.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "cli/errors.h"
#include "cli/host_session.h"
#include "cli/progress.h"

namespace vcli {

namespace {

// A frame rendered and waiting for a writer.
struct Rendered {
  vhost::Image image;
  std::chrono::steady_clock::time_point start;  // when its render began
};

// What the render workers and the writers share, under `mutex`.
struct SharedState {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  // A frame rendered or finished, a worker done, or the sequence failed.
  std::condition_variable changed;
  size_t failed_at = SIZE_MAX;  // the earliest failed job, whose message is reported
  std::string message;
  std::map<size_t, Rendered> ready;    // rendered frames waiting for a writer, by job
  size_t finished = 0;                 // jobs written or failed
  size_t written_in_order = 0;         // for an in-order sink: the jobs it has taken, all the first
  int rendering = 0;                   // render workers still running
  std::vector<FrameOutcome> outcomes;  // one per job, written by the thread that has the job
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void Fail(SharedState& state, size_t job, std::string message) {
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    if (job < state.failed_at) {
      state.failed_at = job;
      state.message = std::move(message);
    }
    state.failed = true;
  }
  state.changed.notify_all();
}

// A layer handed to the host for one render. A frame that cannot be decoded must not unwind
// through the plug-in's frames: the checkout gets no picture, and the render is failed after.
vhost::LayerOverTime Guarded(vfoot::TimelineLayer* layer, std::optional<std::string>* failure) {
  if (!layer) return {};
  return [layer, failure](A_long time, A_u_long scale) -> std::shared_ptr<const vhost::Image> {
    try {
      return layer->At(time, scale);
    } catch (const std::exception& e) {
      if (!*failure) *failure = e.what();
      return nullptr;
    }
  };
}

std::string FrameName(int frame) {
  return "frame " + std::to_string(frame) + ": ";
}

// Renders one frame. Throws RenderError for a failed render or a layer that could not be read.
vhost::Image RenderFrame(vhost::Host& host, const SequencePlan& plan, int frame) {
  std::optional<std::string> layer_failure;
  vhost::RenderJob request;
  request.timing = FrameTiming(frame, plan.fps, plan.downsample);
  request.bpc = plan.bpc;
  request.input_at = Guarded(plan.input, &layer_failure);
  request.map_at = Guarded(plan.map, &layer_failure);
  vhost::RenderResult result = host.Render(request);
  if (layer_failure) throw RenderError(FrameName(frame) + *layer_failure);
  if (const PF_Err err = result.pre_render_err ? result.pre_render_err : result.err)
    throw RenderError(FrameName(frame) + "the render failed with " + DescribeError(err));
  return std::move(result.output);
}

// The line of a failure, naming the frame unless it does already.
std::string FailureLine(int frame, std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const RenderError& e) {
    return e.what();
  } catch (const std::exception& e) {
    return FrameName(frame) + e.what();
  } catch (...) {
    return FrameName(frame) + "an unknown failure";
  }
}

class Pipeline {
 public:
  Pipeline(vhost::Host& host, const SequencePlan& plan, FrameSink& sink)
      : host_(host),
        plan_(plan),
        sink_(sink),
        progress_(static_cast<int>(plan.frames.size()), plan.progress, plan.progress_to) {
    state_.outcomes.resize(plan.frames.size());
    for (size_t i = 0; i < plan.frames.size(); ++i) state_.outcomes[i].frame = plan.frames[i];
  }

  SequenceResult Run() {
    const int frames = static_cast<int>(plan_.frames.size());
    const int renderers = std::max(1, std::min(plan_.threads, frames));
    const int writers = sink_.in_order() ? 1 : std::max(1, std::min(WriterThreads(plan_), frames));
    state_.rendering = renderers;
    // Renders run on worker threads only: each thread's GL state goes with its thread, so none
    // is left on the main thread when the host sends global setdown and unloads the module.
    std::vector<std::thread> threads;
    for (int i = 0; i < renderers; ++i) threads.emplace_back([this] { RenderLoop(); });
    for (int i = 0; i < writers; ++i) threads.emplace_back([this] { WriteLoop(); });
    for (std::thread& thread : threads) thread.join();
    progress_.Finish();
    SequenceResult result;
    result.frames = std::move(state_.outcomes);
    if (state_.failed) result.stopped = state_.message;
    return result;
  }

 private:
  // Frames in flight (rendering, waiting for a writer, being written) are at most this many, so
  // that renders faster than the writers hold few frames in memory, and an in-order sink waiting
  // for a slow earlier frame holds few after it.
  size_t Window() const {
    return 2 * static_cast<size_t>(std::max(1, plan_.threads)) +
           static_cast<size_t>(WriterThreads(plan_));
  }

  // Waits until job `job` may start. False when the sequence failed meanwhile.
  bool WaitForRoom(size_t job) {
    std::unique_lock<std::mutex> lock(state_.mutex);
    state_.changed.wait(lock, [&] { return state_.failed || job < state_.finished + Window(); });
    return !state_.failed;
  }

  // A frame that ended without reaching the sink: recorded, and the sequence stops unless it
  // goes on past failures.
  bool Failed(size_t job, std::string failure, double seconds) {
    state_.outcomes[job].seconds = seconds;
    state_.outcomes[job].failure = failure;
    if (plan_.continue_on_error && !sink_.in_order()) {
      progress_.FrameFailed(failure);
      {
        std::lock_guard<std::mutex> lock(state_.mutex);
        ++state_.finished;
      }
      state_.changed.notify_all();
      return true;
    }
    Fail(state_, job, std::move(failure));
    return false;
  }

  // A render worker's loop. Nothing may leave it as an exception, which would end the process:
  // every failure, ours or the host's (out of memory, say), becomes the sequence's failure.
  void RenderLoop() {
    for (;;) {
      if (state_.failed) break;
      const size_t job = state_.next.fetch_add(1);
      if (job >= plan_.frames.size() || !WaitForRoom(job)) break;
      const int frame = plan_.frames[job];
      const auto start = std::chrono::steady_clock::now();
      try {
        vhost::Image image = RenderFrame(host_, plan_, frame);
        {
          std::lock_guard<std::mutex> lock(state_.mutex);
          state_.ready.emplace(job, Rendered{std::move(image), start});
        }
        state_.changed.notify_all();
        continue;
      } catch (...) {
        if (!Failed(job, FailureLine(frame, std::current_exception()), SecondsSince(start))) break;
      }
    }
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      --state_.rendering;
    }
    state_.changed.notify_all();
  }

  // The next frame a writer may take, or none when the writers are done: every render worker
  // has ended and nothing is left to write, or (for an in-order sink) the sequence failed. An
  // in-order sink takes its frames one at a time and in the plan's order; other sinks take
  // whatever is rendered, also after a failure elsewhere, as the frames were rendered whole.
  std::optional<std::pair<size_t, Rendered>> NextToWrite() {
    std::unique_lock<std::mutex> lock(state_.mutex);
    for (;;) {
      const bool in_order = sink_.in_order();
      if (in_order && state_.failed) return std::nullopt;
      if (!state_.ready.empty() &&
          (!in_order || state_.ready.begin()->first == state_.written_in_order)) {
        auto node = state_.ready.extract(state_.ready.begin());
        return std::pair{node.key(), std::move(node.mapped())};
      }
      if (state_.rendering == 0 && (state_.ready.empty() || in_order)) return std::nullopt;
      state_.changed.wait(lock);
    }
  }

  // A writer's loop: hands each rendered frame to the sink while the next ones render.
  void WriteLoop() {
    while (auto next = NextToWrite()) {
      const size_t job = next->first;
      const int frame = plan_.frames[job];
      try {
        sink_.Take(frame, next->second.image);
      } catch (...) {
        if (!Failed(job, FailureLine(frame, std::current_exception()),
                    SecondsSince(next->second.start)))
          return;
        continue;
      }
      const double seconds = SecondsSince(next->second.start);
      state_.outcomes[job].seconds = seconds;
      state_.outcomes[job].done = true;
      progress_.FrameDone(frame, seconds);
      {
        std::lock_guard<std::mutex> lock(state_.mutex);
        ++state_.finished;
        ++state_.written_in_order;
      }
      state_.changed.notify_all();
    }
  }

  vhost::Host& host_;
  const SequencePlan& plan_;
  FrameSink& sink_;
  Progress progress_;
  SharedState state_;
};

}  // namespace

// One writer: the renders' GL phases already take every core (llvmpipe's threads) and hold a
// lock that keeps them from overlapping, so a second writer would only compete with them; one
// frame's encoding fits in the next one's render.
int WriterThreads(const SequencePlan& plan) {
  return plan.writers > 0 ? plan.writers : 1;
}

SequenceResult RenderSequence(vhost::Host& host, const SequencePlan& plan, FrameSink& sink) {
  return Pipeline(host, plan, sink).Run();
}

}  // namespace vcli

#include "cli/sequence.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
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

struct SharedState {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  std::condition_variable changed;  // a frame delivered in order, or the sequence failed
  size_t failed_at = SIZE_MAX;      // the earliest failed job, whose message is reported
  std::string message;
  // For an in-order sink: finished frames waiting for an earlier one, and how many were taken.
  std::map<size_t, std::pair<vhost::Image, double>> waiting;
  size_t delivered = 0;
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

// An in-order sink may only be this many frames behind the renders, so that frames waiting for
// a slow earlier one stay few.
size_t OrderWindow(const SequencePlan& plan) {
  return 2 * static_cast<size_t>(std::max(1, plan.threads));
}

// Waits until job `job` may start without running too far ahead of the in-order sink. False
// when the sequence failed meanwhile.
bool WaitForTurn(SharedState& state, const SequencePlan& plan, size_t job) {
  std::unique_lock<std::mutex> lock(state.mutex);
  state.changed.wait(lock,
                     [&] { return state.failed || job < state.delivered + OrderWindow(plan); });
  return !state.failed;
}

// Hands a finished frame to the sink: at once, or once every earlier frame is in. Frames are
// delivered under the lock, so an in-order sink takes one frame at a time.
void Deliver(SharedState& state, const SequencePlan& plan, FrameSink& sink, size_t job,
             vhost::Image image, std::chrono::steady_clock::time_point start, Progress& progress) {
  if (!sink.in_order()) {
    sink.Take(plan.frames[job], image);
    const double seconds = SecondsSince(start);
    state.outcomes[job].seconds = seconds;
    state.outcomes[job].done = true;
    progress.FrameDone(plan.frames[job], seconds);
    return;
  }
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.waiting.emplace(job, std::pair{std::move(image), SecondsSince(start)});
    for (auto it = state.waiting.begin();
         !state.failed && it != state.waiting.end() && it->first == state.delivered;
         it = state.waiting.erase(it)) {
      try {
        sink.Take(plan.frames[it->first], it->second.first);
      } catch (const RenderError&) {
        throw;
      } catch (const std::exception& e) {
        throw RenderError("frame " + std::to_string(plan.frames[it->first]) + ": " + e.what());
      }
      ++state.delivered;
      state.outcomes[it->first].seconds = it->second.second;
      state.outcomes[it->first].done = true;
      progress.FrameDone(plan.frames[it->first], it->second.second);
    }
  }
  state.changed.notify_all();
}

// A worker's loop. Nothing may leave it as an exception, which would end the process: every
// failure, ours or the host's (out of memory, say), becomes the sequence's failure.
void RenderFrames(vhost::Host& host, const SequencePlan& plan, FrameSink& sink, SharedState& state,
                  Progress& progress) {
  for (;;) {
    if (state.failed) return;
    const size_t job = state.next.fetch_add(1);
    if (job >= plan.frames.size()) return;
    if (sink.in_order() && !WaitForTurn(state, plan, job)) return;
    const std::string frame_name = "frame " + std::to_string(plan.frames[job]) + ": ";
    const auto start = std::chrono::steady_clock::now();
    std::string failure;
    try {
      Deliver(state, plan, sink, job, RenderPlanFrame(host, plan, plan.frames[job]), start,
              progress);
      continue;
    } catch (const RenderError& e) {
      failure = e.what();
    } catch (const std::exception& e) {
      failure = frame_name + e.what();
    } catch (...) {
      failure = frame_name + "an unknown failure";
    }
    state.outcomes[job].seconds = SecondsSince(start);
    state.outcomes[job].failure = failure;
    if (plan.continue_on_error && !sink.in_order()) {
      progress.FrameFailed(failure);
      continue;
    }
    Fail(state, job, std::move(failure));
    return;
  }
}

}  // namespace

SequenceResult RenderSequence(vhost::Host& host, const SequencePlan& plan, FrameSink& sink) {
  SharedState state;
  state.outcomes.resize(plan.frames.size());
  for (size_t i = 0; i < plan.frames.size(); ++i) state.outcomes[i].frame = plan.frames[i];
  Progress progress(static_cast<int>(plan.frames.size()), plan.progress, plan.progress_to,
                    plan.observer);
  const int count = std::max(1, std::min(plan.threads, static_cast<int>(plan.frames.size())));
  // Renders run on worker threads only: each thread's GL state goes with its thread, so none is
  // left on the main thread when the host sends global setdown and unloads the module.
  std::vector<std::thread> workers;
  for (int i = 0; i < count; ++i)
    workers.emplace_back([&] { RenderFrames(host, plan, sink, state, progress); });
  for (std::thread& worker : workers) worker.join();
  progress.Finish();
  SequenceResult result;
  result.frames = std::move(state.outcomes);
  if (state.failed) result.stopped = state.message;
  return result;
}

vhost::Image RenderPlanFrame(vhost::Host& host, const SequencePlan& plan, int frame) {
  std::optional<std::string> layer_failure;
  vhost::RenderJob request;
  request.timing = FrameTiming(frame, plan.fps, plan.downsample);
  request.bpc = plan.bpc;
  request.input_at = Guarded(plan.input, &layer_failure);
  request.map_at = Guarded(plan.map, &layer_failure);
  vhost::RenderResult result = host.Render(request);
  const std::string name = "frame " + std::to_string(frame) + ": ";
  if (layer_failure) throw RenderError(name + *layer_failure);
  if (const PF_Err err = result.pre_render_err ? result.pre_render_err : result.err)
    throw RenderError(name + "the render failed with " + DescribeError(err));
  return std::move(result.output);
}

}  // namespace vcli

#include "pipeline/sequence.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>

#include "pipeline/errors.h"
#include "pipeline/host_session.h"
#include "pipeline/observer.h"

namespace vpipe {

namespace {

// One writer: the renders' GL phases already take every core (llvmpipe's threads) and hold a
// lock that keeps them from overlapping, so a second writer would only compete with them; one
// frame's encoding fits in the next one's render.
int WriterThreads(const SequencePlan& plan) {
  return plan.writers > 0 ? plan.writers : 1;
}


// A frame rendered (or reused) and waiting for a writer.
struct Rendered {
  std::shared_ptr<const vhost::Image> image;
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
  std::map<size_t, Rendered> ready;  // rendered frames waiting for a writer, by job
  size_t finished = 0;               // jobs written or failed
  size_t written_in_order = 0;       // for an in-order sink: the jobs it has taken, all the first
  int rendering = 0;                 // render workers still running
  // Outputs that later jobs reuse, by the job that rendered them, with how many of those jobs
  // have yet to take it (they take it in any order); and the jobs whose render failed, whose
  // reusers render for themselves.
  std::map<size_t, std::pair<std::shared_ptr<const vhost::Image>, size_t>> kept;
  std::set<size_t> render_failed;
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
vhost::LayerOverTime Guarded(vmedia::TimelineLayer* layer, std::optional<std::string>* failure) {
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

// Whether the effect says its output at `timing` may change over time with no control changing:
// its dynamic-flags answer when it gives one, else what it declared at global setup. A failed
// query counts as "it may".
bool VariesOverTime(vhost::Host& host, const vhost::Timing& timing) {
  if (host.out_data().out_flags2 & PF_OutFlag2_SUPPORTS_QUERY_DYNAMIC_FLAGS) {
    if (host.QueryDynamicFlags(timing) != PF_Err_NONE) return true;
  }
  return (host.out_data().out_flags & PF_OutFlag_NON_PARAM_VARY) != 0;
}

// What of a frame's render can differ from another frame's: the source frame each layer shows
// and every control's value, at its time. The effect reads nothing else that changes with time
// when it says it does not vary.
struct FrameInputs {
  std::optional<int> input;
  std::optional<int> map;
  std::vector<double> controls;
  bool varies = true;
  bool operator==(const FrameInputs& o) const {
    return input == o.input && map == o.map && controls == o.controls;
  }
};

FrameInputs InputsOf(vhost::Host& host, const SequencePlan& plan, int frame) {
  const vhost::Timing timing = FrameTiming(frame, plan.fps, plan.downsample);
  FrameInputs inputs;
  inputs.varies = VariesOverTime(host, timing);
  if (inputs.varies) return inputs;
  inputs.input = plan.input->SourceFrameAt(timing.current_time, timing.time_scale);
  if (plan.map) inputs.map = plan.map->SourceFrameAt(timing.current_time, timing.time_scale);
  const double seconds = static_cast<double>(timing.current_time) / timing.time_scale;
  const vhost::ControlStore& controls = host.controls();
  for (int i = 1; i < controls.size(); ++i) inputs.controls.push_back(controls.ValueAt(i, seconds));
  return inputs;
}

// For each job, the earlier job whose output it takes instead of rendering, as a compositing
// application's frame cache would: a frame whose layers show the same source frames as the
// frame before it, with every control at the same value, of an effect that says its output does
// not vary over time otherwise. A run of such frames all take the output of its first.
std::vector<std::optional<size_t>> PlanReuse(vhost::Host& host, const SequencePlan& plan) {
  std::vector<std::optional<size_t>> reuse(plan.frames.size());
  FrameInputs before;
  for (size_t job = 0; job < plan.frames.size(); ++job) {
    FrameInputs now = InputsOf(host, plan, plan.frames[job]);
    if (job > 0 && !now.varies && !before.varies && now == before)
      reuse[job] = reuse[job - 1].value_or(job - 1);
    before = std::move(now);
  }
  return reuse;
}

// Counts the frames that end and tells the plan's observer, one call at a time.
class FrameCount {
 public:
  FrameCount(int total, RenderObserver* observer) : total_(total), observer_(observer) {}
  void FrameDone(int frame, double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (observer_) observer_->FrameDone(frame, done_, total_, seconds);
  }
  void FrameFailed(const std::string& message) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++done_;
    if (observer_) observer_->FrameFailed(message, done_, total_);
  }
  void Finish() {
    if (observer_) observer_->FramesEnded();
  }

 private:
  int total_;
  int done_ = 0;
  RenderObserver* observer_;
  std::mutex mutex_;
};

class Pipeline {
 public:
  Pipeline(vhost::Host& host, const SequencePlan& plan, FrameSink& sink)
      : host_(host),
        plan_(plan),
        sink_(sink),
        progress_(static_cast<int>(plan.frames.size()), plan.observer) {
    state_.outcomes.resize(plan.frames.size());
    for (size_t i = 0; i < plan.frames.size(); ++i) state_.outcomes[i].frame = plan.frames[i];
    reuse_ = PlanReuse(host, plan);
    for (size_t job = 0; job < reuse_.size(); ++job)
      if (reuse_[job]) ++reusers_[*reuse_[job]];
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
      if (std::shared_ptr<const vhost::Image> image = Reused(job)) {
        Ready(job, Rendered{std::move(image), start});
        continue;
      }
      try {
        auto image = std::make_shared<const vhost::Image>(RenderFrame(host_, plan_, frame));
        if (reusers_.count(job)) {
          std::lock_guard<std::mutex> lock(state_.mutex);
          state_.kept[job] = {image, reusers_.at(job)};
        }
        Ready(job, Rendered{std::move(image), start});
        continue;
      } catch (...) {
        if (reusers_.count(job)) {
          std::lock_guard<std::mutex> lock(state_.mutex);
          state_.render_failed.insert(job);
        }
        state_.changed.notify_all();
        if (!Failed(job, FailureLine(frame, std::current_exception()), SecondsSince(start))) break;
      }
    }
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      --state_.rendering;
    }
    state_.changed.notify_all();
  }

  void Ready(size_t job, Rendered rendered) {
    {
      std::lock_guard<std::mutex> lock(state_.mutex);
      state_.ready.emplace(job, std::move(rendered));
    }
    state_.changed.notify_all();
  }

  // The output job `job` takes from an earlier one, once that one is rendered; null when it
  // renders for itself (nothing to reuse, the earlier render failed, or the sequence did).
  std::shared_ptr<const vhost::Image> Reused(size_t job) {
    if (!reuse_[job]) return nullptr;
    const size_t from = *reuse_[job];
    std::unique_lock<std::mutex> lock(state_.mutex);
    state_.changed.wait(lock, [&] {
      return state_.failed || state_.kept.count(from) || state_.render_failed.count(from);
    });
    auto found = state_.kept.find(from);
    if (found == state_.kept.end()) return nullptr;
    std::shared_ptr<const vhost::Image> image = found->second.first;
    if (--found->second.second == 0) state_.kept.erase(found);
    state_.outcomes[job].reused = true;
    return image;
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
        sink_.Take(frame, *next->second.image);
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
  FrameCount progress_;
  SharedState state_;
  std::vector<std::optional<size_t>> reuse_;  // per job: whose output it takes
  std::map<size_t, size_t> reusers_;          // per job reused: how many jobs take its output
};

}  // namespace

SequenceResult RenderSequence(vhost::Host& host, const SequencePlan& plan, FrameSink& sink) {
  return Pipeline(host, plan, sink).Run();
}

vhost::Image RenderPlanFrame(vhost::Host& host, const SequencePlan& plan, int frame) {
  return RenderFrame(host, plan, frame);
}

}  // namespace vpipe

#include "cli/sequence.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "cli/errors.h"
#include "cli/host_session.h"
#include "cli/image_io.h"
#include "cli/progress.h"
#include "cli/timing.h"

namespace vcli {

namespace {

struct SharedState {
  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  size_t failed_at = SIZE_MAX;  // the earliest failed job, whose message is reported
  std::string message;
};

void Fail(SharedState& state, size_t job, std::string message) {
  std::lock_guard<std::mutex> lock(state.mutex);
  if (job < state.failed_at) {
    state.failed_at = job;
    state.message = std::move(message);
  }
  state.failed = true;
}

// Renders and writes one frame. Throws RenderError for a failed render or write.
void RenderFrame(vhost::Host& host, const SequencePlan& plan, const FrameJob& frame) {
  vhost::RenderJob request;
  request.timing = FrameTiming(frame.frame, plan.fps, plan.downsample);
  request.bpc = plan.bpc;
  request.input = plan.input;
  request.map = plan.map;
  const vhost::RenderResult result = host.Render(request);
  if (const PF_Err err = result.pre_render_err ? result.pre_render_err : result.err)
    throw RenderError("frame " + std::to_string(frame.frame) + ": the render failed with " +
                      DescribeError(err));
  WriteHostImage(frame.output, result.output, plan.format, plan.bpc);
}

// A worker's loop. Nothing may leave it as an exception, which would end the process: every
// failure, ours or the host's (out of memory, say), becomes the sequence's failure.
void RenderFrames(vhost::Host& host, const SequencePlan& plan, SharedState& state,
                  Progress& progress) {
  for (;;) {
    if (state.failed) return;
    const size_t job = state.next.fetch_add(1);
    if (job >= plan.frames.size()) return;
    const FrameJob& frame = plan.frames[job];
    const std::string frame_name = "frame " + std::to_string(frame.frame) + ": ";
    std::string failure;
    try {
      RenderFrame(host, plan, frame);
      progress.FrameDone();
      continue;
    } catch (const RenderError& e) {
      failure = e.what();
    } catch (const std::exception& e) {
      failure = frame_name + e.what();
    } catch (...) {
      failure = frame_name + "an unknown failure";
    }
    Fail(state, job, std::move(failure));
    return;
  }
}

}  // namespace

void RenderSequence(vhost::Host& host, const SequencePlan& plan) {
  SharedState state;
  Progress progress(static_cast<int>(plan.frames.size()), plan.show_progress);
  const int count = std::max(1, std::min(plan.threads, static_cast<int>(plan.frames.size())));
  // Renders run on worker threads only: each thread's GL state goes with its thread, so none is
  // left on the main thread when the host sends global setdown and unloads the module.
  std::vector<std::thread> workers;
  for (int i = 0; i < count; ++i)
    workers.emplace_back([&] { RenderFrames(host, plan, state, progress); });
  for (std::thread& worker : workers) worker.join();
  progress.Finish();
  if (state.failed) throw RenderError(state.message);
}

}  // namespace vcli

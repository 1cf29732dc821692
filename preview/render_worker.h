// The preview's one render thread. Requests carry rising sequence numbers; the thread always
// takes the newest one waiting (older ones not yet started are dropped), and a finished picture
// is delivered only when no newer request is waiting and it is newer than every picture delivered
// before it, so a page never sees an older state after a newer one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vpreview {

enum class View { kResult, kInput, kMap };

struct PreviewRequest {
  uint64_t seq = 0;
  bool draft = false;
  View view = View::kResult;
};

struct PreviewPicture {
  uint64_t seq = 0;
  bool draft = false;
  View view = View::kResult;
  int frame = 0;
  int width = 0;
  int height = 0;
  double ms = 0;  // the render's time
  std::string mime;
  std::string bytes;
  std::string error;  // set instead of the picture when the render failed
};

const char* ViewName(View view);

class RenderWorker {
 public:
  using RenderFn = std::function<PreviewPicture(const PreviewRequest&)>;
  using DeliverFn = std::function<void(const PreviewPicture&)>;

  // `render` runs on the worker's thread; `deliver` too, for each picture delivered.
  RenderWorker(RenderFn render, DeliverFn deliver);
  // Finishes the render in progress, drops what waits, and joins the thread.
  ~RenderWorker();
  RenderWorker(const RenderWorker&) = delete;
  RenderWorker& operator=(const RenderWorker&) = delete;

  // Queues `request`; a seq of 0 takes the next number. Returns its seq, or nullopt (nothing
  // queued) when the seq given is not above every seq asked for before.
  std::optional<uint64_t> Submit(PreviewRequest request);
  // The newest seq asked for, 0 before any.
  uint64_t newest_requested() const;
  // The picture of `seq` if it is the newest delivered.
  std::shared_ptr<const PreviewPicture> Delivered(uint64_t seq) const;

 private:
  void Loop();

  RenderFn render_;
  DeliverFn deliver_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::optional<PreviewRequest> waiting_;
  uint64_t newest_ = 0;
  std::shared_ptr<const PreviewPicture> delivered_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vpreview

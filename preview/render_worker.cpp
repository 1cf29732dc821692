#include "preview/render_worker.h"

#include <exception>
#include <utility>

namespace vpreview {

const char* ViewName(View view) {
  switch (view) {
    case View::kInput:
      return "input";
    case View::kMap:
      return "map";
    default:
      return "result";
  }
}

RenderWorker::RenderWorker(RenderFn render, DeliverFn deliver)
    : render_(std::move(render)), deliver_(std::move(deliver)), thread_([this] { Loop(); }) {}

RenderWorker::~RenderWorker() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    waiting_.reset();
  }
  wake_.notify_all();
  thread_.join();
}

std::optional<uint64_t> RenderWorker::Submit(PreviewRequest request) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (request.seq == 0) request.seq = newest_ + 1;
    if (request.seq <= newest_) return std::nullopt;
    newest_ = request.seq;
    waiting_ = request;
  }
  wake_.notify_all();
  return request.seq;
}

uint64_t RenderWorker::newest_requested() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return newest_;
}

std::shared_ptr<const PreviewPicture> RenderWorker::Delivered(uint64_t seq) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (delivered_ && delivered_->seq == seq) return delivered_;
  return nullptr;
}

void RenderWorker::Loop() {
  for (;;) {
    PreviewRequest request;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [&] { return stopping_ || waiting_.has_value(); });
      if (stopping_) return;
      request = *waiting_;
      waiting_.reset();
    }
    PreviewPicture picture;
    try {
      picture = render_(request);
    } catch (const std::exception& e) {
      picture.error = e.what();
    } catch (...) {
      picture.error = "the render failed";
    }
    picture.seq = request.seq;
    picture.draft = request.draft;
    picture.view = request.view;
    auto shared = std::make_shared<const PreviewPicture>(std::move(picture));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      // A newer change is waiting: this picture already shows an older state.
      if (stopping_ || waiting_) continue;
      if (delivered_ && delivered_->seq >= shared->seq) continue;
      if (shared->error.empty()) delivered_ = shared;
    }
    deliver_(*shared);
  }
}

}  // namespace vpreview

#include "preview/events.h"

#include <algorithm>

namespace vpreview {

namespace {

// A queue longer than this belongs to a page that stopped reading; it keeps only the newest.
constexpr size_t kMaxQueued = 256;

}  // namespace

std::optional<std::string> EventHub::Subscription::Next(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  ready_.wait_for(lock, wait, [&] { return closed_ || !queue_.empty(); });
  if (closed_ || queue_.empty()) return std::nullopt;
  std::string message = std::move(queue_.front());
  queue_.pop_front();
  return message;
}

bool EventHub::Subscription::closed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

std::shared_ptr<EventHub::Subscription> EventHub::Subscribe(const std::string& first) {
  auto subscription = std::make_shared<Subscription>();
  if (!first.empty()) subscription->queue_.push_back(first);
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_)
    subscription->closed_ = true;
  else
    subscribers_.push_back(subscription);
  return subscription;
}

void EventHub::Unsubscribe(const std::shared_ptr<Subscription>& subscription) {
  std::lock_guard<std::mutex> lock(mutex_);
  subscribers_.erase(std::remove(subscribers_.begin(), subscribers_.end(), subscription),
                     subscribers_.end());
}

void EventHub::Publish(const std::string& event, const std::string& data) {
  const std::string message = "event: " + event + "\ndata: " + data + "\n\n";
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& s : subscribers_) {
    {
      std::lock_guard<std::mutex> queue_lock(s->mutex_);
      if (s->queue_.size() >= kMaxQueued) s->queue_.pop_front();
      s->queue_.push_back(message);
    }
    s->ready_.notify_one();
  }
}

void EventHub::Close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  for (const auto& s : subscribers_) {
    {
      std::lock_guard<std::mutex> queue_lock(s->mutex_);
      s->closed_ = true;
    }
    s->ready_.notify_all();
  }
  subscribers_.clear();
}

}  // namespace vpreview

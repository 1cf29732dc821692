// Server-Sent Events: what the server tells every open page (a new picture, render progress, a
// state changed elsewhere). Each page's connection has a queue of its own; a slow page only
// delays itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vpreview {

class EventHub {
 public:
  class Subscription {
   public:
    // The next message, already in the stream's wire form; nullopt after `wait` without one,
    // or once the hub is closed (closed() then says so).
    std::optional<std::string> Next(std::chrono::milliseconds wait);
    bool closed() const;

   private:
    friend class EventHub;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::string> queue_;
    bool closed_ = false;
  };

  // A new subscriber; it receives `first` (wire form, may be empty) and then what is published
  // from now on.
  std::shared_ptr<Subscription> Subscribe(const std::string& first = "");
  void Unsubscribe(const std::shared_ptr<Subscription>& subscription);
  // Sends `event` with the JSON text `data` to every subscriber.
  void Publish(const std::string& event, const std::string& data);
  // Ends every subscription, so that the connections serving them can finish.
  void Close();

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Subscription>> subscribers_;
  bool closed_ = false;
};

}  // namespace vpreview

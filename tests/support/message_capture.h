// Everything the effect's message sink receives while a capture lives, from any thread. Only one
// capture may live at a time: the sink has one observer.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "params/message_observer.h"

class MessageCapture {
 public:
  MessageCapture() {
    EXPECT_EQ(live_.exchange(this), nullptr) << "a second message capture while one lives";
    SetMessageObserver(&Observe);
  }
  ~MessageCapture() {
    SetMessageObserver(nullptr);
    live_.store(nullptr);
  }
  MessageCapture(const MessageCapture&) = delete;
  MessageCapture& operator=(const MessageCapture&) = delete;

  // The messages since the capture began or since the last Take.
  std::vector<std::string> Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    out.swap(texts_);
    return out;
  }

 private:
  static void Observe(const std::string& text) {
    MessageCapture* capture = live_.load();
    if (capture == nullptr) return;
    std::lock_guard<std::mutex> lock(capture->mutex_);
    capture->texts_.push_back(text);
  }

  static inline std::atomic<MessageCapture*> live_{nullptr};
  std::mutex mutex_;
  std::vector<std::string> texts_;
};

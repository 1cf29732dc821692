// The progress line of a sequence render on a terminal: frames done, frames per second and the
// time left, redrawn in place on standard error.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>

namespace vcli {

class Progress {
 public:
  // Draws nothing unless `enabled` (the caller checks the terminal and --quiet); draws on `to`.
  Progress(int total, bool enabled, std::FILE* to = stderr);
  // Counts one finished frame and redraws; safe from several threads.
  void FrameDone();
  // Ends the line, if one was drawn.
  void Finish();

 private:
  int total_;
  int done_ = 0;
  bool enabled_;
  std::FILE* to_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
};

}  // namespace vcli

// How far a sequence render is, for a person at a terminal and for a farm reading a log: on a
// terminal one progress line redrawn in place on standard error; in a log one line per finished
// frame, flushed as it is written, so that a farm manager's parser sees each frame as it ends.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>

namespace vcli {

enum class ProgressStyle { kNone, kTerminal, kLog };

// Told of every finished frame (the frame, how many are done, of how many), whatever the style;
// for a program that shows the progress itself (varnex preview).
using ProgressObserver = std::function<void(int frame, int done, int total)>;

class Progress {
 public:
  Progress(int total, ProgressStyle style, std::FILE* to = stderr, ProgressObserver observer = {});
  // Counts one finished frame that took `seconds` and reports it; safe from several threads.
  void FrameDone(int frame, double seconds);
  // Reports a frame that failed (with --continue-on-error); the message is the failure's line.
  void FrameFailed(const std::string& message);
  // Ends the terminal's line, if one was drawn.
  void Finish();

 private:
  int total_;
  int done_ = 0;
  ProgressStyle style_;
  std::FILE* to_;
  ProgressObserver observer_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
};

}  // namespace vcli

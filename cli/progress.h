// How far a sequence render is, for a person at a terminal and for a farm reading a log: on a
// terminal one progress line redrawn in place on standard error; in a log one line per finished
// frame, flushed as it is written, so that a farm manager's parser sees each frame as it ends.
// Warnings go to the same stream, one line each.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "pipeline/observer.h"

namespace vcli {

enum class ProgressStyle { kNone, kTerminal, kLog };

class Progress : public vpipe::RenderObserver {
 public:
  // `warnings` false: warnings are dropped (-q).
  Progress(ProgressStyle style, std::FILE* to, bool warnings);
  void FrameDone(int frame, int done, int total, double seconds) override;
  void FrameFailed(const std::string& message, int done, int total) override;
  // Ends the terminal's line, if one was drawn.
  void FramesEnded() override;
  void Warning(const std::string& line) override;

 private:
  ProgressStyle style_;
  std::FILE* to_;
  bool warnings_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_;
  std::mutex mutex_;
};

}  // namespace vcli

// What a render tells its caller while it runs. The library prints nothing: a front end shows
// these as it likes (a terminal's progress line, a log, server events, a Python callback).
#pragma once

#include <string>

namespace vpipe {

struct RenderSettings;

class RenderObserver {
 public:
  virtual ~RenderObserver() = default;
  // The plan is resolved: what will be rendered, before any warning or frame.
  virtual void Planned(const RenderSettings& settings) { (void)settings; }
  // A frame reached its output (`done` of `total`, counting failed ones); `seconds` from the start
  // of its render. Called from the writer threads, one call at a time.
  virtual void FrameDone(int frame, int done, int total, double seconds) {
    (void)frame, (void)done, (void)total, (void)seconds;
  }
  // A frame failed and the others go on (continue_on_error); `message` names the frame.
  virtual void FrameFailed(const std::string& message, int done, int total) {
    (void)message, (void)done, (void)total;
  }
  // The last frame has been handed on, or the sequence stopped.
  virtual void FramesEnded() {}
  // A line on what the output cannot keep of the render, or on how the footage is taken.
  virtual void Warning(const std::string& line) { (void)line; }
};

}  // namespace vpipe

// File names that stand for numbered frames: a run of '#' ("out/f####.png") or a printf-style
// "%d" / "%04d" in the file name stands for the frame number, zero-padded to the given width.
// Output sequences are written under such names and image sequences read from them.
#pragma once

#include <optional>
#include <string>

namespace vmedia {

struct FramePattern {
  std::string prefix;  // everything before the placeholder, folders included
  std::string suffix;  // everything after it
  int width = 1;       // minimum digits
};

// The pattern in `path`, or nullopt when it has none. Throws FootageError (source.h), naming the
// path after `role` ("output", "input"), when the placeholder is ambiguous (more than one) or
// sits in a folder name rather than the file name.
std::optional<FramePattern> ParseFramePattern(const std::string& path, const std::string& role);

// The file name of one frame.
std::string ExpandFramePattern(const FramePattern& pattern, int frame);

}  // namespace vmedia

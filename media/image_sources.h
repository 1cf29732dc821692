// The sources OpenSource builds from image files: a still and an image sequence.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "media/frame_pattern.h"
#include "media/source.h"

namespace vmedia {

// A still: frame 0, the whole file, whose header (read here unless given) says what it is.
// Throws FootageError when the file is not an image OpenImageIO can read or is beyond the image
// limits.
std::unique_ptr<Source> OpenStill(const std::string& path, const OpenOptions& options,
                                  std::optional<ImageHeader> header = std::nullopt);

// An image sequence of the files `pattern` (parsed from `path`) matches in its folder. Reads only
// the headers here. Throws FootageError when nothing matches, a frame inside the range is missing
// (unless options hold the nearest), or the frames differ in size.
std::unique_ptr<Source> OpenSequence(const std::string& path, const FramePattern& pattern,
                                     const OpenOptions& options);

// Depth (Source::depth) of an image whose header says it has samples deeper than 8 bits or not.
inline int DepthOf(bool deep_samples) {
  return deep_samples ? 32 : 8;
}

}  // namespace vmedia

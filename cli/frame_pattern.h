// Output names for frame sequences; the parsing lives with the footage, which reads sequences
// under the same names.
#pragma once

#include <optional>
#include <string>

#include "hostapp/footage/frame_pattern.h"

namespace vcli {

using vfoot::ExpandFramePattern;
using vfoot::FramePattern;

// The pattern in the output name `path`, or nullopt when it has none. Throws InputError when the
// placeholder is ambiguous (more than one) or sits in a folder name rather than the file name.
std::optional<FramePattern> ParseFramePattern(const std::string& path);

}  // namespace vcli

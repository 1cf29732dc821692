// Frame lists as compositing renderers and render farms write them: "7", "1-100", "1-100x2"
// (every second frame), "1,5,10-20", and any mix of those joined by commas.
#pragma once

#include <string>
#include <vector>

namespace vpipe {

// The frames `text` names, ascending and each once. Throws InputError, `where` naming the option
// or project key, for malformed text, an empty list, frames outside 0 to kMaxFrame and more than
// kMaxFrameCount frames.
std::vector<int> ParseFrameList(const std::string& text, const std::string& where);

// The shortest list of this syntax naming `frames` (ascending): runs of one step become
// "A-B" or "A-BxS".
std::string FormatFrameList(const std::vector<int>& frames);

// `frames` cut into consecutive pieces of at most `chunk` frames each, in order.
std::vector<std::vector<int>> SplitFrames(const std::vector<int>& frames, int chunk);

}  // namespace vpipe

#include "pipeline/frame_list.h"

#include <algorithm>
#include <charconv>

#include "hostapp/text.h"
#include "pipeline/errors.h"
#include "pipeline/limits.h"

namespace vpipe {

using vhost::ParseWholeNumber;

std::vector<int> ParseFrameList(const std::string& text, const std::string& where) {
  const std::string at = where + " \"" + text + "\": ";
  std::vector<int> frames;
  size_t begin = 0;
  while (true) {
    const size_t comma = text.find(',', begin);
    const std::string part = text.substr(begin, comma - begin);
    // A-B, A-BxS or A; a leading '-' is a sign, which no frame has.
    const size_t dash = part.find('-', 1);
    const size_t x = part.find('x', dash == std::string::npos ? 0 : dash);
    long long first = 0, last = 0, step = 1;
    const bool ok =
        dash == std::string::npos
            ? ParseWholeNumber(part, &first) && (last = first, true)
            : ParseWholeNumber(part.substr(0, dash), &first) &&
                  ParseWholeNumber(part.substr(dash + 1, x == std::string::npos ? x : x - dash - 1),
                                   &last) &&
                  (x == std::string::npos || ParseWholeNumber(part.substr(x + 1), &step));
    if (!ok) throw InputError(at + "expected A-B, A-BxSTEP, N or a list of them such as 1,5,10-20");
    if (first < 0 || last > kMaxFrame || first > last)
      throw InputError(at + (part.empty()
                                 ? std::string("an empty frame in the list")
                                 : part + " is not within 0-" + std::to_string(kMaxFrame)));
    if (step < 1) throw InputError(at + "the step after x must be 1 or more");
    if ((last - first) / step + 1 + static_cast<long long>(frames.size()) > kMaxFrameCount)
      throw InputError(at + "more frames than the limit of " + std::to_string(kMaxFrameCount));
    for (long long f = first; f <= last; f += step) frames.push_back(static_cast<int>(f));
    if (comma == std::string::npos) break;
    begin = comma + 1;
  }
  std::sort(frames.begin(), frames.end());
  frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
  return frames;
}

std::string FormatFrameList(const std::vector<int>& frames) {
  std::string text;
  for (size_t i = 0; i < frames.size();) {
    // The longest run of one step from here; two frames a step of more than one apart are
    // clearer written as a pair.
    size_t j = i + 1;
    const int step = j < frames.size() ? frames[j] - frames[i] : 1;
    while (j + 1 < frames.size() && frames[j + 1] - frames[j] == step) ++j;
    if (!text.empty()) text += ",";
    if (j < frames.size() && (j - i >= 2 || step == 1)) {
      text += std::to_string(frames[i]) + "-" + std::to_string(frames[j]);
      if (step > 1) text += "x" + std::to_string(step);
      i = j + 1;
    } else {
      text += std::to_string(frames[i]);
      i += 1;
    }
  }
  return text;
}

std::vector<std::vector<int>> SplitFrames(const std::vector<int>& frames, int chunk) {
  std::vector<std::vector<int>> chunks;
  for (size_t i = 0; i < frames.size(); i += static_cast<size_t>(chunk))
    chunks.emplace_back(frames.begin() + static_cast<std::ptrdiff_t>(i),
                        frames.begin() + static_cast<std::ptrdiff_t>(std::min(
                                             frames.size(), i + static_cast<size_t>(chunk))));
  return chunks;
}

}  // namespace vpipe

#include "media/frame_pattern.h"

#include <cctype>
#include <cstdio>

#include "hostapp/text.h"
#include "media/source.h"

namespace vmedia {

namespace {

struct Placeholder {
  size_t pos = 0;
  size_t length = 0;
  int width = 1;
};

// A printf integer conversion at `pos` ('%' already seen): "%d" or "%0Nd" with N of 1 to 9.
std::optional<Placeholder> PrintfAt(const std::string& s, size_t pos) {
  size_t i = pos + 1;
  int width = 1;
  if (i < s.size() && s[i] == '0') {
    ++i;
    if (i >= s.size() || s[i] < '1' || s[i] > '9') return std::nullopt;
    width = s[i] - '0';
    ++i;
  }
  if (i >= s.size() || s[i] != 'd') return std::nullopt;
  return Placeholder{pos, i + 1 - pos, width};
}

}  // namespace

std::optional<FramePattern> ParseFramePattern(const std::string& path, const std::string& role) {
  std::optional<Placeholder> found;
  int count = 0;
  for (size_t i = 0; i < path.size();) {
    std::optional<Placeholder> here;
    if (path[i] == '#') {
      size_t end = path.find_first_not_of('#', i);
      if (end == std::string::npos) end = path.size();
      here = Placeholder{i, end - i, static_cast<int>(end - i)};
    } else if (path[i] == '%') {
      here = PrintfAt(path, i);
    }
    if (!here) {
      ++i;
      continue;
    }
    ++count;
    if (!found) found = here;
    i = here->pos + here->length;
  }
  if (!found) return std::nullopt;
  const std::string what = role + " " + vhost::Quoted(path);
  if (count > 1) throw FootageError(what + " holds more than one frame-number placeholder");
  if (path.find('/', found->pos) != std::string::npos)
    throw FootageError(what +
                       ": the frame-number placeholder must be in the file name, not a folder");
  if (found->width > 9) throw FootageError(what + ": a frame number of more than 9 digits");
  return FramePattern{path.substr(0, found->pos), path.substr(found->pos + found->length),
                      found->width};
}

std::string ExpandFramePattern(const FramePattern& pattern, int frame) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "%0*d", pattern.width, frame);
  return pattern.prefix + digits + pattern.suffix;
}

}  // namespace vmedia

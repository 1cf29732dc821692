// Footage as the command sees it: numbered frames on disk, and a way to read back from a render
// which input frame and which map frame each output frame was made of.
//
// Input frames are flat colours carrying their number in red. Map frames are flat and carry
// theirs in alpha, which (with the map channel on alpha) moves the input by that many pixels
// toward larger x; a transparent map moves it the full amount the other way. So an output frame
// says its input by its colour and its map by the transparent columns at its edges.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "support/cli_support.h"

namespace rendertest {

using clitest::Picture;
using clitest::ReadPicture;
using clitest::RunVarnex;
using clitest::TempDir;
using clitest::WritePicture;

constexpr int kWidth = 32;  // 25 % of it is the 8 pixels a fully opaque map moves
constexpr int kHeight = 8;
constexpr int kFullShift = 8;

// A map that shows nowhere: the full shift the other way, read back as this.
constexpr int kNoMap = -1;
// An output with nothing of the input in it.
constexpr int kNoInput = -1;

inline const std::vector<std::string> kMapMovesX = {
    "-s", "Channel=Alpha",  "-s", "Anti-Aliasing=None", "-s", "Edge Behavior=None",
    "-s", "Translate X=25", "-q"};

inline std::vector<std::string> Args(std::vector<std::string> args,
                                     const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

inline Picture InputFrame(int number) {
  Picture p = clitest::MakePicture(kWidth, kHeight, 4);
  for (int i = 0; i < kWidth * kHeight; ++i) {
    p.pixels[i * 4 + 0] = static_cast<float>(number * 10) / 255.0f;
    p.pixels[i * 4 + 1] = 0.5f;
    p.pixels[i * 4 + 3] = 1.0f;
  }
  return p;
}

// Map frame `number` (0 to 7) moves the input `number` pixels: alpha 0.5 moves nothing, and each
// sixteenth above it one pixel more.
inline Picture MapFrame(int number) {
  Picture p = clitest::MakePicture(kWidth, kHeight, 4);
  for (int i = 0; i < kWidth * kHeight; ++i) {
    p.pixels[i * 4 + 3] = static_cast<float>(128 + 16 * number) / 255.0f;
  }
  return p;
}

struct Seen {
  int input = kNoInput;
  int map = kNoMap;
  bool operator==(const Seen&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << "{input " << s.input << ", map " << s.map << "}";
}

inline Seen SeenIn(const Picture& out) {
  Seen seen;
  const int y = kHeight / 2;
  const int middle = kWidth / 2;
  if (out.at(middle, y, 3) < 0.5f) return seen;
  seen.input = static_cast<int>(std::lround(out.at(middle, y, 0) * 255.0f / 10.0f));
  int left = 0;
  while (left < kWidth && out.at(left, y, 3) < 0.5f) ++left;
  int right = 0;
  while (right < kWidth && out.at(kWidth - 1 - right, y, 3) < 0.5f) ++right;
  seen.map = right >= kFullShift ? kNoMap : left;
  return seen;
}

}  // namespace rendertest

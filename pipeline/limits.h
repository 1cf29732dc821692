// Documented limits on what a render accepts. They exist so that a hostile or mistaken input
// (an image header claiming billions of pixels, a range of a million frames) is refused up front
// instead of exhausting memory or time.
#pragma once

#include <cstdint>

#include "media/image_read.h"

namespace vpipe {

// Largest image side and area accepted for the input, the map and the output: the footage's.
using vmedia::kMaxImagePixels;
using vmedia::kMaxImageSide;

// Frame numbers run from 0 to kMaxFrame, and one render covers at most kMaxFrameCount frames.
inline constexpr int kMaxFrame = 999999;
inline constexpr int kMaxFrameCount = 100000;

// Frames per second, and the sub-frame resolution of host time: one frame is kTimeStep ticks, so
// fractional rates such as 23.976 and shutter offsets within a frame keep their precision.
inline constexpr double kMinFps = 0.01;
inline constexpr double kMaxFps = 1000;
inline constexpr int kTimeStep = 1000;
// The largest denominator of a rate given as a ratio: a frame then lasts that many ticks, and
// kMaxFrame of them still fit the host's signed 32-bit time.
inline constexpr int kMaxFpsDenominator = 2000;

inline constexpr int kMaxThreads = 256;
inline constexpr int kMaxDownsample = 64;
// A map layer may sit this far from the input in either direction.
inline constexpr int kMaxMapOffset = 1 << 20;
// A movie output's bits per second; beyond any codec's use.
inline constexpr int64_t kMaxBitrate = 2000000000;
// Keyframes may sit at frames within this distance of zero.
inline constexpr double kMaxKeyframeFrame = 1e7;

}  // namespace vpipe

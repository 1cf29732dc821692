// Small pictures in our host's image type, and comparisons of them, for tests of any area.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>

#include "hostapp/host.h"
#include "hostapp/probe.h"

namespace testimg {

// A deterministic, non-uniform picture. Every pixel is opaque; colours vary in x and y so shifts
// and flips show.
inline vhost::Image Pattern(int w, int h, int bpc) {
  vhost::Image img = vhost::Image::Make(w, h, bpc);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      img.Set(x, y, 0, 1.0f);
      img.Set(x, y, 1, static_cast<float>((x * 37 + y * 11) % 256) / 255.0f);
      img.Set(x, y, 2, static_cast<float>((y * 53 + x * 3) % 256) / 255.0f);
      img.Set(x, y, 3, static_cast<float>((x * y * 7 + 29) % 256) / 255.0f);
    }
  return img;
}

inline vhost::Image Uniform(int w, int h, int bpc, float a, float r, float g, float b,
                            int origin_x = 0, int origin_y = 0) {
  vhost::Image img = vhost::Image::Make(w, h, bpc, origin_x, origin_y);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      img.Set(x, y, 0, a);
      img.Set(x, y, 1, r);
      img.Set(x, y, 2, g);
      img.Set(x, y, 3, b);
    }
  return img;
}

// Largest difference between two images of the same size over all channels.
inline float MaxDifference(const vhost::Image& a, const vhost::Image& b) {
  float worst = 0;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      for (int c = 0; c < 4; ++c)
        worst = std::max(worst, std::fabs(a.Get(x, y, c) - b.Get(x, y, c)));
  return worst;
}

// Pixels only, ignoring row padding.
inline bool SamePixels(const vhost::Image& a, const vhost::Image& b) {
  if (a.width != b.width || a.height != b.height || a.bpc != b.bpc) return false;
  for (int y = 0; y < a.height; ++y)
    if (std::memcmp(a.Row(y), b.Row(y), static_cast<size_t>(a.width) * a.PixelBytes()) != 0)
      return false;
  return true;
}

// Whether every byte of a watched render's output, padding included, still holds what the probe
// filled it with.
inline bool IsUnwritten(const vhost::Image& img) {
  return std::all_of(img.storage.begin(), img.storage.end(),
                     [](uint8_t b) { return b == vhost::kUnwrittenByte; });
}

// Transparent black everywhere: what a failed render leaves in an output it checked out.
inline bool IsCleared(const vhost::Image& img) {
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      for (int c = 0; c < 4; ++c)
        if (img.Get(x, y, c) != 0.0f) return false;
  return true;
}

}  // namespace testimg

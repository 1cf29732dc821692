#include "bench/synthetic.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "hostapp/probe.h"

namespace vbench {

namespace {

// Writes one ARGB pixel (values 0..1) straight into the row: per-channel Set calls would cost
// more than the renders being measured.
inline void Put(vhost::Image& img, uint8_t* row, int x, const float argb[4]) {
  if (img.bpc == 32) {
    std::memcpy(row + static_cast<size_t>(x) * 16, argb, 16);
  } else {
    uint8_t* p = row + static_cast<size_t>(x) * 4;
    for (int c = 0; c < 4; ++c) p[c] = static_cast<uint8_t>(argb[c] * 255.0f + 0.5f);
  }
}

}  // namespace

vhost::Image MakeHostBuffer(int width, int height, int bpc) {
  return vhost::Image::Make(width, height, bpc, 0, 0, vhost::Probe::kRowPadding);
}

vhost::Image MakeInputLayer(int width, int height, int bpc) {
  vhost::Image img = MakeHostBuffer(width, height, bpc);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = img.Row(y);
    const float v = static_cast<float>(y) / static_cast<float>(height);
    for (int x = 0; x < width; ++x) {
      const float u = static_cast<float>(x) / static_cast<float>(width);
      const float band = static_cast<float>(((x + y) / 24) % 2);
      const float dx = u - 0.5f;
      const float dy = v - 0.5f;
      const float alpha = std::fmin(1.0f, 1.6f - 2.0f * std::sqrt(dx * dx + dy * dy));
      const float argb[4] = {alpha, 0.2f + 0.6f * u, 0.3f + 0.5f * band, 0.9f - 0.7f * v};
      Put(img, row, x, argb);
    }
  }
  return img;
}

vhost::Image MakeGrainyInputLayer(int width, int height, int bpc) {
  vhost::Image img = MakeInputLayer(width, height, bpc);
  uint32_t state = 0x9e3779b9u;
  for (int y = 0; y < height; ++y) {
    uint8_t* row = img.Row(y);
    for (int x = 0; x < width; ++x) {
      for (int c = 1; c < 4; ++c) {
        // xorshift32: cheap, and the same sequence everywhere.
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const int grain = static_cast<int>(state % 7) - 3;
        if (img.bpc == 32) {
          float* p = reinterpret_cast<float*>(row) + static_cast<size_t>(x) * 4 + c;
          *p = std::fmin(1.0f, std::fmax(0.0f, *p + grain / 255.0f));
        } else {
          uint8_t* p = row + static_cast<size_t>(x) * 4 + c;
          *p = static_cast<uint8_t>(std::min(255, std::max(0, *p + grain)));
        }
      }
    }
  }
  return img;
}

vhost::Image MakeMapLayer(int width, int height, int bpc) {
  vhost::Image img = MakeHostBuffer(width, height, bpc);
  const float scale = 40.0f / static_cast<float>(width);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = img.Row(y);
    for (int x = 0; x < width; ++x) {
      const float dx = static_cast<float>(x - width / 2);
      const float dy = static_cast<float>(y - height / 2);
      const float ring = 0.5f + 0.5f * std::sin(std::sqrt(dx * dx + dy * dy) * scale);
      const float ramp = static_cast<float>(x) / static_cast<float>(width);
      const float argb[4] = {1.0f, ramp, ring, ring};
      Put(img, row, x, argb);
    }
  }
  return img;
}

}  // namespace vbench

// The pixel buffers our host hands the effect: layers it reads and the output it writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pf_sdk.h"

namespace vhost {

// The largest picture the host hands the effect, a side and in all; every front end refuses
// larger ones before allocating anything.
inline constexpr int kMaxImageSide = 16384;
inline constexpr long long kMaxImagePixels = 1LL << 26;  // 64 Mpixels, e.g. 8192 x 8192

// A pixel buffer the host hands out: alpha-red-green-blue, 8 bits or 32-bit float per channel.
// Rows hold width × pixel size bytes, and `padding` pixels more where a test asks for them.
struct Image {
  int width = 0;
  int height = 0;
  int bpc = 8;  // 8 or 32
  int origin_x = 0;
  int origin_y = 0;
  A_long rowbytes = 0;
  std::vector<uint8_t> storage;

  // Zeroed pixels and padding.
  static Image Make(int width, int height, int bpc, int origin_x = 0, int origin_y = 0,
                    int padding = 0);
  int PixelBytes() const { return bpc == 32 ? 16 : 4; }
  uint8_t* Row(int y) { return storage.data() + static_cast<size_t>(y) * rowbytes; }
  const uint8_t* Row(int y) const { return storage.data() + static_cast<size_t>(y) * rowbytes; }
  // Channel c (0 alpha, 1 red, 2 green, 3 blue) of pixel (x, y) as 0..1 (8-bit) or the float.
  float Get(int x, int y, int c) const;
  void Set(int x, int y, int c, float v);
  // A PF_LayerDef view of this image (data points into storage).
  PF_LayerDef View();
};

}  // namespace vhost

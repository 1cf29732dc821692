// Tiny numbered frames for the footage tests: each frame's number is written into its pixels, so
// a picture says which file or source frame it came from.
#pragma once

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "hostapp/image.h"
#include "support/temp_dir.h"

namespace foottest {

using testsupport::TempDir;

// Frame n's pixels carry n in red (low byte) and green (high byte), on opaque alpha.
inline void WriteNumberedFrame(const std::string& path, int number, int width = 8, int height = 4,
                               OIIO::TypeDesc format = OIIO::TypeDesc::UINT8) {
  std::vector<float> rgba(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < rgba.size(); i += 4) {
    rgba[i] = static_cast<float>(number % 256) / 255.0f;
    rgba[i + 1] = static_cast<float>(number / 256) / 255.0f;
    rgba[i + 2] = 0.0f;
    rgba[i + 3] = 1.0f;
  }
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << path;
  OIIO::ImageSpec layout(width, height, 4, format);
  layout.alpha_channel = 3;
  layout.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path, layout)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, rgba.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

// The number a picture made by WriteNumberedFrame (or a fake source) carries; every pixel must
// agree, and -1 says they do not.
inline int NumberIn(const vhost::Image& image) {
  auto channel = [&](int x, int y, int c) {
    return static_cast<int>(std::lround(image.Get(x, y, c) * 255.0f));
  };
  const int number = channel(0, 0, 1) + 256 * channel(0, 0, 2);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (channel(x, y, 1) + 256 * channel(x, y, 2) != number || channel(x, y, 0) != 255) return -1;
    }
  }
  return number;
}

}  // namespace foottest

// Straight-alpha RGBA frames of bytes, as frei0r and the bridge take them, and PNG files of them,
// for the tests of the plug-ins for other programs.
#pragma once

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

struct RgbaFrame {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;  // rows top first, width × 4 bytes each

  uint8_t* data() { return bytes.data(); }
  const uint8_t* data() const { return bytes.data(); }
};

inline RgbaFrame BlankFrame(int width, int height) {
  return {width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 4, 0)};
}

// A frame whose channels vary in x and y in different ways, `seed` making another such frame;
// partly transparent, so that straight alpha matters.
inline RgbaFrame PatternFrame(int width, int height, int seed) {
  RgbaFrame frame = BlankFrame(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = &frame.bytes[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = static_cast<uint8_t>((x * 23 + y * 5 + seed * 31) % 256);
      p[1] = static_cast<uint8_t>((y * 41 + x * 3 + seed * 17) % 256);
      p[2] = static_cast<uint8_t>((x * y * 13 + seed * 7 + 40) % 256);
      p[3] = static_cast<uint8_t>(255 - (x * 11 + seed) % 96);
    }
  return frame;
}

inline void WritePng(const std::filesystem::path& path, const RgbaFrame& frame) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out) << path;
  OIIO::ImageSpec layout(frame.width, frame.height, 4, OIIO::TypeDesc::UINT8);
  layout.alpha_channel = 3;
  layout.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path.string(), layout)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, frame.data()));
  ASSERT_TRUE(out->close());
}

// The file's pixels as straight RGBA bytes; an empty frame when it cannot be read as such.
inline RgbaFrame ReadPng(const std::filesystem::path& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path.string(), &config);
  EXPECT_TRUE(in) << path << ": " << OIIO::geterror();
  if (!in) return {};
  EXPECT_EQ(in->spec().nchannels, 4) << path;
  if (in->spec().nchannels != 4) return {};
  RgbaFrame frame = BlankFrame(in->spec().width, in->spec().height);
  EXPECT_TRUE(in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT8, frame.data())) << path;
  return frame;
}

// Whether two frames agree within `tolerance` codes in every channel; otherwise the first
// pixel that does not, for the failure message.
inline ::testing::AssertionResult FramesAgree(const RgbaFrame& got, const RgbaFrame& want,
                                              int tolerance) {
  if (got.width != want.width || got.height != want.height)
    return ::testing::AssertionFailure() << "got " << got.width << "x" << got.height << ", want "
                                         << want.width << "x" << want.height;
  for (size_t i = 0; i < got.bytes.size(); ++i) {
    if (std::abs(got.bytes[i] - want.bytes[i]) <= tolerance) continue;
    const size_t pixel = i / 4;
    return ::testing::AssertionFailure()
           << "pixel (" << pixel % got.width << ", " << pixel / got.width << ") channel " << i % 4
           << ": got " << int{got.bytes[i]} << ", want " << int{want.bytes[i]} << " (tolerance "
           << tolerance << ")";
  }
  return ::testing::AssertionSuccess();
}

}  // namespace testsupport

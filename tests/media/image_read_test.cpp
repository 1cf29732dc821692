// Reading files straight into the host's buffers: 8-bit files into 8-bit buffers byte for byte,
// with the same result as the general path through straight float colour.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <array>
#include <optional>

#include "media/image_io.h"
#include "pipeline/errors.h"
#include "support/cli_support.h"

namespace {

using namespace clitest;

// 16 x 16 pixels, every byte value once in every channel; transparent pixels keep their colour.
std::vector<uint8_t> EveryByte(int channels) {
  std::vector<uint8_t> bytes(256 * static_cast<size_t>(channels));
  for (int i = 0; i < 256; ++i) {
    const std::array<int, 4> sample = {i, 255 - i, (i * 7) % 256, (i * 13) % 256};
    for (int c = 0; c < channels; ++c) bytes[i * channels + c] = static_cast<uint8_t>(sample[c]);
  }
  return bytes;
}

void WriteBytes(const fs::path& path, int channels, const std::vector<uint8_t>& bytes,
                int alpha_channel, OIIO::TypeDesc format = OIIO::TypeDesc::UINT8) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec layout(16, 16, channels, format);
  layout.alpha_channel = alpha_channel;
  if (alpha_channel >= 0) layout.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path.string(), layout)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT8, bytes.data()));
  ASSERT_TRUE(out->close());
}

// Host pixel `i` as alpha, red, green, blue.
std::array<uint8_t, 4> HostPixel(const vhost::Image& image, int i) {
  const uint8_t* p = image.Row(i / image.width) + (i % image.width) * 4;
  return {p[0], p[1], p[2], p[3]};
}

TEST(CliImageRead, EightBitFilesFillEightBitBuffersByteForByte) {
  TempDir dir;
  struct Case {
    const char* name;
    int channels;
    int alpha;
  };
  for (const Case& file : {Case{"rgba.png", 4, 3}, Case{"grey.png", 1, -1},
                           Case{"grey_alpha.png", 2, 1}, Case{"rgb.png", 3, -1}}) {
    SCOPED_TRACE(file.name);
    const std::vector<uint8_t> bytes = EveryByte(file.channels);
    WriteBytes(dir / file.name, file.channels, bytes, file.alpha);
    const vhost::Image image = vmedia::ReadHostImage(dir / file.name, "input image", std::nullopt);
    ASSERT_EQ(image.bpc, 8);
    ASSERT_EQ(image.width, 16);
    ASSERT_EQ(image.height, 16);
    for (int i = 0; i < 256; ++i) {
      const uint8_t* src = &bytes[static_cast<size_t>(i) * file.channels];
      const uint8_t grey_or_red = src[0];
      const uint8_t alpha = file.alpha >= 0 ? src[file.alpha] : 255;
      const std::array<uint8_t, 4> want =
          file.channels >= 3 ? std::array<uint8_t, 4>{alpha, src[0], src[1], src[2]}
                             : std::array<uint8_t, 4>{alpha, grey_or_red, grey_or_red, grey_or_red};
      ASSERT_EQ(HostPixel(image, i), want) << "pixel " << i;
    }
    // The general path gives the same buffer, byte for byte.
    EXPECT_EQ(image.storage,
              vmedia::ToHostImage(vmedia::ReadImage(dir / file.name, "input image"), 8).storage);
  }
}

TEST(CliImageRead, OtherDepthsTakeTheFloatPath) {
  TempDir dir;
  WriteBytes(dir / "rgba.png", 4, EveryByte(4), 3);
  WriteBytes(dir / "deep.png", 4, EveryByte(4), 3, OIIO::TypeDesc::UINT16);
  const vmedia::RgbaImage straight = vmedia::ReadImage(dir / "rgba.png", "input image");

  // An 8-bit file asked for at 32 bits: its samples as fractions of 255, in ARGB order.
  const vhost::Image wide = vmedia::ReadHostImage(dir / "rgba.png", "input image", 32, 3, -2);
  ASSERT_EQ(wide.bpc, 32);
  EXPECT_EQ(wide.origin_x, 3);
  EXPECT_EQ(wide.origin_y, -2);
  EXPECT_EQ(wide.storage, vmedia::ToHostImage(straight, 32, 3, -2).storage);
  EXPECT_FLOAT_EQ(wide.Get(5, 0, 0), (5 * 13) / 255.0f);
  EXPECT_FLOAT_EQ(wide.Get(5, 0, 1), 5 / 255.0f);

  // A 16-bit file is no float file: it renders at 8 bits, rounded as the float path rounds.
  const vhost::Image deep = vmedia::ReadHostImage(dir / "deep.png", "input image", std::nullopt);
  ASSERT_EQ(deep.bpc, 8);
  EXPECT_EQ(deep.storage,
            vmedia::ToHostImage(vmedia::ReadImage(dir / "deep.png", "input image"), 8).storage);
}

TEST(CliImageRead, RefusalsNameTheRole) {
  TempDir dir;
  try {
    vmedia::ReadHostImage(dir / "missing.png", "map image", 8);
    ADD_FAILURE() << "no error";
  } catch (const vmedia::InputError& e) {
    EXPECT_EQ(std::string(e.what()),
              "map image \"" + (dir / "missing.png").string() + "\": no such file");
  }
}

}  // namespace

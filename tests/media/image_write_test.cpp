// Writing a render straight from the host's buffer must give the same file contents as the
// general path through straight float colour.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <random>

#include "hostapp/probe.h"
#include "media/image_io.h"
#include "support/cli_support.h"

namespace {

using namespace clitest;

// Every byte value in every channel, transparent pixels with colour left in them included, on
// padded rows.
vhost::Image NoisyHostImage(int bpc) {
  vhost::Image image = vhost::Image::Make(37, 19, bpc, 0, 0, vhost::Probe::kRowPadding);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      for (int c = 0; c < 4; ++c) image.Set(x, y, c, static_cast<float>(byte(rng)) / 255.0f);
      if (x % 5 == 0) image.Set(x, y, 0, 0.0f);
    }
  }
  return image;
}

// The samples as stored; straight colour is not multiplied by alpha on reading.
std::vector<uint8_t> FileBytes(const fs::path& path) {
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path.string(), &config);
  EXPECT_TRUE(in) << path << ": " << OIIO::geterror();
  if (!in) return {};
  const OIIO::ImageSpec& layout = in->spec();
  std::vector<uint8_t> bytes(layout.image_bytes());
  EXPECT_TRUE(in->read_image(0, 0, 0, layout.nchannels, layout.format, bytes.data()));
  return bytes;
}

TEST(CliImageWrite, HostBufferWritesTheSameFileAsTheFloatPath) {
  TempDir dir;
  for (int bpc : {8, 32}) {
    const vhost::Image image = NoisyHostImage(bpc);
    for (const char* extension : {"png", "tif", "exr", "jpg"}) {
      SCOPED_TRACE(std::string(extension) + " at " + std::to_string(bpc) + " bits");
      const fs::path direct = dir / ("direct." + std::string(extension));
      const fs::path general = dir / ("general." + std::string(extension));
      const vmedia::OutputFormat format = vmedia::OutputFormatFor(direct.string());
      ASSERT_NO_THROW(
          vmedia::WriteHostImage(direct.string(), image, format, vmedia::PlainLayout(format, bpc)));
      ASSERT_NO_THROW(vmedia::WriteImage(general.string(), vmedia::FromHostImage(image), format,
                                         vmedia::PlainLayout(format, bpc)));
      const std::vector<uint8_t> expected = FileBytes(general);
      ASSERT_FALSE(expected.empty());
      EXPECT_EQ(FileBytes(direct), expected);
    }
  }
  // The straight colour of a transparent pixel survives the direct path of an 8-bit PNG.
  const vhost::Image image = NoisyHostImage(8);
  const std::string check = (dir / "check.png").string();
  ASSERT_NO_THROW(vmedia::WriteHostImage(check, image, vmedia::OutputFormatFor(check),
                                         vmedia::PlainLayout(vmedia::OutputFormatFor(check), 8)));
  const std::vector<uint8_t> bytes = FileBytes(dir / "check.png");
  ASSERT_EQ(bytes.size(), static_cast<size_t>(image.width * image.height * 4));
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* file = &bytes[static_cast<size_t>((y * image.width + x) * 4)];
      const uint8_t* host = image.Row(y) + x * 4;
      ASSERT_EQ(file[0], host[1]) << x << ", " << y;
      ASSERT_EQ(file[1], host[2]) << x << ", " << y;
      ASSERT_EQ(file[2], host[3]) << x << ", " << y;
      ASSERT_EQ(file[3], host[0]) << x << ", " << y;
    }
  }
}

}  // namespace

#include "media/encode.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "media/image_io.h"

namespace vmedia {

namespace {

uint8_t ToByte(float v) {
  if (!(v > 0)) return 0;  // also NaN
  if (v >= 1) return 255;
  return static_cast<uint8_t>(std::lround(v * 255.0f));
}

}  // namespace

std::string EncodeImage(const vhost::Image& image, Encoding encoding) {
  const bool jpeg = encoding == Encoding::kJpeg;
  const int channels = jpeg ? 3 : 4;
  std::vector<uint8_t> pixels(static_cast<size_t>(image.width) * image.height * channels);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint8_t* out = pixels.data() + (static_cast<size_t>(y) * image.width + x) * channels;
      const float alpha = std::clamp(image.Get(x, y, kHostChannel[3]), 0.0f, 1.0f);
      for (int c = 0; c < 3; ++c) {
        const float v = image.Get(x, y, kHostChannel[c]);
        out[c] = ToByte(jpeg ? v * alpha : v);
      }
      if (!jpeg) out[3] = ToByte(alpha);
    }
  }
  const char* name = jpeg ? "preview.jpg" : "preview.png";
  OIIO::ImageSpec spec(image.width, image.height, channels, OIIO::TypeDesc::UINT8);
  if (jpeg) {
    spec.attribute("Compression", "jpeg:85");
  } else {
    // Level 1: a few times faster than the default, for little more size.
    spec.attribute("png:compressionLevel", 1);
    spec.attribute("oiio:UnassociatedAlpha", 1);
  }
  std::vector<unsigned char> bytes;
  OIIO::Filesystem::IOVecOutput proxy(bytes);
  std::unique_ptr<OIIO::ImageOutput> out = OIIO::ImageOutput::create(name);
  if (!out || !out->set_ioproxy(&proxy) || !out->open(name, spec) ||
      !out->write_image(OIIO::TypeDesc::UINT8, pixels.data()) || !out->close())
    throw std::runtime_error(std::string("cannot encode the picture: ") +
                             (out ? out->geterror() : OIIO::geterror()));
  return std::string(bytes.begin(), bytes.end());
}

const char* MimeType(Encoding encoding) {
  return encoding == Encoding::kJpeg ? "image/jpeg" : "image/png";
}

}  // namespace vmedia

// Fuzzes image loading through our host: the command's reader (ReadImage), its conversion to the
// host's buffers, and, for small pictures, a render of the effect in our host.
//
// The reader must refuse a bad file with an InputError; any other exception aborts. A picture it
// accepts is within the limits, and a render of it succeeds (at 8 or 32 bits); when every sample
// it read is finite, every pixel the effect gives back is finite too.
#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz/fuzz_support.h"
#include "media/image_io.h"
#include "pipeline/errors.h"
#include "pipeline/host_session.h"
#include "pipeline/limits.h"

namespace {

// The file name's extension picks the reader first, so it follows the data's signature.
const char* ExtensionFor(const uint8_t* data, size_t size) {
  auto starts = [&](const char* magic, size_t n) {
    return size >= n && !std::memcmp(data, magic, n);
  };
  if (starts("\x89PNG", 4)) return "png";
  if (starts("\xff\xd8", 2)) return "jpg";
  if (starts("II*", 4) || starts("MM\0*", 4)) return "tif";
  if (starts("\x76\x2f\x31\x01", 4)) return "exr";
  if (starts("P", 1)) return "ppm";
  static const char* const others[] = {"png", "jpg", "tif", "exr", "ppm"};
  return others[size % 5];
}

// Pictures above this many pixels are only read, not rendered; above the second bound they are
// not read either: a tiny file may declare a picture within the command's limits that takes
// gigabytes to hold, and large buffers would slow the search down to a crawl. The command's
// limits themselves are tested with real files.
constexpr long long kLargestRendered = 64 * 64;
constexpr long long kLargestRead = 1 << 16;

bool Finite(const vhost::Image& img) {
  for (int y = 0; y < img.height; ++y)
    for (int x = 0; x < img.width; ++x)
      for (int c = 0; c < 4; ++c)
        if (!std::isfinite(img.Get(x, y, c))) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vpipe::Session& session = fuzz::TheSession();
  const std::string path =
      fuzz::WriteScratch(std::string("image.") + ExtensionFor(data, size), data, size);
  {
    auto probe = OIIO::ImageInput::open(path);
    OIIO::geterror();
    if (probe && static_cast<long long>(probe->spec().width) * probe->spec().height *
                         std::max(1, probe->spec().depth) >
                     kLargestRead)
      return 0;
  }

  vmedia::RgbaImage image;
  try {
    image = vmedia::ReadImage(path, "input image");
  } catch (const vpipe::InputError&) {
    return 0;
  }
  if (image.width <= 0 || image.height <= 0 || image.width > vpipe::kMaxImageSide ||
      image.height > vpipe::kMaxImageSide ||
      image.pixels.size() != static_cast<size_t>(image.width) * image.height * 4)
    std::abort();
  if (static_cast<long long>(image.width) * image.height > kLargestRendered) return 0;

  bool finite = true;
  for (float v : image.pixels) finite = finite && std::isfinite(v);
  // One depth per input, picked by the data, keeps the search quick; both get their share.
  for (int bpc : {size % 2 ? 8 : 32}) {
    const vhost::Image input = vmedia::ToHostImage(image, bpc);
    vhost::RenderJob job;
    job.bpc = bpc;
    job.input = &input;
    job.map = &input;
    const vhost::RenderResult r = session.host->Render(job);
    if (r.err != PF_Err_NONE || r.output.width != image.width) std::abort();
    if (finite && !Finite(r.output)) std::abort();
    // The round trip back to the command's picture must hold as well.
    const vmedia::RgbaImage back = vmedia::FromHostImage(r.output);
    if (back.width != image.width || back.height != image.height) std::abort();
  }
  return 0;
}

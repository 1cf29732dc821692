// Still images read through OpenImageIO, for footage and for whoever reads a picture.
//
// The effect works in straight (unassociated) colour, so images are read that way: formats that
// store straight alpha (PNG, TIFF, ...) are asked to keep it, formats that store associated alpha
// (EXR) are divided on reading. Images without alpha are opaque.
//
// Files and RgbaImage keep a pixel's channels as red, green, blue, alpha; the host's buffers as
// alpha, red, green, blue. Every reordering between the two goes through kHostChannel.
//
// Nothing here touches the process's standard streams: decoders may print their own complaints
// about damaged files, and a caller that owns the streams silences them around these calls.
#pragma once

#include <OpenImageIO/imageio.h>

#include <optional>
#include <string>
#include <vector>

#include "hostapp/image.h"

namespace vmedia {

// Largest image side and area accepted, so that a header claiming billions of pixels is refused
// before anything is allocated: the host's.
using vhost::kMaxImagePixels;
using vhost::kMaxImageSide;

// Channel c (0 red, 1 green, 2 blue, 3 alpha) of a file's pixel is channel kHostChannel[c] of the
// host's.
inline constexpr int kHostChannel[4] = {1, 2, 3, 0};

// Straight RGBA, 32-bit float per channel, rows top first, no padding.
struct RgbaImage {
  int width = 0;
  int height = 0;
  std::vector<float> pixels;  // width × height × 4
  bool float_source = false;  // the file held floating-point samples

  float* At(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 4; }
  const float* At(int x, int y) const {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * 4;
  }
};

// What a file's header says, read without decoding pixels.
struct ImageHeader {
  int width = 0;
  int height = 0;
  bool float_samples = false;  // half or float
  bool deep_samples = false;   // more than 8 bits per sample (16-bit integers, half, float)
  std::string format;          // OpenImageIO's name for the file's format ("png", "openexr")
  std::string colour_space;    // the file's oiio:ColorSpace, empty when untagged
  // Everything else the header says (windows, channels, metadata), so that what follows from
  // the file never opens it again.
  OIIO::ImageSpec spec;
};

// The header of the first image of a file. `role` names it in messages ("input image"). Throws
// FootageError (source.h) for files it cannot open and images beyond the limits above.
ImageHeader ReadImageHeader(const std::string& path, const std::string& role);

// Reads the first image of a file. Refuses, with a FootageError and before allocating pixels,
// what ReadImageHeader refuses, and truncated or corrupt pixel data.
RgbaImage ReadImage(const std::string& path, const std::string& role);

// The same, straight into a host buffer at `bpc` bits per channel; unset, at 32 for a file of
// floating-point samples and 8 for others. The buffer's bpc says which. 8-bit samples of straight
// colour bound for an 8-bit buffer are copied as they are, with the bytes the trip through float
// would give.
vhost::Image ReadHostImage(const std::string& path, const std::string& role, std::optional<int> bpc,
                           int origin_x = 0, int origin_y = 0);

// Conversions to and from the host's ARGB buffers at 8 or 32 bits per channel.
vhost::Image ToHostImage(const RgbaImage& image, int bpc, int origin_x = 0, int origin_y = 0);
RgbaImage FromHostImage(const vhost::Image& image);

}  // namespace vmedia

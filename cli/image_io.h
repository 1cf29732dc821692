// Images in and out of the command, through OpenImageIO.
//
// The effect works in straight (unassociated) colour, so images are read and written that way:
// formats that store straight alpha (PNG, TIFF, ...) are asked to keep it, formats that store
// associated alpha (EXR) are divided on reading and multiplied on writing. Images without alpha
// are opaque; formats without alpha (JPEG) receive the colour as composited over black.
//
// Files and RgbaImage keep a pixel's channels as red, green, blue, alpha; the host's buffers as
// alpha, red, green, blue. Every reordering between the two goes through kHostChannel.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hostapp/host.h"

namespace vcli {

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

// Reads the first image of a file. `role` names it in messages ("input image", "map image").
// Refuses, with an InputError and before allocating pixels, files it cannot open, images beyond
// the limits of limits.h, and truncated or corrupt pixel data.
RgbaImage ReadImage(const std::string& path, const std::string& role);

// The same, straight into a host buffer at `bpc` bits per channel; unset, at 32 for a file of
// floating-point samples and 8 for others. The buffer's bpc says which. 8-bit samples of straight
// colour bound for an 8-bit buffer are copied as they are, with the bytes the trip through float
// would give.
vhost::Image ReadHostImage(const std::string& path, const std::string& role, std::optional<int> bpc,
                           int origin_x = 0, int origin_y = 0);

// How files of one format are written, decided once per render from the output's name.
struct OutputFormat {
  std::string name;          // OpenImageIO's name for it ("png", "openexr")
  bool keeps_float = false;  // stores 32-bit renders as float; elsewhere they get 8 bits
  bool has_alpha = true;     // without alpha the colour is stored composited over black
  bool associated = false;   // colour is stored multiplied by alpha
};

// The format a file named `path` is written in. Throws InputError when no format writes files
// with this name's extension.
OutputFormat OutputFormatFor(const std::string& path);

// Writes `image` at `bpc` bits per channel (8 or 32; 32 falls back to 8 where the format has no
// float) through a temporary file renamed into place. Throws RenderError, "cannot write" and the
// file's name with the reason, on failure; the target is then unchanged.
void WriteImage(const std::string& path, const RgbaImage& image, const OutputFormat& format,
                int bpc);

// The same for a host buffer, as a render returns it; an 8-bit buffer for an 8-bit file that keeps
// straight alpha is written without conversion.
void WriteHostImage(const std::string& path, const vhost::Image& image, const OutputFormat& format,
                    int bpc);

// Conversions to and from the host's ARGB buffers at 8 or 32 bits per channel.
vhost::Image ToHostImage(const RgbaImage& image, int bpc, int origin_x = 0, int origin_y = 0);
RgbaImage FromHostImage(const vhost::Image& image);

}  // namespace vcli

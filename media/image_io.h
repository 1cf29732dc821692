// Images written through OpenImageIO, and the choices of format, sample type and compression
// behind them. Reading is image_read.h's.
//
// The effect works in straight (unassociated) colour, so images are read and written that way:
// formats that store straight alpha (PNG, TIFF, ...) are asked to keep it, formats that store
// associated alpha (EXR) are divided on reading and multiplied on writing. Images without alpha
// are opaque; formats without alpha (JPEG) receive the colour as composited over black.
//
// Files and RgbaImage keep a pixel's channels as red, green, blue, alpha; the host's buffers as
// alpha, red, green, blue. Every reordering between the two goes through kHostChannel.
#pragma once

#include <OpenImageIO/paramlist.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hostapp/host.h"
#include "media/image_read.h"

namespace vmedia {

// The sample types an image file may hold, by OpenImageIO's (and oiiotool's) names.
enum class SampleType { kUInt8, kUInt16, kHalf, kFloat };

// "uint8", "uint16", "half", "float"; nullopt for anything else.
std::optional<SampleType> ParseSampleType(const std::string& name);
const char* SampleTypeName(SampleType type);
// The significant bits of samples of `type`.
int PrecisionOf(SampleType type);

// How files of one format are written, decided once per render from the output's name.
struct OutputFormat {
  std::string name;               // OpenImageIO's name for it ("png", "openexr")
  std::vector<SampleType> holds;  // the sample types it stores, smallest first
  bool has_alpha = true;          // without alpha the colour is stored composited over black
  bool associated = false;        // colour is stored multiplied by alpha
  bool Holds(SampleType type) const;
};

// The format a file named `path` is written in. Throws InputError when no format writes files
// with this name's extension.
OutputFormat OutputFormatFor(const std::string& path);

// The type a file of `format` stores samples of `wanted` as: that type where the format holds
// it, else the smallest it holds that keeps every value of it, else its largest.
SampleType NearestSampleType(const OutputFormat& format, SampleType wanted);

// Checks `compression` (OpenImageIO's names, "zip", "piz", "dwaa:45", "zip:3"...) and a JPEG
// `quality` against the format. Throws InputError naming the option; `output` names the file.
void CheckCompression(const OutputFormat& format, const std::string& compression,
                      const std::string& output);
void CheckQuality(const OutputFormat& format, int quality, const std::string& output);

// A rectangle on the image plane, as OpenImageIO's data and display windows.
struct Window {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const Window&) const = default;
};

// Everything about a written file but its pixels.
struct ImageLayout {
  SampleType type = SampleType::kUInt8;
  int x = 0;  // where the pixels (the data window) sit on the image plane
  int y = 0;
  std::optional<Window> display;    // unset: the data window
  OIIO::ParamValueList attributes;  // metadata, written as it is
  std::string compression;          // empty: the format's fast default (PNG zlib RLE, EXR piz)
  int quality = 0;                  // JPEG's, 1 to 100; 0: the format's own default
};

// The plain layout of a render at `bpc` bits: 8-bit samples, or float where the format holds it
// and the nearest type it does hold otherwise.
ImageLayout PlainLayout(const OutputFormat& format, int bpc);

// What writing one frame cost the picture, for the warnings after the render.
struct WriteLoss {
  int64_t clipped = 0;     // pixels with a sample outside what the file's type holds
  int64_t not_opaque = 0;  // pixels whose alpha was lost with a format that has none
};

// What storing a host buffer as samples of `type`, with or without alpha, loses; for sinks that
// do not write through WriteHostImage (movies).
WriteLoss LossOf(const vhost::Image& image, SampleType type, bool has_alpha);

// Writes `image` as `layout` says through a temporary file renamed into place. Throws
// RenderError, "cannot write" and the file's name with the reason, on failure; the target is
// then unchanged.
WriteLoss WriteImage(const std::string& path, const RgbaImage& image, const OutputFormat& format,
                     const ImageLayout& layout);

// The same for a host buffer, as a render returns it; an 8-bit buffer for an 8-bit file that keeps
// straight alpha is written without conversion.
WriteLoss WriteHostImage(const std::string& path, const vhost::Image& image,
                         const OutputFormat& format, const ImageLayout& layout);

}  // namespace vmedia

// Images in and out of the command, through OpenImageIO. Reading is the footage's
// (hostapp/footage/image_read.h); the command adds its error kinds and writing.
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

#include "hostapp/footage/image_read.h"
#include "hostapp/host.h"

namespace vcli {

using vfoot::FromHostImage;
using vfoot::kHostChannel;
using vfoot::RgbaImage;
using vfoot::ToHostImage;

// Reads the first image of a file as vfoot::ReadImage does, with the decoders' own complaints
// silenced; every refusal is an InputError with the reader's one line.
RgbaImage ReadImage(const std::string& path, const std::string& role);

// The same into a host buffer, as vfoot::ReadHostImage.
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

}  // namespace vcli

// Pictures for the page, encoded in memory: PNG at a fast compression level (straight alpha kept),
// or JPEG for drafts (composited over black). Nothing is written to disk.
#pragma once

#include <string>

#include "hostapp/image.h"

namespace vmedia {

enum class Encoding { kPng, kJpeg };

// The encoded bytes of `image` (8 or 32 bits, alpha first), 8 bits a channel; float values are
// clamped to 0..1. Throws std::runtime_error when the encoder fails.
std::string EncodeImage(const vhost::Image& image, Encoding encoding);

const char* MimeType(Encoding encoding);

}  // namespace vmedia

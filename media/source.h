// Footage: where a layer's pictures come from. A source is a still, an image sequence or a movie
// file; a timeline layer (layer.h) places one on the composition's timeline and answers our
// host's checkouts by time.
//
// Sources number their own frames: an image sequence by its files' numbers, a movie from 0, a
// still has the one frame 0. Pictures come out as host buffers (alpha, red, green, blue) at 8
// or 32 bits per channel.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "hostapp/image.h"
#include "media/errors.h"
#include "media/image_read.h"

namespace vmedia {

// A frame rate or any other exact ratio; 24000/1001 stays exact.
struct Rational {
  int64_t num = 0;
  int64_t den = 1;
  bool valid() const { return num > 0 && den > 0; }
  double value() const { return static_cast<double>(num) / static_cast<double>(den); }
};

// The first and last frame a source holds, both included.
struct FrameRange {
  int first = 0;
  int last = 0;
  int count() const { return last - first + 1; }
  bool contains(int n) const { return n >= first && n <= last; }
};

// Footage that cannot be used, in one line that names the file (and the frame, when one frame is
// at fault). `frame` is set when the fault was found in one frame.
struct FootageError : InputError {
  explicit FootageError(const std::string& what, int frame_at_fault = kNoFrame)
      : InputError(what), frame(frame_at_fault) {}
  static constexpr int kNoFrame = INT32_MIN;
  int frame;
};

enum class SourceKind { kStill, kSequence, kMovie };

// What a source's files say of their colour (colour.h has the conventions for untagged files).
struct ColourTag {
  std::string space;           // the first image's oiio:ColorSpace; empty when untagged
  bool float_samples = false;  // the first image holds half or float samples
};

class Source {
 public:
  virtual ~Source() = default;
  virtual SourceKind kind() const = 0;
  // The path as given (a sequence's pattern, not one of its files).
  virtual const std::string& path() const = 0;
  virtual FrameRange range() const = 0;
  // The source's own rate; not valid for stills and sequences, which take the composition's.
  virtual Rational fps() const = 0;
  virtual int width() const = 0;
  virtual int height() const = 0;
  // 8 for sources of 8-bit samples; 32 for anything deeper (16-bit images, 10- and 12-bit video,
  // half and float), which render at 32 bits unless the user says otherwise.
  virtual int depth() const = 0;
  // What the files say of their colour; nothing for movies, whose streams' colour descriptions
  // are not read.
  virtual ColourTag colour_tag() const { return {}; }
  // The header of a still's file or of a sequence's first frame; null for a movie.
  virtual const ImageHeader* header() const { return nullptr; }
  // The file that holds frame `n`: a sequence's numbered file, whether it exists or not; a still's
  // or a movie's one file.
  virtual std::string FileOf(int n) const {
    (void)n;
    return path();
  }
  // Frame n (within range()) as a host buffer at `bpc` (8 or 32) bits per channel. Throws
  // FootageError naming the frame when it cannot be decoded. Not safe to call from two threads
  // at once on one source.
  virtual vhost::Image Frame(int n, int bpc) = 0;
};

// What to do about a frame missing inside an image sequence's range.
enum class MissingFrames { kRefuse, kHoldNearest };

struct OpenOptions {
  MissingFrames missing = MissingFrames::kRefuse;
  std::string role = "input";  // names the layer in messages ("input", "map")
};

// Opens a still, an image sequence (a file name with "####" or "%04d") or a movie file (what
// FFmpeg's libraries read), deciding by the name and then by the file's contents. Throws
// FootageError, before any pixel is decoded, for a file that does not exist or cannot be read,
// a pattern that matches no file, a sequence with a missing frame (unless held) or frames of
// different sizes, a movie without a video stream, or a file that is not footage at all.
std::unique_ptr<Source> OpenSource(const std::string& path, const OpenOptions& options = {});

}  // namespace vmedia

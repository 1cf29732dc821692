// Renders into movie files through FFmpeg's libraries: ProRes 4444 with alpha in .mov, H.264 in
// .mp4, lossless FFV1 in .mkv (alpha kept; 16 bits per sample from 32-bit renders). The audio
// of a movie input can go along as it is, packet for packet.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostapp/image.h"
#include "media/source.h"

namespace vmedia {

struct MovieWriterOptions {
  std::string codec;    // an FFmpeg encoder name; empty picks the one for the file's extension
  int crf = -1;         // quality for the encoders that take one; -1 keeps ours (18 for H.264)
  int64_t bitrate = 0;  // bits per second; 0 leaves the encoder's own choice
  int gop_size = 0;     // frames from one key frame to the next; 0 leaves the encoder's choice
  Rational fps{24, 1};
  int width = 0;
  int height = 0;
  int bpc = 8;  // of the frames handed to Write, 8 or 32

  // A movie whose audio streams are copied into the output, packets untouched, since re-encoding
  // would cost quality the render never touched. Empty writes no audio. A file that cannot be
  // read or holds no audio costs the video nothing; audio() says what became of it.
  std::string audio_from;
  // Where frame 0 falls in audio_from, in seconds after its first video frame (its start, for a
  // file without video), so that the audio stays in sync with the frames a movie source numbers
  // from there. Audio before it is left out, and the copy ends where the video does.
  double audio_start = 0;
};

// What became of audio_from's audio, for the caller to warn about; the writer prints nothing.
// Nothing copied and nothing left out means the file has no audio (or none was asked for).
struct AudioCopy {
  int copied = 0;                     // audio streams going into the output
  std::vector<std::string> left_out;  // one whole warning line per stream or file that did not
};

// Encodes host frames, in order, into a movie chosen by the target's extension. The file is
// written under a temporary name beside the target and renamed onto it only by Finish(), so a
// writer destroyed without Finish (a failure, an interrupt) removes what it wrote and leaves an
// existing target as it was. Every failure throws FootageError in one line naming the target.
class MovieWriter {
 public:
  MovieWriter(const std::string& path, const MovieWriterOptions& options);
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // The next frame; it must have the options' size and bpc.
  void Write(const vhost::Image& frame);
  // Flushes the encoder, closes the file and renames it onto the target.
  void Finish();
  // Where the movie is written until Finish renames it.
  const std::string& temporary_path() const;
  int frames_written() const;
  // Settled when the writer opens: the output's streams are fixed from its first byte on.
  const AudioCopy& audio() const;
  // Whether the encoder's pixel format stores alpha (H.264's yuv420p does not).
  bool keeps_alpha() const;
  // The bits of each sample the encoder stores (8 for H.264, 10 or 12 for ProRes, 16 for FFV1
  // from a 32-bit render).
  int bits_per_sample() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vmedia

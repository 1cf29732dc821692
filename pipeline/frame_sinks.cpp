#include "pipeline/frame_sinks.h"

#include <optional>
#include <tuple>

#include "hostapp/text.h"
#include "media/image_io.h"
#include "media/movie_writer.h"
#include "media/temp_file.h"
#include "pipeline/errors.h"
#include "pipeline/output_layout.h"

namespace vpipe {

namespace {

// Hands `write` the rendered frame in the output's colour space: the frame itself when the
// settings convert nothing, else a converted copy (the render's buffer is not ours to change).
template <typename Write>
void InOutputSpace(const RenderSettings& s, const vhost::Image& image, Write write) {
  if (s.output_conversion.identity()) {
    write(image);
    return;
  }
  vhost::Image converted = image;
  ToOutputSpace(s, &converted);
  write(converted);
}

class ImageFiles : public OutputSink {
 public:
  explicit ImageFiles(const RenderSettings& settings) : settings_(settings) {}

  void Take(int frame, const vhost::Image& image) override {
    InOutputSpace(settings_, image, [&](const vhost::Image& out) {
      Account(WriteHostImage(OutputPath(settings_, frame), out, settings_.output_format,
                             settings_.output_layout));
    });
  }

 private:
  const RenderSettings& settings_;
};

// The encoder as the settings ask, for frames of `width` × `height` at `bpc`, with the audio that
// goes along.
vmedia::MovieWriterOptions WriterOptions(const RenderSettings& s, int bpc, int width, int height,
                                         const vmedia::MovieWriterOptions& audio) {
  vmedia::MovieWriterOptions options = audio;
  options.codec = s.movie.codec.value_or("");
  options.crf = s.movie.crf.value_or(-1);
  options.bitrate = s.movie.bitrate.value_or(0);
  options.fps = s.fps;
  std::tie(options.width, options.height, options.bpc) = std::tie(width, height, bpc);
  return options;
}

// Frames arrive in order. The writer opened to check the encoder before rendering writes them
// when the first frame has the size it expected; otherwise one opens at the first frame's size,
// which the render decides.
class MovieFile : public OutputSink {
 public:
  MovieFile(const RenderSettings& settings, int bpc, const vmedia::MovieWriterOptions& audio,
            std::unique_ptr<vmedia::MovieWriter> opened, int width, int height)
      : settings_(settings),
        bpc_(bpc),
        audio_(audio),
        opened_(std::move(opened)),
        opened_width_(width),
        opened_height_(height) {}

  bool in_order() const override { return true; }

  void Take(int, const vhost::Image& image) override {
    try {
      if (!writer_ && image.width == opened_width_ && image.height == opened_height_)
        writer_ = std::move(opened_);
      opened_.reset();
      if (!writer_)
        writer_ = std::make_unique<vmedia::MovieWriter>(
            settings_.output, WriterOptions(settings_, bpc_, image.width, image.height, audio_));
      InOutputSpace(settings_, image, [&](const vhost::Image& out) {
        writer_->Write(out);
        Account(LossOf(out, SampleType::kUInt16, writer_->keeps_alpha()));
      });
    } catch (const vmedia::FootageError& e) {
      throw RenderError(e.what());
    }
  }

  void Finish() override {
    try {
      if (writer_) writer_->Finish();
    } catch (const vmedia::FootageError& e) {
      throw RenderError(e.what());
    }
  }

 private:
  const RenderSettings& settings_;
  int bpc_;
  vmedia::MovieWriterOptions audio_;
  std::unique_ptr<vmedia::MovieWriter> opened_;
  int opened_width_, opened_height_;
  std::unique_ptr<vmedia::MovieWriter> writer_;
};

// Where a movie input's audio comes from and where the render's first frame falls in it. Audio
// goes along only when the render starts within the movie: before it there is nothing to align.
vmedia::MovieWriterOptions AudioOf(const RenderSettings& s, const vmedia::Source& input,
                                   std::vector<std::string>* warnings) {
  vmedia::MovieWriterOptions audio;
  if (input.kind() != vmedia::SourceKind::kMovie) return audio;
  const int64_t frames_in = s.first_frame - static_cast<int64_t>(s.input_layer.start.value_or(0));
  if (frames_in < 0) {
    warnings->push_back("the render starts before the input movie; its audio is left out");
    return audio;
  }
  audio.audio_from = input.path();
  audio.audio_start = FrameSeconds(static_cast<double>(frames_in), s.fps);
  return audio;
}

}  // namespace

RenderLoss OutputSink::loss() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return loss_;
}

void OutputSink::Account(const WriteLoss& frame) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++loss_.frames;
  loss_.clipped_pixels += frame.clipped;
  loss_.clipped_frames += frame.clipped > 0;
  loss_.not_opaque_pixels += frame.not_opaque;
  loss_.not_opaque_frames += frame.not_opaque > 0;
}

std::vector<std::string> LossWarnings(const RenderSettings& settings, const RenderLoss& loss,
                                      SampleType type) {
  std::vector<std::string> lines;
  auto in_frames = [&](int64_t frames) {
    return loss.frames > 1
               ? " in " + std::to_string(frames) + " of " + std::to_string(loss.frames) + " frames"
               : std::string();
  };
  const std::string name = vhost::Quoted(settings.output);
  if (loss.clipped_pixels > 0) {
    const bool half = type == SampleType::kHalf;
    lines.push_back(name + ": " + std::to_string(loss.clipped_pixels) + " pixels" +
                    in_frames(loss.clipped_frames) + " had values " +
                    (half ? "beyond half's largest, 65504," : "outside 0..1") +
                    " and were clipped");
  }
  if (loss.not_opaque_pixels > 0)
    lines.push_back(name + " keeps no alpha: " + std::to_string(loss.not_opaque_pixels) +
                    " pixels" + in_frames(loss.not_opaque_frames) +
                    " that were not opaque are written over black");
  return lines;
}

std::unique_ptr<OutputSink> MakeOutputSink(const RenderSettings& settings, int bpc, int width,
                                           int height, const vmedia::Source& input,
                                           int input_precision,
                                           std::vector<std::string>* warnings) {
  if (!settings.movie_output) return std::make_unique<ImageFiles>(settings);
  const vmedia::MovieWriterOptions audio = AudioOf(settings, input, warnings);
  // A codec the container refuses is the user's to mend, before anything renders.
  auto writer = std::make_unique<vmedia::MovieWriter>(
      settings.output, WriterOptions(settings, bpc, width, height, audio));
  const int bits = writer->bits_per_sample();
  if (auto fewer = PrecisionWarning(settings.output, std::to_string(bits) + " bits per channel",
                                    bits, bpc, input_precision))
    warnings->push_back(*fewer);
  const vmedia::AudioCopy& copy = writer->audio();
  warnings->insert(warnings->end(), copy.left_out.begin(), copy.left_out.end());
  return std::make_unique<MovieFile>(settings, bpc, audio, std::move(writer), width, height);
}

}  // namespace vpipe

// Where a render's frames go: one image file per frame, or one movie holding them all.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "media/image_io.h"
#include "media/source.h"
#include "pipeline/plan.h"
#include "pipeline/sequence.h"

namespace vpipe {

// What the output's frames could not hold of the render, over every frame written.
struct RenderLoss {
  int64_t frames = 0;
  int64_t clipped_pixels = 0;
  int64_t clipped_frames = 0;
  int64_t not_opaque_pixels = 0;
  int64_t not_opaque_frames = 0;
};

class OutputSink : public FrameSink {
 public:
  // Completes the output once every frame is in: a movie is put in place only now. Throws
  // RenderError; the output is then as it was before the render.
  virtual void Finish() {}
  RenderLoss loss() const;

 protected:
  // Adds one frame's loss; frames may be taken on several threads at once.
  void Account(const WriteLoss& frame);

 private:
  mutable std::mutex mutex_;
  RenderLoss loss_;
};

// One warning line for each kind of loss, naming the output; none when nothing was lost.
std::vector<std::string> LossWarnings(const RenderSettings& settings, const RenderLoss& loss,
                                      SampleType type);

// The sink for the settings' output. Each frame is converted by the settings' output conversion
// before the image or movie writer gets it. For a movie, the encoder and its options are tried
// first at the size frames are expected at (`width` × `height`), so that a codec the container
// refuses is an InputError before anything renders. A movie input's audio goes along into a movie
// output, in step with the frames rendered; what cannot go along is added to `warnings`.
// `input_precision` (the input's significant bits) decides whether fewer bits in the movie than
// the render are worth a warning.
std::unique_ptr<OutputSink> MakeOutputSink(const RenderSettings& settings, int bpc, int width,
                                           int height, const vmedia::Source& input,
                                           int input_precision, std::vector<std::string>* warnings);

}  // namespace vpipe

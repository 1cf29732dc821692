// Where a render's frames go: one image file per frame, or one movie holding them all.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/render_settings.h"
#include "cli/sequence.h"
#include "hostapp/footage/source.h"

namespace vcli {

class OutputSink : public FrameSink {
 public:
  // Completes the output once every frame is in: a movie is put in place only now. Throws
  // RenderError; the output is then as it was before the render.
  virtual void Finish() {}
};

// The sink for the settings' output. Each frame is converted by the settings' output conversion
// before the image or movie writer gets it. For a movie, the encoder and its options are tried
// first at the size frames are expected at (`width` × `height`), so that a codec the container
// refuses is an InputError before anything renders. A movie input's audio goes along into a movie
// output, in step with the frames rendered; what cannot go along is added to `warnings`.
std::unique_ptr<OutputSink> MakeOutputSink(const RenderSettings& settings, int bpc, int width,
                                           int height, const vfoot::Source& input,
                                           std::vector<std::string>* warnings);

}  // namespace vcli

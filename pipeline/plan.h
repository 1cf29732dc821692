// The resolved plan of one render: the request completed and checked, with what follows from it
// (the output's kind and format, the frames, the colour conversions). Resolved once, here; the
// footage completes it when the layers open (layers.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "media/colour.h"
#include "media/frame_pattern.h"
#include "media/image_io.h"
#include "pipeline/request.h"
#include "pipeline/timing.h"

namespace vpipe {

using vmedia::FramePattern;

// Colour management as asked for, every name already the configuration's own. Without any of
// these the render passes values through untouched, as a project without a working colour space.
struct ColourSettings {
  // Loaded only when a colour option or key is given, so that other renders never read $OCIO.
  std::shared_ptr<const vmedia::ColourConfig> config;
  std::optional<std::string> input;    // the input's space, over its tag
  std::optional<std::string> output;   // the space to write
  std::optional<std::string> working;  // the space to render in, at 32 bits
  std::optional<std::string> map;      // the map's; without it the map is data, never converted
};

struct RenderSettings : RenderRequest {
  std::optional<FramePattern> pattern;  // set when OUTPUT names frames
  bool movie_output = false;            // OUTPUT is one movie file holding every frame
  OutputFormat output_format;  // of every frame of an image output: the pattern keeps the extension
  ImageLayout output_layout;   // what each image written carries; completed from the input
  bool map_offset_given = false;  // else the map's data window, relative to the input's, places it
  bool fps_given = false;         // else a movie input's own rate replaces the default
  bool frames_given = false;      // else the input's own frames, for a sequence or a movie
  int first_frame = 0;            // the first and last of `frames`
  int last_frame = 0;
  ColourSettings colour;
  // Completed from the input (PlanColour): what the output's values are in, the name to write as
  // its oiio:ColorSpace, and the conversion each rendered frame takes before it is written.
  std::string output_colour_space;
  vmedia::ColourConversion output_conversion;
};

// The colour conversions of one render, decided once the input's own colour is known.
struct ColourPlan {
  vmedia::ColourConversion input;  // of the input's frames, as they are decoded
  vmedia::ColourConversion map;    // of the map's
  vmedia::ColourConversion output;
  std::string output_space;
};

// Checks the request as a whole: an input and an output, the output's folder and format, the
// options of its kind of output, and that a range of frames has a frame-number placeholder in
// OUTPUT; loads the colour configuration when a colour option asks for it. Throws InputError
// naming the option or project key at fault.
RenderSettings ResolveRenderSettings(const RenderRequest& request);

// Where option `name` of the request came from, for messages: "--depth", or the project's key.
std::string WhereGiven(const RenderRequest& request, const std::string& name);

// The input's space is --colorspace-in, else its files' tag, else the convention for its kind
// (colour.h). Without a working space, --colorspace-out or --map-colorspace the plan converts
// nothing and the output is in the input's space. Throws InputError when a conversion needs a
// space the configuration lacks (the input's tag, the output format's usual space) or has no way
// between two spaces.
ColourPlan PlanColour(const RenderSettings& settings, const vmedia::Source& input);

// Converts a rendered frame into the output's colour space, as every output of the plan is written
// (PlanColour decides the conversion; none without colour management).
void ToOutputSpace(const RenderSettings& settings, vhost::Image* image);

// Whether OUTPUT names a movie file (.mov, .mp4, .mkv) rather than images.
bool IsMovieName(const std::string& path);

// Sets the frames to render, and checks them against the output: more than one image needs a
// frame-number placeholder. Throws InputError.
void SetFrames(RenderSettings* settings, std::vector<int> frames);

// The file name frame `frame` is written to.
std::string OutputPath(const RenderSettings& settings, int frame);

}  // namespace vpipe

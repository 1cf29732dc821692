// Everything one `varnex render` needs, from the project (if any) overridden by the command line,
// checked: the rules and limits for each value live here, whichever source gave it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/frame_pattern.h"
#include "cli/image_io.h"
#include "cli/project.h"
#include "cli/timing.h"
#include "hostapp/footage/colour.h"
#include "hostapp/footage/layer.h"

namespace vcli {

// A layer's footage and its place on the timeline.
struct LayerSettings {
  std::optional<int> start;  // unset: the footage's own (a sequence's numbers, a movie's 0)
  vfoot::Outside outside = vfoot::Outside::kHold;
};

// How a movie output is encoded; unset values take the container's defaults.
struct MovieSettings {
  std::optional<std::string> codec;
  std::optional<int> crf;
  std::optional<int64_t> bitrate;  // bits per second
};

// Colour management as asked for, every name already the configuration's own. Without any of
// these the render passes values through untouched, as a project without a working colour space.
struct ColourSettings {
  // Loaded only when a colour option or key is given, so that other renders never read $OCIO.
  std::shared_ptr<const vfoot::ColourConfig> config;
  std::optional<std::string> input;    // the input's space, over its tag
  std::optional<std::string> output;   // the space to write
  std::optional<std::string> working;  // the space to render in, at 32 bits
  std::optional<std::string> map;      // the map's; without it the map is data, never converted
};

struct RenderSettings {
  std::string input;
  LayerSettings input_layer;
  std::string output;
  std::optional<FramePattern> pattern;  // set when OUTPUT names frames
  bool movie_output = false;            // OUTPUT is one movie file holding every frame
  MovieSettings movie;
  OutputFormat output_format;  // of every frame of an image output: the pattern keeps the extension
  std::optional<SampleType> out_type;  // unset: from the input
  std::string compression;             // empty: the format's default
  int quality = 0;                     // 0: the format's default
  ImageLayout output_layout;           // what each image written carries; completed from the input
  std::optional<std::string> map;
  LayerSettings map_layer;
  int map_offset_x = 0;
  int map_offset_y = 0;
  bool map_offset_given = false;  // else the map's data window, relative to the input's, places it
  vfoot::MissingFrames missing = vfoot::MissingFrames::kRefuse;
  bool fps_given = false;     // else a movie input's own rate replaces the default
  bool frames_given = false;  // else the input's own frames, for a sequence or a movie
  FrameRate fps{24, 1};
  std::vector<int>
      frames;           // the frames to render, ascending; completed from the input if not given
  int first_frame = 0;  // the first and last of them
  int last_frame = 0;
  std::optional<int> depth;  // unset: decided by the input image
  int downsample = 1;
  int threads = 1;
  bool quiet = false;
  bool verbose = false;
  bool no_overwrite = false;
  bool skip_existing = false;
  bool continue_on_error = false;
  bool dry_run = false;
  std::optional<std::string> report;        // a JSON report of the render
  std::optional<std::string> save_project;  // the resolved render as a project
  std::vector<ControlSetting> controls;     // project settings first, then --set in order
  ColourSettings colour;
  // Completed from the input (PlanColour): what the output's values are in, the name to write as
  // its oiio:ColorSpace, and the conversion each rendered frame takes before it is written.
  std::string output_colour_space;
  vfoot::ColourConversion output_conversion;
};

// The colour conversions of one render, decided once the input's own colour is known.
struct ColourPlan {
  vfoot::ColourConversion input;  // of the input's frames, as they are decoded
  vfoot::ColourConversion map;    // of the map's
  vfoot::ColourConversion output;
  std::string output_space;
};

// Loads the project named by the arguments, merges, and checks every value, the output's folder
// and format, and that a range of frames has a frame-number placeholder in OUTPUT. Throws
// InputError naming the option or project key at fault.
RenderSettings ResolveRenderSettings(const RenderArgs& args);

// The input's space is --colorspace-in, else its files' tag, else the convention for its kind
// (colour.h). Without a working space, --colorspace-out or --map-colorspace the plan converts
// nothing and the output is in the input's space. Throws InputError when a conversion needs a
// space the configuration lacks (the input's tag, the output format's usual space) or has no way
// between two spaces.
ColourPlan PlanColour(const RenderSettings& settings, const vfoot::Source& input);

// Whether OUTPUT names a movie file (.mov, .mp4, .mkv) rather than images.
bool IsMovieName(const std::string& path);

// Sets the frames to render, and checks them against the output: more than one image needs a
// frame-number placeholder. Throws InputError.
void SetFrames(RenderSettings* settings, std::vector<int> frames);

// The file name frame `frame` is written to.
std::string OutputPath(const RenderSettings& settings, int frame);

}  // namespace vcli

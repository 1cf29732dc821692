// Everything one `varnex render` needs, from the project (if any) overridden by the command line,
// checked: the rules and limits for each value live here, whichever source gave it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/args.h"
#include "cli/frame_pattern.h"
#include "cli/image_io.h"
#include "cli/project.h"

namespace vcli {

struct RenderSettings {
  std::string input;
  std::string output;
  std::optional<FramePattern> pattern;  // set when OUTPUT names frames
  OutputFormat output_format;           // of every frame: the pattern keeps the extension
  std::optional<std::string> map;
  int map_offset_x = 0;
  int map_offset_y = 0;
  double fps = 24;
  int first_frame = 0;
  int last_frame = 0;
  std::optional<int> depth;  // unset: decided by the input image
  int downsample = 1;
  int threads = 1;
  bool quiet = false;
  bool verbose = false;
  std::vector<ControlSetting> controls;  // project settings first, then --set in order
};

// Loads the project named by the arguments, merges, and checks every value, the output's folder
// and format, and that a range of frames has a frame-number placeholder in OUTPUT. Throws
// InputError naming the option or project key at fault.
RenderSettings ResolveRenderSettings(const RenderArgs& args);

// The file name frame `frame` is written to.
std::string OutputPath(const RenderSettings& settings, int frame);

}  // namespace vcli

// What a user asks of one render, typed: numbers are numbers, names of files are paths, choices
// are enums. The command line, a project file, the preview's session and any other front end
// fill it through the option table (options.h), which also saves it back; the plan (plan.h)
// completes it from the footage.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "media/image_io.h"
#include "media/layer.h"
#include "media/source.h"

namespace vpipe {

// The media room's types, as the pipeline speaks of them.
using FrameRate = vmedia::Rational;
using vmedia::ImageLayout;
using vmedia::OutputFormat;
using vmedia::RgbaImage;
using vmedia::SampleType;
using vmedia::Window;
using vmedia::WriteLoss;

// One control setting, from a project or from --set. Values stay in the panel's text so that
// every source goes through the same value parser (control_values.h), which needs the plug-in's
// declared controls.
struct ControlSetting {
  std::string name;
  std::string origin;  // where it came from, for messages: "--set" or the project file
  std::optional<std::string> value;                  // a constant value...
  std::vector<std::pair<double, std::string>> keys;  // ...or keyframes: frame, value
};

// A layer's place on the timeline.
struct LayerSettings {
  std::optional<int> start;  // unset: the footage's own (a sequence's numbers, a movie's 0)
  vmedia::Outside outside = vmedia::Outside::kHold;
};

// How a movie output is encoded; unset values take the container's defaults.
struct MovieSettings {
  std::optional<std::string> codec;
  std::optional<int> crf;
  std::optional<int64_t> bitrate;  // bits per second
};

// Colour spaces as named, before the configuration resolves them.
struct ColourNames {
  std::optional<std::string> ocio_config;  // a path; unset: $OCIO, else the built-in spaces
  std::optional<std::string> input;
  std::optional<std::string> output;
  std::optional<std::string> working;
  std::optional<std::string> map;
  bool any() const { return ocio_config || input || output || working || map; }
};

struct RenderRequest {
  std::string input;
  LayerSettings input_layer;
  std::string output;
  std::optional<std::string> map;
  LayerSettings map_layer;
  int map_offset_x = 0;  // pixels; unless given, the map's data window places it
  int map_offset_y = 0;
  vmedia::MissingFrames missing = vmedia::MissingFrames::kRefuse;
  MovieSettings movie;
  std::optional<SampleType> out_type;  // unset: from the input
  std::string compression;             // empty: the format's default
  int quality = 0;                     // 0: the format's default
  FrameRate fps{24, 1};                // unless given, a movie input's own rate
  std::vector<int> frames;             // ascending; empty: the input's own frames, else 0
  std::optional<int> depth;            // 8 or 32; unset: decided by the footage
  int downsample = 1;
  int threads = 0;  // render threads; 0: chosen from the machine
  bool quiet = false;
  bool verbose = false;
  bool no_overwrite = false;
  bool skip_existing = false;
  bool continue_on_error = false;
  bool dry_run = false;
  std::optional<std::string> report;        // a JSON report of the render
  std::optional<std::string> save_project;  // the resolved render as a project
  ColourNames colour_names;
  std::vector<ControlSetting> controls;  // project settings first, then --set in order

  // The options given, by their table name (options.h), with where each came from for messages:
  // "--fps", or "project p.json: \"fps\"". Options not here keep their defaults.
  std::map<std::string, std::string> given;
  bool Given(const std::string& option) const { return given.count(option) > 0; }
};

}  // namespace vpipe

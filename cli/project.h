// Project files: a JSON record of everything a render needs besides the output name.
//
//   {"input": {"path": "in.####.exr", "start": 1001, "outside": "hold"},
//    "map": {"path": "map.mov", "offset": [x, y], "start": 0, "outside": "loop"},
//    "output": "out.####.exr", "fps": "24000/1001", "frames": [first, last] or "1-100x2",
//    "depth": 8, "controls": {"Rotate": 15, "Translate X": [[0, 0], [24, 50]]},
//    "ocio_config": "config.ocio", "colorspace_in": "sRGB", "working_space": "linear",
//    "colorspace_out": "sRGB", "map_colorspace": "sRGB"}
//
// Every key is optional; "input" and "map" may also be just a path (a still, an image sequence
// or a movie). "outside" is "hold", "loop" or "transparent". A control takes one value or a list of
// [frame, value] keyframes. Relative paths are taken from the project file's folder. Range checks
// happen when the project is merged with the command line (render_settings.h); this file checks
// the shape.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vcli {

// One control setting, from a project or from --set. Values stay text so that both sources go
// through the same value parser (control_values.h).
struct ControlSetting {
  std::string name;
  std::string origin;  // where it came from, for messages: "--set" or the project file
  std::optional<std::string> value;                  // a constant value...
  std::vector<std::pair<double, std::string>> keys;  // ...or keyframes: frame, value
};

// Where a layer's footage sits on the timeline, as written.
struct LayerTiming {
  std::optional<int> start;
  std::optional<std::string> outside;
};

// Colour management as written: names as the command line's options take them.
struct ProjectColour {
  std::optional<std::string> ocio_config;
  std::optional<std::string> input;
  std::optional<std::string> output;
  std::optional<std::string> working;
  std::optional<std::string> map;
};

struct Project {
  std::string path;
  std::optional<std::string> input;
  LayerTiming input_timing;
  std::optional<std::string> map;
  LayerTiming map_timing;
  std::optional<std::pair<int, int>> map_offset;
  std::optional<std::string> output;
  std::optional<std::string> fps;  // as written: a number or "NUM/DEN"
  std::optional<std::pair<int, int>> frames;
  std::optional<std::string> frame_list;  // "frames" written as a frame list: "1-100x2"
  std::optional<int> depth;
  ProjectColour colour;
  std::vector<ControlSetting> controls;
};

// Reads and checks the shape of a project. Throws InputError naming the file and the key at
// fault for a missing or unreadable file, malformed JSON, unknown keys and wrongly typed values.
Project LoadProject(const std::string& path);

}  // namespace vcli

// Starting the plug-in inside our host, and the description of its controls the rest of the
// command works from.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostapp/host.h"

namespace vpipe {

// One control as the plug-in declared it, with what the panel shows of it now. Values and
// ranges are in the units the panel shows (percent, degrees, on/off, popup item numbers).
struct ControlInfo {
  int index = 0;
  int id = 0;
  std::string identifier;  // PARAM_...
  PF_ParamType kind = 0;
  std::string name;   // the label as declared
  std::string label;  // the label the panel shows now ("Scale" for "Scale X" with uniform scale)
  bool shown = true;
  bool animatable = true;  // not CANNOT_TIME_VARY
  std::string cannot_set;  // why it cannot be set, or empty when it can
  double valid_min = 0, valid_max = 0;
  double slider_min = 0, slider_max = 0;
  bool limited = false;  // valid_min/valid_max apply
  bool percent = false;
  int precision = 0;
  double default_x = 0, default_y = 0;  // default_y for points only
  std::vector<std::string> choices;     // popup items in order; separators are "(-"
};

// "512 (PF_Err_INTERNAL_STRUCT_DAMAGED)": a host code with its name.
std::string DescribeError(PF_Err err);

// The file of the running program. Throws InputError when the system does not say.
std::string RunningProgram();

// The module to load: `override` when given, else ../lib/varnex-effect.so relative to the running
// executable. Throws InputError when that file does not exist.
std::string FindPlugin(const std::optional<std::string>& override_path);

// Loads the module; throws InputError when it cannot be loaded.
std::unique_ptr<vhost::Host> LoadPlugin(const std::string& path);

struct Session {
  std::unique_ptr<vhost::Host> host;
  std::vector<ControlInfo> controls;  // indices 1 to 69, in order
};

// Loads the module, runs global setup, declares the controls and lets the plug-in set up its
// panel, as a host does when the effect is applied. Throws RenderError when the plug-in fails a
// step, with its error code.
Session StartSession(const std::string& plugin);

}  // namespace vpipe

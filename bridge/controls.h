// The effect's controls a caller of the bridge can set, described from the effect's own control
// table, so that a plug-in system can list them before any GL exists (frei0r hosts ask for a
// plug-in's parameters while scanning their folders).
//
// Values are in the units the panel shows: sliders in their own units (percent sliders in
// percent), angles in degrees, checkboxes 0 or 1, popups the 1-based number of their entry (a
// "(-" separator takes a number too), points in percent of the layer's width and height.
#pragma once

#include <string>
#include <vector>

#include "params/param_ids.h"

namespace vbridge {

enum class ControlKind { kFloatSlider, kIntegerSlider, kAngle, kCheckbox, kPopup, kPoint };

struct ControlSpec {
  ParamIndex index = PARAM_INPUT;
  std::string label;  // as declared (a checkbox without a name: the text drawn on it)
  std::string group;  // the innermost named group around it; empty at the top
  ControlKind kind = ControlKind::kFloatSlider;
  // Sliders: the values the control takes, and the part of them its slider spans.
  double min = 0, max = 0;
  double slider_min = 0, slider_max = 0;
  bool percent = false;
  int precision = 0;
  std::vector<std::string> items;       // popups: the entries in order, separators as "(-"
  double default_x = 0, default_y = 0;  // default_y for points only
};

// Every control that holds a setting, in declaration order: all but the map layer (a layer, which
// the caller gives as a picture), groups, buttons, and the popups that only show the GPU driver.
const std::vector<ControlSpec>& SettableControls();

// The settable control at `index`, or null when that control holds no setting.
const ControlSpec* FindSettable(ParamIndex index);

// The 1-based number of the popup entry `text` names (any case), or 0 when none does;
// separators are never matched.
int PopupItemNumber(const ControlSpec& control, const std::string& text);

}  // namespace vbridge

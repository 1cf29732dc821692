// What the host knows about each kind of control, as one table: where a PF_ParamDef keeps its
// value, how that value reads in the panel's units, how a user writes one, and how it moves
// between keyframes. The control store, the command's value parsing and its listings all look a
// kind up here instead of switching on the parameter type themselves.
//
// Panel units: sliders in their own units (percent sliders in percent), angles in degrees,
// checkboxes 0 or 1, popups the 1-based item number, points in percent of the layer.
#pragma once

#include <cmath>

#include "pf_sdk.h"

namespace vhost {

// Angles and points travel as 16.16 fixed-point numbers: the integer part in the high 16 bits.
constexpr double kFixedOne = 65536.0;
// The largest magnitude a 16.16 number holds, in whole units.
constexpr double kFixedMax = 32767;

inline double DoubleFromFixed(PF_Fixed fixed) {
  return fixed / kFixedOne;
}
// Rounds to the nearest step, halves away from zero; `value` must be within kFixedMax.
inline PF_Fixed FixedFromDouble(double value) {
  return static_cast<PF_Fixed>(std::lround(value * kFixedOne));
}

// A value in panel units; `y` is used by points only.
struct PanelValue {
  double x = 0;
  double y = 0;
};

// How a user writes a value of the kind (on the command line, in a project).
enum class ValueForm {
  kNone,         // the kind holds no value a user can give
  kNumber,       // a number, "%" allowed after it
  kWholeNumber,  // an integer
  kDegrees,      // a number, "°" or "deg" allowed after it
  kOnOff,        // on/off, true/false, yes/no, 1/0
  kItem,         // a popup item by text or number
  kPoint,        // "X,Y" in percent
};

// How the value moves between two keyframes.
enum class Keying {
  kLinear,  // interpolated
  kHold,    // the earlier key's value until the next key
};

// A kind's declared limits and default, as the panel shows them.
struct PanelRange {
  bool limited = false;  // valid_min/valid_max apply
  double valid_min = 0, valid_max = 0;
  double slider_min = 0, slider_max = 0;
  bool percent = false;
  int precision = 0;
  PanelValue dephault;
};

namespace kind_defaults {
// What a kind without a value, a string or limits has in their place.
inline PanelValue NoValue(const PF_ParamDef&) {
  return {};
}
inline void WriteNothing(PF_ParamDef&, PanelValue) {}
inline const A_char** NoText(PF_ParamDef&) {
  return nullptr;
}
inline PanelRange NoRange(const PF_ParamDef&) {
  return {};
}
}  // namespace kind_defaults

// One row of the table. The defaults describe a kind that holds no value and no string.
struct ControlKind {
  PF_ParamType type = -1;
  const char* name = "other";  // as `varnex controls` prints it
  ValueForm form = ValueForm::kNone;
  Keying keying = Keying::kLinear;
  const char* cannot_set = nullptr;  // why a user cannot set one ("is a layer"), or null
  const char* unit = nullptr;        // the unit beyond percent the panel shows
  bool text_is_label = false;        // an unnamed one is labelled by its text (checkbox, button)
  bool has_slider = false;           // PanelRange::slider_min/slider_max apply
  bool has_precision = false;        // PanelRange::precision applies

  // The default and the value as the record was declared, exactly, in panel units.
  PanelValue (*dephault)(const PF_ParamDef& def) = kind_defaults::NoValue;
  PanelValue (*declared)(const PF_ParamDef& def) = kind_defaults::NoValue;
  // Stores `value` in the record's value fields, rounded to what they hold.
  void (*write)(PF_ParamDef& def, PanelValue value) = kind_defaults::WriteNothing;
  // The record's string field (popup choices, checkbox or button text), or null for none.
  const A_char** (*text)(PF_ParamDef& def) = kind_defaults::NoText;
  PanelRange (*range)(const PF_ParamDef& def) = kind_defaults::NoRange;
};

// The row for `type`; a kind the table does not know holds no value and cannot be set.
const ControlKind& KindOf(PF_ParamType type);

// A float in its shortest decimal form, so that single-precision limits read as declared (0.9,
// not 0.899999976).
double ShortestFloat(float value);

}  // namespace vhost

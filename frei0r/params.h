// The effect's settable controls as frei0r parameters. frei0r's convention is that every double
// lies in 0..1, so that a host's generic panel works; each control's own units are mapped onto it:
//
//   slider (float or integer)  0..1 spans the control's whole range, linearly (integers round)
//   angle                      0..1 spans -3600..3600 degrees (0.5 is 0 degrees)
//   checkbox                   a bool
//   popup                      a string: the item's text, as `varnex render --set` takes it
//   point ("Ramp Origin")      a position in fractions of the frame (0.5, 0.5 is 50 %, 50 %)
//
// Parameters follow the controls' declaration order and are named by their labels; that order is
// the one FFmpeg's positional filter_params uses.
#pragma once

#include <string>
#include <vector>

#include "bridge/controls.h"

namespace vfrei0r {

// The angle range 0..1 spans: ten turns either way.
inline constexpr double kAngleSpan = 3600;

struct Param {
  const vbridge::ControlSpec* control = nullptr;
  int type = 0;             // F0R_PARAM_*
  std::string explanation;  // the unit, and the range 0..1 spans
};

// One per settable control, in declaration order.
const std::vector<Param>& Params();

// What a frei0r parameter holds, as frei0r gives it: a double (bools too), a position, a text.
struct ParamValue {
  double x = 0;
  double y = 0;
  std::string text;
};

// The value a parameter holds for the control's default.
ParamValue DefaultValue(const Param& param);

// A double parameter's value in 0..1 as the control's value in the panel's units (sliders,
// angles); a fraction outside 0..1 is taken at the nearer end.
double PanelValueOf(const vbridge::ControlSpec& control, double fraction);
// The fraction a slider or angle value in panel units lies at; the inverse of PanelValueOf.
double FractionOf(const vbridge::ControlSpec& control, double panel);

}  // namespace vfrei0r

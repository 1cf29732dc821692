#include "frei0r/params.h"

#include <frei0r.h>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace vfrei0r {

namespace {

using vbridge::ControlKind;
using vbridge::ControlSpec;

// Numbers as a panel shows them: no trailing zeros, no exponent.
std::string Number(double v) {
  std::ostringstream text;
  text.precision(10);
  text << v;
  return text.str();
}

std::string Range(double lo, double hi, const std::string& unit) {
  return Number(lo) + unit + " to " + Number(hi) + unit;
}

std::string Items(const ControlSpec& control) {
  std::string list;
  for (const std::string& item : control.items) {
    if (item == "(-") continue;
    list += (list.empty() ? "" : ", ") + item;
  }
  return list;
}

std::string Explain(const ControlSpec& c) {
  const std::string where = c.group.empty() ? "" : c.group + ": ";
  const std::string unit = c.percent ? " %" : "";
  switch (c.kind) {
    case ControlKind::kFloatSlider:
      return where + (c.percent ? "percent" : "a number") + "; 0..1 spans " +
             Range(c.min, c.max, unit) + " (the panel's slider " +
             Range(c.slider_min, c.slider_max, unit) + ")";
    case ControlKind::kIntegerSlider:
      return where + "a whole number; 0..1 spans " + Range(c.min, c.max, "") +
             ", rounded to the nearest (the panel's slider " +
             Range(c.slider_min, c.slider_max, "") + ")";
    case ControlKind::kAngle:
      return where + "degrees; 0..1 spans " + Range(-kAngleSpan, kAngleSpan, " degrees") +
             ", 0.5 is 0 degrees";
    case ControlKind::kCheckbox:
      return where + "on or off";
    case ControlKind::kPopup:
      return where + "one of: " + Items(c);
    case ControlKind::kPoint:
      return where + "a position in fractions of the frame's width and height; 0..1 spans " +
             Range(0, 100, " %");
  }
  return where;
}

int TypeOf(ControlKind kind) {
  switch (kind) {
    case ControlKind::kCheckbox:
      return F0R_PARAM_BOOL;
    case ControlKind::kPopup:
      return F0R_PARAM_STRING;
    case ControlKind::kPoint:
      return F0R_PARAM_POSITION;
    default:
      return F0R_PARAM_DOUBLE;
  }
}

// The span of values 0..1 covers, in the panel's units.
void SpanOf(const ControlSpec& c, double* lo, double* hi) {
  if (c.kind == ControlKind::kAngle) {
    *lo = -kAngleSpan;
    *hi = kAngleSpan;
  } else {
    *lo = c.min;
    *hi = c.max;
  }
}

std::vector<Param> BuildParams() {
  std::vector<Param> params;
  for (const ControlSpec& control : vbridge::SettableControls())
    params.push_back({&control, TypeOf(control.kind), Explain(control)});
  return params;
}

}  // namespace

const std::vector<Param>& Params() {
  static const std::vector<Param> params = BuildParams();
  return params;
}

double PanelValueOf(const ControlSpec& control, double fraction) {
  double lo = 0, hi = 0;
  SpanOf(control, &lo, &hi);
  const double value = lo + std::clamp(fraction, 0.0, 1.0) * (hi - lo);
  return control.kind == ControlKind::kIntegerSlider ? std::round(value) : value;
}

double FractionOf(const ControlSpec& control, double panel) {
  double lo = 0, hi = 0;
  SpanOf(control, &lo, &hi);
  return hi > lo ? (panel - lo) / (hi - lo) : 0;
}

ParamValue DefaultValue(const Param& param) {
  const ControlSpec& c = *param.control;
  ParamValue value;
  switch (c.kind) {
    case ControlKind::kCheckbox:
      value.x = c.default_x;
      break;
    case ControlKind::kPopup:
      value.text = c.items.at(static_cast<size_t>(c.default_x) - 1);
      break;
    case ControlKind::kPoint:
      value.x = c.default_x / 100;
      value.y = c.default_y / 100;
      break;
    default:
      value.x = FractionOf(c, c.default_x);
  }
  return value;
}

}  // namespace vfrei0r

// The host's record of an effect's controls: what the effect declared, each control's value or
// keyframes over time, and the panel state (hidden, greyed out, label) the effect sets.
//
// Values are kept in the units the panel shows, and move between keyframes as their kind says
// (hostapp/control_kinds.h); every kind holds its first key's value before it and its last key's
// after.
#pragma once

#include <deque>
#include <set>
#include <string>
#include <vector>

#include "pf_sdk.h"

namespace vhost {

struct Keyframe {
  double time;  // seconds
  double value;
  bool operator==(const Keyframe&) const = default;
};

struct Control {
  PF_ParamDef def{};  // as declared; string pointers point into `text`
  std::string text;   // owned copy of the popup choices or checkbox/button text
  double value = 0;   // constant value when there are no keyframes
  double value2 = 0;  // second coordinate of a point control
  std::vector<Keyframe> keys;
  bool hidden = false;  // dynamic stream flag HIDDEN
  // Panel state set through PF_UpdateParamUI: the label shown (empty: the declared one) and the
  // UI flags (PF_PUI_DISABLED greys the control out), which start as declared.
  std::string ui_name;
  PF_ParamUIFlags ui_flags = 0;
  bool has_layer = false;  // a layer control with a layer chosen
};

class ControlStore {
 public:
  // Forgets every control and adds the input layer at index 0.
  void Reset();
  // Copies a declared record and its strings; returns its index.
  int Add(const PF_ParamDef& def);
  int size() const { return static_cast<int>(controls_.size()); }
  bool valid(int index) const { return index >= 0 && index < size(); }
  Control& at(int index) { return controls_.at(index); }
  const Control& at(int index) const { return controls_.at(index); }

  // Controls restored from a project saved before they existed: a control at one of these
  // indices that carries USE_VALUE_FOR_OLD_PROJECTS starts at its setup value, not its default.
  void set_old_project_indices(std::set<int> indices) { old_project_ = std::move(indices); }

  double ValueAt(int index, double seconds) const;
  void SetValue(int index, double value);  // drops keyframes
  void SetKeyframes(int index, std::vector<Keyframe> keys);
  int NumKeyframes(int index) const;

  // The record the effect sees at that time: the declared record with its value filled in.
  PF_ParamDef RecordAt(int index, double seconds) const;

  // Index of the control whose label or name matches (case-insensitive), or -1.
  int Find(const std::string& name) const;

 private:
  // A deque, so that adding a control never moves the others: each record points into its own
  // control's copy of its strings.
  std::deque<Control> controls_;
  std::set<int> old_project_;
};

// The label a panel shows for a control: its name, or for unnamed checkboxes and buttons the
// text drawn on the control.
std::string ControlLabel(const Control& c);

}  // namespace vhost

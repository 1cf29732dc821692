#include "hostapp/controls.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

namespace vhost {

namespace {

bool IsDiscrete(const PF_ParamDef& def) {
  return def.param_type == PF_Param_CHECKBOX || def.param_type == PF_Param_POPUP ||
         def.param_type == PF_Param_LAYER || def.param_type == PF_Param_BUTTON;
}

double DefaultOf(const PF_ParamDef& def) {
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      return def.u.fs_d.dephault;
    case PF_Param_SLIDER:
      return def.u.sd.dephault;
    case PF_Param_ANGLE:
      return def.u.ad.dephault / 65536.0;
    case PF_Param_CHECKBOX:
      return def.u.bd.dephault;
    case PF_Param_POPUP:
      return def.u.pd.dephault;
    case PF_Param_POINT:
      return def.u.td.x_dephault / 65536.0;
    default:
      return 0;
  }
}

double SetupValueOf(const PF_ParamDef& def) {
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      return def.u.fs_d.value;
    case PF_Param_SLIDER:
      return def.u.sd.value;
    case PF_Param_ANGLE:
      return def.u.ad.value / 65536.0;
    case PF_Param_CHECKBOX:
      return def.u.bd.value;
    case PF_Param_POPUP:
      return def.u.pd.value;
    case PF_Param_POINT:
      return def.u.td.x_value / 65536.0;
    default:
      return 0;
  }
}

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Points a record's string at `text`, the owning control's copy.
void PointAtText(PF_ParamDef& def, const std::string& text) {
  switch (def.param_type) {
    case PF_Param_POPUP:
      def.u.pd.u.namesptr = text.c_str();
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.u.nameptr = text.c_str();
      break;
    case PF_Param_BUTTON:
      def.u.button_d.u.namesptr = text.c_str();
      break;
    default:
      break;
  }
}

}  // namespace

void ControlStore::Reset() {
  controls_.clear();
  Control input;
  input.def.param_type = PF_Param_LAYER;
  input.has_layer = true;
  controls_.push_back(input);
}

int ControlStore::Add(const PF_ParamDef& def) {
  Control c;
  c.def = def;
  const char* text = nullptr;
  switch (def.param_type) {
    case PF_Param_POPUP:
      text = def.u.pd.u.namesptr;
      break;
    case PF_Param_CHECKBOX:
      text = def.u.bd.u.nameptr;
      break;
    case PF_Param_BUTTON:
      text = def.u.button_d.u.namesptr;
      break;
    default:
      break;
  }
  c.text = text ? text : "";
  c.def.name[sizeof(c.def.name) - 1] = '\0';
  c.ui_flags = def.ui_flags;
  const int index = size();
  const bool old =
      old_project_.count(index) && (def.flags & PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS);
  c.value = old ? SetupValueOf(def) : DefaultOf(def);
  if (def.param_type == PF_Param_POINT) c.value2 = def.u.td.y_dephault / 65536.0;
  controls_.push_back(std::move(c));
  Control& stored = controls_.back();
  PointAtText(stored.def, stored.text);
  return index;
}

double ControlStore::ValueAt(int index, double seconds) const {
  const Control& c = at(index);
  if (c.keys.empty()) return c.value;
  const auto& k = c.keys;
  if (seconds <= k.front().time) return k.front().value;
  if (seconds >= k.back().time) return k.back().value;
  auto next = std::upper_bound(k.begin(), k.end(), seconds,
                               [](double t, const Keyframe& key) { return t < key.time; });
  auto prev = next - 1;
  if (IsDiscrete(c.def)) return prev->value;
  const double f = (seconds - prev->time) / (next->time - prev->time);
  return prev->value + (next->value - prev->value) * f;
}

void ControlStore::SetValue(int index, double value) {
  Control& c = at(index);
  c.keys.clear();
  c.value = value;
}

void ControlStore::SetKeyframes(int index, std::vector<Keyframe> keys) {
  std::sort(keys.begin(), keys.end(),
            [](const Keyframe& a, const Keyframe& b) { return a.time < b.time; });
  Control& c = at(index);
  if (!keys.empty()) c.value = keys.front().value;
  c.keys = std::move(keys);
}

int ControlStore::NumKeyframes(int index) const {
  return static_cast<int>(at(index).keys.size());
}

PF_ParamDef ControlStore::RecordAt(int index, double seconds) const {
  const Control& c = at(index);
  PF_ParamDef def = c.def;
  PointAtText(def, c.text);
  const double v = ValueAt(index, seconds);
  switch (def.param_type) {
    case PF_Param_FLOAT_SLIDER:
      def.u.fs_d.value = v;
      break;
    case PF_Param_SLIDER:
      def.u.sd.value = static_cast<A_long>(std::lround(v));
      break;
    case PF_Param_ANGLE:
      def.u.ad.value = static_cast<PF_Fixed>(std::lround(v * 65536.0));
      break;
    case PF_Param_CHECKBOX:
      def.u.bd.value = static_cast<A_long>(std::lround(v));
      break;
    case PF_Param_POPUP:
      def.u.pd.value = static_cast<A_long>(std::lround(v));
      break;
    case PF_Param_POINT:
      def.u.td.x_value = static_cast<PF_Fixed>(std::lround(v * 65536.0));
      def.u.td.y_value = static_cast<PF_Fixed>(std::lround(c.value2 * 65536.0));
      break;
    default:
      break;
  }
  return def;
}

std::string ControlLabel(const Control& c) {
  if (c.def.name[0]) return c.def.name;
  if (c.def.param_type == PF_Param_CHECKBOX || c.def.param_type == PF_Param_BUTTON) return c.text;
  return {};
}

int ControlStore::Find(const std::string& name) const {
  const std::string want = Lower(name);
  for (int i = 1; i < size(); ++i) {
    if (!want.empty() && Lower(ControlLabel(controls_[i])) == want) return i;
  }
  return -1;
}

}  // namespace vhost

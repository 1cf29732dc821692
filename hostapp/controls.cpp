#include "hostapp/controls.h"

#include <algorithm>

#include "hostapp/control_kinds.h"
#include "hostapp/text.h"

namespace vhost {

namespace {

// Points a record's string at `text`, the owning control's copy.
void PointAtText(PF_ParamDef& def, const std::string& text) {
  if (const A_char** slot = KindOf(def.param_type).text(def)) *slot = text.c_str();
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
  const ControlKind& kind = KindOf(def.param_type);
  Control c;
  c.def = def;
  const A_char** text = kind.text(c.def);
  c.text = text && *text ? *text : "";
  c.def.name[sizeof(c.def.name) - 1] = '\0';
  c.ui_flags = def.ui_flags;
  const int index = size();
  const bool old =
      old_project_.count(index) && (def.flags & PF_ParamFlag_USE_VALUE_FOR_OLD_PROJECTS);
  const PanelValue dephault = kind.dephault(def);
  c.value = old ? kind.declared(def).x : dephault.x;
  // A point's second coordinate starts at its default even in an old project.
  c.value2 = dephault.y;
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
  if (KindOf(c.def.param_type).keying == Keying::kHold) return prev->value;
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
  KindOf(def.param_type).write(def, {ValueAt(index, seconds), c.value2});
  return def;
}

std::string ControlLabel(const Control& c) {
  if (c.def.name[0]) return c.def.name;
  if (KindOf(c.def.param_type).text_is_label) return c.text;
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

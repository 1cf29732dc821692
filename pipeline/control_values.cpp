#include "pipeline/control_values.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "hostapp/control_kinds.h"
#include "hostapp/text.h"
#include "pipeline/errors.h"
#include "pipeline/limits.h"
#include "pipeline/timing.h"

namespace vpipe {

using vhost::FormatNumber;

namespace {

using vhost::EditDistance;
using vhost::Lower;
using vhost::Quoted;
using vhost::Trim;

bool Matches(const ControlInfo& c, const std::string& lower_name) {
  return (!c.name.empty() && Lower(c.name) == lower_name) ||
         (!c.label.empty() && Lower(c.label) == lower_name) || Lower(c.identifier) == lower_name;
}

[[noreturn]] void UnknownControl(const std::vector<ControlInfo>& controls,
                                 const std::string& name) {
  // A name far longer than any label is near none of them. Ranking it would take time in
  // proportion to its length (a project may hold megabytes), and echoing it whole would flood
  // the one-line message.
  constexpr size_t kLongestRanked = 64;
  if (name.size() > kLongestRanked)
    throw InputError("unknown control " + Quoted(name.substr(0, kLongestRanked) + "...") +
                     " (see varnex controls)");
  const std::string want = Lower(name);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const ControlInfo& c : controls) {
    if (!c.cannot_set.empty() || c.name.empty()) continue;
    const size_t distance =
        std::min(EditDistance(want, Lower(c.name)), EditDistance(want, Lower(c.identifier)));
    ranked.emplace_back(distance, c.name);
  }
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string message = "unknown control " + Quoted(name);
  if (!ranked.empty()) {
    message += "; nearest: ";
    for (size_t i = 0; i < std::min<size_t>(3, ranked.size()); ++i)
      message += (i ? ", " : "") + Quoted(ranked[i].second);
  }
  message += " (see varnex controls)";
  throw InputError(message);
}

bool ParseNumber(const std::string& text, double* value) {
  const char* begin = text.data();
  const char* end = text.data() + text.size();
  if (begin != end && *begin == '+') ++begin;
  auto [ptr, ec] = std::from_chars(begin, end, *value);
  return ec == std::errc() && ptr == end && begin != end;
}

// A number in the panel's units; `suffixes` may follow it (e.g. "%").
double ParseFinite(const ControlInfo& c, const std::string& raw,
                   std::initializer_list<const char*> suffixes) {
  std::string text = Trim(raw);
  for (const char* suffix : suffixes) {
    const std::string s = suffix;
    if (text.size() > s.size() && Lower(text.substr(text.size() - s.size())) == s) {
      text = Trim(text.substr(0, text.size() - s.size()));
      break;
    }
  }
  double value = 0;
  if (!ParseNumber(text, &value)) {
    // A number with a unit this control is not in ("5%" for a gamma, "10deg" for a percentage)
    // would otherwise be read as if the unit were not there, or fail as "not a number".
    for (const char* unit : {"%", "°", "deg", "px"}) {
      const std::string u = unit;
      if (text.size() <= u.size() || Lower(text.substr(text.size() - u.size())) != u) continue;
      double bare = 0;
      if (!ParseNumber(Trim(text.substr(0, text.size() - u.size())), &bare)) break;
      const std::string own = suffixes.size() == 0 ? std::string("takes a plain number")
                                                   : std::string("is in ") + *suffixes.begin();
      throw InputError(Quoted(c.name) + ": " + Quoted(raw) + " is in " + u + "; the control " +
                       own);
    }
    throw InputError(Quoted(c.name) + ": " + Quoted(raw) + " is not a number");
  }
  if (!std::isfinite(value))
    throw InputError(Quoted(c.name) + ": " + Quoted(raw) + " is not a finite number");
  return value;
}

void CheckRange(const ControlInfo& c, double value, double lo, double hi, const char* unit) {
  if (value < lo || value > hi)
    throw InputError(Quoted(c.name) + ": " + FormatNumber(value) + " is outside the valid range " +
                     FormatNumber(lo) + " to " + FormatNumber(hi) + unit);
}

double ParseCheckbox(const ControlInfo& c, const std::string& raw) {
  const std::string text = Lower(Trim(raw));
  if (text == "on" || text == "true" || text == "yes" || text == "1") return 1;
  if (text == "off" || text == "false" || text == "no" || text == "0") return 0;
  throw InputError(Quoted(c.name) + ": " + Quoted(raw) + " is not on/off, true/false or 1/0");
}

bool IsSeparator(const std::string& choice) {
  return choice.rfind("(-", 0) == 0;
}

double ParsePopup(const ControlInfo& c, const std::string& raw) {
  const std::string text = Trim(raw);
  for (size_t i = 0; i < c.choices.size(); ++i) {
    if (!IsSeparator(c.choices[i]) && Lower(c.choices[i]) == Lower(text))
      return static_cast<double>(i + 1);
  }
  std::string items;
  for (const std::string& choice : c.choices) {
    if (!IsSeparator(choice)) items += (items.empty() ? "" : ", ") + choice;
  }
  double number = 0;
  if (ParseNumber(text, &number) && std::floor(number) == number && number >= 1 &&
      number <= static_cast<double>(c.choices.size())) {
    if (!IsSeparator(c.choices[static_cast<size_t>(number) - 1])) return number;
    throw InputError(Quoted(c.name) + ": item " + text + " is a separator; choose one of " + items);
  }
  throw InputError(Quoted(c.name) + ": " + Quoted(raw) + " is not one of " + items +
                   " (or their numbers 1 to " + std::to_string(c.choices.size()) + ")");
}

ControlValue ParsePoint(const ControlInfo& c, const std::string& raw) {
  const size_t comma = raw.find(',');
  if (comma == std::string::npos)
    throw InputError(Quoted(c.name) + ": " + Quoted(raw) + " is not X,Y (in percent)");
  ControlValue v;
  v.x = ParseFinite(c, raw.substr(0, comma), {"%"});
  v.y = ParseFinite(c, raw.substr(comma + 1), {"%"});
  CheckRange(c, v.x, -vhost::kFixedMax, vhost::kFixedMax, "%");
  CheckRange(c, v.y, -vhost::kFixedMax, vhost::kFixedMax, "%");
  return v;
}

// A setting checked against its control, ready to apply.
struct CheckedSetting {
  int index = 0;
  bool point = false;
  ControlValue value;
  std::vector<vhost::Keyframe> keys;  // empty: a constant
};

CheckedSetting Check(const std::vector<ControlInfo>& controls, const ControlSetting& setting,
                     const FrameRate& fps) {
  const std::string where = setting.origin + ": ";
  try {
    const ControlInfo& c = FindControl(controls, setting.name);
    CheckedSetting checked;
    checked.index = c.index;
    checked.point = vhost::KindOf(c.kind).form == vhost::ValueForm::kPoint;
    if (setting.value) {
      checked.value = ParseControlValue(c, *setting.value);
      return checked;
    }
    if (!c.animatable || checked.point) throw InputError(Quoted(c.name) + " cannot be animated");
    if (setting.keys.empty()) throw InputError(Quoted(c.name) + ": an empty list of keyframes");
    std::vector<double> frames;
    for (const auto& [frame, text] : setting.keys) {
      if (!std::isfinite(frame) || std::fabs(frame) > kMaxKeyframeFrame)
        throw InputError(Quoted(c.name) + ": keyframe frame " + FormatNumber(frame) +
                         " is outside -" + FormatNumber(kMaxKeyframeFrame) + " to " +
                         FormatNumber(kMaxKeyframeFrame));
      if (std::find(frames.begin(), frames.end(), frame) != frames.end())
        throw InputError(Quoted(c.name) + ": two keyframes at frame " + FormatNumber(frame));
      frames.push_back(frame);
      try {
        checked.keys.push_back({FrameSeconds(frame, fps), ParseControlValue(c, text).x});
      } catch (const InputError& e) {
        throw InputError("keyframe at frame " + FormatNumber(frame) + ": " + e.what());
      }
    }
    return checked;
  } catch (const InputError& e) {
    throw InputError(where + e.what());
  }
}

}  // namespace

const ControlInfo& FindControl(const std::vector<ControlInfo>& controls, const std::string& name) {
  const std::string want = Lower(Trim(name));
  const ControlInfo* found = nullptr;
  for (const ControlInfo& c : controls) {
    if (!Matches(c, want)) continue;
    // A label can be shared by a group and the control inside it ("Iterations"): the settable one
    // is meant.
    if (c.cannot_set.empty()) return c;
    if (!found) found = &c;
  }
  if (!found) UnknownControl(controls, name);
  throw InputError(Quoted(found->name.empty() ? found->identifier : found->name) + " " +
                   found->cannot_set + " and cannot be set" +
                   (found->kind == PF_Param_LAYER ? "; give the map image with --map" : ""));
}

ControlValue ParseControlValue(const ControlInfo& c, const std::string& text) {
  ControlValue v;
  switch (vhost::KindOf(c.kind).form) {
    case vhost::ValueForm::kNumber:
      v.x = c.percent ? ParseFinite(c, text, {"%"}) : ParseFinite(c, text, {});
      CheckRange(c, v.x, c.valid_min, c.valid_max, c.percent ? "%" : "");
      break;
    case vhost::ValueForm::kWholeNumber:
      v.x = ParseFinite(c, text, {});
      if (std::floor(v.x) != v.x)
        throw InputError(Quoted(c.name) + ": " + Quoted(text) + " is not a whole number");
      CheckRange(c, v.x, c.valid_min, c.valid_max, "");
      break;
    case vhost::ValueForm::kDegrees:
      v.x = ParseFinite(c, text, {"°", "deg"});
      if (c.limited)
        CheckRange(c, v.x, c.valid_min, c.valid_max, " degrees");
      else
        CheckRange(c, v.x, -vhost::kFixedMax, vhost::kFixedMax, " degrees");
      break;
    case vhost::ValueForm::kOnOff:
      v.x = ParseCheckbox(c, text);
      break;
    case vhost::ValueForm::kItem:
      v.x = ParsePopup(c, text);
      break;
    case vhost::ValueForm::kPoint:
      v = ParsePoint(c, text);
      break;
    case vhost::ValueForm::kNone:
      throw InputError(Quoted(c.name) + " cannot be set");
  }
  return v;
}

void ApplyControlSettings(const std::vector<ControlInfo>& controls,
                          const std::vector<ControlSetting>& settings, const FrameRate& fps,
                          vhost::ControlStore* store) {
  std::vector<CheckedSetting> checked;
  for (const ControlSetting& setting : settings) checked.push_back(Check(controls, setting, fps));
  for (CheckedSetting& s : checked) {
    if (s.keys.empty()) {
      store->SetValue(s.index, s.value.x);
      if (s.point) store->at(s.index).value2 = s.value.y;
    } else {
      store->SetKeyframes(s.index, std::move(s.keys));
    }
  }
}

Session StartRenderSession(const std::string& plugin, const std::vector<ControlSetting>& settings,
                           const FrameRate& fps, bool has_map) {
  Session session = StartSession(plugin);
  ApplyControlSettings(session.controls, settings, fps, &session.host->controls());
  for (const ControlInfo& c : session.controls)
    if (c.identifier == "PARAM_MAP_LAYER") session.host->controls().at(c.index).has_layer = has_map;
  return session;
}

void RefreshLabels(Session* session) {
  vhost::Host& host = *session->host;
  if (PF_Err err = host.UpdateParamsUI())
    throw RenderError("the plug-in's panel update failed with " + DescribeError(err));
  std::lock_guard<std::mutex> lock(host.mutex());
  for (ControlInfo& info : session->controls) {
    const vhost::Control& control = host.controls().at(info.index);
    info.label = control.ui_name.empty() ? vhost::ControlLabel(control) : control.ui_name;
    info.shown = !control.hidden;
  }
}

}  // namespace vpipe

#include "bridge/controls.h"

#include <algorithm>
#include <cctype>

#include "hostapp/control_kinds.h"
#include "params/param_table.h"

namespace vbridge {

namespace {

// The separator entry of a popup, which takes a number but can never be chosen.
constexpr const char* kSeparator = "(-";

std::vector<std::string> SplitItems(const char* text) {
  std::vector<std::string> items;
  std::string item;
  for (const char* c = text;; ++c) {
    if (*c == '|' || *c == '\0') {
      items.push_back(item);
      item.clear();
      if (*c == '\0') break;
    } else {
      item += *c;
    }
  }
  return items;
}

// What a row declares holds a setting of ours, and of which kind; false for the rest.
bool KindOfRow(const ControlRow& row, ControlKind* kind) {
  switch (row.kind) {
    case PF_Param_FLOAT_SLIDER:
      *kind = ControlKind::kFloatSlider;
      return true;
    case PF_Param_SLIDER:
      *kind = ControlKind::kIntegerSlider;
      return true;
    case PF_Param_ANGLE:
      *kind = ControlKind::kAngle;
      return true;
    case PF_Param_CHECKBOX:
      *kind = ControlKind::kCheckbox;
      return true;
    case PF_Param_POINT:
      *kind = ControlKind::kPoint;
      return true;
    case PF_Param_POPUP:
      *kind = ControlKind::kPopup;
      // The driver's texts are filled in at setup and cannot be chosen.
      return row.setup_text == SetupText::kNone;
    default:
      return false;
  }
}

ControlSpec Describe(const ControlRow& row, ControlKind kind, const std::string& group) {
  ControlSpec spec;
  spec.index = row.index;
  spec.label = row.name[0] ? row.name : row.text;
  spec.group = group;
  spec.kind = kind;
  spec.default_x = row.dephault;
  // The host keeps slider limits single-precision; their shortest decimal form is what the
  // panel and `varnex controls` show.
  spec.min = vhost::ShortestFloat(row.range.valid_min);
  spec.max = vhost::ShortestFloat(row.range.valid_max);
  spec.slider_min = vhost::ShortestFloat(row.range.slider_min);
  spec.slider_max = vhost::ShortestFloat(row.range.slider_max);
  spec.percent = row.range.display_flags == PF_ValueDisplayFlag_PERCENT;
  spec.precision = row.range.precision;
  if (kind == ControlKind::kPopup) spec.items = SplitItems(row.text);
  // A point's one declared default is both of its coordinates, in percent.
  if (kind == ControlKind::kPoint) {
    spec.default_y = row.dephault;
    spec.percent = true;
  }
  return spec;
}

std::vector<ControlSpec> BuildSettable() {
  std::vector<ControlSpec> settable;
  // Names of the open groups; an unnamed group keeps the name of the one around it.
  std::vector<std::string> groups;
  for (const ControlRow& row : kControlTable) {
    if (row.kind == PF_Param_GROUP_START) {
      groups.push_back(row.name[0] || groups.empty() ? row.name : groups.back());
      continue;
    }
    if (row.kind == PF_Param_GROUP_END) {
      if (!groups.empty()) groups.pop_back();
      continue;
    }
    ControlKind kind;
    if (KindOfRow(row, &kind))
      settable.push_back(Describe(row, kind, groups.empty() ? std::string() : groups.back()));
  }
  return settable;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

const std::vector<ControlSpec>& SettableControls() {
  static const std::vector<ControlSpec> settable = BuildSettable();
  return settable;
}

const ControlSpec* FindSettable(ParamIndex index) {
  for (const ControlSpec& spec : SettableControls())
    if (spec.index == index) return &spec;
  return nullptr;
}

int PopupItemNumber(const ControlSpec& control, const std::string& text) {
  const std::string want = Lower(text);
  for (size_t i = 0; i < control.items.size(); ++i)
    if (control.items[i] != kSeparator && Lower(control.items[i]) == want)
      return static_cast<int>(i) + 1;
  return 0;
}

}  // namespace vbridge

#include "cli/info_commands.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/errors.h"
#include "cli/format.h"
#include "cli/host_session.h"

namespace vcli {

namespace {

using Json = nlohmann::ordered_json;

const char* KindName(PF_ParamType kind) {
  switch (kind) {
    case PF_Param_LAYER:
      return "layer";
    case PF_Param_SLIDER:
      return "slider";
    case PF_Param_FIXED_SLIDER:
      return "fixed_slider";
    case PF_Param_ANGLE:
      return "angle";
    case PF_Param_CHECKBOX:
      return "checkbox";
    case PF_Param_COLOR:
      return "color";
    case PF_Param_POINT:
      return "point";
    case PF_Param_POPUP:
      return "popup";
    case PF_Param_FLOAT_SLIDER:
      return "float_slider";
    case PF_Param_GROUP_START:
      return "group_start";
    case PF_Param_GROUP_END:
      return "group_end";
    case PF_Param_BUTTON:
      return "button";
    default:
      return "other";
  }
}

bool HasValue(const ControlInfo& c) {
  switch (c.kind) {
    case PF_Param_FLOAT_SLIDER:
    case PF_Param_SLIDER:
    case PF_Param_ANGLE:
    case PF_Param_CHECKBOX:
    case PF_Param_POPUP:
    case PF_Param_POINT:
      return true;
    default:
      return false;
  }
}

const char* Unit(const ControlInfo& c) {
  if (c.kind == PF_Param_ANGLE) return "degrees";
  return c.percent ? "percent" : nullptr;
}

// The default in the form --set accepts.
std::string DefaultText(const ControlInfo& c) {
  switch (c.kind) {
    case PF_Param_CHECKBOX:
      return c.default_x != 0 ? "on" : "off";
    case PF_Param_POPUP: {
      const size_t item = static_cast<size_t>(c.default_x);
      return item >= 1 && item <= c.choices.size() ? c.choices[item - 1]
                                                   : FormatNumber(c.default_x);
    }
    case PF_Param_POINT:
      return FormatNumber(c.default_x) + "," + FormatNumber(c.default_y);
    default:
      return FormatNumber(c.default_x);
  }
}

Json ControlJson(const ControlInfo& c) {
  Json j;
  j["index"] = c.index;
  j["id"] = c.id;
  j["identifier"] = c.identifier;
  j["kind"] = KindName(c.kind);
  j["name"] = c.name;
  j["label"] = c.label;
  j["shown"] = c.shown;
  j["settable"] = c.cannot_set.empty();
  if (!HasValue(c)) return j;
  j["animatable"] = c.animatable;
  switch (c.kind) {
    case PF_Param_CHECKBOX:
      j["default"] = c.default_x != 0;
      break;
    case PF_Param_POPUP:
      j["default"] = DefaultText(c);
      j["choices"] = c.choices;
      break;
    case PF_Param_POINT:
      j["default"] = {c.default_x, c.default_y};
      break;
    default:
      j["default"] = c.default_x;
      break;
  }
  if (c.limited) j["range"] = {c.valid_min, c.valid_max};
  if (c.kind == PF_Param_FLOAT_SLIDER || c.kind == PF_Param_SLIDER)
    j["slider_range"] = {c.slider_min, c.slider_max};
  if (const char* unit = Unit(c)) j["unit"] = unit;
  if (c.kind == PF_Param_FLOAT_SLIDER) j["precision"] = c.precision;
  return j;
}

std::string DetailText(const ControlInfo& c) {
  if (c.kind == PF_Param_POPUP) {
    std::string items;
    for (const std::string& choice : c.choices) items += (items.empty() ? "" : "|") + choice;
    return items;
  }
  std::string text;
  if (c.limited) text = FormatNumber(c.valid_min) + " to " + FormatNumber(c.valid_max);
  if (const char* unit = Unit(c)) text += (text.empty() ? "" : " ") + std::string(unit);
  return text;
}

void PrintTable(const std::vector<ControlInfo>& controls) {
  std::printf("%5s %4s  %-40s %-13s %-24s %-13s %-6s %s\n", "index", "id", "identifier", "kind",
              "name", "default", "panel", "range / choices");
  for (const ControlInfo& c : controls) {
    std::printf("%5d %4d  %-40s %-13s %-24s %-13s %-6s %s\n", c.index, c.id, c.identifier.c_str(),
                KindName(c.kind), c.name.c_str(), HasValue(c) ? DefaultText(c).c_str() : "",
                c.shown ? "shown" : "hidden", DetailText(c).c_str());
  }
}

}  // namespace

int RunControls(const std::string& plugin, bool json) {
  Session session = StartSession(plugin);
  if (json) {
    Json list = Json::array();
    for (const ControlInfo& c : session.controls) list.push_back(ControlJson(c));
    std::printf("%s\n", list.dump(2).c_str());
  } else {
    PrintTable(session.controls);
  }
  return kExitOk;
}

int RunAbout(const std::string& plugin) {
  auto host = LoadPlugin(plugin);
  std::string text;
  if (PF_Err err = host->About(&text))
    throw RenderError("the plug-in's About failed with " + DescribeError(err));
  if (text.empty() || text.back() != '\n') text += '\n';
  std::fputs(text.c_str(), stdout);
  return kExitOk;
}

int RunGpu(const std::string& plugin) {
  Session session = StartSession(plugin);
  for (const char* identifier :
       {"PARAM_VERSION", "PARAM_VENDOR", "PARAM_RENDERER", "PARAM_SHADER_VERSION"}) {
    for (const ControlInfo& c : session.controls) {
      if (c.identifier != identifier) continue;
      const std::string text = c.choices.empty() ? "" : c.choices.front();
      std::printf("%s: %s\n", c.name.c_str(), text.c_str());
    }
  }
  return kExitOk;
}

}  // namespace vcli

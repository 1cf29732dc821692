#include "cli/info_commands.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "cli/exit_status.h"
#include "hostapp/control_kinds.h"
#include "hostapp/text.h"
#include "media/colour.h"
#include "pipeline/errors.h"
#include "pipeline/host_session.h"

namespace vcli {

using namespace vpipe;  // a front end of the pipeline

using vhost::FormatNumber;

namespace {

using Json = nlohmann::ordered_json;

const vhost::ControlKind& KindOf(const ControlInfo& c) {
  return vhost::KindOf(c.kind);
}

bool HasValue(const ControlInfo& c) {
  return KindOf(c).form != vhost::ValueForm::kNone;
}

const char* Unit(const ControlInfo& c) {
  if (const char* unit = KindOf(c).unit) return unit;
  return c.percent ? "percent" : nullptr;
}

// The default in the form --set accepts.
std::string DefaultText(const ControlInfo& c) {
  switch (KindOf(c).form) {
    case vhost::ValueForm::kOnOff:
      return c.default_x != 0 ? "on" : "off";
    case vhost::ValueForm::kItem: {
      const size_t item = static_cast<size_t>(c.default_x);
      return item >= 1 && item <= c.choices.size() ? c.choices[item - 1]
                                                   : FormatNumber(c.default_x);
    }
    case vhost::ValueForm::kPoint:
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
  j["kind"] = KindOf(c).name;
  j["name"] = c.name;
  j["label"] = c.label;
  j["shown"] = c.shown;
  j["settable"] = c.cannot_set.empty();
  if (!HasValue(c)) return j;
  j["animatable"] = c.animatable;
  const vhost::ControlKind& kind = KindOf(c);
  switch (kind.form) {
    case vhost::ValueForm::kOnOff:
      j["default"] = c.default_x != 0;
      break;
    case vhost::ValueForm::kItem:
      j["default"] = DefaultText(c);
      j["choices"] = c.choices;
      break;
    case vhost::ValueForm::kPoint:
      j["default"] = {c.default_x, c.default_y};
      break;
    default:
      j["default"] = c.default_x;
      break;
  }
  if (c.limited) j["range"] = {c.valid_min, c.valid_max};
  if (kind.has_slider) j["slider_range"] = {c.slider_min, c.slider_max};
  if (const char* unit = Unit(c)) j["unit"] = unit;
  if (kind.has_precision) j["precision"] = c.precision;
  return j;
}

std::string DetailText(const ControlInfo& c) {
  if (KindOf(c).form == vhost::ValueForm::kItem) {
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
                KindOf(c).name, c.name.c_str(), HasValue(c) ? DefaultText(c).c_str() : "",
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

int RunColorspaces(const std::optional<std::string>& ocio_config) {
  const vmedia::ColourConfig config(ocio_config.value_or(""), "--ocio-config");
  for (const std::string& space : config.Spaces()) std::printf("%s\n", space.c_str());
  return kExitOk;
}

}  // namespace vcli

// Writes the descriptions Kdenlive builds its panel from, one per plug-in: the filter's under
// effects/, the mixer's (a composition in Kdenlive) under transitions/. Run by the build:
//   varnex-kdenlive-xml OUTPUT_FOLDER
//
// Kdenlive shows a value as the one MLT holds times `factor` plus `offset`, so each slider shows
// the panel's units over the panel's slider range while MLT, and the plug-in, see 0..1. Its
// descriptions have no groups: the group a control sits in starts the control's comment.
#include <frei0r.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "frei0r/params.h"

namespace {

namespace fs = std::filesystem;
using vbridge::ControlKind;
using vbridge::ControlSpec;

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Number(double v) {
  std::ostringstream text;
  text.precision(10);
  text << v;
  return text.str();
}

std::string Attribute(const char* name, const std::string& value) {
  return std::string(" ") + name + "=\"" + Escaped(value) + "\"";
}

// The popup's entries without its separators, joined by `separator`.
std::string Entries(const ControlSpec& c, const char* separator) {
  std::string list;
  for (const std::string& item : c.items) {
    if (item == "(-") continue;
    list += (list.empty() ? "" : separator) + item;
  }
  return list;
}

void WriteParameter(std::ostream& out, const vfrei0r::Param& param) {
  const ControlSpec& c = *param.control;
  const vfrei0r::ParamValue dephault = vfrei0r::DefaultValue(param);
  std::string attributes;
  std::string inner;
  switch (param.type) {
    case F0R_PARAM_BOOL:
      attributes = Attribute("type", "bool") + Attribute("default", Number(dephault.x));
      break;
    case F0R_PARAM_STRING:
      attributes = Attribute("type", "list") + Attribute("default", dephault.text) +
                   Attribute("paramlist", Entries(c, ";"));
      inner = "      <paramlistdisplay>" + Escaped(Entries(c, ",")) + "</paramlistdisplay>\n";
      break;
    case F0R_PARAM_POSITION:
      // MLT passes no frei0r position to a plug-in: the control keeps its default there.
      attributes = Attribute("type", "fixed") +
                   Attribute("default", Number(dephault.x) + " " + Number(dephault.y));
      break;
    default: {
      // 0..1 spans [lo, hi]; the slider shows the panel's part of it.
      const bool angle = c.kind == ControlKind::kAngle;
      const double lo = angle ? -vfrei0r::kAngleSpan : c.min;
      const double hi = angle ? vfrei0r::kAngleSpan : c.max;
      attributes = Attribute("type", "animated") + Attribute("default", Number(dephault.x)) +
                   Attribute("min", Number(angle ? lo : c.slider_min)) +
                   Attribute("max", Number(angle ? hi : c.slider_max)) +
                   Attribute("factor", Number(hi - lo)) + Attribute("offset", Number(lo)) +
                   Attribute("decimals", std::to_string(c.precision));
      if (c.percent) attributes += Attribute("suffix", "%");
      if (angle) attributes += Attribute("suffix", "°");
    }
  }
  out << "    <parameter" << attributes << Attribute("name", c.label) << ">\n"
      << "      <name>" << Escaped(c.label) << "</name>\n"
      << inner << "      <comment>" << Escaped(param.explanation) << "</comment>\n"
      << "    </parameter>\n";
}

bool WriteDescription(const fs::path& path, const char* element, const char* service,
                      const char* name, const char* description) {
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  std::ofstream out(path);
  out << "<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n"
      << "<" << element << " LC_NUMERIC=\"C\"" << Attribute("tag", service)
      << Attribute("id", service) << ">\n"
      << "    <name>" << name << "</name>\n"
      << "    <description>" << Escaped(description) << "</description>\n"
      << "    <author>The Varnex developers</author>\n";
  for (const vfrei0r::Param& param : vfrei0r::Params()) WriteParameter(out, param);
  out << "</" << element << ">\n";
  out.close();
  if (!out) std::fprintf(stderr, "varnex-kdenlive-xml: cannot write %s\n", path.c_str());
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: varnex-kdenlive-xml OUTPUT_FOLDER\n");
    return 2;
  }
  const fs::path folder = argv[1];
  const bool ok =
      WriteDescription(folder / "effects" / "frei0r_varnex.xml", "effect", "frei0r.varnex",
                       "Varnex", "Displaces the clip's pixels by a channel of the clip itself") &&
      WriteDescription(folder / "transitions" / "frei0r_varnex_map.xml", "transition",
                       "frei0r.varnex_map", "Varnex Map",
                       "Displaces the lower track's pixels by a channel of the upper track");
  return ok ? 0 : 1;
}

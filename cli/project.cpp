#include "cli/project.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/errors.h"

namespace vcli {

namespace {

using Json = nlohmann::ordered_json;

// Projects are small; anything bigger is not a project.
constexpr std::uintmax_t kMaxProjectBytes = 16u << 20;

class ProjectReader {
 public:
  explicit ProjectReader(std::string path) : path_(std::move(path)) {}

  [[noreturn]] void Fail(const std::string& what) const {
    throw InputError("project " + path_ + ": " + what);
  }

  std::string ResolvePath(const Json& v, const std::string& key) const {
    if (!v.is_string() || v.get<std::string>().empty()) Fail("\"" + key + "\" must be a path");
    std::filesystem::path p = v.get<std::string>();
    if (p.is_relative()) p = std::filesystem::path(path_).parent_path() / p;
    return p.lexically_normal().string();
  }

  int Int(const Json& v, const std::string& key) const {
    // An unsigned number above the signed range would read back negative.
    if (!v.is_number_integer() ||
        (v.is_number_unsigned() &&
         v.get<unsigned long long>() > static_cast<unsigned>(std::numeric_limits<int>::max())) ||
        v.get<long long>() < std::numeric_limits<int>::min() ||
        v.get<long long>() > std::numeric_limits<int>::max())
      Fail("\"" + key + "\" must be a whole number");
    return v.get<int>();
  }

  std::string Name(const Json& v, const std::string& key) const {
    if (!v.is_string()) Fail("\"" + key + "\" must be a colour space's name");
    return v.get<std::string>();
  }

  std::pair<int, int> IntPair(const Json& v, const std::string& key) const {
    if (!v.is_array() || v.size() != 2) Fail("\"" + key + "\" must be a list of two numbers");
    return {Int(v[0], key), Int(v[1], key)};
  }

  // A control value as the text the command line would give for it.
  std::string ValueText(const Json& v, const std::string& control) const {
    if (v.is_boolean()) return v.get<bool>() ? "on" : "off";
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number_unsigned()) return std::to_string(v.get<unsigned long long>());
    if (v.is_number_integer()) return std::to_string(v.get<long long>());
    if (v.is_number()) {
      char text[64];
      std::snprintf(text, sizeof text, "%.17g", v.get<double>());
      return text;
    }
    // A point control takes [x, y].
    if (v.is_array() && v.size() == 2 && v[0].is_number() && v[1].is_number())
      return ValueText(v[0], control) + "," + ValueText(v[1], control);
    Fail("control \"" + control + "\": a value must be a number, a text or true/false");
  }

  ControlSetting Control(const std::string& name, const Json& v) const {
    ControlSetting setting;
    setting.name = name;
    setting.origin = "project " + path_;
    const bool keyframes = v.is_array() && !v.empty() && v[0].is_array();
    if (!keyframes) {
      setting.value = ValueText(v, name);
      return setting;
    }
    for (const Json& key : v) {
      if (!key.is_array() || key.size() != 2 || !key[0].is_number())
        Fail("control \"" + name + "\": keyframes must be [frame, value] pairs");
      const double frame = key[0].get<double>();
      if (!std::isfinite(frame)) Fail("control \"" + name + "\": keyframe frame is not finite");
      setting.keys.emplace_back(frame, ValueText(key[1], name));
    }
    return setting;
  }

  // A layer: a path, or {"path", "start", "outside"} and, for the map, "offset".
  void Layer(const Json& v, const std::string& key, std::optional<std::string>* path,
             LayerTiming* timing, std::optional<std::pair<int, int>>* offset) const {
    if (!v.is_object()) {
      *path = ResolvePath(v, key);
      return;
    }
    for (const auto& [layer_key, layer_v] : v.items()) {
      const std::string name = key + "." + layer_key;
      if (layer_key == "path") {
        *path = ResolvePath(layer_v, name);
      } else if (layer_key == "start") {
        timing->start = Int(layer_v, name);
      } else if (layer_key == "outside") {
        if (!layer_v.is_string()) Fail("\"" + name + "\" must be hold, loop or transparent");
        timing->outside = layer_v.get<std::string>();
      } else if (layer_key == "offset" && offset) {
        *offset = IntPair(layer_v, name);
      } else {
        Fail("unknown key \"" + name + "\"");
      }
    }
    if (!*path) Fail("\"" + key + "\" needs a \"path\"");
  }

  Project Read(const Json& root) const {
    if (!root.is_object()) Fail("the top level must be a JSON object");
    Project project;
    project.path = path_;
    for (const auto& [key, v] : root.items()) {
      if (key == "input") {
        Layer(v, key, &project.input, &project.input_timing, nullptr);
      } else if (key == "map") {
        Layer(v, key, &project.map, &project.map_timing, &project.map_offset);
      } else if (key == "output") {
        project.output = ResolvePath(v, key);
      } else if (key == "fps") {
        if (v.is_number())
          project.fps = v.dump();
        else if (v.is_string())
          project.fps = v.get<std::string>();
        else
          Fail("\"fps\" must be a number or a ratio such as \"24000/1001\"");
      } else if (key == "frames") {
        if (v.is_string())
          project.frame_list = v.get<std::string>();
        else
          project.frames = IntPair(v, key);
      } else if (key == "depth") {
        project.depth = Int(v, key);
      } else if (key == "ocio_config") {
        project.colour.ocio_config = ResolvePath(v, key);
      } else if (key == "colorspace_in") {
        project.colour.input = Name(v, key);
      } else if (key == "colorspace_out") {
        project.colour.output = Name(v, key);
      } else if (key == "working_space") {
        project.colour.working = Name(v, key);
      } else if (key == "map_colorspace") {
        project.colour.map = Name(v, key);
      } else if (key == "controls") {
        if (!v.is_object()) Fail("\"controls\" must be an object of name: value");
        for (const auto& [name, value] : v.items())
          project.controls.push_back(Control(name, value));
      } else {
        Fail("unknown key \"" + key + "\"");
      }
    }
    return project;
  }

 private:
  std::string path_;
};

}  // namespace

Project LoadProject(const std::string& path) {
  ProjectReader reader(path);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) reader.Fail("no such file");
  if (std::filesystem::file_size(path, ec) > kMaxProjectBytes) reader.Fail("file too large");
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  if (!file) reader.Fail("cannot read the file");
  Json root;
  try {
    root = Json::parse(text.str());
  } catch (const Json::exception& e) {
    // Syntax errors, and numbers too large for a double ("1e999"), which the library reports as
    // out of range. Its message carries its own prefix; keep the part a user can act on.
    std::string what = e.what();
    const size_t end_of_tag = what.find("] ");
    if (end_of_tag != std::string::npos) what = what.substr(end_of_tag + 2);
    reader.Fail("malformed JSON: " + what);
  }
  return reader.Read(root);
}

}  // namespace vcli

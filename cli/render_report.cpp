#include "cli/render_report.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "cli/errors.h"
#include "cli/frame_list.h"
#include "cli/temp_file.h"
#include "hostapp/text.h"

namespace vcli {

namespace {

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", s);
  return text;
}

std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

const char* OutsideName(vfoot::Outside outside) {
  switch (outside) {
    case vfoot::Outside::kLoop:
      return "loop";
    case vfoot::Outside::kTransparent:
      return "transparent";
    default:
      return "hold";
  }
}

nlohmann::json LayerJson(const std::string& path, const LayerSettings& layer) {
  nlohmann::json j = {{"path", Absolute(path)}, {"outside", OutsideName(layer.outside)}};
  if (layer.start) j["start"] = *layer.start;
  return j;
}

// The footage, output, frames, rate and depth: what a report and a project both say.
nlohmann::json FootageJson(const RenderSettings& s, int bpc) {
  nlohmann::json j;
  j["input"] = LayerJson(s.input, s.input_layer);
  if (s.map) {
    j["map"] = LayerJson(*s.map, s.map_layer);
    j["map"]["offset"] = {s.map_offset_x, s.map_offset_y};
  }
  j["output"] = Absolute(s.output);
  j["fps"] = std::to_string(s.fps.num) + "/" + std::to_string(s.fps.den);
  j["frames"] = FormatFrameList(s.frames);
  j["depth"] = bpc;
  return j;
}

}  // namespace

std::vector<std::string> SummaryLines(const RenderOutcome& o) {
  std::vector<double> times;
  std::vector<int> failed;
  size_t reused = 0;
  for (const FrameOutcome& f : o.frames) {
    if (f.done)
      times.push_back(f.seconds);
    else if (!f.failure.empty())
      failed.push_back(f.frame);
    reused += f.done && f.reused;
  }
  std::string line = "varnex: " + std::to_string(times.size() - reused) + " frames rendered, " +
                     std::to_string(o.skipped.size()) + " skipped, " + std::to_string(reused) +
                     " reused, " + std::to_string(failed.size()) + " failed in " +
                     Seconds(o.wall_seconds) + " s";
  if (!times.empty() && o.wall_seconds > 0) {
    std::sort(times.begin(), times.end());
    line += " (" + Seconds(static_cast<double>(times.size()) / o.wall_seconds) +
            " frames/s); a frame took " + Seconds(times.front()) + " s at least, " +
            Seconds(times[times.size() / 2]) + " s median, " + Seconds(times.back()) + " s at most";
  }
  std::vector<std::string> lines{line};
  if (!failed.empty()) lines.push_back("varnex: failed frames: " + FormatFrameList(failed));
  return lines;
}

nlohmann::json SettingsJson(const RenderSettings& s, int bpc) {
  nlohmann::json j = FootageJson(s, bpc);
  j["downsample"] = s.downsample;
  j["threads"] = s.threads;
  nlohmann::json controls = nlohmann::json::array();
  for (const ControlSetting& c : s.controls) {
    nlohmann::json one = {{"name", c.name}, {"from", c.origin}};
    if (c.value) {
      one["value"] = *c.value;
    } else {
      one["keyframes"] = nlohmann::json::array();
      for (const auto& [frame, value] : c.keys) one["keyframes"].push_back({frame, value});
    }
    controls.push_back(one);
  }
  j["controls"] = controls;
  return j;
}

nlohmann::json ControlValuesJson(const std::vector<ControlInfo>& controls,
                                 const vhost::ControlStore& store, const RenderSettings& s) {
  nlohmann::json all = nlohmann::json::array();
  for (const ControlInfo& c : controls) {
    if (!c.cannot_set.empty()) continue;
    nlohmann::json values = nlohmann::json::object();
    for (int frame : s.frames) {
      const double seconds = static_cast<double>(frame) * s.fps.den / s.fps.num;
      values[std::to_string(frame)] = store.ValueAt(c.index, seconds);
    }
    all.push_back({{"name", c.name.empty() ? c.identifier : c.name},
                   {"identifier", c.identifier},
                   {"values", values}});
  }
  return all;
}

void WriteJsonFile(const std::string& path, const nlohmann::json& report) {
  std::string why;
  try {
    TempFile temp(path);
    {
      std::ofstream out(temp.path());
      out << report.dump(2) << '\n';
      out.close();
      if (!out) why = "cannot write the file";
    }
    if (why.empty() && temp.Commit(&why)) return;
  } catch (const std::exception& e) {
    why = e.what();
  }
  throw RenderError("cannot write " + vhost::Quoted(path) + ": " + why);
}

nlohmann::json ReportJson(const RenderSettings& s, int bpc, const RenderOutcome& o) {
  nlohmann::json frames = nlohmann::json::array();
  for (int frame : o.skipped)
    frames.push_back({{"frame", frame}, {"output", OutputPath(s, frame)}, {"outcome", "skipped"}});
  for (const FrameOutcome& f : o.frames) {
    nlohmann::json one = {{"frame", f.frame},
                          {"output", OutputPath(s, f.frame)},
                          {"seconds", f.seconds},
                          {"outcome", f.done && f.reused  ? "reused"
                                      : f.done            ? "done"
                                      : f.failure.empty() ? "not rendered"
                                                          : "failed"}};
    if (!f.failure.empty()) one["failure"] = f.failure;
    frames.push_back(one);
  }
  std::sort(frames.begin(), frames.end(), [](const nlohmann::json& a, const nlohmann::json& b) {
    return a["frame"] < b["frame"];
  });
  return {{"settings", SettingsJson(s, bpc)}, {"frames", frames}, {"seconds", o.wall_seconds}};
}

nlohmann::json ProjectJson(const RenderSettings& s, int bpc) {
  nlohmann::json j = FootageJson(s, bpc);
  // Settings apply in order, a later one replacing an earlier one of the same control; the
  // project keeps each control's last, which is what the render used.
  nlohmann::json controls = nlohmann::json::object();
  for (const ControlSetting& c : s.controls) {
    if (c.value) {
      controls[c.name] = *c.value;
      continue;
    }
    nlohmann::json keys = nlohmann::json::array();
    for (const auto& [frame, value] : c.keys) keys.push_back({frame, value});
    controls[c.name] = keys;
  }
  j["controls"] = controls;
  if (s.colour.input) j["colorspace_in"] = *s.colour.input;
  if (s.colour.output) j["colorspace_out"] = *s.colour.output;
  if (s.colour.working) j["working_space"] = *s.colour.working;
  if (s.colour.map) j["map_colorspace"] = *s.colour.map;
  return j;
}

}  // namespace vcli

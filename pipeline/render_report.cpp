#include "pipeline/render_report.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>

#include "hostapp/text.h"
#include "media/temp_file.h"
#include "pipeline/errors.h"
#include "pipeline/frame_list.h"
#include "pipeline/options.h"

namespace vpipe {

namespace {

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", s);
  return text;
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

nlohmann::json SettingsJson(const RenderSettings& s) {
  nlohmann::json j = SettingsOf(s);
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
      const double seconds = FrameSeconds(frame, s.fps);
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
    vmedia::TempFile temp(path);
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

nlohmann::json ReportJson(const RenderSettings& s, const RenderOutcome& o) {
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
  return {{"settings", SettingsJson(s)}, {"frames", frames}, {"seconds", o.wall_seconds}};
}

}  // namespace vpipe

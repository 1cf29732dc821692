// What a render says about itself when it ends, or instead of rendering: the summary on standard
// error, the JSON report (--report), the plan of a dry run, and the resolved render as a project
// (--save-project).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "hostapp/controls.h"
#include "pipeline/host_session.h"
#include "pipeline/plan.h"
#include "pipeline/sequence.h"

namespace vpipe {

// How the frames of one render ended, the plan's and the ones left out as already there.
struct RenderOutcome {
  std::vector<FrameOutcome> frames;
  std::vector<int> skipped;  // --skip-existing found their outputs
  double wall_seconds = 0;
};

// The summary lines: frames rendered, skipped, reused (the previous frame's picture written again)
// and failed, wall time and rate of the frames written, and the time of a frame at its fastest,
// median and slowest; the failed frames on a line of their own.
std::vector<std::string> SummaryLines(const RenderOutcome& outcome);

// The resolved settings, as the report and the dry run give them.
nlohmann::json SettingsJson(const RenderSettings& settings);

// Every control the plug-in declares, with its value at each frame after keyframes.
nlohmann::json ControlValuesJson(const std::vector<ControlInfo>& controls,
                                 const vhost::ControlStore& store, const RenderSettings& settings);

// Writes `report` to `path` whole or not at all. Throws RenderError naming the file.
void WriteJsonFile(const std::string& path, const nlohmann::json& report);

// The report of a render: its settings and, per frame, the output, seconds and outcome.
nlohmann::json ReportJson(const RenderSettings& settings, const RenderOutcome& outcome);

}  // namespace vpipe

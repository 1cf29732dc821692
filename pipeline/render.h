// The whole render of a request: the plan resolved, the layers opened, the frames rendered on the
// host's threads and written, the report. What `varnex render` does, for any front end: it prints
// nothing, installs no signal handler and redirects no stream; errors are exceptions, and
// progress and warnings go to the caller's observer.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "pipeline/frame_sinks.h"
#include "pipeline/observer.h"
#include "pipeline/plan.h"
#include "pipeline/render_report.h"
#include "pipeline/request.h"

namespace vpipe {

struct RenderResult {
  RenderSettings settings;  // the plan as resolved, completed from the footage
  RenderOutcome outcome;
  // The failure that stopped the frames (a failed render, a frame that could not be decoded or
  // written), naming the frame; the frames written before it stay.
  std::optional<std::string> stopped;
  nlohmann::json dry_run;  // a dry run's plan (no report asked): settings, frames, control values
  // Whether every frame planned was rendered (a dry run renders none, and fails none).
  bool all_done() const;
};

// Renders `request` with the plug-in module at `plugin` into the output it names, or into
// `instead` (then nothing is written; the benchmark's render alone). Throws InputError before
// anything is written when something given is at fault, RenderError when the plug-in cannot
// start. Frames already written whole are left as they are under skip_existing.
RenderResult Render(const std::string& plugin, const RenderRequest& request,
                    RenderObserver& observer, FrameSink* instead = nullptr);

}  // namespace vpipe

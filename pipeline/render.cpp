#include "pipeline/render.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "hostapp/draft_layers.h"
#include "hostapp/text.h"
#include "media/movie.h"
#include "pipeline/control_values.h"
#include "pipeline/errors.h"
#include "pipeline/host_session.h"
#include "pipeline/layers.h"
#include "pipeline/options.h"
#include "pipeline/output_layout.h"
#include "pipeline/sequence.h"

namespace vpipe {

namespace {

// Warnings about what the input holds that the render or the output leaves out, said before
// anything renders.
void WarnBeforeRendering(RenderSettings* settings, const RenderLayers& layers,
                         RenderObserver& observer) {
  RenderSettings& s = *settings;
  const FootageFacts& facts = layers.input_facts;
  if (!facts.other_channels.empty()) {
    std::string names;
    for (const std::string& name : facts.other_channels)
      names += (names.empty() ? "" : ", ") + name;
    observer.Warning("input " + vhost::Quoted(s.input) + ": channel" +
                     (facts.other_channels.size() > 1 ? "s " : " ") + names +
                     " not displaced, left out of the output");
  }
  if (auto shallow = ShallowRenderWarning(s, layers.input->source(), facts, layers.bpc))
    observer.Warning(*shallow);
  if (s.movie_output) return;
  s.output_layout = PlanImageLayout(s, facts, DescribeRender(s, layers.bpc));
  const SampleType type = s.output_layout.type;
  const std::string holds = type == SampleType::kHalf ? "half floats"
                            : type == SampleType::kFloat
                                ? "floats"
                                : std::to_string(vmedia::PrecisionOf(type)) + " bits per channel";
  if (auto fewer =
          PrecisionWarning(s.output, holds, vmedia::PrecisionOf(type), layers.bpc, facts.precision))
    observer.Warning(*fewer);
}

// The frames still to render: those whose output exists are skipped under skip_existing, and
// refused under no_overwrite.
std::vector<int> FramesToRender(const RenderSettings& s, RenderOutcome* outcome) {
  if (s.movie_output) {
    std::error_code ec;
    if (s.no_overwrite && std::filesystem::exists(s.output, ec))
      throw InputError("output " + vhost::Quoted(s.output) +
                       " exists; -n/--no-overwrite leaves it as it is");
    return s.frames;
  }
  std::vector<int> to_render;
  for (int frame : s.frames) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(OutputPath(s, frame), ec);
    if (exists && s.skip_existing) {
      outcome->skipped.push_back(frame);
      continue;
    }
    if (exists && s.no_overwrite)
      throw InputError("output " + vhost::Quoted(OutputPath(s, frame)) +
                       " exists; -n/--no-overwrite leaves it as it is");
    to_render.push_back(frame);
  }
  return to_render;
}

// Everything the render would do, with every control's value at every frame; renders nothing.
nlohmann::json DryRunPlan(const std::string& plugin, const RenderSettings& s,
                          const std::vector<int>& to_render) {
  Session session = StartRenderSession(plugin, s.controls, s.fps, false);
  nlohmann::json plan;
  plan["settings"] = SettingsJson(s);
  plan["frames"] = nlohmann::json::array();
  for (int frame : s.frames) {
    const bool skipped = std::find(to_render.begin(), to_render.end(), frame) == to_render.end();
    plan["frames"].push_back({{"frame", frame},
                              {"output", OutputPath(s, frame)},
                              {"outcome", skipped ? "skipped" : "to render"}});
  }
  plan["controls"] = ControlValuesJson(session.controls, session.host->controls(), s);
  return plan;
}

}  // namespace

bool RenderResult::all_done() const {
  return !stopped && std::all_of(outcome.frames.begin(), outcome.frames.end(),
                                 [](const FrameOutcome& f) { return f.done; });
}

RenderResult Render(const std::string& plugin, const RenderRequest& request,
                    RenderObserver& observer, FrameSink* instead) {
  RenderResult result;
  RenderSettings& s = result.settings;
  s = ResolveRenderSettings(request);
  vmedia::SetMovieLibraryLogging(s.verbose);

  // Layers go to the host at full size: like a host in draft mode, it scales them (and the map's
  // offset) down for the render. The footage decides the depth unless it was given.
  const RenderLayers layers = OpenLayers(&s);
  observer.Planned(s);
  WarnBeforeRendering(&s, layers, observer);
  const auto wall_start = std::chrono::steady_clock::now();
  const std::vector<int> to_render = FramesToRender(s, &result.outcome);
  if (s.save_project) WriteJsonFile(*s.save_project, ProjectOf(s));
  if (s.dry_run) {
    nlohmann::json plan = DryRunPlan(plugin, s, to_render);
    if (s.report)
      WriteJsonFile(*s.report, plan);
    else
      result.dry_run = std::move(plan);
    return result;
  }

  const vmedia::Source& input = layers.input->source();
  std::vector<std::string> sink_warnings;
  // Frames come at the draft resolution's size, as the host scales the layers.
  const PF_RationalScale scale{1, static_cast<A_u_long>(s.downsample)};
  const std::unique_ptr<OutputSink> sink =
      MakeOutputSink(s, layers.bpc, vhost::ScaledSize(input.width(), scale),
                     vhost::ScaledSize(input.height(), scale), input, layers.input_facts.precision,
                     &sink_warnings);
  for (const std::string& warning : sink_warnings) observer.Warning(warning);

  Session session = StartRenderSession(plugin, s.controls, s.fps, layers.map != nullptr);

  SequencePlan plan;
  plan.frames = to_render;
  plan.input = layers.input.get();
  plan.map = layers.map.get();
  plan.bpc = layers.bpc;
  plan.fps = s.fps;
  plan.downsample = s.downsample;
  plan.threads = s.threads;
  plan.continue_on_error = s.continue_on_error;
  plan.observer = &observer;
  // Decoding runs ahead of the renders on the layers' own threads, in frame order.
  layers.input->ReadAhead(s.first_frame, s.last_frame);
  if (layers.map) layers.map->ReadAhead(s.first_frame, s.last_frame);
  SequenceResult frames = RenderSequence(*session.host, plan, instead ? *instead : *sink);
  result.outcome.frames = std::move(frames.frames);
  result.stopped = std::move(frames.stopped);
  if (!result.stopped && !instead) sink->Finish();
  result.outcome.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  if (s.report) WriteJsonFile(*s.report, ReportJson(s, result.outcome));
  for (const std::string& line : LossWarnings(s, sink->loss(), s.output_layout.type))
    observer.Warning(line);
  return result;
}

}  // namespace vpipe

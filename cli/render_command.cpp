#include "cli/render_command.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/control_values.h"
#include "cli/errors.h"
#include "cli/frame_sinks.h"
#include "cli/host_session.h"
#include "cli/layers.h"
#include "cli/output_layout.h"
#include "cli/render_report.h"
#include "cli/render_settings.h"
#include "cli/sequence.h"
#include "cli/silence.h"
#include "cli/temp_file.h"
#include "hostapp/footage/movie.h"
#include "hostapp/text.h"

namespace vcli {

namespace {

int ControlIndex(const std::vector<ControlInfo>& controls, const char* identifier) {
  for (const ControlInfo& c : controls) {
    if (c.identifier == identifier) return c.index;
  }
  return -1;
}

// Loads the plug-in for its controls, applies the settings and prints (or writes with --report)
// everything the render would do; writes no image.
int DryRun(const std::string& plugin, const RenderSettings& settings, int bpc,
           const std::vector<int>& frames) {
  nlohmann::json plan;
  {
    SilenceFd plugin_stdout(STDOUT_FILENO);
    Session session = StartSession(plugin);
    ApplyControlSettings(session.controls, settings.controls, settings.fps,
                         &session.host->controls());
    plan["settings"] = SettingsJson(settings, bpc);
    plan["frames"] = nlohmann::json::array();
    for (int frame : settings.frames) {
      const bool skipped = std::find(frames.begin(), frames.end(), frame) == frames.end();
      plan["frames"].push_back({{"frame", frame},
                                {"output", OutputPath(settings, frame)},
                                {"outcome", skipped ? "skipped" : "to render"}});
    }
    plan["controls"] = ControlValuesJson(session.controls, session.host->controls(), settings);
  }
  if (settings.report)
    WriteJsonFile(*settings.report, plan);
  else
    std::printf("%s\n", plan.dump(2).c_str());
  return kExitOk;
}

}  // namespace

int RunRender(const std::string& plugin, const RenderArgs& args, FrameSink* instead,
              const ProgressObserver& observer) {
  RenderSettings settings = ResolveRenderSettings(args);
  vfoot::SetMovieLibraryLogging(settings.verbose);

  // Layers go to the host at full size: like a host in draft mode, it scales them (and the map's
  // offset) down for the render. The footage decides the depth unless it was given.
  const RenderLayers layers = OpenLayers(&settings);
  const int bpc = layers.bpc;
  const vfoot::Source& input = layers.input->source();
  std::vector<std::string> warnings;
  const FootageFacts& facts = layers.input_facts;
  if (!facts.other_channels.empty()) {
    std::string names;
    for (const std::string& name : facts.other_channels)
      names += (names.empty() ? "" : ", ") + name;
    warnings.push_back("input " + vhost::Quoted(settings.input) + ": channel" +
                       (facts.other_channels.size() > 1 ? "s " : " ") + names +
                       " not displaced, left out of the output");
  }
  if (auto shallow = ShallowRenderWarning(settings, input, facts, bpc))
    warnings.push_back(*shallow);
  if (!settings.movie_output) {
    settings.output_layout = PlanImageLayout(settings, facts, DescribeRender(settings, bpc));
    const SampleType type = settings.output_layout.type;
    const std::string holds = type == SampleType::kHalf ? "half floats"
                              : type == SampleType::kFloat
                                  ? "floats"
                                  : std::to_string(PrecisionOf(type)) + " bits per channel";
    if (auto fewer =
            PrecisionWarning(settings.output, holds, PrecisionOf(type), bpc, facts.precision))
      warnings.push_back(*fewer);
  }
  // Frames already written whole are left as they are; the rest must not replace anything
  // when the user said so.
  RenderOutcome outcome;
  const auto wall_start = std::chrono::steady_clock::now();
  std::vector<int> to_render;
  for (int frame : settings.frames) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(OutputPath(settings, frame), ec);
    if (exists && settings.skip_existing) {
      outcome.skipped.push_back(frame);
      continue;
    }
    if (exists && settings.no_overwrite)
      throw InputError("output " + vhost::Quoted(OutputPath(settings, frame)) +
                       " exists; -n/--no-overwrite leaves it as it is");
    to_render.push_back(frame);
    if (settings.movie_output) break;
  }
  if (settings.movie_output) to_render = settings.frames;
  if (settings.save_project) WriteJsonFile(*settings.save_project, ProjectJson(settings, bpc));
  for (const std::string& warning : warnings)
    if (!settings.quiet) std::fprintf(stderr, "varnex: warning: %s\n", warning.c_str());
  warnings.clear();
  if (settings.dry_run) return DryRun(plugin, settings, bpc, to_render);

  InstallInterruptCleanup();
  const std::unique_ptr<OutputSink> sink =
      MakeOutputSink(settings, bpc, (input.width() + settings.downsample - 1) / settings.downsample,
                     (input.height() + settings.downsample - 1) / settings.downsample, input,
                     facts.precision, &warnings);
  for (const std::string& warning : warnings)
    if (!settings.quiet) std::fprintf(stderr, "varnex: warning: %s\n", warning.c_str());

  // The plug-in writes its GL diagnostics (a few lines per render) to standard output. They are
  // for whoever debugs the plug-in: dropped unless asked for, and then kept off standard output.
  SilenceFd plugin_stdout(STDOUT_FILENO, !settings.verbose);
  RedirectFd plugin_to_stderr(STDOUT_FILENO, STDERR_FILENO, settings.verbose);
  Session session = StartSession(plugin);
  ApplyControlSettings(session.controls, settings.controls, settings.fps,
                       &session.host->controls());
  const int map_layer = ControlIndex(session.controls, "PARAM_MAP_LAYER");
  if (map_layer >= 0) session.host->controls().at(map_layer).has_layer = layers.map != nullptr;

  SequencePlan plan;
  plan.frames = to_render;
  plan.input = layers.input.get();
  plan.map = layers.map.get();
  plan.bpc = bpc;
  plan.fps = settings.fps;
  plan.downsample = settings.downsample;
  plan.threads = settings.threads;
  plan.continue_on_error = settings.continue_on_error;
  plan.observer = observer;
  // A sequence reports each frame; one still renders quietly unless the render was asked to
  // account for its frames.
  const bool account = settings.frames.size() > 1 || settings.skip_existing ||
                       settings.continue_on_error || settings.report;
  if (!settings.quiet && account)
    plan.progress = isatty(STDERR_FILENO) ? ProgressStyle::kTerminal : ProgressStyle::kLog;

  std::optional<std::string> stopped;
  // Decoding runs ahead of the renders on the layers' own threads, in frame order.
  layers.input->ReadAhead(settings.first_frame, settings.last_frame);
  if (layers.map) layers.map->ReadAhead(settings.first_frame, settings.last_frame);
  {
    // A frame that cannot be decoded fails its render in our words; the decoders' own lines
    // about it, from any thread, are dropped, and the progress line goes where standard error was.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> terminal(fdopen(dup(STDERR_FILENO), "w"),
                                                             &std::fclose);
    SilenceFd decoders(STDERR_FILENO, !settings.verbose && terminal);
    if (terminal) plan.progress_to = terminal.get();
    SequenceResult result = RenderSequence(*session.host, plan, instead ? *instead : *sink);
    outcome.frames = std::move(result.frames);
    if (result.stopped) stopped = std::move(result.stopped);
  }
  if (!stopped && !instead) sink->Finish();
  outcome.wall_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
  if (settings.report) WriteJsonFile(*settings.report, ReportJson(settings, bpc, outcome));
  if (!settings.quiet) {
    for (const std::string& line :
         LossWarnings(settings, sink->loss(), settings.output_layout.type))
      std::fprintf(stderr, "varnex: warning: %s\n", line.c_str());
    if (account)
      for (const std::string& line : SummaryLines(outcome))
        std::fprintf(stderr, "%s\n", line.c_str());
  }
  if (stopped) throw RenderError(*stopped);
  for (const FrameOutcome& f : outcome.frames)
    if (!f.done) return kExitRenderFailed;
  return kExitOk;
}

}  // namespace vcli

#include "cli/render_command.h"

#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/control_values.h"
#include "cli/errors.h"
#include "cli/frame_sinks.h"
#include "cli/host_session.h"
#include "cli/layers.h"
#include "cli/render_settings.h"
#include "cli/sequence.h"
#include "cli/silence.h"
#include "cli/temp_file.h"
#include "hostapp/footage/movie.h"

namespace vcli {

namespace {

int ControlIndex(const std::vector<ControlInfo>& controls, const char* identifier) {
  for (const ControlInfo& c : controls) {
    if (c.identifier == identifier) return c.index;
  }
  return -1;
}

}  // namespace

int RunRender(const std::string& plugin, const RenderArgs& args) {
  RenderSettings settings = ResolveRenderSettings(args);
  vfoot::SetMovieLibraryLogging(settings.verbose);

  // Layers go to the host at full size: like a host in draft mode, it scales them (and the map's
  // offset) down for the render. The footage decides the depth unless it was given.
  const RenderLayers layers = OpenLayers(&settings);
  const int bpc = layers.bpc;
  // A colour-managed render is at 32 bits for its conversions, not for what the output keeps.
  const bool colour_managed = settings.colour.working || !settings.output_conversion.identity();
  if (bpc == 32 && !settings.quiet && !settings.movie_output &&
      !settings.output_format.keeps_float && !colour_managed)
    std::fprintf(stderr,
                 "varnex: warning: \"%s\" holds 8 bits per channel; the 32-bit render is "
                 "converted\n",
                 settings.output.c_str());
  const vfoot::Source& input = layers.input->source();
  InstallInterruptCleanup();
  std::vector<std::string> warnings;
  const std::unique_ptr<OutputSink> sink = MakeOutputSink(
      settings, bpc, (input.width() + settings.downsample - 1) / settings.downsample,
      (input.height() + settings.downsample - 1) / settings.downsample, input, &warnings);
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
  for (int frame = settings.first_frame; frame <= settings.last_frame; ++frame)
    plan.frames.push_back(frame);
  plan.input = layers.input.get();
  plan.map = layers.map.get();
  plan.bpc = bpc;
  plan.fps = settings.fps;
  plan.downsample = settings.downsample;
  plan.threads = settings.threads;
  plan.show_progress = !settings.quiet && plan.frames.size() > 1 && isatty(STDERR_FILENO);

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
    RenderSequence(*session.host, plan, *sink);
  }
  sink->Finish();
  return kExitOk;
}

}  // namespace vcli

#include "cli/render_command.h"

#include <unistd.h>

#include <cstdio>
#include <optional>

#include "cli/control_values.h"
#include "cli/errors.h"
#include "cli/host_session.h"
#include "cli/image_io.h"
#include "cli/render_settings.h"
#include "cli/sequence.h"
#include "cli/silence.h"
#include "cli/temp_file.h"

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
  const RenderSettings settings = ResolveRenderSettings(args);

  // Layers go to the host at full size: like a host in draft mode, it scales them (and the map's
  // offset) down for the render. The input decides the depth unless it was given.
  const vhost::Image host_input = ReadHostImage(settings.input, "input image", settings.depth);
  const int bpc = host_input.bpc;
  std::optional<vhost::Image> host_map;
  if (settings.map)
    host_map = ReadHostImage(*settings.map, "map image", bpc, settings.map_offset_x,
                             settings.map_offset_y);
  if (bpc == 32 && !settings.quiet && !settings.output_format.keeps_float)
    std::fprintf(stderr,
                 "varnex: warning: \"%s\" holds 8 bits per channel; the 32-bit render is "
                 "converted\n",
                 settings.output.c_str());

  // The plug-in writes its GL diagnostics (a few lines per render) to standard output. They are
  // for whoever debugs the plug-in: dropped unless asked for, and then kept off standard output.
  SilenceFd plugin_stdout(STDOUT_FILENO, !settings.verbose);
  RedirectFd plugin_to_stderr(STDOUT_FILENO, STDERR_FILENO, settings.verbose);
  Session session = StartSession(plugin);
  ApplyControlSettings(session.controls, settings.controls, settings.fps,
                       &session.host->controls());
  const int map_layer = ControlIndex(session.controls, "PARAM_MAP_LAYER");
  if (map_layer >= 0) session.host->controls().at(map_layer).has_layer = host_map.has_value();

  SequencePlan plan;
  for (int frame = settings.first_frame; frame <= settings.last_frame; ++frame)
    plan.frames.push_back({frame, OutputPath(settings, frame)});
  plan.input = &host_input;
  plan.map = host_map ? &*host_map : nullptr;
  plan.bpc = bpc;
  plan.format = settings.output_format;
  plan.fps = settings.fps;
  plan.downsample = settings.downsample;
  plan.threads = settings.threads;
  plan.show_progress = !settings.quiet && plan.frames.size() > 1 && isatty(STDERR_FILENO);

  InstallInterruptCleanup();
  RenderSequence(*session.host, plan);
  return kExitOk;
}

}  // namespace vcli

// varnex: renders images through the Varnex plug-in inside our own host, and describes the
// plug-in. Exit status: 0 done, 1 the plug-in failed, 2 bad input (see errors.h).
#include <cstdio>
#include <exception>

#include "cli/args.h"
#include "cli/exit_status.h"
#include "cli/info_commands.h"
#include "cli/render_command.h"
#include "cli/submit.h"
#include "hostapp/frame_memory.h"
#include "pipeline/errors.h"
#include "pipeline/host_session.h"
#include "preview/preview_command.h"

int main(int argc, char** argv) {
  using namespace vcli;
  using vpipe::InputError;
  using vpipe::RenderError;
  vhost::KeepFreedFrameMemory();
  CommandLine command;
  if (int status = ParseCommandLine(argc, argv, &command); status >= 0) return status;
  try {
    // The one command that needs no plug-in.
    if (command.kind == CommandKind::kColorspaces) return RunColorspaces(command.ocio_config);
    const std::string plugin = vpipe::FindPlugin(command.plugin);
    switch (command.kind) {
      case CommandKind::kRender:
        return RunRender(plugin, RequestOf(command.render));
      case CommandKind::kControls:
        return RunControls(plugin, command.json);
      case CommandKind::kAbout:
        return RunAbout(plugin);
      case CommandKind::kGpu:
        return RunGpu(plugin);
      case CommandKind::kSubmit:
        return RunSubmit(command);
      case CommandKind::kPreview:
        vpreview::RunPreview(plugin, RequestOf(command.render), ServeOptionsOf(command));
        return kExitOk;
      case CommandKind::kColorspaces:
        break;  // run above
    }
  } catch (const InputError& e) {
    std::fprintf(stderr, "varnex: %s\n", e.what());
    return kExitBadInput;
  } catch (const RenderError& e) {
    std::fprintf(stderr, "varnex: %s\n", e.what());
    return kExitRenderFailed;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "varnex: %s\n", e.what());
    return kExitRenderFailed;
  }
  return kExitRenderFailed;
}

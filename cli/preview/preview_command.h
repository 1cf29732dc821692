// `varnex preview`: serves the effect's control panel and a viewer to a browser on this machine.
#pragma once

#include <string>

#include "cli/args.h"

namespace vcli {

// Prints the address to open (one line on standard output) and serves until SIGINT, SIGTERM or
// SIGHUP; returns 0 then. Throws InputError for unusable arguments or footage, as render does.
int RunPreview(const std::string& plugin, const RenderArgs& args, const PreviewArgs& preview);

}  // namespace vcli

// `varnex preview`: serves the effect's control panel and a viewer to a browser on this machine.
#pragma once

#include <optional>
#include <string>

#include "pipeline/request.h"

namespace vpreview {

struct ServeOptions {
  int port = 0;                        // 0: any free port
  std::string listen = "127.0.0.1";    // the address to listen on
  std::optional<std::string> project;  // the project the request came from: Save's default
};

// Prints the address to open (one line on standard output) and serves until SIGINT, SIGTERM or
// SIGHUP. Throws InputError for unusable options or footage, as a render does.
void RunPreview(const std::string& plugin, const vpipe::RenderRequest& request,
                const ServeOptions& options);

}  // namespace vpreview

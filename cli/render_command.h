// `varnex render`: the pipeline's render of a request, with the terminal's progress line, the
// warnings and the summary on standard error, and the exit status.
#pragma once

#include <string>

#include "pipeline/request.h"

namespace vcli {

// Returns the exit status; throws InputError before anything is written when an input is at
// fault, RenderError when the plug-in fails.
int RunRender(const std::string& plugin, const vpipe::RenderRequest& request);

}  // namespace vcli

// `varnex render`: checks everything the user gave, then renders the still or the sequence.
#pragma once

#include <string>

#include "cli/args.h"

namespace vcli {

// Returns the exit status; throws InputError before anything is written when an input is at
// fault, RenderError when the plug-in fails.
int RunRender(const std::string& plugin, const RenderArgs& args);

}  // namespace vcli

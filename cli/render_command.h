// `varnex render`: checks everything the user gave, then renders the still or the sequence.
#pragma once

#include <string>

#include "cli/args.h"
#include "cli/progress.h"

namespace vcli {

// Returns the exit status; throws InputError before anything is written when an input is at
// fault, RenderError when the plug-in fails.
// `observer`, when set, is told of each frame as it is finished.
int RunRender(const std::string& plugin, const RenderArgs& args,
              const ProgressObserver& observer = {});

}  // namespace vcli

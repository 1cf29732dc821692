// `varnex render`: checks everything the user gave, then renders the still or the sequence.
#pragma once

#include <string>

#include "cli/args.h"
#include "cli/progress.h"

namespace vcli {

class FrameSink;

// Returns the exit status; throws InputError before anything is written when an input is at
// fault, RenderError when the plug-in fails. With `instead`, the rendered frames go to that sink
// and no output is written (the benchmark's render alone, everything else as a user runs it).
// `observer`, when set, is told of each frame as it is finished.
int RunRender(const std::string& plugin, const RenderArgs& args, FrameSink* instead = nullptr,
              const ProgressObserver& observer = {});

}  // namespace vcli

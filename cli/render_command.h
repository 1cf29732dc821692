// `varnex render`: checks everything the user gave, then renders the still or the sequence.
#pragma once

#include <string>

#include "cli/args.h"

namespace vcli {

class FrameSink;

// Returns the exit status; throws InputError before anything is written when an input is at
// fault, RenderError when the plug-in fails. With `instead`, the rendered frames go to that sink
// and no output is written (the benchmark's render alone, everything else as a user runs it).
int RunRender(const std::string& plugin, const RenderArgs& args, FrameSink* instead = nullptr);

}  // namespace vcli

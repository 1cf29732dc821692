// The commands that describe the plug-in: controls, about and gpu. Each prints to standard output
// and returns the exit status; they throw InputError or RenderError as the render does.
#pragma once

#include <string>

namespace vcli {

int RunControls(const std::string& plugin, bool json);
int RunAbout(const std::string& plugin);
int RunGpu(const std::string& plugin);

}  // namespace vcli

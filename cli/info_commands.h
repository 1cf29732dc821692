// The commands that describe the plug-in (controls, about and gpu) and the colour spaces the
// render can name (colorspaces). Each prints to standard output and returns the exit status;
// they throw InputError or RenderError as the render does.
#pragma once

#include <optional>
#include <string>

namespace vcli {

int RunControls(const std::string& plugin, bool json);
int RunAbout(const std::string& plugin);
int RunGpu(const std::string& plugin);
// Needs no plug-in: the spaces of the config at `ocio_config`, else $OCIO's, else the built-in
// ones, one a line.
int RunColorspaces(const std::optional<std::string>& ocio_config);

}  // namespace vcli

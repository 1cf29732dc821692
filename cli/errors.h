// The two ways a command can fail, and the exit status each gives. Everything the user can get
// wrong (arguments, project, images, control values, output paths) is an InputError, raised
// before anything is written; a failure of the plug-in itself is a RenderError.
#pragma once

#include <stdexcept>

namespace vcli {

enum ExitStatus { kExitOk = 0, kExitRenderFailed = 1, kExitBadInput = 2 };

// One line naming the thing at fault; the command exits with kExitBadInput.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The host or plug-in failed (with its error code in the text); the command exits with
// kExitRenderFailed.
struct RenderError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace vcli

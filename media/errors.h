// The two ways a render can fail. Everything a user can get wrong (options, projects, footage,
// control values, output paths) is an InputError, raised before anything is written; a failure of
// the plug-in, of a frame's decoding or of a write once rendering began is a RenderError. Front
// ends turn them into their own idiom: exit statuses, HTTP codes, exceptions of a language.
#pragma once

#include <stdexcept>

namespace vmedia {

// One line naming the thing at fault.
struct InputError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The host, the plug-in or a file failed once rendering began, in one line.
struct RenderError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace vmedia

// The library's errors are the media room's: a footage file at fault is the user's input at fault.
#pragma once

#include "media/errors.h"

namespace vpipe {

using vmedia::InputError;
using vmedia::RenderError;

}  // namespace vpipe

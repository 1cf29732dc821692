#include "cli/frame_pattern.h"

#include "cli/errors.h"
#include "hostapp/footage/source.h"

namespace vcli {

std::optional<FramePattern> ParseFramePattern(const std::string& path) {
  try {
    return vfoot::ParseFramePattern(path, "output");
  } catch (const vfoot::FootageError& e) {
    throw InputError(e.what());
  }
}

}  // namespace vcli

// The command's exit statuses: 0 done, 1 the plug-in or a frame failed, 2 bad input (nothing
// written).
#pragma once

namespace vcli {

enum ExitStatus { kExitOk = 0, kExitRenderFailed = 1, kExitBadInput = 2 };

}  // namespace vcli

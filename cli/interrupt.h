// What the command does when it is interrupted during a render.
#pragma once

namespace vcli {

// Makes SIGINT, SIGTERM and SIGHUP remove every live temporary file (finished outputs stay)
// before the process dies with the signal's default action. Safe to call more than once.
void InstallInterruptCleanup();

}  // namespace vcli

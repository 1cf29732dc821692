#include "cli/interrupt.h"

#include <csignal>

#include "media/temp_file.h"

namespace vcli {

namespace {

extern "C" void RemoveTemporariesAndDie(int sig) {
  vmedia::RemoveLiveTemporaryFiles();
  std::signal(sig, SIG_DFL);
  raise(sig);
}

}  // namespace

void InstallInterruptCleanup() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    sigemptyset(&action.sa_mask);
    sigaction(sig, &action, nullptr);
  }
}

}  // namespace vcli

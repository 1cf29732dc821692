#include "cli/silence.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace vcli {

namespace {

// Points `fd` at `target` and returns a duplicate of what it pointed at before, or -1.
int Swap(int fd, int target) {
  std::fflush(nullptr);
  int saved = dup(fd);
  if (saved >= 0 && target >= 0) dup2(target, fd);
  return saved;
}

void Restore(int fd, int saved) {
  if (saved < 0) return;
  std::fflush(nullptr);
  dup2(saved, fd);
  close(saved);
}

}  // namespace

SilenceFd::SilenceFd(int fd, bool active) : fd_(fd) {
  if (!active) return;
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  saved_ = Swap(fd, null);
  if (null >= 0) close(null);
}

SilenceFd::~SilenceFd() {
  Restore(fd_, saved_);
}

RedirectFd::RedirectFd(int fd, int target, bool active) : fd_(fd) {
  if (active) saved_ = Swap(fd, target);
}

RedirectFd::~RedirectFd() {
  Restore(fd_, saved_);
}

}  // namespace vcli

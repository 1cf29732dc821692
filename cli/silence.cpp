#include "cli/silence.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace vcli {

namespace {

// /dev/null opened for writing for as long as it takes to point a stream at it, or -1.
struct NullDevice {
  explicit NullDevice(bool wanted) : fd(wanted ? open("/dev/null", O_WRONLY | O_CLOEXEC) : -1) {}
  ~NullDevice() {
    if (fd >= 0) close(fd);
  }
  NullDevice(const NullDevice&) = delete;
  NullDevice& operator=(const NullDevice&) = delete;
  int fd;
};

}  // namespace

RedirectFd::RedirectFd(int fd, int target, bool active) : fd_(fd) {
  if (!active) return;
  std::fflush(nullptr);
  saved_ = dup(fd);
  if (saved_ >= 0 && target >= 0) dup2(target, fd);
}

RedirectFd::~RedirectFd() {
  if (saved_ < 0) return;
  std::fflush(nullptr);
  dup2(saved_, fd_);
  close(saved_);
}

// The device is closed at the end of the initializer, once the stream points at it.
SilenceFd::SilenceFd(int fd, bool active) : RedirectFd(fd, NullDevice(active).fd, active) {}

}  // namespace vcli

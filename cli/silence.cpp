#include "cli/silence.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace vcli {

SilenceFd::SilenceFd(int fd, bool active) : fd_(fd) {
  if (!active) return;
  std::fflush(nullptr);
  saved_ = dup(fd);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (saved_ >= 0 && null >= 0) dup2(null, fd);
  if (null >= 0) close(null);
}

SilenceFd::~SilenceFd() {
  if (saved_ < 0) return;
  std::fflush(nullptr);
  dup2(saved_, fd_);
  close(saved_);
}

}  // namespace vcli

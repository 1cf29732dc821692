// Sends a standard stream to /dev/null for a scope. Libraries the command uses print on their own
// (libpng on standard error when a file is corrupt, the plug-in's GL diagnostics on standard
// output); the command reports in its own words instead. Only for single-threaded stretches or
// streams nothing else in the process writes to meanwhile.
#pragma once

namespace vcli {

class SilenceFd {
 public:
  // Does nothing when `active` is false.
  SilenceFd(int fd, bool active = true);
  ~SilenceFd();
  SilenceFd(const SilenceFd&) = delete;
  SilenceFd& operator=(const SilenceFd&) = delete;

 private:
  int fd_;
  int saved_ = -1;
};

// Sends a standard stream to another for a scope (the plug-in's diagnostics to standard error).
class RedirectFd {
 public:
  // Does nothing when `active` is false.
  RedirectFd(int fd, int target, bool active = true);
  ~RedirectFd();
  RedirectFd(const RedirectFd&) = delete;
  RedirectFd& operator=(const RedirectFd&) = delete;

 private:
  int fd_;
  int saved_ = -1;
};

}  // namespace vcli

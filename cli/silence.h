// Sends a standard stream elsewhere for a scope. Libraries the command uses print on their own
// (libpng on standard error when a file is corrupt, the plug-in's GL diagnostics on standard
// output); the command reports in its own words instead. Only for single-threaded stretches or
// streams nothing else in the process writes to meanwhile.
#pragma once

namespace vcli {

// Sends a standard stream to another for a scope (the plug-in's diagnostics to standard error).
class RedirectFd {
 public:
  // Does nothing when `active` is false; leaves `fd` where it was when `target` is negative.
  RedirectFd(int fd, int target, bool active = true);
  ~RedirectFd();
  RedirectFd(const RedirectFd&) = delete;
  RedirectFd& operator=(const RedirectFd&) = delete;

 private:
  int fd_;
  int saved_ = -1;
};

// Sends a standard stream to /dev/null for a scope.
class SilenceFd : public RedirectFd {
 public:
  // Does nothing when `active` is false.
  SilenceFd(int fd, bool active = true);
};

}  // namespace vcli

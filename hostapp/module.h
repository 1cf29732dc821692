// A loaded effect module: dlopen, the entry point found with dlsym, dlclose on destruction.
#pragma once

#include <string>

#include "pf_sdk.h"

namespace vhost {

class Module {
 public:
  // Throws std::runtime_error with dlerror's text when the file cannot be loaded or has no
  // EffectMain.
  explicit Module(const std::string& path);
  // An effect linked into this process (tests of the effect's internals); nothing is loaded.
  explicit Module(PF_EffectMainFunc linked_entry) : path_("(in process)"), entry_(linked_entry) {}
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  PF_EffectMainFunc entry() const { return entry_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  PF_EffectMainFunc entry_ = nullptr;
};

}  // namespace vhost

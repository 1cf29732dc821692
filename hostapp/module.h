// A loaded effect module: dlopen, the entry point found with dlsym, dlclose on destruction.
#pragma once

#include <stdexcept>
#include <string>

#include "pf_sdk.h"

namespace vhost {

// A module that could not be loaded. what() is one line: "cannot load the plug-in PATH: WHY".
class ModuleLoadError : public std::runtime_error {
 public:
  enum class Reason {
    kUnreadable,    // no such file, or it cannot be read
    kNotAModule,    // the dynamic loader refused it
    kNoEntryPoint,  // it loaded but has no EffectMain
  };
  ModuleLoadError(Reason reason, const std::string& path, const std::string& why);
  Reason reason() const { return reason_; }
  const std::string& path() const { return path_; }

 private:
  Reason reason_;
  std::string path_;
};

class Module {
 public:
  // Throws ModuleLoadError when the file cannot be read or loaded or has no EffectMain.
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

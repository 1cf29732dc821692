#include "hostapp/module.h"

#include <dlfcn.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vhost {

ModuleLoadError::ModuleLoadError(Reason reason, const std::string& path, const std::string& why)
    : std::runtime_error("cannot load the plug-in " + path + ": " + why),
      reason_(reason),
      path_(path) {}

Module::Module(const std::string& path) : path_(path) {
  if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
    std::fclose(file);
  } else {
    throw ModuleLoadError(ModuleLoadError::Reason::kUnreadable, path,
                          std::string("cannot read it (") + std::strerror(errno) + ")");
  }
  // A bare file name would send the loader searching the library path instead of opening the
  // file just read.
  const std::string load_path = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(load_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = dlerror();
    throw ModuleLoadError(
        ModuleLoadError::Reason::kNotAModule, path,
        std::string("it is not a loadable module (") + (why ? why : "unknown reason") + ")");
  }
  dlerror();
  entry_ = reinterpret_cast<PF_EffectMainFunc>(dlsym(handle_, "EffectMain"));
  if (!entry_) {
    dlclose(handle_);
    throw ModuleLoadError(ModuleLoadError::Reason::kNoEntryPoint, path,
                          "it has no EffectMain entry point");
  }
}

Module::~Module() {
  if (handle_) dlclose(handle_);
}

}  // namespace vhost

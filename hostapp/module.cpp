#include "hostapp/module.h"

#include <dlfcn.h>

#include <stdexcept>

namespace vhost {

Module::Module(const std::string& path) : path_(path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) throw std::runtime_error(std::string("cannot load plug-in: ") + dlerror());
  entry_ = reinterpret_cast<PF_EffectMainFunc>(dlsym(handle_, "EffectMain"));
  if (!entry_) {
    std::string why = dlerror() ? "no EffectMain" : "EffectMain is null";
    dlclose(handle_);
    throw std::runtime_error("cannot load plug-in " + path + ": " + why);
  }
}

Module::~Module() {
  if (handle_) dlclose(handle_);
}

}  // namespace vhost

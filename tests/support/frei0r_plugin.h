// A built frei0r plug-in file loaded as a host loads it: dlopen, and its f0r_ functions found by
// name. Unloaded when it goes.
#pragma once

#include <dlfcn.h>
#include <frei0r.h>
#include <gtest/gtest.h>

#include <string>

namespace testsupport {

class Frei0rPlugin {
 public:
  explicit Frei0rPlugin(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(handle_, nullptr) << path << ": " << dlerror();
    if (!handle_) return;
    Find(&init, "f0r_init");
    Find(&deinit, "f0r_deinit");
    Find(&get_plugin_info, "f0r_get_plugin_info");
    Find(&get_param_info, "f0r_get_param_info");
    Find(&construct, "f0r_construct");
    Find(&destruct, "f0r_destruct");
    Find(&set_param_value, "f0r_set_param_value");
    Find(&get_param_value, "f0r_get_param_value");
    Find(&update, "f0r_update");
    Find(&update2, "f0r_update2");
    if (init) init();
  }
  ~Frei0rPlugin() {
    if (!handle_) return;
    if (deinit) deinit();
    dlclose(handle_);
  }
  Frei0rPlugin(const Frei0rPlugin&) = delete;
  Frei0rPlugin& operator=(const Frei0rPlugin&) = delete;

  bool loaded() const { return handle_ && update && update2 && construct; }
  void* handle() const { return handle_; }

  int (*init)() = nullptr;
  void (*deinit)() = nullptr;
  void (*get_plugin_info)(f0r_plugin_info_t*) = nullptr;
  void (*get_param_info)(f0r_param_info_t*, int) = nullptr;
  f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
  void (*destruct)(f0r_instance_t) = nullptr;
  void (*set_param_value)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*get_param_value)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;
  void (*update2)(f0r_instance_t, double, const uint32_t*, const uint32_t*, const uint32_t*,
                  uint32_t*) = nullptr;

 private:
  template <typename F>
  void Find(F* slot, const char* name) {
    *slot = reinterpret_cast<F>(dlsym(handle_, name));
    EXPECT_NE(*slot, nullptr) << "no " << name;
  }
  void* handle_ = nullptr;
};

}  // namespace testsupport

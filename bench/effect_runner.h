// Drives the effect through our host the way a host application does: one loaded module, global
// and parameter setup once, then controls set per configuration and renders of whole frames.
#pragma once

#include <memory>
#include <string>

#include "bench/config.h"
#include "hostapp/host.h"
#include "pf_sdk.h"

namespace vbench {

class EffectRunner {
 public:
  // Loads the module from a path; throws std::runtime_error when it cannot be loaded or set up.
  explicit EffectRunner(const std::string& module_path);
  // Drives an effect linked into this process (for counting its contexts from inside).
  explicit EffectRunner(PF_EffectMainFunc linked_entry);

  // Sets every control the configuration decides; the others keep their defaults.
  void Apply(const Config& config);
  // One render of a frame; throws std::runtime_error when the host reports an error or a leak.
  vhost::RenderResult Render(int bpc, const vhost::Image& input, const vhost::Image* map);

  vhost::Host& host() { return *host_; }

 private:
  void Setup();
  std::unique_ptr<vhost::Host> host_;
};

}  // namespace vbench

#include "bench/effect_runner.h"

#include <stdexcept>

#include "hostapp/probe.h"
#include "params/param_ids.h"

namespace vbench {

EffectRunner::EffectRunner(const std::string& module_path)
    : host_(std::make_unique<vhost::Host>(module_path)) {
  Setup();
}

EffectRunner::EffectRunner(PF_EffectMainFunc linked_entry)
    : host_(std::make_unique<vhost::Host>(linked_entry)) {
  Setup();
}

void EffectRunner::Setup() {
  // Every render is checked for leaks, as the measurements always were, so the probe's call log
  // stays part of what is measured.
  host_->probe();
  if (PF_Err err = host_->GlobalSetup())
    throw std::runtime_error("global setup failed: " + vhost::ErrorName(err));
  if (PF_Err err = host_->ParamsSetup())
    throw std::runtime_error("params setup failed: " + vhost::ErrorName(err));
}

void EffectRunner::Apply(const Config& config) {
  vhost::ControlStore& controls = host_->controls();
  // A moderate transform, so that every configuration displaces pixels for real.
  controls.SetValue(PARAM_TRANSLATE_X, 4.0);
  controls.SetValue(PARAM_ROTATE, 6.0);
  controls.SetValue(PARAM_SCALE_X, 104.0);
  controls.SetValue(PARAM_ANTI_ALIASING, static_cast<double>(config.aa));
  controls.SetValue(PARAM_ITERATIONS, config.iterations);
  const double red = config.chromatic_aberration ? 1.05 : 1.0;
  const double blue = config.chromatic_aberration ? 0.95 : 1.0;
  controls.SetValue(PARAM_CA_RED, red);
  controls.SetValue(PARAM_CA_GREEN, 1.0);
  controls.SetValue(PARAM_CA_BLUE, blue);
  controls.SetValue(PARAM_MAP_SOFTNESS, config.map_softness);
}

vhost::RenderResult EffectRunner::Render(int bpc, const vhost::Image& input,
                                         const vhost::Image* map) {
  vhost::RenderJob job;
  job.bpc = bpc;
  job.input = &input;
  job.map = map;
  vhost::RenderResult result = host_->Render(job);
  if (result.err) throw std::runtime_error("render failed: " + vhost::ErrorName(result.err));
  const std::vector<std::string> leaks = host_->probe().leaks();
  if (!leaks.empty()) throw std::runtime_error("host reports: " + leaks.front());
  return result;
}

}  // namespace vbench

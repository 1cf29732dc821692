// A frame through the frei0r filter plug-in, loaded as a frei0r host loads it, against the same
// frame in our host driving the module, in turns, with the same moderate transform on both sides
// (at the defaults the effect leaves the layer as it is).
#include <dlfcn.h>
#include <frei0r.h>

#include <stdexcept>
#include <vector>

#include "bench/measure.h"
#include "bench/synthetic.h"
#include "bench/timing.h"
#include "bridge/controls.h"

namespace vbench {

namespace {

// The plug-in's functions a filter host calls.
struct Frei0rFilter {
  void* handle = nullptr;
  f0r_instance_t (*construct)(unsigned, unsigned) = nullptr;
  void (*destruct)(f0r_instance_t) = nullptr;
  void (*update)(f0r_instance_t, double, const uint32_t*, uint32_t*) = nullptr;
  void (*set_param_value)(f0r_instance_t, f0r_param_t, int) = nullptr;
  void (*get_param_info)(f0r_param_info_t*, int) = nullptr;
  void (*get_plugin_info)(f0r_plugin_info_t*) = nullptr;

  explicit Frei0rFilter(const std::string& path) {
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) throw std::runtime_error("cannot load " + path + ": " + dlerror());
    construct = reinterpret_cast<decltype(construct)>(dlsym(handle, "f0r_construct"));
    destruct = reinterpret_cast<decltype(destruct)>(dlsym(handle, "f0r_destruct"));
    update = reinterpret_cast<decltype(update)>(dlsym(handle, "f0r_update"));
    set_param_value =
        reinterpret_cast<decltype(set_param_value)>(dlsym(handle, "f0r_set_param_value"));
    get_param_info =
        reinterpret_cast<decltype(get_param_info)>(dlsym(handle, "f0r_get_param_info"));
    get_plugin_info =
        reinterpret_cast<decltype(get_plugin_info)>(dlsym(handle, "f0r_get_plugin_info"));
    if (!construct || !destruct || !update || !set_param_value || !get_param_info ||
        !get_plugin_info) {
      dlclose(handle);
      throw std::runtime_error(path + " lacks a frei0r filter's functions");
    }
  }
  ~Frei0rFilter() { dlclose(handle); }
  Frei0rFilter(const Frei0rFilter&) = delete;
  Frei0rFilter& operator=(const Frei0rFilter&) = delete;
};

// The host's alpha-first pixels as frei0r's red, green, blue, alpha.
std::vector<uint8_t> RgbaOf(const vhost::Image& layer) {
  std::vector<uint8_t> rgba(static_cast<size_t>(layer.width) * layer.height * 4);
  uint8_t* out = rgba.data();
  for (int y = 0; y < layer.height; ++y) {
    const uint8_t* in = layer.Row(y);
    for (int x = 0; x < layer.width; ++x, in += 4, out += 4) {
      out[0] = in[1];
      out[1] = in[2];
      out[2] = in[3];
      out[3] = in[0];
    }
  }
  return rgba;
}

// The transform both sides render with, in the panel's units: two sliders, which the plug-in takes
// as the fraction of their range, found by their labels as a frei0r host finds parameters.
struct Transform {
  ParamIndex control;
  double value;
};
constexpr Transform kTransform[] = {{PARAM_TRANSLATE_X, 4.0}, {PARAM_SCALE_X, 104.0}};

void ApplyTransform(const Frei0rFilter& filter, f0r_instance_t instance) {
  f0r_plugin_info_t plugin{};
  filter.get_plugin_info(&plugin);
  for (const Transform& t : kTransform) {
    const vbridge::ControlSpec& control = *vbridge::FindSettable(t.control);
    double fraction = (t.value - control.min) / (control.max - control.min);
    for (int i = 0; i < plugin.num_params; ++i) {
      f0r_param_info_t param{};
      filter.get_param_info(&param, i);
      if (control.label == param.name) filter.set_param_value(instance, &fraction, i);
    }
  }
}

}  // namespace

Frei0rResult MeasureFrei0r(const std::string& module_path, const std::string& plugin_path,
                           const Frame& frame, int warmup, int reps) {
  vhost::Host host(module_path);
  if (PF_Err err = host.GlobalSetup())
    throw std::runtime_error("global setup failed: " + vhost::ErrorName(err));
  if (PF_Err err = host.ParamsSetup())
    throw std::runtime_error("params setup failed: " + vhost::ErrorName(err));
  for (const Transform& t : kTransform) host.controls().SetValue(t.control, t.value);
  const vhost::Image layer = MakeInputLayer(frame.width, frame.height, 8);
  vhost::RenderJob job;
  job.input = &layer;

  Frei0rFilter filter(plugin_path);
  f0r_instance_t instance = filter.construct(frame.width, frame.height);
  ApplyTransform(filter, instance);
  const std::vector<uint8_t> input = RgbaOf(layer);
  std::vector<uint8_t> output(input.size());

  std::vector<double> ours, plugin;
  for (int i = 0; i < warmup + reps; ++i) {
    Clock::time_point start = Clock::now();
    const vhost::RenderResult result = host.Render(job);
    const double host_ms = MillisecondsSince(start);
    if (result.err) throw std::runtime_error("render failed: " + vhost::ErrorName(result.err));
    start = Clock::now();
    filter.update(instance, i / 25.0, reinterpret_cast<const uint32_t*>(input.data()),
                  reinterpret_cast<uint32_t*>(output.data()));
    const double plugin_ms = MillisecondsSince(start);
    if (i < warmup) continue;
    ours.push_back(host_ms);
    plugin.push_back(plugin_ms);
  }
  filter.destruct(instance);
  // A plug-in that could not render passes the frame through; that is not a time to report.
  if (output == input) throw std::runtime_error("the frei0r plug-in passed the frame through");
  Frei0rResult r;
  r.ran = true;
  r.host_ms = Median(ours);
  r.frei0r_ms = Median(plugin);
  return r;
}

}  // namespace vbench

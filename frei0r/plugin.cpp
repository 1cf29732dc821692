// The frei0r entry points of one plug-in file. Built twice: as the filter `varnex`, whose layer is
// its own map (as when "Map Layer" is None), and, with VARNEX_FREI0R_MIXER, as the two-input mixer
// `varnex_map`, whose second input is the map layer. Each file carries the effect and exports
// nothing but these functions, so that it can be copied alone into a frei0r folder.
// frei0r.h is a C header without C++ guards: its declarations must have C linkage here, where
// they are defined.
extern "C" {
#include <frei0r.h>
}

#include <exception>

#include "frei0r/instance.h"
#include "frei0r/params.h"

namespace {

#if VARNEX_FREI0R_MIXER
constexpr const char* kName = "varnex_map";
constexpr int kType = F0R_PLUGIN_TYPE_MIXER2;
constexpr const char* kExplanation =
    "Displaces the first input's pixels by a channel of the second, the map layer: translation, "
    "rotation about an anchor and scale, with a motion trail, chromatic aberration, edge modes "
    "and anti-aliasing, rendered with OpenGL 3.3";
#else
constexpr const char* kName = "varnex";
constexpr int kType = F0R_PLUGIN_TYPE_FILTER;
constexpr const char* kExplanation =
    "Displaces the layer's pixels by a channel of the layer itself: translation, rotation about "
    "an anchor and scale, with a motion trail, chromatic aberration, edge modes and "
    "anti-aliasing, rendered with OpenGL 3.3";
#endif

vfrei0r::Instance* InstanceOf(f0r_instance_t instance) {
  return static_cast<vfrei0r::Instance*>(instance);
}

}  // namespace

// Hosts may ask for the plug-in's description before f0r_init (MLT does while scanning its
// folders), so nothing here depends on it; the effect starts with an instance's first frame.
extern "C" {

int f0r_init() {
  return 1;
}

void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
  info->name = kName;
  info->author = "The Varnex developers";
  info->plugin_type = kType;
  info->color_model = F0R_COLOR_MODEL_RGBA8888;
  info->frei0r_version = FREI0R_MAJOR_VERSION;
  info->major_version = VARNEX_VERSION_MAJOR;
  info->minor_version = VARNEX_VERSION_MINOR;
  info->num_params = static_cast<int>(vfrei0r::Params().size());
  info->explanation = kExplanation;
}

void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
  const auto& params = vfrei0r::Params();
  if (param_index < 0 || param_index >= static_cast<int>(params.size())) return;
  const vfrei0r::Param& param = params[static_cast<size_t>(param_index)];
  info->name = param.control->label.c_str();
  info->type = param.type;
  info->explanation = param.explanation.c_str();
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
  try {
    return new vfrei0r::Instance(kName, width, height, kType == F0R_PLUGIN_TYPE_MIXER2);
  } catch (const std::exception&) {
    return nullptr;
  }
}

void f0r_destruct(f0r_instance_t instance) {
  delete InstanceOf(instance);
}

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  if (!instance) return;
  try {
    InstanceOf(instance)->SetParam(param_index, param);
  } catch (const std::exception&) {
    // Out of memory for a text: the parameter keeps its value.
  }
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
  if (instance) InstanceOf(instance)->GetParam(param_index, param);
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
  if (instance) InstanceOf(instance)->Update(time, inframe, nullptr, outframe);
}

void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                 const uint32_t* inframe2, const uint32_t*, uint32_t* outframe) {
  if (instance) InstanceOf(instance)->Update(time, inframe1, inframe2, outframe);
}

}  // extern "C"

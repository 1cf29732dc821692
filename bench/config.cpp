#include "bench/config.h"

namespace vbench {

int Factor(AntiAliasing aa) {
  switch (aa) {
    case AntiAliasing::k2x:
      return 2;
    case AntiAliasing::k4x:
      return 4;
    case AntiAliasing::k8x:
      return 8;
    case AntiAliasing::kNone:
      break;
  }
  return 1;
}

std::string Label(AntiAliasing aa) {
  const int factor = Factor(aa);
  return factor == 1 ? "aaNone" : "aa" + std::to_string(factor) + "x";
}

std::string Config::Name() const {
  std::string name = std::to_string(bpc) + "bpc " + Label(aa) + " it" + std::to_string(iterations);
  name += chromatic_aberration ? " ca-on" : " ca-off";
  name += map_layer ? " map-soft" + std::to_string(static_cast<int>(map_softness)) : " nomap";
  return name;
}

std::vector<Config> CoveringSet() {
  const Config base;
  std::vector<Config> set{base};
  Config c = base;
  c.bpc = 32;
  set.push_back(c);
  c = base;
  c.aa = AntiAliasing::kNone;
  set.push_back(c);
  c = base;
  c.aa = AntiAliasing::k4x;
  set.push_back(c);
  c = base;
  c.iterations = 8;
  set.push_back(c);
  c = base;
  c.chromatic_aberration = true;
  set.push_back(c);
  c = base;
  c.map_layer = true;
  c.map_softness = 10.0;
  set.push_back(c);
  c.bpc = 32;
  c.iterations = 8;
  c.chromatic_aberration = true;
  set.push_back(c);
  return set;
}

Config SequenceConfig() {
  Config c;
  c.aa = AntiAliasing::kNone;
  return c;
}

std::vector<Config> CrossProduct() {
  std::vector<Config> set;
  for (int bpc : {8, 32})
    for (AntiAliasing aa : {AntiAliasing::kNone, AntiAliasing::k2x, AntiAliasing::k4x})
      for (int iterations : {1, 8})
        for (bool ca : {false, true})
          for (bool map : {false, true}) {
            Config c;
            c.bpc = bpc;
            c.aa = aa;
            c.iterations = iterations;
            c.chromatic_aberration = ca;
            c.map_layer = map;
            c.map_softness = map ? 10.0 : 0.0;
            set.push_back(c);
          }
  return set;
}

PassPlan PlanFor(const Config& config, int width, int height) {
  PassPlan plan;
  plan.width = width;
  plan.height = height;
  plan.bpc = config.bpc;
  plan.factor = Factor(config.aa);
  plan.map = config.map_layer;
  plan.blur = config.Blurs();
  return plan;
}

}  // namespace vbench

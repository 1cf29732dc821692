// The configurations the benchmark renders and what each one asks of GL.
#pragma once

#include <string>
#include <vector>

namespace vbench {

// "Anti-Aliasing" popup items.
enum class AntiAliasing { kNone = 1, k2x = 3, k4x = 4, k8x = 5 };

int Factor(AntiAliasing aa);
std::string Label(AntiAliasing aa);

struct Config {
  int bpc = 8;
  AntiAliasing aa = AntiAliasing::k2x;
  int iterations = 1;
  bool chromatic_aberration = false;
  bool map_layer = false;
  double map_softness = 0.0;

  std::string Name() const;  // e.g. "8bpc aa2x it1 ca-off nomap"
  bool Blurs() const { return map_softness > 0.1; }
};

// The base (8 bits, the default 2x, one iteration, no aberration, no map) and each dimension
// varied against it once, then one configuration with every costly option at once.
std::vector<Config> CoveringSet();
// What the sequence through the varnex command renders: the command's defaults but "Anti-Aliasing"
// "None" (a 48-frame 2x sequence twice over would not fit the benchmark's ten minutes on a
// software renderer). The thread check renders it too.
Config SequenceConfig();
// Every combination of the dimensions (48 configurations).
std::vector<Config> CrossProduct();

// The work of one render as GL sees it: which passes run at which size. Both the effect and the
// floor are measured on the same plan.
struct PassPlan {
  int width = 0;
  int height = 0;
  int bpc = 8;
  int factor = 1;     // supersampling factor; 1 draws the displacement at the layer's size
  bool map = false;   // a map layer is uploaded and drawn onto the input's frame
  bool blur = false;  // the map (or the input) is blurred in two passes
  int Passes() const { return 2 + (map ? 1 : 0) + (blur ? 2 : 0) + (factor > 1 ? 2 : 0); }
};

PassPlan PlanFor(const Config& config, int width, int height);

}  // namespace vbench

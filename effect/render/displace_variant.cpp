#include "render/displace_variant.h"

#include <cstdio>
#include <initializer_list>
#include <utility>

#include "gl/program.h"

namespace {

// The integer settings a variant fixes, by their uniform names. Each is fixed at the very value
// the render sends, so a variant computes what the general program computes for that value, be it
// one the controls can give or not.
constexpr const char* kFixedSettings[] = {
    "usingAuxTex",          "srcL",   "invert", "legacyB", "viewMapL", "easingL", "bpc",
    "clampOverflowXformsL", "usingCA"};

const uniform_t* Find(const UniformMap& uniforms, const char* name, int32_t type) {
  const auto found = uniforms.find(name);
  return found == uniforms.end() || found->second.type != type ? nullptr : &found->second;
}

void Define(std::string* prefix, const char* name, int32_t value) {
  char line[64];
  std::snprintf(line, sizeof line, "#define V_%s %d\n", name, static_cast<int>(value));
  *prefix += line;
}

}  // namespace

std::string DisplaceVariantPrefix(const UniformMap& uniforms) {
  std::string prefix = kVariantVersionLine;
  for (const char* name : kFixedSettings) {
    const uniform_t* value = Find(uniforms, name, kUniformIVEC);
    if (value == nullptr) return {};
    Define(&prefix, name, value->value.i[0]);
  }
  const uniform_t* gamma = Find(uniforms, "gammaF", kUniformVEC);
  if (gamma == nullptr) return {};
  // Gamma is a continuous setting, but 1, its default, skips the power altogether.
  if (gamma->value.f[0] == 1.0f) prefix += "#define V_gammaIsOne\n";
  // Under aberration a channel with a factor of exactly 1 moves as the plain amount does, so the
  // variant takes it from the plain sample: one texture read fewer per iteration.
  if (Find(uniforms, "usingCA", kUniformIVEC)->value.i[0] == 1) {
    for (const auto& [uniform, define] : {std::pair{"redMult", "#define V_plainRed\n"},
                                          std::pair{"greenMult", "#define V_plainGreen\n"},
                                          std::pair{"blueMult", "#define V_plainBlue\n"}}) {
      const uniform_t* factor = Find(uniforms, uniform, kUniformVEC);
      if (factor == nullptr) return {};
      if (factor->value.f[0] == 1.0f) prefix += define;
    }
  }
  return prefix;
}

uint32_t DisplaceProgramFor(const UniformMap& uniforms, uint32_t general,
                            ProgramVariants* variants) {
  if (variants == nullptr) return general;
  const std::string prefix = DisplaceVariantPrefix(uniforms);
  if (prefix.empty()) return general;
  const uint32_t variant = FindOrBuildVariant(variants, DisplaceVariantStages(), prefix.c_str());
  return variant != 0 ? variant : general;
}

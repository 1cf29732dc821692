// The displacement program a render draws with: the thread's variant for the render's discrete
// settings, or the general program when variants are off or the variant cannot be built.
#pragma once

#include <cstdint>
#include <string>

#include "gl/program_variants.h"
#include "gl/uniforms.h"

// The prefix that builds the displacement variant for the settings in `uniforms`, as
// SendDisplaceUniforms writes them. Empty when a setting the variant fixes is missing. Makes no GL
// call.
std::string DisplaceVariantPrefix(const UniformMap& uniforms);

// The variant for `uniforms` from `variants` (built on first use), or `general` when `variants`
// is null, the prefix is empty or the build failed. Needs the context that owns both current.
uint32_t DisplaceProgramFor(const UniformMap& uniforms, uint32_t general,
                            ProgramVariants* variants);

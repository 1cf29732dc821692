// The displacement program's uniforms from the per-render snapshot and the render's plan.
#pragma once

#include "gl/uniforms.h"
#include "render/my_params.h"
#include "render/render_plan.h"

// Writes one entry per displacement uniform into `uniforms` (inserting or overwriting). The
// transform at the later shutter time is sent only with two or more iterations, since the shader
// never reads it otherwise. Texture entries are the caller's.
void SendDisplaceUniforms(UniformMap& uniforms, const myParams& params, const RenderPlan& plan);

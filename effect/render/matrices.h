// Vertex matrices for the passes drawn through the transforming vertex shader.
#pragma once

#include "render/my_params.h"

// Sets `identityMatrix` to the 4 × 4 identity.
void GenIdentityMatrix(myParams* params);

// Sets `xform` so that the full-screen quad, drawn into a target the input's size, covers
// exactly the pixels the map buffer occupies relative to the input buffer (one map pixel per
// input pixel). Reads width, height and origin of both buffers. The input must not be empty.
void GenVertexMatrices(myParams* params, const PF_LayerDef* map, const PF_LayerDef* input);

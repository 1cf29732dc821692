// Control values at the render's current time, converted to the units the shaders use.
#pragma once

#include "render/my_params.h"

// Fills the control-derived fields of `params` from a snapshot indexed by control index, the
// downsample factor from `in_data`, and the resolutions from `params->inputWorld` (which must be
// set, as must `mapWorld` when a map layer exists). Also sets the identity matrix, and the map's
// vertex matrix when the map layer has pixels.
void FillFromSnapshot(const PF_ParamDef* snapshot, const PF_InData* in_data, myParams* params);

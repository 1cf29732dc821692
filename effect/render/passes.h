// The render's pass chain on the calling thread's current context: the input and map uploads, the
// map placement and blur, the displacement at the layer's size or supersampled, and the read-back
// into the host's output.
//
// Orientation: the host's first row is texture row 0 and framebuffer row 0 throughout, so an
// image that no pass moves comes back the right way up. Colour is straight RGBA from the first
// pass on; the displacement writes alpha first, which reads back as the host's ARGB.
#pragma once

#include "gl/context.h"
#include "pf_sdk.h"
#include "render/my_params.h"

// Plans the render for the filled snapshot `params` (whose input has pixels), then runs it. A
// missing program or a target the GL cannot make is reported through `out_data` and returned as
// PF_Err_INTERNAL_STRUCT_DAMAGED, leaving the output as it was; every target is deleted on every
// path. The displacement draws with a variant kept in `variants` when it is not null (the general
// program stays required, as the fallback).
PF_Err RunPassChain(const myParams& params, const GLPrograms& programs, ProgramVariants* variants,
                    PF_OutData* out_data);

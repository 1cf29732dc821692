// Integer rectangle helpers for the pre-render negotiation. Right and bottom are exclusive.
#pragma once

#include "pf_sdk.h"

bool IsEmptyRect(const PF_LRect& r);
// An empty destination becomes a copy of the source (even an empty one); otherwise a non-empty
// source grows the destination to the bounding box of both.
void UnionLRect(const PF_LRect* src, PF_LRect* dst);

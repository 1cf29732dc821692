// The ids under which the pre-render checks the layers out and the render asks for their pixels.
// Our host includes this too, so it pulls in nothing else.
#pragma once

#include <cstdint>

inline constexpr int32_t kInputCheckoutId = 0;
inline constexpr int32_t kMapCheckoutId = 1;

// Numbers in messages and listings: whole numbers without exponent or decimals, others with up to
// nine significant digits.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>

namespace vcli {

inline std::string FormatNumber(double v) {
  char text[40];
  if (std::floor(v) == v && std::fabs(v) < 1e15)
    std::snprintf(text, sizeof text, "%.0f", v);
  else
    std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

}  // namespace vcli

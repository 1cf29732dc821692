// Copying a label into a parameter record's fixed name field.
#pragma once

#include <cstring>

#include "pf_sdk.h"

// Copies `text` (not null) into `def.name`, cut so that the last byte is always the terminator.
inline void SetParamName(PF_ParamDef& def, const char* text) {
  const size_t n = strnlen(text, sizeof def.name - 1);
  std::memcpy(def.name, text, n);
  def.name[n] = '\0';
}

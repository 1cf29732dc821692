// The list of shader stages a program is built from.
#pragma once

#include <cstdint>

// A shader-stage list: 64-bit words, two per stage (the GL shader type, then a pointer to the
// stage's NUL-terminated source), ended by a 0 where the next type would stand. Accepted types:
// GL_FRAGMENT_SHADER, GL_VERTEX_SHADER, GL_GEOMETRY_SHADER; other words are skipped.
using ShaderStageWord = uint64_t;
using ShaderStageList = const ShaderStageWord*;

// The word that stands for a source text in a stage list.
inline ShaderStageWord StageSource(const char* source) {
  return static_cast<ShaderStageWord>(reinterpret_cast<uintptr_t>(source));
}

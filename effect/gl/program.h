// Building GL programs from GLSL sources, and the effect's five programs.
#pragma once

#include <cstdint>

#include "gl/context.h"

// A shader-stage list: 64-bit words, two per stage (the GL shader type, then a pointer to the
// stage's NUL-terminated source), ended by a 0 where the next type would stand. Accepted types:
// GL_FRAGMENT_SHADER, GL_VERTEX_SHADER, GL_GEOMETRY_SHADER; other words are skipped.
using ShaderStageWord = uint64_t;
using ShaderStageList = const ShaderStageWord*;

// The word that stands for a source text in a stage list.
inline ShaderStageWord StageSource(const char* source) {
  return static_cast<ShaderStageWord>(reinterpret_cast<uintptr_t>(source));
}

// Compiles every stage with `prefix` (NUL-terminated, may be empty) put before its source, and
// links the compiled ones. Returns the program, or 0 when linking failed; failures are printed.
// No shader object is left behind. Needs a current context.
uint32_t CreateProgram(ShaderStageList stages, const char* prefix);

// Deletes the program `*program` names, if any, and sets it to 0. Null pointer: nothing.
void DeleteProgram(uint32_t* program);

// Builds the five programs into `programs` in the current context; a failed one is 0. With a
// null target only the stage lists are prepared.
void CreateGLPrograms(GLPrograms* programs);

// Deletes the five programs in field order, zeroing each. Null: nothing.
void DeleteGLPrograms(GLPrograms* programs);

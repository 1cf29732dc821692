// Building GL programs from GLSL sources, and the effect's five programs.
#pragma once

#include <cstdint>

#include "gl/context.h"
#include "gl/stage_list.h"

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

// The displacement program's stages with each source's version line left out, for variants: a
// variant's prefix starts with this version line, followed by its definitions, which the language
// allows only after the version.
inline constexpr const char* kVariantVersionLine = "#version 330 core\n";
ShaderStageList DisplaceVariantStages();

// Uniforms and vertex attributes applied to a program by name, just before a draw.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "gl/gl_types.h"

// The kinds of uniform_t, named after their constructors.
enum UniformKind : int32_t {
  kUniformUIVEC = 0,
  kUniformIVEC = 1,
  kUniformIVEC2 = 2,
  kUniformIVEC3 = 3,
  kUniformIVEC4 = 4,
  kUniformVEC = 5,
  kUniformVEC2 = 6,
  kUniformVEC3 = 7,
  kUniformVEC4 = 8,
  kUniformMAT44 = 9,
  kUniformTEX1D = 10,
  kUniformTEX2D = 11,
};

// A tagged uniform value. The components sit in the value area from its first word on; the
// words a kind does not use are zero.
struct uniform_t {
  int32_t type;
  union {
    uint32_t u[16];
    int32_t i[16];
    float f[16];
  } value;
};

uniform_t UIVEC(uint32_t v);
uniform_t IVEC(int32_t v);
uniform_t IVEC2(Vec2i v);
uniform_t IVEC3(Vec3i v);
uniform_t IVEC4(Vec4i v);
uniform_t VEC(float v);
uniform_t VEC2(Vec2f v);
uniform_t VEC3(Vec3f v);
uniform_t VEC4(Vec4f v);
// Handed to GL as one matrix, untransposed, in the Matrix44f's own storage order.
uniform_t MAT44(const Matrix44f& m);
// A texture name, bound on its own texture unit when applied.
uniform_t TEX1D(uint32_t texture);
uniform_t TEX2D(uint32_t texture);

using UniformMap = std::unordered_map<std::string, uniform_t>;

// Applies every entry of `uniforms` that names an active uniform of `program`; texture kinds get
// units 0, 1, ... in the order the active uniforms are visited. Active uniforms the map lacks
// are listed on standard output; entries naming no active uniform are ignored. Leaves the
// program in use and the textures bound. Needs the program's context current.
void SetProgramUniforms(uint32_t program, const UniformMap& uniforms);

// Where a vertex attribute's data is: `size` components of GL `type` in `buffer`, from offset 0,
// `stride` bytes apart, not normalised.
struct AttributeType {
  uint32_t buffer;
  int32_t size;
  uint32_t type;
  int32_t stride;
};

using AttributeMap = std::unordered_map<std::string, AttributeType>;

// Describes, in `vertex_array`, every active attribute of `program` that `attributes` names;
// active ones it lacks are listed on standard output, other entries are ignored. Leaves no vertex
// array and no array buffer bound. Needs the program's context current.
void SetProgramAttributes(uint32_t vertex_array, uint32_t program, const AttributeMap& attributes);

#include "gl/uniforms.h"

#include <epoxy/gl.h>

#include <cstddef>
#include <initializer_list>
#include <ostream>
#include <string_view>

#include "gl/diagnostics.h"

namespace {

uniform_t Make(int32_t type) {
  uniform_t u{};
  u.type = type;
  return u;
}

using Words = decltype(uniform_t::value);

// A value of `type` whose first words, read as the member `as`, are `components`.
template <typename T, size_t N>
uniform_t Filled(int32_t type, T (Words::*as)[N], std::initializer_list<T> components) {
  uniform_t u = Make(type);
  size_t k = 0;
  for (T c : components) (u.value.*as)[k++] = c;
  return u;
}

// Active names are read back through a buffer of this size: shader names must be shorter.
constexpr GLsizei kNameSize = 32;

// Number of value words a kind uses, for the diagnostic.
int ValueWords(int32_t type) {
  switch (type) {
    case kUniformIVEC2:
    case kUniformVEC2:
      return 2;
    case kUniformIVEC3:
    case kUniformVEC3:
      return 3;
    case kUniformIVEC4:
    case kUniformVEC4:
      return 4;
    case kUniformMAT44:
      return 16;
    default:
      return 1;
  }
}

void PrintValue(const uniform_t& u) {
  GLDiagnostics() << "Uni Value: ";
  const int words = ValueWords(u.type);
  for (int k = 0; k < words; ++k) {
    if (k > 0) GLDiagnostics() << ' ';
    if (u.type == kUniformUIVEC || u.type == kUniformTEX1D || u.type == kUniformTEX2D) {
      GLDiagnostics() << u.value.u[k];
    } else if (u.type >= kUniformIVEC && u.type <= kUniformIVEC4) {
      GLDiagnostics() << u.value.i[k];
    } else {
      GLDiagnostics() << u.value.f[k];
    }
  }
  GLDiagnostics() << std::endl;
}

// Applies one value at `location`; texture kinds go on unit `unit`.
void Apply(const uniform_t& u, GLint location, GLint unit) {
  const auto& v = u.value;
  switch (u.type) {
    case kUniformUIVEC:
      glUniform1ui(location, v.u[0]);
      break;
    case kUniformIVEC:
      glUniform1i(location, v.i[0]);
      break;
    case kUniformIVEC2:
      glUniform2i(location, v.i[0], v.i[1]);
      break;
    case kUniformIVEC3:
      glUniform3i(location, v.i[0], v.i[1], v.i[2]);
      break;
    case kUniformIVEC4:
      glUniform4i(location, v.i[0], v.i[1], v.i[2], v.i[3]);
      break;
    case kUniformVEC:
      glUniform1f(location, v.f[0]);
      break;
    case kUniformVEC2:
      glUniform2f(location, v.f[0], v.f[1]);
      break;
    case kUniformVEC3:
      glUniform3f(location, v.f[0], v.f[1], v.f[2]);
      break;
    case kUniformVEC4:
      glUniform4f(location, v.f[0], v.f[1], v.f[2], v.f[3]);
      break;
    case kUniformMAT44:
      glUniformMatrix4fv(location, 1, GL_FALSE, v.f);
      break;
    case kUniformTEX1D:
    case kUniformTEX2D:
      glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
      glBindTexture(u.type == kUniformTEX1D ? GL_TEXTURE_1D : GL_TEXTURE_2D, v.u[0]);
      glUniform1i(location, unit);
      break;
    default:
      break;
  }
}

}  // namespace

uniform_t UIVEC(uint32_t v) {
  return Filled(kUniformUIVEC, &Words::u, {v});
}
uniform_t IVEC(int32_t v) {
  return Filled(kUniformIVEC, &Words::i, {v});
}
uniform_t IVEC2(Vec2i v) {
  return Filled(kUniformIVEC2, &Words::i, {v.x, v.y});
}
uniform_t IVEC3(Vec3i v) {
  return Filled(kUniformIVEC3, &Words::i, {v.x, v.y, v.z});
}
uniform_t IVEC4(Vec4i v) {
  return Filled(kUniformIVEC4, &Words::i, {v.x, v.y, v.z, v.w});
}
uniform_t VEC(float v) {
  return Filled(kUniformVEC, &Words::f, {v});
}
uniform_t VEC2(Vec2f v) {
  return Filled(kUniformVEC2, &Words::f, {v.x, v.y});
}
uniform_t VEC3(Vec3f v) {
  return Filled(kUniformVEC3, &Words::f, {v.x, v.y, v.z});
}
uniform_t VEC4(Vec4f v) {
  return Filled(kUniformVEC4, &Words::f, {v.x, v.y, v.z, v.w});
}
uniform_t MAT44(const Matrix44f& m) {
  uniform_t u = Make(kUniformMAT44);
  for (int k = 0; k < 16; ++k) u.value.f[k] = m.m[k];
  return u;
}
uniform_t TEX1D(uint32_t texture) {
  return Filled(kUniformTEX1D, &Words::u, {texture});
}
uniform_t TEX2D(uint32_t texture) {
  return Filled(kUniformTEX2D, &Words::u, {texture});
}

void SetProgramUniforms(uint32_t program, const UniformMap& uniforms) {
  GLint linked = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (linked != 1) GLDiagnostics() << "Program Not Linked : " << program << std::endl;

  GLint count = 0;
  glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
  if (count <= 0) GLDiagnostics() << "No Active Uniforms for prog: " << program << std::endl;

  std::unordered_map<std::string, GLint> active;
  for (GLint index = 0; index < count; ++index) {
    char name[kNameSize] = {};
    GLint size = 0;
    GLenum type = 0;
    glGetActiveUniform(program, static_cast<GLuint>(index), kNameSize, nullptr, &size, &type, name);
    active[name] = glGetUniformLocation(program, name);
  }

  glUseProgram(program);

  GLint unit = 0;
  for (auto it = active.begin(); it != active.end();) {
    const auto found = uniforms.find(it->first);
    if (found == uniforms.end()) {
      ++it;
      continue;
    }
    const uniform_t& value = found->second;
    Apply(value, it->second, unit);
    const GLenum error = glGetError();
    if (error != GL_NO_ERROR) {
      GLDiagnostics() << "Uniform Error: " << it->first << ":" << it->second << ":" << error
                      << std::endl;
      GLDiagnostics() << "Uni Index: " << it->second << std::endl;
      PrintValue(value);
    }
    if (value.type == kUniformTEX1D || value.type == kUniformTEX2D) ++unit;
    it = active.erase(it);
  }

  if (!active.empty()) {
    GLDiagnostics() << "Num Uniforms: " << count << std::endl;
    GLDiagnostics() << "The Following Uniforms are not set:" << std::endl;
    for (const auto& entry : active) GLDiagnostics() << entry.first << "\n";
  }
}

void SetProgramAttributes(uint32_t vertex_array, uint32_t program, const AttributeMap& attributes) {
  GLint count = 0;
  glGetProgramiv(program, GL_ACTIVE_ATTRIBUTES, &count);
  GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    GLDiagnostics() << "Active Attrib Error: " << std::hex << error << std::dec << std::endl;
  }
  if (count < 1) GLDiagnostics() << "No Active Attribs shader: " << program << std::endl;

  std::unordered_map<std::string, GLint> active;
  for (GLint index = 0; index < count; ++index) {
    char name[kNameSize] = {};
    GLint size = 0;
    GLenum type = 0;
    glGetActiveAttrib(program, static_cast<GLuint>(index), kNameSize, nullptr, &size, &type, name);
    // Built-in inputs have no location to feed.
    if (std::string_view(name).starts_with("gl_")) continue;
    const GLint location = glGetAttribLocation(program, name);
    if (location != -1) active[name] = location;
    error = glGetError();
    if (error != GL_NO_ERROR) GLDiagnostics() << "Attrib Location:" << name << error << std::endl;
  }

  glBindVertexArray(vertex_array);
  for (auto it = active.begin(); it != active.end();) {
    const auto found = attributes.find(it->first);
    if (found == attributes.end()) {
      ++it;
      continue;
    }
    const AttributeType& attribute = found->second;
    const auto location = static_cast<GLuint>(it->second);
    glBindBuffer(GL_ARRAY_BUFFER, attribute.buffer);
    error = glGetError();
    if (error != GL_NO_ERROR) GLDiagnostics() << "Buff:" << error << std::endl;
    glVertexAttribPointer(location, attribute.size, attribute.type, GL_FALSE, attribute.stride,
                          nullptr);
    glEnableVertexAttribArray(location);
    error = glGetError();
    if (error != GL_NO_ERROR) GLDiagnostics() << " Vertex Attrib: " << error << std::endl;
    it = active.erase(it);
  }
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glBindVertexArray(0);

  if (!active.empty()) {
    GLDiagnostics() << "The Following Attributes are not set:" << std::endl;
    for (const auto& entry : active) GLDiagnostics() << entry.first << "\n";
  }
}

#include "gl/program.h"

#include <epoxy/gl.h>

#include <string>
#include <vector>

#include "gl/diagnostics.h"
#include "shaders/sources.h"

namespace {

bool IsStageType(ShaderStageWord word) {
  return word == GL_FRAGMENT_SHADER || word == GL_VERTEX_SHADER || word == GL_GEOMETRY_SHADER;
}

struct Stage {
  GLenum type;
  const char* source;
};

// Walks the list word by word; a word is a stage type only when it is an accepted type, and the
// word after it is then the stage's source. A 0 where a source should stand also ends the list,
// so a truncated stage never leads to reading a null source or past the terminator.
std::vector<Stage> ReadStages(ShaderStageList stages) {
  std::vector<Stage> result;
  if (stages == nullptr) return result;
  for (size_t i = 0; stages[i] != 0; ++i) {
    if (!IsStageType(stages[i])) continue;
    const ShaderStageWord source = stages[i + 1];
    if (source == 0) break;
    result.push_back({static_cast<GLenum>(stages[i]),
                      reinterpret_cast<const char*>(static_cast<uintptr_t>(source))});
    ++i;
  }
  return result;
}

// The text after the first line that holds the version directive; the whole text if none does.
// The result points into `source`, so it is as long-lived and NUL-terminated as the source is.
const char* AfterVersionLine(const std::string& source) {
  const size_t version = source.find("#version");
  if (version == std::string::npos) return source.c_str();
  const size_t end = source.find('\n', version);
  return end == std::string::npos ? source.c_str() + source.size() : source.c_str() + end + 1;
}

}  // namespace

uint32_t CreateProgram(ShaderStageList stages, const char* prefix) {
  if (prefix == nullptr) prefix = "";
  const std::vector<Stage> list = ReadStages(stages);
  std::vector<GLuint> shaders;
  shaders.reserve(list.size());

  for (const Stage& stage : list) {
    const GLuint shader = glCreateShader(stage.type);
    const GLchar* texts[2] = {prefix, stage.source};
    glShaderSource(shader, 2, texts, nullptr);
    glCompileShader(shader);
    GLint compiled = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (compiled == 1) {
      shaders.push_back(shader);
    } else {
      char log[256] = {};
      glGetShaderInfoLog(shader, sizeof log, nullptr, log);
      GLDiagnostics() << "Compile Shader Failed - " << log << std::endl;
      glDeleteShader(shader);
    }
  }

  GLuint program = glCreateProgram();
  for (GLuint shader : shaders) glAttachShader(program, shader);
  glLinkProgram(program);
  GLint linked = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  if (linked != 1) {
    char log[256] = {};
    glGetProgramInfoLog(program, sizeof log, nullptr, log);
    GLDiagnostics() << "Link Program Failed - " << log << std::endl;
    // The name is handed out as 0, so nobody could ever delete the object behind it.
    glDeleteProgram(program);
    program = 0;
  }
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR)
    GLDiagnostics() << "Prog Error: " << static_cast<int>(error) << std::endl;

  // A linked program keeps its executable; the shader objects are no longer needed.
  for (GLuint shader : shaders) {
    if (program != 0) glDetachShader(program, shader);
    glDeleteShader(shader);
  }
  return program;
}

void DeleteProgram(uint32_t* program) {
  if (program == nullptr || *program == 0) return;
  glDeleteProgram(*program);
  *program = 0;
}

void CreateGLPrograms(GLPrograms* programs) {
  // Filled once from the load-time sources, which live as long as the process. Callers are
  // serialised (global setup, or tls_mutex), so the lists need no lock of their own.
  static ShaderStageWord swizzleIn_params[5];
  static ShaderStageWord displace_params[5];
  static ShaderStageWord blurW_params[5];
  static ShaderStageWord blurH_params[5];
  static ShaderStageWord identity_params[5];
  auto fill = [](ShaderStageWord* list, const std::string& vertex, const std::string& fragment) {
    if (list[0] != 0) return;
    list[1] = StageSource(vertex.c_str());
    list[2] = GL_FRAGMENT_SHADER;
    list[3] = StageSource(fragment.c_str());
    list[4] = 0;
    list[0] = GL_VERTEX_SHADER;
  };
  fill(swizzleIn_params, vert, swizzleIn);
  fill(displace_params, vertIdentity, displace);
  fill(blurW_params, vertIdentity, blurW);
  fill(blurH_params, vertIdentity, blurH);
  fill(identity_params, vertIdentity, identity);

  if (programs == nullptr) return;
  programs->swizzleInProgram = CreateProgram(swizzleIn_params, "");
  programs->displaceProgram = CreateProgram(displace_params, "");
  programs->blurWProgram = CreateProgram(blurW_params, "");
  programs->blurHProgram = CreateProgram(blurH_params, "");
  programs->identityProgram = CreateProgram(identity_params, "");
}

void DeleteGLPrograms(GLPrograms* programs) {
  if (programs == nullptr) return;
  DeleteProgram(&programs->swizzleInProgram);
  DeleteProgram(&programs->displaceProgram);
  DeleteProgram(&programs->blurWProgram);
  DeleteProgram(&programs->blurHProgram);
  DeleteProgram(&programs->identityProgram);
}

ShaderStageList DisplaceVariantStages() {
  static const ShaderStageWord list[5] = {
      GL_VERTEX_SHADER, StageSource(AfterVersionLine(vertIdentity)), GL_FRAGMENT_SHADER,
      StageSource(AfterVersionLine(displace)), 0};
  return list;
}

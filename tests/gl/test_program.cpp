#include "gl_test_support.h"

namespace {

constexpr const char* kColorFragment = R"(#version 330 core
uniform vec4 colorV;
out vec4 frag;
void main() { frag = colorV; })";

// Names of shader and program objects still alive among the first few the context handed out
// (a fresh context numbers them from 1).
int LiveShaders() {
  int alive = 0;
  for (GLuint name = 1; name < 64; ++name) alive += glIsShader(name) ? 1 : 0;
  return alive;
}
int LivePrograms() {
  int alive = 0;
  for (GLuint name = 1; name < 64; ++name) alive += glIsProgram(name) ? 1 : 0;
  return alive;
}

// The prefix carries the version line; unknown words around the stages are skipped.
TEST_F(GLTest, StageListBuildsWithPrefixAndKeepsNoShaderObjects) {
  const char* vertex = "in vec4 vertex;\nvoid main() { gl_Position = vertex * SCALE; }\n";
  const char* fragment = "out vec4 frag;\nvoid main() { frag = vec4(SCALE); }\n";
  const ShaderStageWord stages[] = {0x1234, GL_VERTEX_SHADER,   StageSource(vertex),
                                    0x5678, GL_FRAGMENT_SHADER, StageSource(fragment),
                                    0};
  uint32_t program = 0;
  const std::string out = CaptureOutput(
      [&] { program = CreateProgram(stages, "#version 330 core\n#define SCALE 1.0\n"); });
  EXPECT_EQ(out, "");
  ASSERT_NE(program, 0u);
  GLint linked = 0;
  glGetProgramiv(program, GL_LINK_STATUS, &linked);
  EXPECT_EQ(linked, GL_TRUE);
  EXPECT_EQ(LiveShaders(), 0);
  DeleteProgram(&program);
}

TEST_F(GLTest, FailedBuildsGiveZeroAndLeaveNoObjects) {
  const ShaderStageWord empty[] = {0};
  uint32_t program = 1;
  std::string out = CaptureOutput([&] { program = CreateProgram(empty, ""); });
  EXPECT_EQ(program, 0u);
  EXPECT_EQ(out.rfind("Link Program Failed - ", 0), 0u) << out;
  EXPECT_EQ(LivePrograms(), 0);

  // The vertex stage needs a function from a second vertex shader that does not compile, so the
  // program links without it and fails.
  const char* main_part =
      "#version 330\nvec4 position();\nvoid main() { gl_Position = position(); }\n";
  const char* broken_part = "#version 330\nin vec4 vertex;\nvec4 position() { return vertex }\n";
  const ShaderStageWord split[] = {GL_VERTEX_SHADER,
                                   StageSource(main_part),
                                   GL_VERTEX_SHADER,
                                   StageSource(broken_part),
                                   GL_FRAGMENT_SHADER,
                                   StageSource(kColorFragment),
                                   0};
  program = 1;
  out = CaptureOutput([&] { program = CreateProgram(split, ""); });
  const size_t compile = out.find("Compile Shader Failed - ");
  const size_t link = out.find("Link Program Failed - ");
  EXPECT_EQ(compile, 0u) << out;
  EXPECT_NE(link, std::string::npos) << out;
  EXPECT_GT(link, compile + std::string("Compile Shader Failed - ").size() + 1)
      << "no log: " << out;
  EXPECT_EQ(LiveShaders(), 0);
  EXPECT_EQ(LivePrograms(), 0);

  // A stage list cut off before its source ends there, without reading a null source.
  const ShaderStageWord truncated[] = {GL_VERTEX_SHADER, 0};
  out = CaptureOutput([&] { program = CreateProgram(truncated, ""); });
  EXPECT_EQ(program, 0u);
  EXPECT_EQ(out.rfind("Link Program Failed - ", 0), 0u) << out;

  // The context is still good for a valid program afterwards.
  program = BuildProgram(kQuadVertexShader, kColorFragment);
  EXPECT_NE(program, 0u);
  DeleteProgram(&program);
}

TEST_F(GLTest, DeletingProgramsZeroesNamesAndToleratesRepeats) {
  DeleteProgram(nullptr);
  uint32_t none = 0;
  DeleteProgram(&none);
  EXPECT_EQ(none, 0u);
  DeleteGLPrograms(nullptr);

  GLPrograms programs{};
  uint32_t* fields[] = {&programs.swizzleInProgram, &programs.displaceProgram,
                        &programs.blurWProgram, &programs.blurHProgram, &programs.identityProgram};
  std::vector<uint32_t> names;
  for (uint32_t* field : fields) {
    *field = BuildProgram(kQuadVertexShader, kColorFragment);
    ASSERT_NE(*field, 0u);
    names.push_back(*field);
  }
  DeleteGLPrograms(&programs);
  for (size_t k = 0; k < names.size(); ++k) {
    EXPECT_EQ(*fields[k], 0u);
    EXPECT_FALSE(glIsProgram(names[k]));
  }
  DeleteGLPrograms(&programs);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

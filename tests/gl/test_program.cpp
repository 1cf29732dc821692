#include <string>

#include "gl/program_variants.h"
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

// Variants of one stage list, each named by its prefix; the stages need SCALE from the prefix.
const char* kScaledVertex = "in vec4 vertex;\nvoid main() { gl_Position = vertex * SCALE; }\n";
const char* kScaledFragment = "out vec4 frag;\nvoid main() { frag = vec4(SCALE); }\n";

TEST_F(GLTest, AVariantIsBuiltOnceAndAFailedOneIsNotTriedAgain) {
  const ShaderStageWord stages[] = {GL_VERTEX_SHADER, StageSource(kScaledVertex),
                                    GL_FRAGMENT_SHADER, StageSource(kScaledFragment), 0};
  ProgramVariants variants{};
  const int64_t builds = ProgramVariantBuilds();
  uint32_t two = 0;
  std::string out = CaptureOutput([&] {
    two = FindOrBuildVariant(&variants, stages, "#version 330 core\n#define SCALE 2.0\n");
  });
  EXPECT_EQ(out, "");
  ASSERT_NE(two, 0u);
  EXPECT_EQ(FindOrBuildVariant(&variants, stages, "#version 330 core\n#define SCALE 2.0\n"), two);
  EXPECT_EQ(ProgramVariantBuilds(), builds + 1);

  // Without SCALE neither stage compiles: the failure is printed once and remembered.
  uint32_t broken = 1;
  out =
      CaptureOutput([&] { broken = FindOrBuildVariant(&variants, stages, "#version 330 core\n"); });
  EXPECT_EQ(broken, 0u);
  EXPECT_EQ(out.rfind("Compile Shader Failed - ", 0), 0u) << out;
  out =
      CaptureOutput([&] { broken = FindOrBuildVariant(&variants, stages, "#version 330 core\n"); });
  EXPECT_EQ(broken, 0u);
  EXPECT_EQ(out, "");
  EXPECT_EQ(ProgramVariantBuilds(), builds + 2);

  // A prefix longer than a slot holds is never built, and null arguments build nothing.
  const std::string long_prefix =
      "#version 330 core\n#define SCALE 2.0\n//" + std::string(kVariantPrefixSize, 'x') + "\n";
  EXPECT_EQ(FindOrBuildVariant(&variants, stages, long_prefix.c_str()), 0u);
  EXPECT_EQ(FindOrBuildVariant(nullptr, stages, "#version 330 core\n"), 0u);
  EXPECT_EQ(FindOrBuildVariant(&variants, stages, nullptr), 0u);
  EXPECT_EQ(ProgramVariantBuilds(), builds + 2);

  DeleteProgramVariants(&variants);
  EXPECT_FALSE(glIsProgram(two));
  for (const ProgramVariant& slot : variants.slots) {
    EXPECT_EQ(slot.program, 0u);
    EXPECT_EQ(slot.lastUse, 0u);
  }
  DeleteProgramVariants(&variants);
  DeleteProgramVariants(nullptr);
  // Deleted means forgotten: the same prefix builds again.
  EXPECT_NE(FindOrBuildVariant(&variants, stages, "#version 330 core\n#define SCALE 2.0\n"), 0u);
  EXPECT_EQ(ProgramVariantBuilds(), builds + 3);
  DeleteProgramVariants(&variants);
}

TEST_F(GLTest, TheLeastRecentlyUsedVariantMakesRoomAndItsProgramIsDeleted) {
  const ShaderStageWord stages[] = {GL_VERTEX_SHADER, StageSource(kScaledVertex),
                                    GL_FRAGMENT_SHADER, StageSource(kScaledFragment), 0};
  auto prefix = [](int k) {
    return "#version 330 core\n#define SCALE " + std::to_string(k) + ".0\n";
  };
  ProgramVariants variants{};
  std::vector<uint32_t> names;
  for (int k = 0; k < kMaxProgramVariants; ++k) {
    names.push_back(FindOrBuildVariant(&variants, stages, prefix(k).c_str()));
    ASSERT_NE(names.back(), 0u) << k;
  }
  // Using the first again makes the second the oldest.
  EXPECT_EQ(FindOrBuildVariant(&variants, stages, prefix(0).c_str()), names[0]);
  const int64_t builds = ProgramVariantBuilds();
  EXPECT_NE(FindOrBuildVariant(&variants, stages, prefix(kMaxProgramVariants).c_str()), 0u);
  EXPECT_EQ(ProgramVariantBuilds(), builds + 1);
  EXPECT_FALSE(glIsProgram(names[1]));
  EXPECT_TRUE(glIsProgram(names[0]));
  EXPECT_EQ(FindOrBuildVariant(&variants, stages, prefix(0).c_str()), names[0]);
  EXPECT_EQ(FindOrBuildVariant(&variants, stages, prefix(2).c_str()), names[2]);
  EXPECT_EQ(ProgramVariantBuilds(), builds + 1);
  // The same prefix on another stage list is another variant.
  const ShaderStageWord other[] = {GL_VERTEX_SHADER, StageSource(kScaledVertex), GL_FRAGMENT_SHADER,
                                   StageSource(kScaledFragment), 0};
  EXPECT_NE(FindOrBuildVariant(&variants, other, prefix(0).c_str()), names[0]);
  DeleteProgramVariants(&variants);
  for (uint32_t name : names) EXPECT_FALSE(glIsProgram(name));
}

}  // namespace

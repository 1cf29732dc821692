// The sources as texts and the names the render code binds them by.
#include <set>
#include <string>

#include "shader_harness.h"
#include "shaders/sources.h"

namespace {

TEST(ShaderSources, StartWithOneOrTwoEmptyLinesThenTheirVersion) {
  const struct {
    const char* name;
    const std::string& source;
    const char* version;
  } cases[] = {
      {"vert", vert, "#version 330"},
      {"vertIdentity", vertIdentity, "#version 330"},
      {"swizzleIn", swizzleIn, "#version 330 core"},
      {"identity", identity, "#version 330 core"},
      {"blurW", blurW, "#version 330 core"},
      {"blurH", blurH, "#version 330 core"},
      {"displace", displace, "#version 330 core"},
  };
  for (const auto& c : cases) {
    const size_t first = c.source.find_first_not_of('\n');
    ASSERT_NE(first, std::string::npos) << c.name << " is empty";
    EXPECT_GE(first, 1u) << c.name;
    EXPECT_LE(first, 2u) << c.name;
    EXPECT_EQ(c.source.substr(first, c.source.find('\n', first) - first), c.version) << c.name;
  }
}

TEST_F(ShaderTest, AllFiveProgramsLinkWithoutAMessage) {
  GLPrograms fresh{};
  const std::string output = CaptureOutput([&fresh] { CreateGLPrograms(&fresh); });
  EXPECT_EQ(output, "");
  EXPECT_NE(fresh.swizzleInProgram, 0u);
  EXPECT_NE(fresh.displaceProgram, 0u);
  EXPECT_NE(fresh.blurWProgram, 0u);
  EXPECT_NE(fresh.blurHProgram, 0u);
  EXPECT_NE(fresh.identityProgram, 0u);
  DeleteGLPrograms(&fresh);
}

std::set<std::string> ActiveNames(GLuint program, GLenum count_query, bool uniforms) {
  GLint count = 0;
  glGetProgramiv(program, count_query, &count);
  std::set<std::string> names;
  for (GLint i = 0; i < count; ++i) {
    // The binding code reads names into 32-byte buffers; a longer one would come back cut.
    char name[64] = {};
    GLsizei length = 0;
    GLint size = 0;
    GLenum type = 0;
    if (uniforms) {
      glGetActiveUniform(program, static_cast<GLuint>(i), sizeof name, &length, &size, &type, name);
    } else {
      glGetActiveAttrib(program, static_cast<GLuint>(i), sizeof name, &length, &size, &type, name);
    }
    EXPECT_LT(length, 32) << name;
    names.insert(name);
  }
  return names;
}

TEST_F(ShaderTest, ProgramsUseExactlyTheNamesTheRenderBindsBy) {
  using Names = std::set<std::string>;
  const Names blur = {"videoTexture", "radiusF", "resV"};
  const struct {
    const char* name;
    GLuint program;
    Names uniforms;
  } cases[] = {
      {"swizzleIn",
       programs_.swizzleInProgram,
       {"xform", "videoTexture", "premultB", "mapInputMixF", "videoTexture2"}},
      {"blurW", programs_.blurWProgram, blur},
      {"blurH", programs_.blurHProgram, blur},
      {"identity", programs_.identityProgram, {"inTex"}},
      {"displace",
       programs_.displaceProgram,
       {"inTex",
        "displaceTex",
        "usingAuxTex",
        "srcL",
        "invert",
        "legacyB",
        "viewMapL",
        "gammaF",
        "offsetF",
        "easingL",
        "bpc",
        "resV",
        "iterL",
        "prev_translateX",
        "prev_translateY",
        "prev_anchorX",
        "prev_anchorY",
        "prev_rot",
        "prev_scaleX",
        "prev_scaleY",
        "next_translateX",
        "next_translateY",
        "next_anchorX",
        "next_anchorY",
        "next_rot",
        "next_scaleX",
        "next_scaleY",
        "clampOverflowXformsL",
        "usingCA",
        "redMult",
        "greenMult",
        "blueMult"}},
  };
  for (const auto& c : cases) {
    ASSERT_NE(c.program, 0u) << c.name;
    EXPECT_EQ(ActiveNames(c.program, GL_ACTIVE_UNIFORMS, true), c.uniforms) << c.name;
    EXPECT_EQ(ActiveNames(c.program, GL_ACTIVE_ATTRIBUTES, false), (Names{"vertex", "tex"}))
        << c.name;
  }
}

}  // namespace

#include <algorithm>

#include "gl/quad.h"
#include "gl/uniforms.h"
#include "gl_test_support.h"

namespace {

// Every uniform kind, each one used so that none is optimised away.
constexpr const char* kAllKindsFragment = R"(#version 330 core
in vec2 out_uvs;
uniform uint countU;
uniform int iterL;
uniform ivec2 sizeV2;
uniform ivec3 sizeV3;
uniform ivec4 sizeV4;
uniform float radiusF;
uniform vec2 resV;
uniform vec3 colV3;
uniform vec4 colV4;
uniform mat4 xform;
uniform sampler1D lineT;
uniform sampler2D imageT;
out vec4 frag;
void main() {
  float s = float(countU) + float(iterL) + float(sizeV2.x + sizeV3.y + sizeV4.w) + radiusF +
            resV.y + colV3.z + colV4.w;
  frag = xform * vec4(s) + texture(lineT, out_uvs.x) + texture(imageT, out_uvs);
})";

GLuint MakeTexture(GLenum target, const float* texel) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(target, texture);
  glTexParameteri(target, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(target, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  if (target == GL_TEXTURE_1D) {
    glTexImage1D(target, 0, GL_RGBA32F, 1, 0, GL_RGBA, GL_FLOAT, texel);
  } else {
    glTexImage2D(target, 0, GL_RGBA32F, 1, 1, 0, GL_RGBA, GL_FLOAT, texel);
  }
  glBindTexture(target, 0);
  return texture;
}

GLint BoundOnUnit(GLint unit, GLenum binding) {
  glActiveTexture(GL_TEXTURE0 + static_cast<GLenum>(unit));
  GLint texture = 0;
  glGetIntegerv(binding, &texture);
  return texture;
}

TEST_F(GLTest, EveryUniformKindIsApplied) {
  uint32_t program = BuildProgram(kQuadVertexShader, kAllKindsFragment);
  ASSERT_NE(program, 0u);
  const float texel[4] = {0, 0, 0, 0};
  const GLuint line = MakeTexture(GL_TEXTURE_1D, texel);
  const GLuint image = MakeTexture(GL_TEXTURE_2D, texel);
  Matrix44f m;
  for (int k = 0; k < 16; ++k) m.m[k] = static_cast<float>(k + 1);

  const UniformMap uniforms = {{"countU", UIVEC(4000000000u)},
                               {"iterL", IVEC(-7)},
                               {"sizeV2", IVEC2({1, 2})},
                               {"sizeV3", IVEC3({3, 4, 5})},
                               {"sizeV4", IVEC4({6, 7, 8, 9})},
                               {"radiusF", VEC(0.5f)},
                               {"resV", VEC2({1.5f, 2.5f})},
                               {"colV3", VEC3({0.1f, 0.2f, 0.3f})},
                               {"colV4", VEC4({0.4f, 0.5f, 0.6f, 0.7f})},
                               {"xform", MAT44(m)},
                               {"lineT", TEX1D(line)},
                               {"imageT", TEX2D(image)}};
  const std::string out = CaptureOutput([&] { SetProgramUniforms(program, uniforms); });
  EXPECT_EQ(out, "");

  GLint current = 0;
  glGetIntegerv(GL_CURRENT_PROGRAM, &current);
  EXPECT_EQ(static_cast<uint32_t>(current), program);
  auto loc = [&](const char* name) { return glGetUniformLocation(program, name); };
  auto ints = [&](const char* name, int n) {
    GLint v[4] = {};
    glGetUniformiv(program, loc(name), v);
    return std::vector<GLint>(v, v + n);
  };
  auto floats = [&](const char* name, int n) {
    GLfloat v[16] = {};
    glGetUniformfv(program, loc(name), v);
    return std::vector<float>(v, v + n);
  };
  GLuint u = 0;
  glGetUniformuiv(program, loc("countU"), &u);
  EXPECT_EQ(u, 4000000000u);
  EXPECT_EQ(ints("iterL", 1), (std::vector<GLint>{-7}));
  EXPECT_EQ(ints("sizeV2", 2), (std::vector<GLint>{1, 2}));
  EXPECT_EQ(ints("sizeV3", 3), (std::vector<GLint>{3, 4, 5}));
  EXPECT_EQ(ints("sizeV4", 4), (std::vector<GLint>{6, 7, 8, 9}));
  EXPECT_EQ(floats("radiusF", 1), (std::vector<float>{0.5f}));
  EXPECT_EQ(floats("resV", 2), (std::vector<float>{1.5f, 2.5f}));
  EXPECT_EQ(floats("colV3", 3), (std::vector<float>{0.1f, 0.2f, 0.3f}));
  EXPECT_EQ(floats("colV4", 4), (std::vector<float>{0.4f, 0.5f, 0.6f, 0.7f}));
  // GL gives the matrix back in the order it was handed over: untransposed, that is the
  // Matrix44f's own storage order.
  EXPECT_EQ(floats("xform", 16), std::vector<float>(m.m, m.m + 16));

  const GLint line_unit = ints("lineT", 1)[0];
  const GLint image_unit = ints("imageT", 1)[0];
  EXPECT_NE(line_unit, image_unit);
  EXPECT_TRUE(line_unit == 0 || line_unit == 1) << line_unit;
  EXPECT_TRUE(image_unit == 0 || image_unit == 1) << image_unit;
  EXPECT_EQ(BoundOnUnit(line_unit, GL_TEXTURE_BINDING_1D), static_cast<GLint>(line));
  EXPECT_EQ(BoundOnUnit(image_unit, GL_TEXTURE_BINDING_2D), static_cast<GLint>(image));

  glUseProgram(0);
  glDeleteTextures(1, &line);
  glDeleteTextures(1, &image);
  DeleteProgram(&program);
}

TEST_F(GLTest, TwoTexturesSampleFromTheirOwnUnits) {
  const char* fragment = R"(#version 330 core
in vec2 out_uvs;
uniform sampler2D firstT;
uniform sampler2D secondT;
out vec4 frag;
void main() { frag = texture(firstT, out_uvs) + 2.0 * texture(secondT, out_uvs); })";
  uint32_t program = BuildProgram(kQuadVertexShader, fragment);
  ASSERT_NE(program, 0u);
  const float red[4] = {1, 0, 0, 0};
  const float green[4] = {0, 1, 0, 0};
  const GLuint first = MakeTexture(GL_TEXTURE_2D, red);
  const GLuint second = MakeTexture(GL_TEXTURE_2D, green);
  PX_FBO target = FBOHelper::CreateTextureFBO(2, 2, GL_CLAMP_TO_EDGE, GL_NEAREST, GL_RGBA32F, 0);

  const UniformMap uniforms = {{"firstT", TEX2D(first)}, {"secondT", TEX2D(second)}};
  const std::string out =
      CaptureOutput([&] { RenderQuad(&target, program, uniforms, 0, A_FloatRect{}, false); });
  EXPECT_EQ(out, "");
  GLint units[2] = {-1, -1};
  glGetUniformiv(program, glGetUniformLocation(program, "firstT"), &units[0]);
  glGetUniformiv(program, glGetUniformLocation(program, "secondT"), &units[1]);
  EXPECT_EQ(std::min(units[0], units[1]), 0);
  EXPECT_EQ(std::max(units[0], units[1]), 1);

  HostBuffer<float> read = ReadTarget(target);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) {
      const float* p = read.Pixel(x, y);
      EXPECT_EQ(std::vector<float>(p, p + 4), (std::vector<float>{1, 2, 0, 0})) << x << "," << y;
    }
  }
  glDeleteTextures(1, &first);
  glDeleteTextures(1, &second);
  FBOHelper::DeleteGenericFBO(&target);
  DeleteProgram(&program);
}

TEST_F(GLTest, UnsetUniformsAreListedAndUnknownOnesIgnored) {
  const char* fragment = R"(#version 330 core
uniform float gainF;
uniform float biasF;
out vec4 frag;
void main() { frag = vec4(gainF + biasF); })";
  uint32_t program = BuildProgram(kQuadVertexShader, fragment);
  ASSERT_NE(program, 0u);
  const UniformMap uniforms = {{"gainF", VEC(2.0f)}, {"notDeclaredF", VEC(1.0f)}};
  const std::string out = CaptureOutput([&] { SetProgramUniforms(program, uniforms); });
  EXPECT_EQ(out, "Num Uniforms: 2\nThe Following Uniforms are not set:\nbiasF\n");
  GLfloat gain = 0;
  glGetUniformfv(program, glGetUniformLocation(program, "gainF"), &gain);
  EXPECT_EQ(gain, 2.0f);

  // A value of the wrong kind is reported and the rest still applied.
  const UniformMap wrong = {{"gainF", IVEC(3)}, {"biasF", VEC(0.25f)}};
  const std::string wrong_out = CaptureOutput([&] { SetProgramUniforms(program, wrong); });
  const std::string prefix =
      "Uniform Error: gainF:" + std::to_string(glGetUniformLocation(program, "gainF")) + ":";
  EXPECT_EQ(wrong_out.rfind(prefix, 0), 0u) << wrong_out;
  EXPECT_NE(wrong_out.find("\nUni Value: 3\n"), std::string::npos) << wrong_out;
  GLfloat bias = 0;
  glGetUniformfv(program, glGetUniformLocation(program, "biasF"), &bias);
  EXPECT_EQ(bias, 0.25f);

  glUseProgram(0);
  DeleteProgram(&program);
}

TEST_F(GLTest, UniformsForProgramZeroOnlyReport) {
  const std::string out = CaptureOutput([] { SetProgramUniforms(0, {{"gainF", VEC(1.0f)}}); });
  EXPECT_EQ(out, "Program Not Linked : 0\nNo Active Uniforms for prog: 0\n");
  while (glGetError() != GL_NO_ERROR) {
  }
}

TEST_F(GLTest, QuadAttributesAreSetByName) {
  uint32_t program = BuildProgram(kQuadVertexShader, R"(#version 330 core
in vec2 out_uvs;
out vec4 frag;
void main() { frag = vec4(out_uvs, 0.0, 1.0); })");
  ASSERT_NE(program, 0u);
  GL_Pod pod = CreateQuad(program, {}, 0, A_FloatRect{});
  ASSERT_EQ(pod.buffers.size(), 2u);
  EXPECT_EQ(pod.attributes.count("texCoordIn"), 1u);
  GLuint vertex_array = 0;
  glGenVertexArrays(1, &vertex_array);
  const std::string out =
      CaptureOutput([&] { SetProgramAttributes(vertex_array, program, pod.attributes); });
  EXPECT_EQ(out, "");

  GLint bound = -1;
  glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &bound);
  EXPECT_EQ(bound, 0);
  glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
  EXPECT_EQ(bound, 0);

  glBindVertexArray(vertex_array);
  struct Expected {
    const char* name;
    GLuint buffer;
    GLint size;
    GLint stride;
  };
  for (const Expected& e :
       {Expected{"vertex", pod.buffers[0], 4, 16}, Expected{"tex", pod.buffers[1], 2, 8}}) {
    const GLint location = glGetAttribLocation(program, e.name);
    ASSERT_GE(location, 0) << e.name;
    const auto index = static_cast<GLuint>(location);
    auto get = [index](GLenum what) {
      GLint value = 0;
      glGetVertexAttribiv(index, what, &value);
      return value;
    };
    const std::vector<GLint> expected = {
        GL_TRUE, static_cast<GLint>(e.buffer), e.size, e.stride, GL_FLOAT, GL_FALSE};
    EXPECT_EQ((std::vector<GLint>{
                  get(GL_VERTEX_ATTRIB_ARRAY_ENABLED), get(GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING),
                  get(GL_VERTEX_ATTRIB_ARRAY_SIZE), get(GL_VERTEX_ATTRIB_ARRAY_STRIDE),
                  get(GL_VERTEX_ATTRIB_ARRAY_TYPE), get(GL_VERTEX_ATTRIB_ARRAY_NORMALIZED)}),
              expected)
        << e.name;
  }
  glBindVertexArray(0);
  glDeleteVertexArrays(1, &vertex_array);
  glDeleteBuffers(2, pod.buffers.data());
  DeleteProgram(&program);
}

TEST_F(GLTest, UnsetAttributesAreListed) {
  uint32_t program = BuildProgram(R"(#version 330
in vec4 vertex;
in float weight;
out vec2 out_uvs;
void main() {
  out_uvs = vec2(weight);
  gl_Position = vertex;
})",
                                  R"(#version 330 core
in vec2 out_uvs;
out vec4 frag;
void main() { frag = vec4(out_uvs, 0.0, 1.0); })");
  ASSERT_NE(program, 0u);
  GL_Pod pod = CreateQuad(program, {}, 0, A_FloatRect{});
  GLuint vertex_array = 0;
  glGenVertexArrays(1, &vertex_array);
  const std::string out =
      CaptureOutput([&] { SetProgramAttributes(vertex_array, program, pod.attributes); });
  EXPECT_EQ(out, "The Following Attributes are not set:\nweight\n");
  glDeleteVertexArrays(1, &vertex_array);
  glDeleteBuffers(2, pod.buffers.data());
  DeleteProgram(&program);
}

}  // namespace

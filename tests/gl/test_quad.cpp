#include "gl/quad.h"
#include "gl_test_support.h"

namespace {

// Writes the texture coordinate and a sampled value; with additive blending a pixel drawn twice
// shows twice the value.
constexpr const char* kProbeFragment = R"(#version 330 core
in vec2 out_uvs;
uniform sampler2D valueT;
out vec4 frag;
void main() { frag = vec4(out_uvs, texture(valueT, out_uvs).r, 0.0); })";

class QuadTest : public GLTest {
 protected:
  void SetUp() override {
    GLTest::SetUp();
    if (HasFatalFailure()) return;
    program_ = BuildProgram(kQuadVertexShader, kProbeFragment);
    ASSERT_NE(program_, 0u);
    const float quarter[4] = {0.25f, 0, 0, 0};
    glGenTextures(1, &value_);
    glBindTexture(GL_TEXTURE_2D, value_);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 1, 1, 0, GL_RGBA, GL_FLOAT, quarter);
    glBindTexture(GL_TEXTURE_2D, 0);
  }
  void TearDown() override {
    glDeleteTextures(1, &value_);
    DeleteProgram(&program_);
    GLTest::TearDown();
  }

  PX_FBO Target(uint32_t width, uint32_t height) {
    PX_FBO target;
    CaptureOutput([&] {
      target =
          FBOHelper::CreateTextureFBO(width, height, GL_CLAMP_TO_EDGE, GL_NEAREST, GL_RGBA32F, 0);
    });
    return target;
  }

  uint32_t program_ = 0;
  GLuint value_ = 0;
};

TEST_F(QuadTest, QuadCoversEveryPixelOnceAndCleansUp) {
  PX_FBO target = Target(320, 240);
  ASSERT_NE(target.fbo, 0u);
  glEnable(GL_BLEND);
  glBlendFunc(GL_ONE, GL_ONE);
  const std::string out = CaptureOutput([&] {
    RenderQuad(&target, program_, {{"valueT", TEX2D(value_)}}, 0, A_FloatRect{}, false);
  });
  glDisable(GL_BLEND);
  EXPECT_EQ(out, "");

  GLint viewport[4] = {};
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(std::vector<GLint>(viewport, viewport + 4), (std::vector<GLint>{0, 0, 320, 240}));
  for (GLenum binding : {GL_FRAMEBUFFER_BINDING, GL_CURRENT_PROGRAM, GL_VERTEX_ARRAY_BINDING,
                         GL_ARRAY_BUFFER_BINDING}) {
    GLint bound = -1;
    glGetIntegerv(binding, &bound);
    EXPECT_EQ(bound, 0) << "binding 0x" << std::hex << binding;
  }
  GLint texture = 0;
  glActiveTexture(GL_TEXTURE0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
  EXPECT_EQ(static_cast<GLuint>(texture), value_);
  for (GLuint name = 1; name < 32; ++name) {
    EXPECT_FALSE(glIsBuffer(name)) << name;
    EXPECT_FALSE(glIsVertexArray(name)) << name;
    EXPECT_TRUE(name == target.fbo || !glIsFramebuffer(name)) << name;
  }

  // Texture coordinates run from 0 at framebuffer row 0 and column 0, sampled at pixel centres.
  HostBuffer<float> read = ReadTarget(target);
  int wrong = 0;
  for (int y = 0; y < 240; ++y) {
    for (int x = 0; x < 320; ++x) {
      const float* p = read.Pixel(x, y);
      const bool ok = std::abs(p[0] - (x + 0.5f) / 320.0f) < 1e-4f &&
                      std::abs(p[1] - (y + 0.5f) / 240.0f) < 1e-4f && p[2] == 0.25f && p[3] == 0.0f;
      if (!ok && wrong++ < 5) {
        ADD_FAILURE() << "pixel " << x << "," << y << ": " << p[0] << " " << p[1] << " " << p[2];
      }
    }
  }
  EXPECT_EQ(wrong, 0);
  FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(QuadTest, RectangleSelectsTheTextureCoordinates) {
  PX_FBO target = Target(4, 4);
  const A_FloatRect middle{0.25, 0.25, 0.75, 0.75};
  RenderQuad(&target, program_, {{"valueT", TEX2D(value_)}}, 1, middle, true);
  HostBuffer<float> read = ReadTarget(target);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_NEAR(read.Pixel(x, y)[0], 0.25f + 0.5f * (x + 0.5f) / 4.0f, 1e-5f) << x << "," << y;
      EXPECT_NEAR(read.Pixel(x, y)[1], 0.25f + 0.5f * (y + 0.5f) / 4.0f, 1e-5f) << x << "," << y;
    }
  }
  FBOHelper::DeleteGenericFBO(&target);
}

// The lower-left triangle of the quad, drawn by index as triangles in both windings.
TEST_F(QuadTest, IndexedDrawCullsOnlyDuringTheDraw) {
  PX_FBO target = Target(8, 8);
  GL_Pod pod = CreateQuad(program_, {{"valueT", TEX2D(value_)}}, 0, A_FloatRect{});
  const uint32_t clockwise[3] = {0, 2, 1};
  const uint32_t counter_clockwise[3] = {0, 1, 2};
  GLuint vertex_array = 0;
  glGenVertexArrays(1, &vertex_array);
  SetProgramAttributes(vertex_array, program_, pod.attributes);
  SetProgramUniforms(program_, pod.uniforms);
  pod.params[kPodMode] = GL_TRIANGLES;
  pod.params[kPodCount] = 3;
  pod.params[kPodCullFace] = GL_BACK;

  auto covered = [&] {
    int count = 0;
    HostBuffer<float> read = ReadTarget(target);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) count += read.Pixel(x, y)[2] > 0.0f ? 1 : 0;
    }
    return count;
  };
  for (const uint32_t* indices : {clockwise, counter_clockwise}) {
    GLuint index_buffer = CreateBuffer(indices, 12, GL_ELEMENT_ARRAY_BUFFER, GL_STATIC_DRAW);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    pod.params[kPodIndexBuffer] = index_buffer;
    RenderGeneric({0, 0, 8, 8}, pod.params, vertex_array, target.fbo, program_);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    glDeleteBuffers(1, &index_buffer);
    // Culled away in clockwise order; below the diagonal (28 pixel centres plus the diagonal's
    // 8, which the top-left fill rule gives to this triangle or not) when facing us.
    const int count = covered();
    if (indices == clockwise) {
      EXPECT_EQ(count, 0);
    } else {
      EXPECT_TRUE(count == 28 || count == 36) << count;
    }
  }
  glDeleteVertexArrays(1, &vertex_array);
  glDeleteBuffers(2, pod.buffers.data());
  FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(GLTest, BufferErrorsAreReportedAndTheNameKept) {
  const float data[4] = {};
  uint32_t buffer = 0;
  const std::string out =
      CaptureOutput([&] { buffer = CreateBuffer(data, sizeof data, GL_ARRAY_BUFFER, 0x1234); });
  EXPECT_EQ(out, "VRNX: create buffer error: " + std::to_string(GL_INVALID_ENUM) + "\n");
  EXPECT_NE(buffer, 0u);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  glDeleteBuffers(1, &buffer);
}

TEST_F(GLTest, QuadWithoutTargetDrawsNothing) {
  const std::string out =
      CaptureOutput([] { RenderQuad(nullptr, 0, {}, 0, A_FloatRect{}, false); });
  EXPECT_EQ(out, "VRNX: RenderQuad() called without a target\n");
}

}  // namespace

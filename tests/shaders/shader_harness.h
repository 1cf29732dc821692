// Runs the effect's programs over small float images and reads the results back.
//
// Images are stored row 0 first, four floats per texel in the texture's channel order. A texel
// (x, y) of a target is drawn with out_uvs ((x + 0.5) / width, (y + 0.5) / height), and row y of an
// uploaded image is texture row y, so pixel positions line up between inputs and outputs.
#pragma once

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "gl/context.h"
#include "gl/fbo.h"
#include "gl/program.h"
#include "gl/quad.h"
#include "gl/uniforms.h"
#include "support/output_capture.h"

using Px = std::array<float, 4>;

struct Image {
  int width = 0;
  int height = 0;
  std::vector<Px> texels;

  static Image Filled(int w, int h, Px value) {
    return {w, h, std::vector<Px>(static_cast<size_t>(w * h), value)};
  }
  Px& at(int x, int y) { return texels[static_cast<size_t>(y * width + x)]; }
  const Px& at(int x, int y) const { return texels[static_cast<size_t>(y * width + x)]; }
  // Clamped to the edge, like GL_CLAMP_TO_EDGE.
  const Px& clamped(int x, int y) const {
    x = x < 0 ? 0 : (x >= width ? width - 1 : x);
    y = y < 0 ? 0 : (y >= height ? height - 1 : y);
    return at(x, y);
  }
};

inline std::string Show(const Px& p) {
  char text[96];
  std::snprintf(text, sizeof text, "(%.7g, %.7g, %.7g, %.7g)", p[0], p[1], p[2], p[3]);
  return text;
}

inline ::testing::AssertionResult Near(const Px& actual, const Px& expected, float tolerance) {
  for (int c = 0; c < 4; ++c) {
    if (!(std::fabs(actual[c] - expected[c]) <= tolerance)) {
      return ::testing::AssertionFailure()
             << "got " << Show(actual) << ", expected " << Show(expected) << " (channel " << c
             << ", tolerance " << tolerance << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

// Every texel of `actual` near `expected(x, y)`.
template <typename Expected>
void ExpectImage(const Image& actual, Expected expected, float tolerance) {
  for (int y = 0; y < actual.height; ++y) {
    for (int x = 0; x < actual.width; ++x) {
      EXPECT_TRUE(Near(actual.at(x, y), expected(x, y), tolerance))
          << "at (" << x << ", " << y << ")";
    }
  }
}

// One context with the effect's five programs for a whole test suite.
class ShaderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ctx_ = CreateContext(nullptr, nullptr);
    if (ctx_ == nullptr) return;
    SetCurrentContext(ctx_);
    CreateGLPrograms(&programs_);
  }
  static void TearDownTestSuite() {
    if (ctx_ == nullptr) return;
    SetCurrentContext(ctx_);
    DeleteGLPrograms(&programs_);
    DeleteContext(ctx_);
    ctx_ = nullptr;
    SetCurrentContext(nullptr);
  }

  void SetUp() override {
    ASSERT_NE(ctx_, nullptr) << "no GL context";
    SetCurrentContext(ctx_);
  }
  void TearDown() override {
    for (GLuint texture : textures_) glDeleteTextures(1, &texture);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  }

  // A float texture holding the image's channels as they are, deleted after the test.
  GLuint Upload(const Image& image, GLint filter = GL_NEAREST) {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, image.width, image.height, 0, GL_RGBA, GL_FLOAT,
                 image.texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glBindTexture(GL_TEXTURE_2D, 0);
    textures_.push_back(texture);
    return texture;
  }

  // Runs `program` over a cleared width × height RGBA32F target and reads it back.
  static Image Draw(GLuint program, const UniformMap& uniforms, int width, int height) {
    EXPECT_NE(program, 0u) << "program did not link";
    PX_FBO target =
        FBOHelper::CreateTextureFBO(static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                                    GL_CLAMP_TO_EDGE, GL_NEAREST, GL_RGBA32F, 0);
    EXPECT_NE(target.fbo, 0u);
    RenderQuad(&target, program, uniforms, 0, A_FloatRect{}, false);
    Image result = Image::Filled(width, height, {-9.0f, -9.0f, -9.0f, -9.0f});
    glBindFramebuffer(GL_READ_FRAMEBUFFER, target.fbo);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, result.texels.data());
    glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    FBOHelper::DeleteGenericFBO(&target);
    return result;
  }

  static inline CGLContextObj ctx_ = nullptr;
  static inline GLPrograms programs_{};
  std::vector<GLuint> textures_;
};

// A fresh GL context of the effect's own kind, current for one test, and a check that the test
// left no GL error behind.
#pragma once

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include "gl/context.h"

class GLTest : public testing::Test {
 protected:
  void SetUp() override {
    ctx_ = CreateContext(nullptr, nullptr);
    ASSERT_NE(ctx_, nullptr) << "no GL context on platform " << cgl::PlatformName();
    SetCurrentContext(ctx_);
    ASSERT_EQ(GetCurrentContext(), ctx_);
  }
  void TearDown() override {
    if (ctx_ != nullptr) {
      EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << "GL error left by the test";
    }
    DeleteContext(ctx_);
  }

  CGLContextObj ctx_ = nullptr;
};

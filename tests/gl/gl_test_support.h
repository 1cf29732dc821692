// Small host buffers and shaders for the tests of the GL layer.
#pragma once

#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "gl/context.h"
#include "gl/fbo.h"
#include "gl/program.h"
#include "gl/quad.h"
#include "support/gl_fixture.h"
#include "support/output_capture.h"

inline constexpr const char* kQuadVertexShader = R"(#version 330
in vec4 vertex;
in vec2 tex;
out vec2 out_uvs;
void main() {
  out_uvs = tex;
  gl_Position = vec4(vertex.xyz, 1.0);
})";

inline uint32_t BuildProgram(const char* vertex, const char* fragment) {
  const ShaderStageWord stages[] = {GL_VERTEX_SHADER, StageSource(vertex), GL_FRAGMENT_SHADER,
                                    StageSource(fragment), 0};
  return CreateProgram(stages, "");
}

// The full-screen quad carrying `uniforms`, for tests that draw it one call at a time.
inline GL_Pod CreateQuad(uint32_t program, const UniformMap& uniforms, uint8_t use_rect,
                         const A_FloatRect& rect) {
  GL_Pod pod = QuadGeometry(program, use_rect, rect);
  pod.uniforms = uniforms;
  return pod;
}

// A host buffer of `width` × `height` pixels whose rows carry `pad` extra pixels.
template <typename Channel>
struct HostBuffer {
  HostBuffer(int width, int height, int pad, Channel fill)
      : row_pixels(width + pad), storage(static_cast<size_t>(row_pixels * height * 4), fill) {
    def.data = storage.data();
    def.rowbytes = row_pixels * 4 * static_cast<int>(sizeof(Channel));
    def.width = width;
    def.height = height;
  }
  Channel* Pixel(int x, int y) { return &storage[static_cast<size_t>((y * row_pixels + x) * 4)]; }
  // Rows allocated, which may be more than def.height.
  int Rows() const { return static_cast<int>(storage.size()) / (row_pixels * 4); }
  // Channel c of pixel (x, y) within def's rectangle set to value(x, y, c).
  template <typename Value>
  void Paint(Value value) {
    for (int y = 0; y < def.height; ++y)
      for (int x = 0; x < def.width; ++x)
        for (int c = 0; c < 4; ++c) Pixel(x, y)[c] = static_cast<Channel>(value(x, y, c));
  }

  int row_pixels;
  std::vector<Channel> storage;
  PF_LayerDef def{};
};

// `back` holds `source`'s pixels within its rectangle and still `fill` everywhere else, row
// padding and rows past its height included: a transfer wrote exactly the rectangle, unsheared.
template <typename Channel>
void ExpectOnlyTheRectangleWritten(HostBuffer<Channel>& back, HostBuffer<Channel>& source,
                                   Channel fill) {
  for (int y = 0; y < back.Rows(); ++y) {
    for (int x = 0; x < back.row_pixels; ++x) {
      for (int c = 0; c < 4; ++c) {
        const bool inside = x < back.def.width && y < back.def.height;
        const Channel expected = inside ? source.Pixel(x, y)[c] : fill;
        // Unary plus prints bytes as numbers.
        EXPECT_EQ(+back.Pixel(x, y)[c], +expected) << x << "," << y << " channel " << c;
      }
    }
  }
}

// The whole colour texture of `target`, read at 32 bits.
inline HostBuffer<float> ReadTarget(PX_FBO& target) {
  HostBuffer<float> read(static_cast<int>(target.color.width),
                         static_cast<int>(target.color.height), 0, -1.0f);
  FBOHelper::FBOtoEffectWorld(target, &read.def, 32, GL_COLOR_ATTACHMENT0);
  return read;
}

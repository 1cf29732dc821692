// The GLSL texts of the effect's five programs, compiled into the module.
//
// Conventions shared by every source:
// - Texture coordinates run 0..1 across the frame; coordinate 0 in y is the first row of the host
//   buffer. Texel centres sit at (i + 0.5) / size.
// - Host pixels arrive in alpha-red-green-blue order in the four texture channels. swizzleIn turns
//   them into red-green-blue-alpha once; every later pass reads red-green-blue-alpha, and the
//   displacement pass writes alpha-red-green-blue again so the read-back is the host's order.
// - Each text starts with an empty line so that the version directive is the first thing after
//   white space, and every name stays under 32 characters (the binding code reads names back into
//   32-byte buffers).
#pragma once

#include "shaders/displace_glsl.h"

// Transforming vertex shader, used only to place the map layer over the input. The position is
// multiplied as a row vector by xform: xform arrives untransposed from a row-major matrix, so this
// applies that matrix to column vectors.
inline constexpr const char* kVertSource = R"glsl(
#version 330
in vec4 vertex;
in vec2 tex;
uniform mat4 xform;
out vec2 out_uvs;

void main() {
  gl_Position = vec4(vertex.xyz, 1.0) * xform;
  out_uvs = tex;
}
)glsl";

// Pass-through vertex shader for every full-frame pass.
inline constexpr const char* kVertIdentitySource = R"glsl(
#version 330
in vec4 vertex;
in vec2 tex;
out vec2 out_uvs;

void main() {
  gl_Position = vec4(vertex.xyz, 1.0);
  out_uvs = tex;
}
)glsl";

// Map preparation: reorders a host pixel to red-green-blue-alpha, optionally premultiplies it and
// mixes in a second image that is already in red-green-blue-alpha order.
inline constexpr const char* kSwizzleInSource = R"glsl(
#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform int premultB;
uniform float mapInputMixF;
uniform sampler2D videoTexture2;
out vec4 colourOut;

void main() {
  vec4 c = texture(videoTexture, out_uvs).gbar;
  if (premultB == 1) c.rgb *= c.a;
  // The second image is only read when it contributes.
  if (mapInputMixF > 0.0) {
    vec4 t2 = texture(videoTexture2, out_uvs);
    c = c * (1.0 - mapInputMixF) + t2 * mapInputMixF;
  }
  colourOut = c;
}
)glsl";

// Plain copy; with nearest filtering into a target of the same size it is exact.
inline constexpr const char* kIdentitySource = R"glsl(
#version 330 core
in vec2 out_uvs;
uniform sampler2D inTex;
out vec4 FragColor;

void main() {
  FragColor = texture(inTex, out_uvs);
}
)glsl";

// The two passes of the separable Gaussian, identical but for the axis. radiusF is in pixels; the
// 2S + 1 taps span exactly -radiusF .. +radiusF, at most one pixel apart, and a tap's weight
// depends only on its position relative to the radius, so the curve keeps its shape at every
// radius. The weights are normalised, so a uniform image comes out unchanged. A radius of 0 would
// divide 0 by 0; keeping S at least 1 puts every tap on the centre instead, making the pass a copy.
// The two texts are the head, the pass's step between taps, and the tail.
inline constexpr const char* kBlurHeadSource = R"glsl(
#version 330 core
in vec2 out_uvs;
uniform sampler2D videoTexture;
uniform float radiusF;
uniform vec2 resV;
out vec4 FragColour;

void main() {
  int S = max(int(ceil(radiusF)), 1);
  vec2 tapStep = )glsl";
inline constexpr const char* kBlurWStep = "vec2(radiusF / float(S) / resV.x, 0.0)";
inline constexpr const char* kBlurHStep = "vec2(0.0, radiusF / float(S) / resV.y)";
inline constexpr const char* kBlurTailSource = R"glsl(;
  vec4 sum = vec4(0.0);
  float total = 0.0;
  for (int i = -S; i <= S; ++i) {
    float x = float(i) / float(S);
    float w = exp(-0.5 * x * x / 0.06);
    sum += w * texture(videoTexture, out_uvs + float(i) * tapStep);
    total += w;
  }
  FragColour = sum / total;
}
)glsl";

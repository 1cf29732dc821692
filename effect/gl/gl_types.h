// Plain vectors and the 4 × 4 matrix the GL runtime and the render pipeline exchange.
#pragma once

#include <cstdint>

struct Vec2i {
  int32_t x, y;
};
struct Vec3i {
  int32_t x, y, z;
};
// Also a viewport: x, y, width, height.
struct Vec4i {
  int32_t x, y, z, w;
};
struct Vec2f {
  float x, y;
};
struct Vec3f {
  float x, y, z;
};
struct Vec4f {
  float x, y, z, w;
};

// 16 floats stored row by row: element (r, c) at position 4r + c. Handed to GL untransposed, so a
// shader that multiplies a row vector by it applies the matrix to column vectors.
struct Matrix44f {
  float m[16];
};

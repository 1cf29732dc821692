// The full-screen quad and the one draw call every pass goes through.
#pragma once

#include <cstdint>
#include <vector>

#include "gl/fbo.h"
#include "gl/gl_types.h"
#include "gl/uniforms.h"
#include "pf_sdk.h"

// Four (x, y, z, w) vertices covering clip space, in triangle-strip order.
extern const float quad_vertices[16];
// Their texture coordinates; (0, 0) is the lower-left corner, framebuffer row 0.
extern const float quad_tex[8];

// Slots of GL_Pod::params, the draw parameters RenderGeneric reads.
enum GLPodSlot {
  kPodMode = 0,            // primitive mode
  kPodFirst = 1,           // first vertex of an array draw
  kPodCount = 2,           // vertices, or indices when an index buffer is set
  kPodIndexBuffer = 4,     // 0 draws from arrays
  kPodFeedbackBuffer = 5,  // transform-feedback buffer, 0 for none
  kPodInstances = 6,
  kPodFeedbackMode = 7,  // transform-feedback primitive mode
  kPodRestartIndex = 8,  // 0 for no primitive restart
  kPodCullFace = 9,      // 0 for no culling
  kPodProgram = 10,
  kPodSlots = 11,
};

// One draw. Destroying it frees only the maps and the list: the GL buffers in `buffers` (the
// positions, then the texture coordinates) are deleted by whoever drew it.
struct GL_Pod {
  uint32_t params[kPodSlots];
  UniformMap uniforms;
  AttributeMap attributes;
  std::vector<uint32_t> buffers;
};

// A buffer on `target` holding `size` bytes from `data`, left bound. A GL error is printed; the
// name is returned all the same.
uint32_t CreateBuffer(const void* data, int64_t size, uint32_t target, uint32_t usage);

// The full-screen quad as a triangle strip: its positions and texture coordinates in two new
// buffers, as attributes "vertex", "tex" and "texCoordIn", with quad_tex or, when `use_rect` is
// non-zero, texture coordinates from the rectangle's corners: (left, top) at the lower-left
// vertex, (right, bottom) at the upper-right. The uniforms are left to the caller, so a draw
// that only reads them need not copy them.
GL_Pod QuadGeometry(uint32_t program, uint8_t use_rect, const A_FloatRect& rect);

// Draws with the draw parameters `params` (kPodSlots values) into `framebuffer` with the vertex
// array and program; optional states are enabled only for the draw. Leaves no vertex array,
// program or framebuffer bound.
void RenderGeneric(Vec4i viewport, const uint32_t* params, uint32_t vertex_array,
                   uint32_t framebuffer, uint32_t program);

// Runs `program` over the whole target once, binding `uniforms` and the quad's attributes by
// name; with `barrier`, first waits for earlier draws' texture writes (when the driver offers
// NV_texture_barrier). Every buffer and vertex array made for the draw is deleted; textures stay
// bound. A null target draws nothing.
void RenderQuad(PX_FBO* target, uint32_t program, const UniformMap& uniforms, uint8_t use_rect,
                const A_FloatRect& rect, bool barrier);

#include "gl/quad.h"

#include <epoxy/gl.h>

#include <ostream>

#include "gl/diagnostics.h"

const float quad_vertices[16] = {-1.0f, -1.0f, 0.0f, 1.0f, 1.0f, -1.0f, 0.0f, 1.0f,
                                 -1.0f, 1.0f,  0.0f, 1.0f, 1.0f, 1.0f,  0.0f, 1.0f};
const float quad_tex[8] = {0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f};

namespace {

constexpr int64_t kPositionBytes = 16 * sizeof(float);
constexpr int64_t kTexCoordBytes = 8 * sizeof(float);

// The rectangle's corners in strip order: (left, top) goes to the lower-left vertex.
void RectTexCoords(const A_FloatRect& rect, float* tex_coords) {
  const float left = static_cast<float>(rect.left);
  const float top = static_cast<float>(rect.top);
  const float right = static_cast<float>(rect.right);
  const float bottom = static_cast<float>(rect.bottom);
  const float corners[8] = {left, top, right, top, left, bottom, right, bottom};
  for (int k = 0; k < 8; ++k) tex_coords[k] = corners[k];
}

}  // namespace

uint32_t CreateBuffer(const void* data, int64_t size, uint32_t target, uint32_t usage) {
  GLuint buffer = 0;
  glGenBuffers(1, &buffer);
  glBindBuffer(target, buffer);
  glBufferData(target, static_cast<GLsizeiptr>(size), data, usage);
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) GLDiagnostics() << "VRNX: create buffer error: " << error << std::endl;
  return buffer;
}

GL_Pod QuadGeometry(uint32_t program, uint8_t use_rect, const A_FloatRect& rect) {
  float rect_coords[8];
  if (use_rect != 0) RectTexCoords(rect, rect_coords);
  GL_Pod pod;
  for (uint32_t& slot : pod.params) slot = 0;
  pod.params[kPodMode] = GL_TRIANGLE_STRIP;
  pod.params[kPodCount] = 4;
  pod.params[kPodInstances] = 1;
  pod.params[kPodProgram] = program;
  pod.buffers.resize(2);
  pod.buffers[0] = CreateBuffer(quad_vertices, kPositionBytes, GL_ARRAY_BUFFER, GL_STATIC_DRAW);
  pod.buffers[1] = CreateBuffer(use_rect != 0 ? rect_coords : quad_tex, kTexCoordBytes,
                                GL_ARRAY_BUFFER, GL_STATIC_DRAW);
  pod.attributes["vertex"] = {pod.buffers[0], 4, GL_FLOAT, 4 * sizeof(float)};
  pod.attributes["tex"] = {pod.buffers[1], 2, GL_FLOAT, 2 * sizeof(float)};
  // For shaders that name their texture-coordinate input this way.
  pod.attributes["texCoordIn"] = pod.attributes["tex"];
  return pod;
}

void RenderGeneric(Vec4i viewport, const uint32_t* params, uint32_t vertex_array,
                   uint32_t framebuffer, uint32_t program) {
  const uint32_t cull_face = params[kPodCullFace];
  const uint32_t restart_index = params[kPodRestartIndex];
  const uint32_t feedback_buffer = params[kPodFeedbackBuffer];
  const uint32_t index_buffer = params[kPodIndexBuffer];
  const auto mode = static_cast<GLenum>(params[kPodMode]);
  const auto count = static_cast<GLsizei>(params[kPodCount]);
  const auto instances = static_cast<GLsizei>(params[kPodInstances]);

  if (cull_face != 0) {
    glEnable(GL_CULL_FACE);
    glCullFace(cull_face);
  }
  if (restart_index != 0) {
    glEnable(GL_PRIMITIVE_RESTART);
    glPrimitiveRestartIndex(restart_index);
  }
  glViewport(viewport.x, viewport.y, viewport.z, viewport.w);
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glUseProgram(program);
  glBindVertexArray(vertex_array);
  if (feedback_buffer != 0) {
    glEnable(GL_RASTERIZER_DISCARD);
    glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, feedback_buffer);
    glBeginTransformFeedback(params[kPodFeedbackMode]);
  }
  if (index_buffer != 0) {
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, index_buffer);
    glDrawElementsInstanced(mode, count, GL_UNSIGNED_INT, nullptr, instances);
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
  } else {
    glDrawArraysInstanced(mode, static_cast<GLint>(params[kPodFirst]), count, instances);
  }
  if (feedback_buffer != 0) {
    glEndTransformFeedback();
    glDisable(GL_RASTERIZER_DISCARD);
    glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, 0);
    glBindTransformFeedback(GL_TRANSFORM_FEEDBACK, 0);
  }
  if (restart_index != 0) glDisable(GL_PRIMITIVE_RESTART);
  if (cull_face != 0) glDisable(GL_CULL_FACE);
  glBindVertexArray(0);
  glUseProgram(0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void RenderQuad(PX_FBO* target, uint32_t program, const UniformMap& uniforms, uint8_t use_rect,
                const A_FloatRect& rect, bool barrier) {
  if (target == nullptr) {
    GLDiagnostics() << "VRNX: RenderQuad() called without a target" << std::endl;
    return;
  }
  GL_Pod pod = QuadGeometry(program, use_rect, rect);

  const Vec4i viewport{0, 0, static_cast<int32_t>(target->color.width),
                       static_cast<int32_t>(target->color.height)};
  // Lets a pass sample what an earlier pass drew into the same texture.
  if (barrier && epoxy_has_gl_extension("GL_NV_texture_barrier")) glTextureBarrierNV();

  GLuint vertex_array = 0;
  glGenVertexArrays(1, &vertex_array);
  SetProgramAttributes(vertex_array, pod.params[kPodProgram], pod.attributes);
  SetProgramUniforms(pod.params[kPodProgram], uniforms);
  RenderGeneric(viewport, pod.params, vertex_array, target->fbo, pod.params[kPodProgram]);

  if (vertex_array != 0) glDeleteVertexArrays(1, &vertex_array);
  glDeleteBuffers(static_cast<GLsizei>(pod.buffers.size()), pod.buffers.data());
  pod.buffers.clear();
}

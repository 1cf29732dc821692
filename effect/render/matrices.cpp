#include "render/matrices.h"

#include <glm/gtc/matrix_transform.hpp>
#include <glm/mat4x4.hpp>

namespace {

// glm stores matrices column by column; ours are stored row by row.
void StoreRowMajor(const glm::mat4& m, Matrix44f* out) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) out->m[4 * r + c] = m[c][r];
}

}  // namespace

void GenIdentityMatrix(myParams* params) {
  StoreRowMajor(glm::mat4(1.0f), &params->identityMatrix);
}

void GenVertexMatrices(myParams* params, const PF_LayerDef* map, const PF_LayerDef* input) {
  const float sx = static_cast<float>(static_cast<double>(map->width) / input->width);
  const float sy = static_cast<float>(static_cast<double>(map->height) / input->height);
  // The origin difference is an integer count of input pixels; the clip space spans two units.
  const int32_t ox = map->origin_x - input->origin_x;
  const int32_t oy = map->origin_y - input->origin_y;
  const float dx = static_cast<float>(2.0 * (static_cast<double>(ox) / input->width / sx));
  const float dy = static_cast<float>(2.0 * (static_cast<double>(oy) / input->height / sy));

  const glm::mat4 identity(1.0f);
  const glm::mat4 t = glm::translate(identity, glm::vec3(dx, dy, 0.0f));
  const glm::mat4 a = glm::translate(identity, glm::vec3(-1.0f, -1.0f, 0.0f));
  const glm::mat4 s = glm::scale(identity, glm::vec3(sx, sy, 1.0f));
  const glm::mat4 b = glm::translate(identity, glm::vec3(1.0f, 1.0f, 0.0f));
  const glm::mat4 m = ((a * s) * b) * t;
  StoreRowMajor(m, &params->xform);
}

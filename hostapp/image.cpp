#include "hostapp/image.h"

#include <cstring>

namespace vhost {

Image Image::Make(int width, int height, int bpc, int origin_x, int origin_y, int padding) {
  const size_t pixel = bpc == 32 ? 16 : 4;
  const size_t rowbytes = (static_cast<size_t>(width) + static_cast<size_t>(padding)) * pixel;
  return Image{.width = width,
               .height = height,
               .bpc = bpc,
               .origin_x = origin_x,
               .origin_y = origin_y,
               .rowbytes = static_cast<A_long>(rowbytes),
               .storage = std::vector<uint8_t>(rowbytes * static_cast<size_t>(height), 0)};
}

float Image::Get(int x, int y, int c) const {
  const uint8_t* p = Row(y) + static_cast<size_t>(x) * PixelBytes();
  if (bpc == 32) {
    float v;
    std::memcpy(&v, p + c * 4, 4);
    return v;
  }
  return p[c] / 255.0f;
}

void Image::Set(int x, int y, int c, float v) {
  uint8_t* p = Row(y) + static_cast<size_t>(x) * PixelBytes();
  if (bpc == 32) {
    std::memcpy(p + c * 4, &v, 4);
  } else {
    // NaN fails both comparisons and becomes 0: converting it to an integer is undefined.
    float clamped = v > 0 ? (v < 1 ? v : 1) : 0;
    p[c] = static_cast<uint8_t>(clamped * 255.0f + 0.5f);
  }
}

PF_LayerDef Image::View() {
  PF_LayerDef def{};
  def.data = storage.empty() ? nullptr : storage.data();
  def.rowbytes = rowbytes;
  def.width = width;
  def.height = height;
  def.extent_hint = {0, 0, width, height};
  def.origin_x = origin_x;
  def.origin_y = origin_y;
  return def;
}

}  // namespace vhost

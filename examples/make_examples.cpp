// Writes the sample pictures of examples/: a colourful input with hard edges, where displacement,
// rotation and colour fringes are easy to see, and a smooth grey displacement map of the same
// size. Run by hand after changing it: varnex-make-examples examples/
#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr double kPi = 3.14159265358979323846;

bool Write(const std::string& path, int channels, const std::vector<float>& pixels) {
  auto out = OIIO::ImageOutput::create(path);
  OIIO::ImageSpec layout(kWidth, kHeight, channels, OIIO::TypeDesc::UINT8);
  if (!out || !out->open(path, layout) || !out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()) ||
      !out->close()) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return false;
  }
  return true;
}

// A hue sweep from left to right, darkened toward the bottom, under a checkerboard of white and
// dark squares and a set of concentric rings.
std::vector<float> Input() {
  std::vector<float> pixels(kWidth * kHeight * 3);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double u = static_cast<double>(x) / kWidth;
      const double v = static_cast<double>(y) / kHeight;
      double rgb[3];
      for (int c = 0; c < 3; ++c)
        rgb[c] = (0.55 + 0.45 * std::cos(2 * kPi * (u + c / 3.0))) * (1.0 - 0.4 * v);
      const bool check = ((x / 20) + (y / 20)) % 2 == 0;
      const double dx = x - kWidth / 2.0, dy = y - kHeight / 2.0;
      const bool ring = static_cast<int>(std::sqrt(dx * dx + dy * dy) / 12) % 2 == 0;
      const double shade = ring ? (check ? 1.0 : 0.85) : (check ? 0.35 : 0.2);
      float* p = &pixels[(y * kWidth + x) * 3];
      for (int c = 0; c < 3; ++c) p[c] = static_cast<float>(ring ? rgb[c] * shade : shade);
    }
  }
  return pixels;
}

// Soft waves around mid-grey: negative displacement in the dark parts, positive in the light.
std::vector<float> Map() {
  std::vector<float> pixels(kWidth * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double u = static_cast<double>(x) / kWidth;
      const double v = static_cast<double>(y) / kHeight;
      const double wave = std::sin(2 * kPi * 1.5 * u) * std::cos(2 * kPi * 1.0 * v);
      const double blob = std::exp(-((u - 0.7) * (u - 0.7) + (v - 0.35) * (v - 0.35)) * 20);
      pixels[y * kWidth + x] = static_cast<float>(0.5 + 0.35 * wave + 0.15 * blob);
    }
  }
  return pixels;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : "examples";
  const bool ok = Write(folder + "/input.png", 3, Input()) && Write(folder + "/map.png", 1, Map());
  return ok ? 0 : 1;
}

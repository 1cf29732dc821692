// Throughput of a frame sequence rendered by the varnex command, as a user runs it.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "bench/measure.h"
#include "bench/synthetic.h"
#include "bench/timing.h"

#ifdef VARNEX_BENCH_HAVE_OIIO
#include <OpenImageIO/imageio.h>
#endif

namespace vbench {

// Runs the command, its output discarded; the wall time in ms, or a negative number on failure.
double TimeCommand(const std::string& command) {
  const Clock::time_point start = Clock::now();
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  const double ms = MillisecondsSince(start);
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1.0;
  return ms;
}

bool WritePng(const std::string& path, const vhost::Image& layer, std::string* error) {
#ifdef VARNEX_BENCH_HAVE_OIIO
  // PNG holds red-green-blue-alpha; host layers are alpha-red-green-blue with padded rows.
  std::vector<uint8_t> rgba(static_cast<size_t>(layer.width) * layer.height * 4);
  for (int y = 0; y < layer.height; ++y) {
    const uint8_t* src = layer.Row(y);
    uint8_t* dst = rgba.data() + static_cast<size_t>(y) * layer.width * 4;
    for (int x = 0; x < layer.width; ++x) {
      dst[4 * x + 0] = src[4 * x + 1];
      dst[4 * x + 1] = src[4 * x + 2];
      dst[4 * x + 2] = src[4 * x + 3];
      dst[4 * x + 3] = src[4 * x + 0];
    }
  }
  auto out = OIIO::ImageOutput::create(path);
  const OIIO::ImageSpec layout(layer.width, layer.height, 4, OIIO::TypeDesc::UINT8);
  if (!out || !out->open(path, layout) || !out->write_image(OIIO::TypeDesc::UINT8, rgba.data()) ||
      !out->close()) {
    *error = "could not write " + path;
    return false;
  }
  return true;
#else
  (void)path;
  (void)layer;
  *error = "this build has no image writer (OpenImageIO not found at configure time)";
  return false;
#endif
}

}  // namespace vbench

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

namespace {

constexpr int kSequenceFrames = 48;

std::string RenderCommand(const std::string& varnex, const std::string& input,
                          const std::string& pattern, int last_frame, int threads) {
  std::ostringstream command;
  command << '"' << varnex << "\" render \"" << input << "\" -o \"" << pattern << "\" -f 1-"
          << last_frame << " -j " << threads << " -q -s \"Anti-Aliasing=None\"";
  return command.str();
}

int CountOutputs(const std::filesystem::path& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir))
    if (entry.path().filename().string().rfind("out_", 0) == 0) ++n;
  return n;
}

}  // namespace

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

bool WriteSequenceInput(const std::string& path, const Frame& frame, std::string* error) {
  return WritePng(path, MakeInputLayer(frame.width, frame.height, 8), error);
}

SequenceResult MeasureSequence(const std::string& varnex, const std::string& work_dir,
                               const Frame& frame, int threads) {
  SequenceResult r;
  namespace fs = std::filesystem;
  if (!fs::exists(varnex)) {
    r.skipped = varnex + " is not built";
    return r;
  }
  const fs::path dir = fs::path(work_dir) / ("seq-j" + std::to_string(threads));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string input = (dir / "input.png").string();
  if (!WriteSequenceInput(input, frame, &r.skipped)) return r;
  const std::string pattern = (dir / "out_####.png").string();

  const double one = TimeCommand(RenderCommand(varnex, input, pattern, 1, threads));
  if (one < 0) {
    r.skipped = "varnex render failed on one frame";
    return r;
  }
  fs::remove_all(dir / "out_0001.png");
  const double all = TimeCommand(RenderCommand(varnex, input, pattern, kSequenceFrames, threads));
  const int written = CountOutputs(dir);
  fs::remove_all(dir);
  if (all < 0 || written != kSequenceFrames) {
    r.skipped = "varnex render failed on the sequence (" + std::to_string(written) + " of " +
                std::to_string(kSequenceFrames) + " frames written)";
    return r;
  }
  r.ran = true;
  r.fps = kSequenceFrames / (all / 1000.0);
  if (all > one) r.steady_fps = (kSequenceFrames - 1) / ((all - one) / 1000.0);
  return r;
}

}  // namespace vbench

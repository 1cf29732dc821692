// Footage through the varnex command: a movie displaced by a map sequence in one render, against
// the shell loop of one process per still that a user would otherwise write.
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "bench/measure.h"
#include "bench/synthetic.h"
#include "media/movie.h"
#include "media/movie_writer.h"

namespace vbench {

namespace {

constexpr int kFootageFrames = 48;

// The synthetic layer moved by `dx`, `dy` pixels (wrapping), so that every frame is new work for
// the decoder and the map changes under the input.
vhost::Image Moved(const vhost::Image& layer, int dx, int dy) {
  vhost::Image moved = layer;
  const size_t pixel = 4;
  for (int y = 0; y < layer.height; ++y) {
    const uint8_t* src = layer.Row(((y - dy) % layer.height + layer.height) % layer.height);
    uint8_t* dst = moved.Row(y);
    for (int x = 0; x < layer.width; ++x) {
      const int from = ((x - dx) % layer.width + layer.width) % layer.width;
      for (size_t c = 0; c < pixel; ++c) dst[x * pixel + c] = src[from * pixel + c];
    }
  }
  return moved;
}

std::string FrameName(const std::filesystem::path& dir, const char* stem, int n) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.png", stem, n);
  return (dir / name).string();
}

int CountFiles(const std::filesystem::path& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) n += entry.is_regular_file();
  return n;
}

// Writes in.mp4 (H.264), the same frames as in.NNNN.png for the loop, and map.NNNN.png.
bool WriteFootage(const std::filesystem::path& dir, const Frame& frame, std::string* error) {
  const vhost::Image input = MakeInputLayer(frame.width, frame.height, 8);
  const vhost::Image map = MakeMapLayer(frame.width, frame.height, 8);
  vmedia::MovieWriterOptions options;
  options.fps = {24, 1};
  options.width = frame.width;
  options.height = frame.height;
  vmedia::SetMovieLibraryLogging(false);
  try {
    vmedia::MovieWriter movie((dir / "in.mp4").string(), options);
    for (int k = 0; k < kFootageFrames; ++k) {
      const vhost::Image picture = Moved(input, 16 * k, 0);
      movie.Write(picture);
      if (!WritePng(FrameName(dir, "in", k), picture, error) ||
          !WritePng(FrameName(dir, "map", k), Moved(map, 0, 8 * k), error))
        return false;
    }
    movie.Finish();
  } catch (const std::exception& e) {
    *error = e.what();
    return false;
  }
  return true;
}

}  // namespace

FootageResult MeasureFootage(const std::string& varnex, const std::string& work_dir,
                             const Frame& frame, int threads) {
  FootageResult r;
  namespace fs = std::filesystem;
  if (!fs::exists(varnex)) {
    r.skipped = varnex + " is not built";
    return r;
  }
  const fs::path dir = fs::path(work_dir) / "footage";
  fs::remove_all(dir);
  fs::create_directories(dir / "seq");
  fs::create_directories(dir / "loop");
  if (!WriteFootage(dir, frame, &r.skipped)) return r;

  const std::string common = " -q -s \"Anti-Aliasing=None\" -s \"Translate X=4\" -s Rotate=6";
  std::ostringstream one;
  one << '"' << varnex << "\" render \"" << (dir / "in.mp4").string() << "\" -m \""
      << (dir / "map.####.png").string() << "\" -j " << threads << common << " -o ";
  const double movie_ms = TimeCommand(one.str() + '"' + (dir / "out.mov").string() + '"');
  const double sequence_ms =
      TimeCommand(one.str() + '"' + (dir / "seq" / "out.####.png").string() + '"');
  std::ostringstream loop;
  loop << "for i in $(seq -f %04g 0 " << kFootageFrames - 1 << "); do \"" << varnex
       << "\" render \"" << (dir / "in.").string() << "$i.png\" -m \"" << (dir / "map.").string()
       << "$i.png\" -o \"" << (dir / "loop" / "out.").string() << "$i.png\" -j 1" << common
       << " || exit 1; done";
  const double loop_ms = TimeCommand(loop.str());
  const bool complete = fs::exists(dir / "out.mov") && CountFiles(dir / "seq") == kFootageFrames &&
                        CountFiles(dir / "loop") == kFootageFrames;
  fs::remove_all(dir);
  if (movie_ms < 0 || sequence_ms < 0 || loop_ms < 0 || !complete) {
    r.skipped = "a footage render failed";
    return r;
  }
  r.ran = true;
  r.movie_s = movie_ms / 1000.0;
  r.sequence_s = sequence_ms / 1000.0;
  r.loop_s = loop_ms / 1000.0;
  return r;
}

}  // namespace vbench

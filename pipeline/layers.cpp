#include "pipeline/layers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "hostapp/text.h"
#include "media/frame_pattern.h"
#include "pipeline/errors.h"
#include "pipeline/limits.h"

namespace vpipe {

namespace {

using vhost::Quoted;

// Products of a frame count and two rates overflow 64 bits; GCC and Clang have 128.
__extension__ typedef __int128 Int128;

std::unique_ptr<vmedia::Source> Open(const std::string& path, const std::string& role,
                                     vmedia::MissingFrames missing) {
  return vmedia::OpenSource(path, {.missing = missing, .role = role});
}

// The composition frames a source covers when its first frame shows at `start`: a sequence at
// the composition's rate, a movie at its own.
std::pair<int64_t, int64_t> CoveredFrames(const vmedia::Source& source, int64_t start,
                                          const FrameRate& fps) {
  int64_t count = source.range().count();
  const vmedia::Rational own = source.fps();
  if (source.kind() == vmedia::SourceKind::kMovie && own.valid()) {
    // count frames of 1/own seconds, in frames of 1/fps, rounded up: the last partly covered
    // frame still shows the movie's last frame.
    const Int128 num = static_cast<Int128>(count) * own.den * fps.num;
    const Int128 den = static_cast<Int128>(own.num) * fps.den;
    count = static_cast<int64_t>((num + den - 1) / den);
  }
  return {start, start + std::max<int64_t>(count, 1) - 1};
}

int64_t StartOf(const vmedia::Source& source, const LayerSettings& layer) {
  if (layer.start) return *layer.start;
  return source.kind() == vmedia::SourceKind::kSequence ? source.range().first : 0;
}

// A file as the file system knows it: its resolved path, and its device and inode while it
// exists, so that a link, "./" or a second name of the same file compare equal.
struct FileIdentity {
  std::string path;
  dev_t device = 0;
  ino_t inode = 0;
  bool exists = false;
};

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity id;
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(path, ec);
  id.path = (ec ? std::filesystem::absolute(path) : resolved).lexically_normal().string();
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    id.exists = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
  }
  return id;
}

// Every file a source reads: a sequence's frames, or the one file.
std::vector<FileIdentity> FilesOf(const vmedia::Source& source) {
  std::vector<FileIdentity> files;
  const int last =
      source.kind() == vmedia::SourceKind::kSequence ? source.range().last : source.range().first;
  for (int n = source.range().first; n <= last; ++n) files.push_back(IdentityOf(source.FileOf(n)));
  return files;
}

// Writing a frame over footage the render reads destroys the footage, and a render that fails
// halfway leaves neither.
void CheckOutputIsNotFootage(const RenderSettings& s, const vmedia::Source& source,
                             const std::string& role) {
  const std::vector<FileIdentity> files = FilesOf(source);
  std::set<std::string> paths;
  std::set<std::pair<dev_t, ino_t>> inodes;
  for (const FileIdentity& f : files) {
    paths.insert(f.path);
    if (f.exists) inodes.insert({f.device, f.inode});
  }
  for (int frame : s.frames) {
    const std::string out = OutputPath(s, frame);
    const FileIdentity id = IdentityOf(out);
    if (paths.count(id.path) || (id.exists && inodes.count({id.device, id.inode})))
      throw InputError(
          "output " + Quoted(out) + " is " +
          (source.kind() == vmedia::SourceKind::kSequence ? "a frame of the " : "the ") + role +
          " " + Quoted(source.path()) + "; write the render elsewhere");
    if (!s.pattern) break;
  }
}

vmedia::LayerOptions Options(const LayerSettings& layer, const RenderSettings& s, int bpc) {
  vmedia::LayerOptions options;
  options.placement.start = layer.start;
  options.placement.outside = layer.outside;
  options.composition_fps = s.fps;
  options.bpc = bpc;
  return options;
}

// Decodes the picture the first frame shows, so that a still or a first frame that cannot be
// read is refused before anything renders; later frames can only fail as they come.
void Prime(vmedia::TimelineLayer& layer, const RenderSettings& s) {
  const vhost::Timing at = FrameTiming(s.first_frame, s.fps, 1);
  layer.At(at.current_time, at.time_scale);
}

}  // namespace

RenderLayers OpenLayers(RenderSettings* settings) {
  RenderSettings& s = *settings;
  std::unique_ptr<vmedia::Source> input = Open(s.input, "input", s.missing);
  std::unique_ptr<vmedia::Source> map;
  if (s.map) map = Open(*s.map, "map", s.missing);

  if (!s.fps_given && input->kind() == vmedia::SourceKind::kMovie && input->fps().valid()) {
    const vmedia::Rational own = input->fps();
    if (own.value() < kMinFps || own.value() > kMaxFps || own.den > kMaxFpsDenominator)
      throw InputError("input " + Quoted(s.input) + ": its rate of " + std::to_string(own.num) +
                       "/" + std::to_string(own.den) +
                       " frames per second is out of range; give one with --fps");
    s.fps = own;
  }
  if (!s.frames_given && input->kind() != vmedia::SourceKind::kStill) {
    const auto [first, last] = CoveredFrames(*input, StartOf(*input, s.input_layer), s.fps);
    if (first < 0 || last > kMaxFrame || last - first + 1 > kMaxFrameCount)
      throw InputError("input " + Quoted(s.input) + " covers frames " + std::to_string(first) +
                       "-" + std::to_string(last) + "; choose frames within 0-" +
                       std::to_string(kMaxFrame) + " with --frames");
    std::vector<int> frames;
    for (int64_t f = first; f <= last; ++f) frames.push_back(static_cast<int>(f));
    SetFrames(&s, std::move(frames));
  }
  CheckOutputIsNotFootage(s, *input, "input");
  if (map) CheckOutputIsNotFootage(s, *map, "map");

  const ColourPlan colour = PlanColour(s, *input);
  s.output_colour_space = colour.output_space;
  s.output_conversion = colour.output;
  if (!colour.input.identity()) input = vmedia::ConvertingSource(std::move(input), colour.input);
  if (map && !colour.map.identity()) map = vmedia::ConvertingSource(std::move(map), colour.map);

  RenderLayers layers;
  layers.input_facts = ReadFootageFacts(*input);
  if (map && !s.map_offset_given) {
    const Window at = ReadFootageFacts(*map).data;
    s.map_offset_x = at.x - layers.input_facts.data.x;
    s.map_offset_y = at.y - layers.input_facts.data.y;
  }
  // Converted values fall between 8-bit steps: a render whose output is converted runs at 32 bits
  // unless told otherwise, as converted footage does (its depth says 32).
  const int output_depth = s.output_conversion.identity() ? 8 : 32;
  layers.bpc = s.depth.value_or(std::max({input->depth(), map ? map->depth() : 8, output_depth}));
  vmedia::LayerOptions input_options = Options(s.input_layer, s, layers.bpc);
  layers.input = std::make_unique<vmedia::TimelineLayer>(std::move(input), input_options);
  if (map) {
    vmedia::LayerOptions map_options = Options(s.map_layer, s, layers.bpc);
    map_options.origin_x = s.map_offset_x;
    map_options.origin_y = s.map_offset_y;
    layers.map = std::make_unique<vmedia::TimelineLayer>(std::move(map), map_options);
    Prime(*layers.map, s);
  }
  Prime(*layers.input, s);
  // The plan is complete: what the footage decided is part of the render as much as what was
  // given, and a saved project keeps it.
  s.depth = layers.bpc;
  for (const char* resolved : {"input", "output", "fps", "frames", "depth", "input-outside"})
    s.given.emplace(resolved, "the footage");
  if (s.map)
    for (const char* resolved : {"map", "map-offset", "map-outside"})
      s.given.emplace(resolved, "the footage");
  return layers;
}

}  // namespace vpipe

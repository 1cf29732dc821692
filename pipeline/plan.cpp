#include "pipeline/plan.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <thread>

#include "hostapp/text.h"
#include "media/image_io.h"
#include "media/temp_file.h"
#include "pipeline/errors.h"
#include "pipeline/frame_list.h"
#include "pipeline/limits.h"

namespace vpipe {

namespace {

void CheckOutputFolder(const std::string& output) {
  const std::filesystem::path folder = std::filesystem::path(output).parent_path();
  std::error_code ec;
  if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
    throw InputError("output \"" + output + "\": the folder \"" + folder.string() +
                     "\" does not exist");
  if (std::filesystem::path(output).filename().empty())
    throw InputError("output \"" + output + "\": no file name");
  if (std::filesystem::is_directory(output, ec))
    throw InputError("output \"" + output + "\" is a folder");
  // Known before rendering: a folder that takes no new file (read-only, /proc, no space left
  // for even an empty one).
  try {
    vmedia::TempFile probe(output);
  } catch (const std::exception& e) {
    throw InputError("output \"" + output + "\": cannot write there: " + e.what());
  }
}

// The options of image files: their sample type, compression and quality, each checked against
// what the output's format can do.
void CheckImageWriteOptions(RenderSettings* settings) {
  RenderSettings& s = *settings;
  if (!s.out_type && s.compression.empty() && !s.quality) return;
  if (s.movie_output)
    throw InputError(
        "--out-type, --compression and --quality are for image outputs; a movie "
        "takes --codec, --crf and --bitrate");
  if (s.out_type && !s.output_format.Holds(*s.out_type)) {
    std::string held;
    for (SampleType t : s.output_format.holds)
      held += (held.empty() ? "" : ", ") + std::string(SampleTypeName(t));
    throw InputError(WhereGiven(s, "out-type") + " " + SampleTypeName(*s.out_type) + ": " +
                     s.output_format.name + " files (\"" + s.output + "\") hold " + held);
  }
  if (!s.compression.empty()) CheckCompression(s.output_format, s.compression, s.output);
  if (s.quality) CheckQuality(s.output_format, s.quality, s.output);
}

// The colour spaces as the configuration names them.
ColourSettings ResolveColour(const RenderRequest& r) {
  const ColourNames& names = r.colour_names;
  ColourSettings colour;
  if (!names.any()) return colour;
  colour.config = std::make_shared<const vmedia::ColourConfig>(names.ocio_config.value_or(""),
                                                               WhereGiven(r, "ocio-config"));
  auto resolve = [&](const std::optional<std::string>& name,
                     const char* option) -> std::optional<std::string> {
    if (!name) return std::nullopt;
    try {
      return colour.config->Resolve(*name, WhereGiven(r, option));
    } catch (const vmedia::FootageError& e) {
      throw InputError(std::string(e.what()) + " (see varnex colorspaces)");
    }
  };
  colour.input = resolve(names.input, "colorspace-in");
  colour.output = resolve(names.output, "colorspace-out");
  colour.working = resolve(names.working, "working-space");
  colour.map = resolve(names.map, "map-colorspace");
  return colour;
}

// The space an output format's files are usually in, for a render at 32 bits.
std::string UsualOutputSpace(const RenderSettings& s) {
  if (s.movie_output) return vmedia::kRec709Space;
  const std::string& f = s.output_format.name;
  const bool floats = f == "openexr" || f == "hdr" ||
                      (s.out_type == SampleType::kHalf || s.out_type == SampleType::kFloat);
  return floats ? vmedia::kLinearSpace : vmedia::kSrgbSpace;
}

}  // namespace

std::string WhereGiven(const RenderRequest& request, const std::string& name) {
  const auto given = request.given.find(name);
  return given != request.given.end() ? given->second : "--" + name;
}

RenderSettings ResolveRenderSettings(const RenderRequest& request) {
  RenderSettings s;
  static_cast<RenderRequest&>(s) = request;
  if (s.input.empty()) throw InputError("no input image (give INPUT or \"input\" in the project)");
  if (s.output.empty()) throw InputError("no output (give -o OUTPUT or \"output\" in the project)");
  s.map_offset_given = request.Given("map-offset");
  s.fps_given = request.Given("fps");
  s.colour = ResolveColour(request);
  if (s.colour.working) {
    if (s.depth == 8)
      throw InputError(WhereGiven(s, "depth") +
                       " 8: a working colour space renders at 32 bits; leave the depth out or "
                       "give 32");
    s.depth = 32;
  }
  if (!s.threads)
    s.threads = static_cast<int>(
        std::clamp(std::thread::hardware_concurrency(), 1u, unsigned(kMaxThreads)));
  s.verbose = request.verbose && !request.quiet;

  // A range of images needs a placeholder; a single frame may go to a plain name, and a movie
  // holds every frame.
  s.pattern = vmedia::ParseFramePattern(s.output, "output");
  s.movie_output = IsMovieName(s.output);
  if (s.movie_output && s.pattern)
    throw InputError("output \"" + s.output +
                     "\": a movie holds every frame; it takes no frame-number placeholder");
  if (!s.movie_output && (s.movie.codec || s.movie.crf || s.movie.bitrate))
    throw InputError("--codec, --crf and --bitrate are for a movie output (.mov, .mp4, .mkv)");
  s.frames_given = !request.frames.empty();
  SetFrames(&s, s.frames_given ? request.frames : std::vector<int>{0});
  const std::string first_name = OutputPath(s, s.first_frame);
  CheckOutputFolder(first_name);
  if (!s.movie_output) s.output_format = vmedia::OutputFormatFor(first_name);
  CheckImageWriteOptions(&s);
  if (s.movie_output && (s.skip_existing || s.continue_on_error))
    throw InputError(
        "--skip-existing and --continue-on-error are for image outputs: a movie holds every "
        "frame in one file");
  return s;
}

ColourPlan PlanColour(const RenderSettings& s, const vmedia::Source& input) {
  const ColourSettings& colour = s.colour;
  const vmedia::ColourTag tag = input.colour_tag();
  std::string input_space;
  std::string origin;
  if (colour.input) {
    input_space = *colour.input;
  } else if (!tag.space.empty()) {
    input_space = vmedia::ConventionalSpelling(tag.space);
    origin = "its tag";
  } else {
    input_space = vmedia::ConventionalSpace(input.kind(), tag.float_samples);
    origin = "by convention";
  }
  ColourPlan plan;
  plan.output_space = input_space;
  if (!colour.working && !colour.output && !colour.map) return plan;

  const vmedia::ColourConfig& config = *colour.config;
  if (!colour.input) {
    const std::optional<std::string> found = config.Find(input_space);
    if (!found)
      throw InputError("input " + vhost::Quoted(s.input) + ": its colour space " +
                       vhost::Quoted(input_space) + " (" + origin +
                       ") is not in the colour configuration " + config.name() +
                       "; name it with --colorspace-in");
    input_space = *found;
  }
  const std::string render_space = colour.working.value_or(input_space);
  plan.output_space = colour.output.value_or(render_space);
  if (colour.working && !colour.output) {
    const std::string usual = UsualOutputSpace(s);
    const std::optional<std::string> found = config.Find(usual);
    if (!found)
      throw InputError("output " + vhost::Quoted(s.output) + ": its format's usual colour space " +
                       vhost::Quoted(usual) + " is not in the colour configuration " +
                       config.name() + "; name one with --colorspace-out");
    plan.output_space = *found;
  }
  if (colour.working) plan.input = config.Conversion(input_space, *colour.working);
  if (colour.map) plan.map = config.Conversion(*colour.map, render_space);
  plan.output = config.Conversion(render_space, plan.output_space);
  return plan;
}

void ToOutputSpace(const RenderSettings& settings, vhost::Image* image) {
  if (!settings.output_conversion.identity()) settings.output_conversion.Apply(image);
}

bool IsMovieName(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".mov" || ext == ".mp4" || ext == ".mkv";
}

void SetFrames(RenderSettings* settings, std::vector<int> frames) {
  RenderSettings& s = *settings;
  s.frames = std::move(frames);
  s.first_frame = s.frames.front();
  s.last_frame = s.frames.back();
  if (!s.pattern && !s.movie_output && s.frames.size() > 1)
    throw InputError("output \"" + s.output + "\": frames " + FormatFrameList(s.frames) +
                     " need #### or %04d in the name for the frame number");
}

std::string OutputPath(const RenderSettings& settings, int frame) {
  return settings.pattern ? ExpandFramePattern(*settings.pattern, frame) : settings.output;
}

}  // namespace vpipe

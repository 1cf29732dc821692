#include "cli/render_settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <numeric>
#include <thread>

#include "cli/errors.h"
#include "cli/frame_list.h"
#include "cli/image_io.h"
#include "cli/limits.h"
#include "cli/temp_file.h"
#include "hostapp/text.h"

namespace vcli {

namespace {

bool ParseInt(const std::string& text, int* value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  auto [ptr, ec] = std::from_chars(begin, end, *value);
  return ec == std::errc() && ptr == end && begin != end;
}

int IntOption(const std::string& option, const std::string& text, int lo, int hi) {
  int value = 0;
  if (!ParseInt(text, &value) || value < lo || value > hi)
    throw InputError(option + " \"" + text + "\": expected a whole number from " +
                     std::to_string(lo) + " to " + std::to_string(hi));
  return value;
}

std::pair<int, int> ParsePair(const std::string& option, const std::string& text, char separator,
                              const char* form) {
  const size_t at = text.find(separator, 1);  // "-3,4": the sign is not the separator
  int a = 0, b = 0;
  if (at == std::string::npos || !ParseInt(text.substr(0, at), &a) ||
      !ParseInt(text.substr(at + 1), &b))
    throw InputError(option + " \"" + text + "\": expected " + form);
  return {a, b};
}

void CheckFrames(const std::string& where, int first, int last) {
  if (first < 0 || last > kMaxFrame || first > last)
    throw InputError(where + ": frames " + std::to_string(first) + "-" + std::to_string(last) +
                     " are not a range within 0-" + std::to_string(kMaxFrame));
  if (static_cast<long long>(last) - first + 1 > kMaxFrameCount)
    throw InputError(where + ": " + std::to_string(static_cast<long long>(last) - first + 1) +
                     " frames are more than the limit of " + std::to_string(kMaxFrameCount));
}

void CheckOffset(const std::string& where, std::pair<int, int> offset) {
  if (std::abs(offset.first) > kMaxMapOffset || std::abs(offset.second) > kMaxMapOffset)
    throw InputError(where + ": the offset is beyond " + std::to_string(kMaxMapOffset) + " pixels");
}

// A rate as a whole number ("25"), a decimal ("12.5", "23.976") or a ratio ("24000/1001").
// The broadcast rates written as decimals (23.976, 29.97, 59.94, ...) are the ratios N×1000/1001
// they stand for, so that they keep in step with footage at those rates; other decimals are
// taken to the millisecond.
FrameRate ParseFps(const std::string& where, const std::string& text) {
  const std::string range_message = where + ": frames per second must be from " +
                                    std::to_string(kMinFps) + " to " +
                                    std::to_string(static_cast<int>(kMaxFps));
  FrameRate fps;
  const size_t slash = text.find('/');
  if (slash != std::string::npos) {
    int num = 0, den = 0;
    if (!ParseInt(text.substr(0, slash), &num) || !ParseInt(text.substr(slash + 1), &den) ||
        num <= 0 || den <= 0)
      throw InputError(where + " \"" + text + "\": expected a number or a ratio NUM/DEN");
    if (den > kMaxFpsDenominator)
      throw InputError(where + " \"" + text + "\": the denominator is above " +
                       std::to_string(kMaxFpsDenominator));
    fps = {num, den};
  } else {
    double value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size())
      throw InputError(where + " \"" + text + "\": expected a number");
    if (!std::isfinite(value) || value < kMinFps || value > kMaxFps)
      throw InputError(range_message);
    const double broadcast = std::round(value * 1.001);
    if (value != std::round(value) && std::abs(broadcast * 1000 / 1001 - value) < 5e-4)
      fps = {static_cast<int64_t>(broadcast) * 1000, 1001};
    else
      fps = {std::llround(value * 1000), 1000};
  }
  const int64_t g = std::gcd(fps.num, fps.den);
  fps = {fps.num / g, fps.den / g};
  if (fps.value() < kMinFps || fps.value() > kMaxFps) throw InputError(range_message);
  return fps;
}

vfoot::Outside ParseOutside(const std::string& where, const std::string& text) {
  if (text == "hold") return vfoot::Outside::kHold;
  if (text == "loop") return vfoot::Outside::kLoop;
  if (text == "transparent") return vfoot::Outside::kTransparent;
  throw InputError(where + " \"" + text + "\": expected hold, loop or transparent");
}

// A layer's place on the timeline, the command line over the project. `option` is "--input" or
// "--map"; `key` the project's key up to its closing quote.
LayerSettings Layer(const std::string& option, const std::optional<std::string>& start,
                    const std::optional<std::string>& outside, const LayerTiming& project,
                    const std::string& key) {
  LayerSettings layer;
  if (start) {
    layer.start = IntOption(option + "-start", *start, -kMaxFrame, kMaxFrame);
  } else if (project.start) {
    if (std::abs(*project.start) > kMaxFrame)
      throw InputError(key + ".start\": the start is beyond frame " + std::to_string(kMaxFrame));
    layer.start = project.start;
  }
  if (outside)
    layer.outside = ParseOutside(option + "-outside", *outside);
  else if (project.outside)
    layer.outside = ParseOutside(key + ".outside\"", *project.outside);
  return layer;
}

// Bits per second as a whole number with an optional k or M ("8M", "800k", "8000000").
int64_t ParseBitrate(const std::string& text) {
  int64_t unit = 1;
  std::string digits = text;
  if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) unit = 1000;
  if (!digits.empty() && digits.back() == 'M') unit = 1000000;
  if (unit != 1) digits.pop_back();
  int value = 0;
  if (!ParseInt(digits, &value) || value <= 0 || value > kMaxBitrate / unit)
    throw InputError("--bitrate \"" + text +
                     "\": expected bits per second such as 8M or 800k, at most " +
                     std::to_string(kMaxBitrate / 1000000) + "M");
  return value * unit;
}

int CheckDepth(const std::string& where, int depth) {
  if (depth != 8 && depth != 32) throw InputError(where + ": the depth must be 8 or 32");
  return depth;
}

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
    TempFile probe(output);
  } catch (const std::exception& e) {
    throw InputError("output \"" + output + "\": cannot write there: " + e.what());
  }
}

ControlSetting SetOption(const std::string& text) {
  const size_t eq = text.find('=');
  if (eq == std::string::npos || eq == 0)
    throw InputError("--set \"" + text + "\": expected NAME=VALUE");
  ControlSetting setting;
  setting.name = text.substr(0, eq);
  setting.value = text.substr(eq + 1);
  setting.origin = "--set";
  return setting;
}

// The options of image files: their sample type, compression and quality, each checked against
// what the output's format can do.
void CheckImageWriteOptions(const RenderArgs& args, RenderSettings* settings) {
  RenderSettings& s = *settings;
  if (!args.out_type && !args.compression && !args.quality) return;
  if (s.movie_output)
    throw InputError(
        "--out-type, --compression and --quality are for image outputs; a movie "
        "takes --codec, --crf and --bitrate");
  if (args.out_type) {
    s.out_type = ParseSampleType(*args.out_type);
    if (!s.out_type)
      throw InputError("--out-type \"" + *args.out_type +
                       "\": expected uint8, uint16, half or float");
    if (!s.output_format.Holds(*s.out_type)) {
      std::string held;
      for (SampleType t : s.output_format.holds)
        held += (held.empty() ? "" : ", ") + std::string(SampleTypeName(t));
      throw InputError("--out-type " + *args.out_type + ": " + s.output_format.name + " files (\"" +
                       s.output + "\") hold " + held);
    }
  }
  if (args.compression) {
    CheckCompression(s.output_format, *args.compression, s.output);
    s.compression = *args.compression;
  }
  if (args.quality) {
    s.quality = IntOption("--quality", *args.quality, 1, 100);
    CheckQuality(s.output_format, s.quality, s.output);
  }
}

// A colour option's value, the command line over the project, with the name of where it came from.
struct Named {
  std::string value;
  std::string where;
};

std::optional<Named> Pick(const std::optional<std::string>& arg, const std::string& option,
                          const std::optional<std::string>& key, const std::string& key_where) {
  if (arg) return Named{*arg, option};
  if (key) return Named{*key, key_where};
  return std::nullopt;
}

// Runs a step of the footage's colour code, its refusals as InputError.
template <typename Step>
auto Colour(Step step) {
  try {
    return step();
  } catch (const vfoot::FootageError& e) {
    throw InputError(e.what());
  }
}

ColourSettings ResolveColour(const RenderArgs& args, const Project& project,
                             const std::string& from_project) {
  auto key = [&](const char* name) { return from_project + ": \"" + name + "\""; };
  const std::optional<Named> config =
      Pick(args.ocio_config, "--ocio-config", project.colour.ocio_config, key("ocio_config"));
  const std::optional<Named> input =
      Pick(args.colorspace_in, "--colorspace-in", project.colour.input, key("colorspace_in"));
  const std::optional<Named> output =
      Pick(args.colorspace_out, "--colorspace-out", project.colour.output, key("colorspace_out"));
  const std::optional<Named> working =
      Pick(args.working_space, "--working-space", project.colour.working, key("working_space"));
  const std::optional<Named> map =
      Pick(args.map_colorspace, "--map-colorspace", project.colour.map, key("map_colorspace"));
  ColourSettings colour;
  if (!config && !input && !output && !working && !map) return colour;
  colour.config = Colour([&] {
    return config ? std::make_shared<const vfoot::ColourConfig>(config->value, config->where)
                  : std::make_shared<const vfoot::ColourConfig>("", "--ocio-config");
  });
  auto resolve = [&](const std::optional<Named>& name) -> std::optional<std::string> {
    if (!name) return std::nullopt;
    try {
      return colour.config->Resolve(name->value, name->where);
    } catch (const vfoot::FootageError& e) {
      throw InputError(std::string(e.what()) + " (see varnex colorspaces)");
    }
  };
  colour.input = resolve(input);
  colour.output = resolve(output);
  colour.working = resolve(working);
  colour.map = resolve(map);
  return colour;
}

// The space an output format's files are usually in, for a render at 32 bits.
std::string UsualOutputSpace(const RenderSettings& s) {
  if (s.movie_output) return vfoot::kRec709Space;
  const std::string& f = s.output_format.name;
  const bool floats = f == "openexr" || f == "hdr" ||
                      (s.out_type == SampleType::kHalf || s.out_type == SampleType::kFloat);
  return floats ? vfoot::kLinearSpace : vfoot::kSrgbSpace;
}

}  // namespace

RenderSettings ResolveRenderSettings(const RenderArgs& args) {
  RenderSettings s;
  Project project;
  if (args.project) project = LoadProject(*args.project);
  const std::string from_project = "project " + project.path;

  if (args.input)
    s.input = *args.input;
  else if (project.input)
    s.input = *project.input;
  else
    throw InputError("no input image (give INPUT or \"input\" in the project)");
  if (args.output)
    s.output = *args.output;
  else if (project.output)
    s.output = *project.output;
  else
    throw InputError("no output (give -o OUTPUT or \"output\" in the project)");

  if (args.map)
    s.map = *args.map;
  else
    s.map = project.map;
  s.input_layer = Layer("--input", args.input_start, args.input_outside, project.input_timing,
                        from_project + ": \"input");
  s.map_layer = Layer("--map", args.map_start, args.map_outside, project.map_timing,
                      from_project + ": \"map");
  if (args.missing) {
    if (*args.missing == "hold")
      s.missing = vfoot::MissingFrames::kHoldNearest;
    else if (*args.missing != "refuse")
      throw InputError("--missing \"" + *args.missing + "\": expected refuse or hold");
  }
  if (args.codec) s.movie.codec = *args.codec;
  if (args.crf) s.movie.crf = IntOption("--crf", *args.crf, 0, 63);
  if (args.bitrate) s.movie.bitrate = ParseBitrate(*args.bitrate);
  std::pair<int, int> offset{0, 0};
  if (args.map_offset) {
    offset = ParsePair("--map-offset", *args.map_offset, ',', "X,Y in pixels");
    CheckOffset("--map-offset", offset);
  } else if (project.map_offset) {
    offset = *project.map_offset;
    CheckOffset(from_project + ": \"map.offset\"", offset);
  }
  s.map_offset_given = args.map_offset || project.map_offset;
  s.map_offset_x = offset.first;
  s.map_offset_y = offset.second;

  s.fps_given = args.fps || project.fps;
  if (args.fps)
    s.fps = ParseFps("--fps", *args.fps);
  else if (project.fps)
    s.fps = ParseFps(from_project + ": \"fps\"", *project.fps);

  // A plain range or frame keeps the messages of a range; anything else is a frame list.
  std::optional<std::vector<int>> frames;
  auto range = [](int first, int last) {
    std::vector<int> list;
    for (int f = first; f <= last; ++f) list.push_back(f);
    return list;
  };
  if (args.frames) {
    int single = 0;
    if (ParseInt(*args.frames, &single)) {
      CheckFrames("--frames", single, single);
      frames = range(single, single);
    } else if (args.frames->find_first_of(",x") != std::string::npos) {
      frames = ParseFrameList(*args.frames, "--frames");
    } else {
      const auto [first, last] = ParsePair("--frames", *args.frames, '-', "A-B");
      CheckFrames("--frames", first, last);
      frames = range(first, last);
    }
  } else if (project.frame_list) {
    frames = ParseFrameList(*project.frame_list, from_project + ": \"frames\"");
  } else if (project.frames) {
    CheckFrames(from_project, project.frames->first, project.frames->second);
    frames = range(project.frames->first, project.frames->second);
  }

  if (args.depth)
    s.depth = CheckDepth("--depth", IntOption("--depth", *args.depth, 8, 32));
  else if (project.depth)
    s.depth = CheckDepth(from_project, *project.depth);
  s.colour = ResolveColour(args, project, from_project);
  if (s.colour.working) {
    if (s.depth == 8)
      throw InputError(std::string(args.depth ? "--depth" : from_project + ": \"depth\"") +
                       " 8: a working colour space renders at 32 bits; leave the depth out or "
                       "give 32");
    s.depth = 32;
  }
  if (args.downsample)
    s.downsample = IntOption("--downsample", *args.downsample, 1, kMaxDownsample);
  const unsigned cores = std::thread::hardware_concurrency();
  s.threads = args.threads ? IntOption("--threads", *args.threads, 1, kMaxThreads)
                           : static_cast<int>(std::clamp(cores, 1u, unsigned(kMaxThreads)));
  s.quiet = args.quiet;
  s.verbose = args.verbose && !args.quiet;
  s.no_overwrite = args.no_overwrite;
  s.skip_existing = args.skip_existing;
  s.continue_on_error = args.continue_on_error;
  s.dry_run = args.dry_run;
  s.report = args.report;
  s.save_project = args.save_project;

  s.controls = project.controls;
  for (const std::string& set : args.sets) s.controls.push_back(SetOption(set));

  // A range of images needs a placeholder; a single frame may go to a plain name, and a movie
  // holds every frame.
  s.pattern = ParseFramePattern(s.output);
  s.movie_output = IsMovieName(s.output);
  if (s.movie_output && s.pattern)
    throw InputError("output \"" + s.output +
                     "\": a movie holds every frame; it takes no frame-number placeholder");
  if (!s.movie_output && (s.movie.codec || s.movie.crf || s.movie.bitrate))
    throw InputError("--codec, --crf and --bitrate are for a movie output (.mov, .mp4, .mkv)");
  s.frames_given = frames.has_value();
  SetFrames(&s, frames.value_or(std::vector<int>{0}));
  const std::string first_name = OutputPath(s, s.first_frame);
  CheckOutputFolder(first_name);
  if (!s.movie_output) s.output_format = OutputFormatFor(first_name);
  CheckImageWriteOptions(args, &s);
  if (s.movie_output && (s.skip_existing || s.continue_on_error))
    throw InputError(
        "--skip-existing and --continue-on-error are for image outputs: a movie holds every "
        "frame in one file");
  return s;
}

ColourPlan PlanColour(const RenderSettings& s, const vfoot::Source& input) {
  const ColourSettings& colour = s.colour;
  const vfoot::ColourTag tag = input.colour_tag();
  std::string input_space;
  std::string origin;
  if (colour.input) {
    input_space = *colour.input;
  } else if (!tag.space.empty()) {
    input_space = vfoot::ConventionalSpelling(tag.space);
    origin = "its tag";
  } else {
    input_space = vfoot::ConventionalSpace(input.kind(), tag.float_samples);
    origin = "by convention";
  }
  ColourPlan plan;
  plan.output_space = input_space;
  if (!colour.working && !colour.output && !colour.map) return plan;

  const vfoot::ColourConfig& config = *colour.config;
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
  Colour([&] {
    if (colour.working) plan.input = config.Conversion(input_space, *colour.working);
    if (colour.map) plan.map = config.Conversion(*colour.map, render_space);
    plan.output = config.Conversion(render_space, plan.output_space);
  });
  return plan;
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

}  // namespace vcli

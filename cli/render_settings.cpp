#include "cli/render_settings.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <thread>

#include "cli/errors.h"
#include "cli/image_io.h"
#include "cli/limits.h"

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

double CheckFps(const std::string& where, double fps) {
  if (!std::isfinite(fps) || fps < kMinFps || fps > kMaxFps)
    throw InputError(where + ": frames per second must be from " + std::to_string(kMinFps) +
                     " to " + std::to_string(static_cast<int>(kMaxFps)));
  return fps;
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
  if (!args.output) throw InputError("no output (give -o OUTPUT)");
  s.output = *args.output;

  if (args.map)
    s.map = *args.map;
  else
    s.map = project.map;
  std::pair<int, int> offset{0, 0};
  if (args.map_offset) {
    offset = ParsePair("--map-offset", *args.map_offset, ',', "X,Y in pixels");
    CheckOffset("--map-offset", offset);
  } else if (project.map_offset) {
    offset = *project.map_offset;
    CheckOffset(from_project + ": \"map.offset\"", offset);
  }
  s.map_offset_x = offset.first;
  s.map_offset_y = offset.second;

  if (args.fps) {
    double fps = 0;
    const std::string& text = *args.fps;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), fps);
    if (ec != std::errc() || ptr != text.data() + text.size())
      throw InputError("--fps \"" + text + "\": expected a number");
    s.fps = CheckFps("--fps", fps);
  } else if (project.fps) {
    s.fps = CheckFps(from_project, *project.fps);
  }

  std::optional<std::pair<int, int>> frames;
  if (args.frames) {
    int single = 0;
    if (ParseInt(*args.frames, &single))
      frames = std::pair{single, single};
    else
      frames = ParsePair("--frames", *args.frames, '-', "A-B");
    CheckFrames("--frames", frames->first, frames->second);
  } else if (project.frames) {
    frames = project.frames;
    CheckFrames(from_project, frames->first, frames->second);
  }

  if (args.depth)
    s.depth = CheckDepth("--depth", IntOption("--depth", *args.depth, 8, 32));
  else if (project.depth)
    s.depth = CheckDepth(from_project, *project.depth);
  if (args.downsample)
    s.downsample = IntOption("--downsample", *args.downsample, 1, kMaxDownsample);
  const unsigned cores = std::thread::hardware_concurrency();
  s.threads = args.threads ? IntOption("--threads", *args.threads, 1, kMaxThreads)
                           : static_cast<int>(std::clamp(cores, 1u, unsigned(kMaxThreads)));
  s.quiet = args.quiet;
  s.verbose = args.verbose && !args.quiet;

  s.controls = project.controls;
  for (const std::string& set : args.sets) s.controls.push_back(SetOption(set));

  // A range needs a placeholder; a single frame may go to a plain name.
  s.pattern = ParseFramePattern(s.output);
  if (frames) {
    s.first_frame = frames->first;
    s.last_frame = frames->second;
  }
  if (!s.pattern && s.first_frame != s.last_frame)
    throw InputError("output \"" + s.output + "\": frames " + std::to_string(s.first_frame) + "-" +
                     std::to_string(s.last_frame) +
                     " need #### or %04d in the name for the frame number");
  const std::string first_name = OutputPath(s, s.first_frame);
  CheckOutputFolder(first_name);
  s.output_format = OutputFormatFor(first_name);
  return s;
}

std::string OutputPath(const RenderSettings& settings, int frame) {
  return settings.pattern ? ExpandFramePattern(*settings.pattern, frame) : settings.output;
}

}  // namespace vcli

#include "pipeline/options.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <numeric>
#include <sstream>
#include <stdexcept>

#include "hostapp/text.h"
#include "pipeline/errors.h"
#include "pipeline/frame_list.h"
#include "pipeline/limits.h"

namespace vpipe {

namespace {

using Json = nlohmann::json;
using vhost::ParseWholeNumber;
using vhost::Quoted;

// Projects are small; anything bigger is not a project.
constexpr std::uintmax_t kMaxProjectBytes = 16u << 20;

// ---- Value forms. A value is a command line's text (a JSON string) or a project's JSON value;
// each form reads both and says what it expected in the words of where the value came from.

[[noreturn]] void Refuse(const OptionOrigin& o, const std::string& what) {
  throw InputError(o.where + what);
}

// A project's whole number that fits an int.
int JsonInt(const Json& v, const OptionOrigin& o) {
  // An unsigned number above the signed range would read back negative.
  if (!v.is_number_integer() ||
      (v.is_number_unsigned() &&
       v.get<unsigned long long>() > static_cast<unsigned>(std::numeric_limits<int>::max())) ||
      v.get<long long>() < std::numeric_limits<int>::min() ||
      v.get<long long>() > std::numeric_limits<int>::max())
    Refuse(o, " must be a whole number");
  return v.get<int>();
}

int WholeNumber(const Json& v, const OptionOrigin& o, int lo, int hi) {
  int value = 0;
  bool read = true;
  if (v.is_string())
    read = ParseWholeNumber(v.get<std::string>(), &value);
  else
    value = JsonInt(v, o);
  if (!read || value < lo || value > hi)
    Refuse(o, " \"" + (v.is_string() ? v.get<std::string>() : v.dump()) +
                  "\": expected a whole number from " + std::to_string(lo) + " to " +
                  std::to_string(hi));
  return value;
}

std::string Text(const Json& v, const OptionOrigin& o, const char* expected) {
  if (!v.is_string()) Refuse(o, std::string(" must be ") + expected);
  return v.get<std::string>();
}

// A path from a project is taken from the project's folder.
std::string PathValue(const Json& v, const OptionOrigin& o) {
  if (!v.is_string() || v.get<std::string>().empty()) Refuse(o, " must be a path");
  std::filesystem::path p = v.get<std::string>();
  if (!o.folder.empty() && p.is_relative()) p = std::filesystem::path(o.folder) / p;
  return o.folder.empty() ? p.string() : p.lexically_normal().string();
}

std::string Absolute(const std::string& path) {
  return std::filesystem::absolute(path).lexically_normal().string();
}

std::pair<int, int> Pair(const Json& v, const OptionOrigin& o, char separator, const char* form) {
  if (v.is_array()) {
    if (v.size() != 2) Refuse(o, " must be a list of two numbers");
    return {JsonInt(v[0], o), JsonInt(v[1], o)};
  }
  const std::string text = Text(v, o, form);
  const size_t at = text.find(separator, 1);  // "-3,4": the sign is not the separator
  int a = 0, b = 0;
  if (at == std::string::npos || !ParseWholeNumber(text.substr(0, at), &a) ||
      !ParseWholeNumber(text.substr(at + 1), &b))
    Refuse(o, " \"" + text + "\": expected " + form);
  return {a, b};
}

template <typename Enum>
struct Choice {
  const char* name;
  Enum value;
};

template <typename Enum, size_t N>
Enum Choose(const Json& v, const OptionOrigin& o, const Choice<Enum> (&choices)[N]) {
  std::string expected;
  for (size_t i = 0; i < N; ++i)
    expected += (i == 0 ? "" : i + 1 == N ? " or " : ", ") + std::string(choices[i].name);
  const std::string text = Text(v, o, expected.c_str());
  for (const Choice<Enum>& c : choices)
    if (text == c.name) return c.value;
  Refuse(o, " \"" + text + "\": expected " + expected);
}

template <typename Enum, size_t N>
Json NameOf(Enum value, const Choice<Enum> (&choices)[N]) {
  for (const Choice<Enum>& c : choices)
    if (c.value == value) return c.name;
  return nullptr;
}

constexpr Choice<vmedia::Outside> kOutside[] = {{"hold", vmedia::Outside::kHold},
                                                {"loop", vmedia::Outside::kLoop},
                                                {"transparent", vmedia::Outside::kTransparent}};
constexpr Choice<vmedia::MissingFrames> kMissing[] = {
    {"refuse", vmedia::MissingFrames::kRefuse}, {"hold", vmedia::MissingFrames::kHoldNearest}};

void CheckFrames(const OptionOrigin& o, int first, int last) {
  if (first < 0 || last > kMaxFrame || first > last)
    Refuse(o, ": frames " + std::to_string(first) + "-" + std::to_string(last) +
                  " are not a range within 0-" + std::to_string(kMaxFrame));
  if (static_cast<long long>(last) - first + 1 > kMaxFrameCount)
    Refuse(o, ": " + std::to_string(static_cast<long long>(last) - first + 1) +
                  " frames are more than the limit of " + std::to_string(kMaxFrameCount));
}

// "7", "1-100" keep the messages of a range; anything else is a frame list ("1-100x2,200").
std::vector<int> Frames(const Json& v, const OptionOrigin& o) {
  auto range = [](int first, int last) {
    std::vector<int> list;
    for (int f = first; f <= last; ++f) list.push_back(f);
    return list;
  };
  if (v.is_array()) {
    const auto [first, last] = Pair(v, o, '-', "A-B");
    CheckFrames(o, first, last);
    return range(first, last);
  }
  const std::string text = Text(v, o, "a list of two numbers or a frame list such as \"1-100x2\"");
  int single = 0;
  if (ParseWholeNumber(text, &single)) {
    CheckFrames(o, single, single);
    return range(single, single);
  }
  if (text.find_first_of(",x") != std::string::npos) return ParseFrameList(text, o.where);
  const auto [first, last] = Pair(v, o, '-', "A-B");
  CheckFrames(o, first, last);
  return range(first, last);
}

// A rate as a whole number ("25"), a decimal ("12.5", "23.976") or a ratio ("24000/1001").
// The broadcast rates written as decimals (23.976, 29.97, 59.94, ...) are the ratios N×1000/1001
// they stand for, so that they keep in step with footage at those rates; other decimals are
// taken to the millisecond.
FrameRate Fps(const Json& v, const OptionOrigin& o) {
  if (!v.is_number() && !v.is_string())
    Refuse(o, " must be a number or a ratio such as \"24000/1001\"");
  const std::string text = v.is_string() ? v.get<std::string>() : v.dump();
  const std::string range_message = o.where + ": frames per second must be from " +
                                    vhost::FormatNumber(kMinFps) + " to " +
                                    std::to_string(static_cast<int>(kMaxFps));
  FrameRate fps;
  const size_t slash = text.find('/');
  if (slash != std::string::npos) {
    int num = 0, den = 0;
    if (!ParseWholeNumber(text.substr(0, slash), &num) ||
        !ParseWholeNumber(text.substr(slash + 1), &den) || num <= 0 || den <= 0)
      Refuse(o, " \"" + text + "\": expected a number or a ratio NUM/DEN");
    if (den > kMaxFpsDenominator)
      Refuse(o,
             " \"" + text + "\": the denominator is above " + std::to_string(kMaxFpsDenominator));
    fps = {num, den};
  } else {
    double value = 0;
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size())
      Refuse(o, " \"" + text + "\": expected a number");
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

Json FpsJson(const FrameRate& fps) {
  return std::to_string(fps.num) + "/" + std::to_string(fps.den);
}

// Bits per second as a whole number with an optional k or M ("8M", "800k", "8000000").
int64_t Bitrate(const Json& v, const OptionOrigin& o) {
  const std::string text = v.is_number_integer() ? v.dump() : Text(v, o, "a bit rate");
  int64_t unit = 1;
  std::string digits = text;
  if (!digits.empty() && (digits.back() == 'k' || digits.back() == 'K')) unit = 1000;
  if (!digits.empty() && digits.back() == 'M') unit = 1000000;
  if (unit != 1) digits.pop_back();
  int64_t value = 0;
  if (!ParseWholeNumber(digits, &value) || value <= 0 || value > kMaxBitrate / unit)
    Refuse(o, " \"" + text + "\": expected bits per second such as 8M or 800k, at most " +
                  std::to_string(kMaxBitrate / 1000000) + "M");
  return value * unit;
}

// ---- Control settings: "NAME=VALUE" from --set, or a project's "controls" object.

// A control value as the text the command line would give for it.
std::string ValueText(const Json& v, const OptionOrigin& o, const std::string& control) {
  if (v.is_boolean()) return v.get<bool>() ? "on" : "off";
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_unsigned()) return std::to_string(v.get<unsigned long long>());
  if (v.is_number_integer()) return std::to_string(v.get<long long>());
  if (v.is_number()) return vhost::ExactNumber(v.get<double>());
  // A point control takes [x, y].
  if (v.is_array() && v.size() == 2 && v[0].is_number() && v[1].is_number())
    return ValueText(v[0], o, control) + "," + ValueText(v[1], o, control);
  Refuse(o, ": control \"" + control + "\": a value must be a number, a text or true/false");
}

ControlSetting Control(const std::string& name, const Json& v, const OptionOrigin& o,
                       const std::string& origin) {
  ControlSetting setting;
  setting.name = name;
  setting.origin = origin;
  const bool keyframes = v.is_array() && !v.empty() && v[0].is_array();
  if (!keyframes) {
    setting.value = ValueText(v, o, name);
    return setting;
  }
  for (const Json& key : v) {
    if (!key.is_array() || key.size() != 2 || !key[0].is_number())
      Refuse(o, ": control \"" + name + "\": keyframes must be [frame, value] pairs");
    const double frame = key[0].get<double>();
    if (!std::isfinite(frame))
      Refuse(o, ": control \"" + name + "\": keyframe frame is not finite");
    setting.keys.emplace_back(frame, ValueText(key[1], o, name));
  }
  return setting;
}

void SetControls(RenderRequest& r, const Json& v, const OptionOrigin& o) {
  if (v.is_string()) {  // --set NAME=VALUE
    const std::string text = v.get<std::string>();
    const size_t eq = text.find('=');
    if (eq == std::string::npos || eq == 0) Refuse(o, " \"" + text + "\": expected NAME=VALUE");
    r.controls.push_back(
        {.name = text.substr(0, eq), .origin = "--set", .value = text.substr(eq + 1), .keys = {}});
    return;
  }
  if (!v.is_object()) Refuse(o, " must be an object of name: value");
  // The project's name for messages: "project p.json", without the key.
  const std::string origin = o.where.substr(0, o.where.rfind(": "));
  for (const auto& [name, value] : v.items()) r.controls.push_back(Control(name, value, o, origin));
}

// Settings apply in order, a later one replacing an earlier one of the same control; a project
// keeps each control's last, which is what the render used.
Json ControlsJson(const RenderRequest& r) {
  if (r.controls.empty()) return nullptr;
  Json controls = Json::object();
  for (const ControlSetting& c : r.controls) {
    if (c.value) {
      controls[c.name] = *c.value;
      continue;
    }
    Json keys = Json::array();
    for (const auto& [frame, value] : c.keys) keys.push_back({frame, value});
    controls[c.name] = keys;
  }
  return controls;
}

// ---- The table.

template <typename T>
Json Maybe(const std::optional<T>& v) {
  return v ? Json(*v) : Json(nullptr);
}

Option Flag(std::string name, std::string flags, std::string help, bool RenderRequest::*field) {
  return {name,
          flags,
          "",
          "",
          help,
          [field](RenderRequest& r, const Json& v, const OptionOrigin& o) {
            if (v.is_boolean()) {
              r.*field = v.get<bool>();
            } else if (v == "true" || v == "false") {
              r.*field = v == "true";
            } else {
              Refuse(o, " must be true or false");
            }
          },
          [field](const RenderRequest& r) { return Json(r.*field); }};
}

Option PathOption(std::string name, std::string flags, std::string key, std::string value_name,
                  std::string help, std::optional<std::string> RenderRequest::*field) {
  return {name,
          flags,
          key,
          value_name,
          help,
          [field](RenderRequest& r, const Json& v, const OptionOrigin& o) {
            r.*field = PathValue(v, o);
          },
          [field](const RenderRequest& r) {
            return (r.*field) ? Json(Absolute(*(r.*field))) : Json(nullptr);
          }};
}

// A colour space's name, resolved against the configuration by the plan.
Option SpaceOption(std::string name, std::string key, std::string help,
                   std::optional<std::string> ColourNames::*field) {
  return {name,
          "--" + name,
          key,
          "NAME",
          help,
          [field](RenderRequest& r, const Json& v, const OptionOrigin& o) {
            r.colour_names.*field = Text(v, o, "a colour space's name");
          },
          [field](const RenderRequest& r) { return Maybe(r.colour_names.*field); }};
}

// A layer's place on the timeline: where its first frame shows and what it shows outside its
// frames. The two layers' options differ only in the layer they set.
std::vector<Option> TimingOptions(const std::string& layer, LayerSettings RenderRequest::*field,
                                  const std::string& start_help, const std::string& outside_help) {
  auto row = [&](const std::string& what, std::string value_name, std::string help, auto set,
                 auto get) {
    return Option{layer + "-" + what,
                  "--" + layer + "-" + what,
                  layer + "." + what,
                  std::move(value_name),
                  std::move(help),
                  [field, set](RenderRequest& r, const Json& v, const OptionOrigin& o) {
                    set(r.*field, v, o);
                  },
                  [field, get](const RenderRequest& r) { return get(r.*field); }};
  };
  return {row(
              "start", "N", start_help,
              [](LayerSettings& l, const Json& v, const OptionOrigin& o) {
                l.start = WholeNumber(v, o, -kMaxFrame, kMaxFrame);
              },
              [](const LayerSettings& l) { return Maybe(l.start); }),
          row(
              "outside", "hold|loop|transparent", outside_help,
              [](LayerSettings& l, const Json& v, const OptionOrigin& o) {
                l.outside = Choose(v, o, kOutside);
              },
              [](const LayerSettings& l) { return NameOf(l.outside, kOutside); })};
}

std::vector<Option> MakeOptions() {
  using R = RenderRequest;
  using O = OptionOrigin;
  std::vector<Option> options = {
      {"input", "INPUT", "input.path", "FOOTAGE",
       "what to apply the effect to: an image (PNG, JPEG, TIFF, EXR), an image sequence "
       "(in.####.exr or in.%04d.exr) or a movie (MOV, MP4, MKV, ...); may come from the project",
       [](R& r, const Json& v, const O& o) { r.input = PathValue(v, o); },
       [](const R& r) { return r.input.empty() ? Json(nullptr) : Json(Absolute(r.input)); }},
      {"output", "-o,--output", "output", "OUTPUT",
       "the image or movie to write; its extension picks the format (.mov ProRes 4444, .mp4 "
       "H.264, .mkv lossless FFV1, or an image format); an image sequence holds #### or %04d for "
       "the frame number; may come from the project",
       [](R& r, const Json& v, const O& o) { r.output = PathValue(v, o); },
       [](const R& r) { return r.output.empty() ? Json(nullptr) : Json(Absolute(r.output)); }},
      PathOption("map", "-m,--map", "map.path", "FOOTAGE",
                 "the \"Map Layer\": an image, an image sequence or a movie; none by default",
                 &R::map),
      {"map-offset", "--map-offset", "map.offset", "X,Y",
       "the map layer's origin relative to the input, in pixels (default: where its data window "
       "lies relative to the input's, else 0,0)",
       [](R& r, const Json& v, const O& o) {
         const auto [x, y] = Pair(v, o, ',', "X,Y in pixels");
         if (std::abs(x) > kMaxMapOffset || std::abs(y) > kMaxMapOffset)
           Refuse(o, ": the offset is beyond " + std::to_string(kMaxMapOffset) + " pixels");
         r.map_offset_x = x;
         r.map_offset_y = y;
       },
       [](const R& r) {
         return Json::array({r.map_offset_x, r.map_offset_y});
       }},
      {"missing", "--missing", "missing", "refuse|hold",
       "a frame missing inside an image sequence: refuse the render (default) or hold the "
       "nearest existing frame",
       [](R& r, const Json& v, const O& o) { r.missing = Choose(v, o, kMissing); },
       [](const R& r) { return NameOf(r.missing, kMissing); }},
      {"codec", "--codec", "codec", "NAME",
       "the encoder of a movie output (default by extension: prores_ks, libx264, ffv1)",
       [](R& r, const Json& v, const O& o) { r.movie.codec = Text(v, o, "an encoder's name"); },
       [](const R& r) { return Maybe(r.movie.codec); }},
      {"crf", "--crf", "crf", "N", "constant rate factor of a movie output (default 18)",
       [](R& r, const Json& v, const O& o) { r.movie.crf = WholeNumber(v, o, 0, 63); },
       [](const R& r) { return Maybe(r.movie.crf); }},
      {"bitrate", "--bitrate", "bitrate", "RATE",
       "bit rate of a movie output instead of a rate factor, e.g. 20M",
       [](R& r, const Json& v, const O& o) { r.movie.bitrate = Bitrate(v, o); },
       [](const R& r) { return Maybe(r.movie.bitrate); }},
      {"out-type", "--out-type", "out_type", "uint8|uint16|half|float",
       "the sample type of image files written (default: the input's own where the format holds "
       "it, else the nearest it does)",
       [](R& r, const Json& v, const O& o) {
         const std::string text = Text(v, o, "uint8, uint16, half or float");
         r.out_type = vmedia::ParseSampleType(text);
         if (!r.out_type) Refuse(o, " \"" + text + "\": expected uint8, uint16, half or float");
       },
       [](const R& r) { return r.out_type ? Json(SampleTypeName(*r.out_type)) : Json(nullptr); }},
      {"compression", "--compression", "compression", "NAME",
       "the compression of image files written, by OpenImageIO's names: zip, zips, piz, dwaa:45, "
       "none (EXR), lzw, zip (TIFF), zip:3 (PNG's level)",
       [](R& r, const Json& v, const O& o) { r.compression = Text(v, o, "a compression's name"); },
       [](const R& r) { return r.compression.empty() ? Json(nullptr) : Json(r.compression); }},
      {"quality", "--quality", "quality", "N", "JPEG quality, 1 to 100",
       [](R& r, const Json& v, const O& o) { r.quality = WholeNumber(v, o, 1, 100); },
       [](const R& r) { return r.quality ? Json(r.quality) : Json(nullptr); }},
      {"set", "-s,--set", "controls", "NAME=VALUE",
       "set a control by its label (\"Translate X\") or identifier (PARAM_TRANSLATE_X), "
       "case-insensitive, in the units the panel shows: percent, degrees, on/off, popup item "
       "text or number; repeatable; overrides the project",
       SetControls, ControlsJson},
      // The project file itself: front ends read it first (LoadProject) and set their own options
      // over it, so the request does not keep its name.
      {"project", "-p,--project", "", "FILE",
       "a JSON project: the footage, the output and every option that changes what is rendered "
       "or written, and control values or keyframes; options given here override it",
       [](R&, const Json&, const O&) {}, [](const R&) { return Json(nullptr); }},
      {"depth", "-d,--depth", "depth", "8|32",
       "bits per channel of the render (default: 8 for 8-bit footage, 32 when the input or the "
       "map is deeper: 16-bit images, 10-bit video, half or float)",
       [](R& r, const Json& v, const O& o) {
         const int depth = WholeNumber(v, o, 8, 32);
         if (depth != 8 && depth != 32) Refuse(o, ": the depth must be 8 or 32");
         r.depth = depth;
       },
       [](const R& r) { return Maybe(r.depth); }},
      {"downsample", "--downsample", "downsample", "N",
       "render at 1/N resolution, as a host's draft mode does (1 to " +
           std::to_string(kMaxDownsample) + ")",
       [](R& r, const Json& v, const O& o) { r.downsample = WholeNumber(v, o, 1, kMaxDownsample); },
       [](const R& r) { return Json(r.downsample); }},
      {"frames", "-f,--frames", "frames", "LIST",
       "the frames to render: 7, 1-100, 1-100x2 (every second), 1,5,10-20 (0 to " +
           std::to_string(kMaxFrame) + ", at most " + std::to_string(kMaxFrameCount) +
           " frames; default: a sequence's or a movie's own frames, else 0); an image OUTPUT then "
           "holds #### or %04d for the frame number; a single frame may go to a plain OUTPUT",
       [](R& r, const Json& v, const O& o) { r.frames = Frames(v, o); },
       [](const R& r) {
         return r.frames.empty() ? Json(nullptr) : Json(FormatFrameList(r.frames));
       }},
      {"fps", "--fps", "fps", "F",
       "frames per second: 24, 23.976 or 24000/1001 (default: a movie input's own rate, else 24)",
       [](R& r, const Json& v, const O& o) { r.fps = Fps(v, o); },
       [](const R& r) { return FpsJson(r.fps); }},
      {"threads", "-j,--threads", "", "N",
       "host render threads (default: the number of cores, at most " + std::to_string(kMaxThreads) +
           ")",
       [](R& r, const Json& v, const O& o) { r.threads = WholeNumber(v, o, 1, kMaxThreads); },
       [](const R& r) { return r.threads ? Json(r.threads) : Json(nullptr); }},
      SpaceOption("colorspace-in", "colorspace_in",
                  "the colour space of the input's values, over its file's tag (default: the tag, "
                  "else sRGB for integer images, linear for float images, Rec709 for movies)",
                  &ColourNames::input),
      SpaceOption("working-space", "working_space",
                  "render in this colour space: the input is converted into it, the render runs "
                  "at 32 bits, and the output is converted into --colorspace-out (default: values "
                  "pass through untouched)",
                  &ColourNames::working),
      SpaceOption("colorspace-out", "colorspace_out",
                  "the colour space to write (default: the input's; with --working-space the "
                  "output format's usual one: sRGB for 8- and 16-bit images, linear for EXR and "
                  "float TIFF, Rec709 for movies)",
                  &ColourNames::output),
      SpaceOption("map-colorspace", "map_colorspace",
                  "convert the map from this colour space into the working space (or the "
                  "input's); by default the map is data and is never converted",
                  &ColourNames::map),
      {"ocio-config", "--ocio-config", "ocio_config", "FILE",
       "the OpenColorIO config whose colour spaces the names are (default: $OCIO, else "
       "OpenImageIO's built-in spaces)",
       [](R& r, const Json& v, const O& o) { r.colour_names.ocio_config = PathValue(v, o); },
       [](const R& r) {
         return r.colour_names.ocio_config ? Json(Absolute(*r.colour_names.ocio_config))
                                           : Json(nullptr);
       }},
      Flag("no-overwrite", "-n,--no-overwrite",
           "refuse to replace an existing output (without it, outputs are replaced, each at once "
           "when complete)",
           &R::no_overwrite),
      Flag("skip-existing", "--skip-existing",
           "leave out frames whose image already exists (written whole, so complete): running the "
           "same command again resumes a render",
           &R::skip_existing),
      Flag("continue-on-error", "--continue-on-error",
           "report a frame that fails and render the others (exit status 1)",
           &R::continue_on_error),
      Flag("dry-run", "--dry-run",
           "resolve everything and print it (footage, frames, outputs, control values at every "
           "frame); write no image",
           &R::dry_run),
      PathOption("report", "--report", "", "FILE",
                 "write the render's settings and each frame's output, time and outcome as JSON",
                 &R::report),
      PathOption("save-project", "--save-project", "", "FILE",
                 "write the resolved render as a project that -p reads back", &R::save_project),
      Flag("quiet", "-q,--quiet", "no progress display and no warnings", &R::quiet),
      Flag("verbose", "-v,--verbose",
           "show the plug-in's GL diagnostics and FFmpeg's messages (on standard error)",
           &R::verbose),
  };
  // The layers' timing, after the map's offset as --help lists them.
  const auto at = std::find_if(options.begin(), options.end(),
                               [](const Option& o) { return o.name == "map-offset"; }) +
                  1;
  std::vector<Option> timing = TimingOptions(
      "input", &R::input_layer,
      "the frame at which the input's first frame shows (default: a sequence's own first number, "
      "a movie's 0)",
      "what the input shows outside its frames: hold the nearest (default), loop, or transparent");
  for (Option& o : TimingOptions("map", &R::map_layer, "the same for the map layer",
                                 "the same for the map layer"))
    timing.push_back(std::move(o));
  options.insert(at, timing.begin(), timing.end());
  return options;
}

// Every key of a project object, with nested objects' keys dotted ("map.offset"); "input" and
// "map" may also be just their path.
void Flatten(const Json& v, const std::string& key, std::vector<std::pair<std::string, Json>>* out,
             const OptionOrigin& origin) {
  if ((key == "input" || key == "map") && !v.is_object()) {
    out->emplace_back(key + ".path", v);
    return;
  }
  if ((key == "input" || key == "map")) {
    if (!v.contains("path")) throw InputError(origin.where + ": \"" + key + "\" needs a \"path\"");
    for (const auto& [inner, value] : v.items()) out->emplace_back(key + "." + inner, value);
    return;
  }
  out->emplace_back(key, v);
}

}  // namespace

const std::vector<Option>& RenderOptions() {
  static const std::vector<Option> options = MakeOptions();
  return options;
}

const Option& FindOption(const std::string& name) {
  for (const Option& option : RenderOptions())
    if (option.name == name) return option;
  throw std::out_of_range("no render option " + name);
}

void SetOption(RenderRequest* request, const std::string& name, const std::string& text) {
  const Option& option = FindOption(name);
  const OptionOrigin origin{"--" + name, ""};
  option.set(*request, Json(text), origin);
  request->given[name] = origin.where;
}

RenderRequest LoadProject(const std::string& path) {
  const std::string file = "project " + path;
  auto fail = [&](const std::string& what) { throw InputError(file + ": " + what); };
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) fail("no such file");
  if (std::filesystem::file_size(path, ec) > kMaxProjectBytes) fail("file too large");
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in) fail("cannot read the file");
  Json root;
  try {
    root = Json::parse(text.str());
  } catch (const Json::exception& e) {
    // Syntax errors, and numbers too large for a double ("1e999"), which the library reports as
    // out of range. Its message carries its own prefix; keep the part a user can act on.
    std::string what = e.what();
    const size_t end_of_tag = what.find("] ");
    if (end_of_tag != std::string::npos) what = what.substr(end_of_tag + 2);
    fail("malformed JSON: " + what);
  }
  if (!root.is_object()) fail("the top level must be a JSON object");
  const std::string folder = std::filesystem::path(path).parent_path().string();
  std::vector<std::pair<std::string, Json>> keys;
  for (const auto& [key, value] : root.items()) Flatten(value, key, &keys, {file, folder});
  RenderRequest request;
  for (const auto& [key, value] : keys) {
    const Option* option = nullptr;
    for (const Option& o : RenderOptions())
      if (!o.key.empty() && o.key == key) option = &o;
    if (!option) fail("unknown key \"" + key + "\"");
    const OptionOrigin origin{file + ": \"" + key + "\"", folder.empty() ? "." : folder};
    option->set(request, value, origin);
    request.given[option->name] = origin.where;
  }
  return request;
}

namespace {

// "map.offset" goes into the "map" object.
void Put(nlohmann::ordered_json* j, const std::string& key, const Json& value) {
  const size_t dot = key.find('.');
  if (dot == std::string::npos)
    (*j)[key] = value;
  else
    (*j)[key.substr(0, dot)][key.substr(dot + 1)] = value;
}

}  // namespace

nlohmann::ordered_json ProjectOf(const RenderRequest& request) {
  nlohmann::ordered_json project = nlohmann::ordered_json::object();
  for (const Option& option : RenderOptions()) {
    if (option.key.empty() || !request.Given(option.name)) continue;
    if (const Json value = option.get(request); !value.is_null()) Put(&project, option.key, value);
  }
  return project;
}

nlohmann::ordered_json SettingsOf(const RenderRequest& request) {
  nlohmann::ordered_json settings = nlohmann::ordered_json::object();
  for (const Option& option : RenderOptions()) {
    if (option.name == "set") continue;
    // A map layer's options say nothing without one.
    if (!request.map && option.key.rfind("map.", 0) == 0) continue;
    if (const Json value = option.get(request); !value.is_null())
      Put(&settings, option.key.empty() ? option.name : option.key, value);
  }
  return settings;
}

}  // namespace vpipe

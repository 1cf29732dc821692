#include "pipeline/output_layout.h"

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>

#include "hostapp/draft_layers.h"
#include "hostapp/text.h"
#include "media/frame_pattern.h"
#include "media/image_read.h"
#include "pipeline/errors.h"

#ifndef VARNEX_VERSION
#define VARNEX_VERSION "unknown"
#endif

namespace vpipe {

using vhost::FormatNumber;

namespace {

using vhost::Quoted;
using vmedia::PrecisionOf;

SampleType TypeOf(const OIIO::TypeDesc& format, int bits_per_sample, int* precision) {
  switch (format.basetype) {
    case OIIO::TypeDesc::UINT8:
    case OIIO::TypeDesc::INT8:
      *precision = 8;
      return SampleType::kUInt8;
    case OIIO::TypeDesc::UINT16:
    case OIIO::TypeDesc::INT16:
      // 10- and 12-bit files (DPX, some TIFFs) arrive as 16-bit samples.
      *precision = bits_per_sample > 8 && bits_per_sample < 16 ? bits_per_sample : 16;
      return SampleType::kUInt16;
    case OIIO::TypeDesc::HALF:
      *precision = PrecisionOf(SampleType::kHalf);
      return SampleType::kHalf;
    default:
      *precision = PrecisionOf(SampleType::kFloat);
      return SampleType::kFloat;
  }
}

bool StartsWith(const std::string& text, const char* prefix) {
  const std::string p(prefix);
  if (text.size() < p.size()) return false;
  for (size_t i = 0; i < p.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(p[i])))
      return false;
  }
  return true;
}

// Metadata that describes how the input's pixels were stored (its compression, sample layout,
// the format's own bookkeeping), belongs to one frame only (time codes), or would be wrong for
// the render's pixels (a colour profile: the output's colour space is tagged by name). The rest
// is the shot's: artist, camera, rate, a studio's own attributes.
bool DescribesTheOldPixels(const std::string& name) {
  for (const char* prefix : {"oiio:", "tiff:", "png:", "jpeg:", "openexr:", "dpx:", "smpte:"}) {
    if (StartsWith(name, prefix)) return true;
  }
  for (const char* exact : {"compression", "CompressionQuality", "planarconfig", "ICCProfile",
                            "Software", "varnex:Settings", "colorspace"}) {
    if (name.size() == std::string(exact).size() && StartsWith(name, exact)) return true;
  }
  return false;
}

// A window at the draft resolution: its corner toward minus infinity, its size as the host scales
// a layer's.
int FloorDivided(int value, int downsample) {
  const int q = value / downsample;
  return value % downsample < 0 ? q - 1 : q;
}

Window ScaledWindow(const Window& w, int downsample) {
  return {FloorDivided(w.x, downsample), FloorDivided(w.y, downsample),
          vhost::ScaledSize(w.width, {1, static_cast<A_u_long>(downsample)}),
          vhost::ScaledSize(w.height, {1, static_cast<A_u_long>(downsample)})};
}

}  // namespace

FootageFacts ReadFootageFacts(const vmedia::Source& source) {
  FootageFacts facts;
  facts.data = {0, 0, source.width(), source.height()};
  if (!source.header()) {  // a movie
    facts.type = source.depth() == 8 ? SampleType::kUInt8 : SampleType::kUInt16;
    facts.precision = source.depth() == 8 ? 8 : 10;
    return facts;
  }
  // The header the source read when it opened: its file is not opened again.
  const OIIO::ImageSpec& spec = source.header()->spec;
  facts.type =
      TypeOf(spec.format, spec.get_int_attribute("oiio:BitsPerSample", 0), &facts.precision);
  facts.data = {spec.x, spec.y, spec.width, spec.height};
  const Window display{spec.full_x, spec.full_y, spec.full_width, spec.full_height};
  if (display.width > 0 && display.height > 0 && !(display == facts.data)) facts.display = display;

  // The reader takes colour from the first three channels (or one, grey) and alpha from the
  // channel marked as alpha; whatever else the file holds is not displaced.
  const int alpha =
      spec.alpha_channel >= 0 && spec.alpha_channel < spec.nchannels ? spec.alpha_channel : -1;
  const int colour = std::min(spec.nchannels, alpha >= 0 && alpha < 3 ? alpha : 3);
  for (int c = 0; c < spec.nchannels; ++c) {
    if (c < colour || c == alpha) continue;
    facts.other_channels.push_back(c < static_cast<int>(spec.channelnames.size())
                                       ? spec.channelnames[c]
                                       : "channel " + std::to_string(c));
  }
  for (const OIIO::ParamValue& p : spec.extra_attribs) {
    if (!DescribesTheOldPixels(p.name().string())) facts.attributes.push_back(p);
  }
  return facts;
}

ImageLayout PlanImageLayout(const RenderSettings& s, const FootageFacts& input,
                            const std::string& settings_text) {
  ImageLayout layout;
  layout.type = s.out_type.value_or(NearestSampleType(s.output_format, input.type));
  const Window data = ScaledWindow(input.data, s.downsample);
  layout.x = data.x;
  layout.y = data.y;
  if (input.display) layout.display = ScaledWindow(*input.display, s.downsample);
  layout.attributes = input.attributes;
  layout.attributes.attribute("Software", std::string("varnex ") + VARNEX_VERSION);
  layout.attributes.attribute("varnex:Settings", settings_text);
  // The space the written values are in, never a guess left to the writer's defaults.
  // OpenImageIO's EXR writer drops its own tag, so it goes as "colorspace" as well.
  if (!s.output_colour_space.empty()) {
    layout.attributes.attribute("oiio:ColorSpace", s.output_colour_space);
    layout.attributes.attribute("colorspace", s.output_colour_space);
  }
  layout.compression = s.compression;
  layout.quality = s.quality;
  return layout;
}

// What made a frame, and nothing about the command that asked for it: footage by absolute path
// and no frame list, so a frame rendered by a farm task of one chunk is byte for byte the frame
// a local render of the whole shot writes, from whatever folder it runs.
std::string DescribeRender(const RenderSettings& s, int bpc) {
  const auto absolute = [](const std::string& path) {
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    return Quoted(error ? path : full.lexically_normal().string());
  };
  std::string text = "input " + absolute(s.input);
  if (s.map) text += ", map " + absolute(*s.map);
  text += ", at " + std::to_string(s.fps.num) +
          (s.fps.den == 1 ? "" : "/" + std::to_string(s.fps.den)) + " fps, " + std::to_string(bpc) +
          " bits";
  if (s.downsample > 1) text += ", downsample " + std::to_string(s.downsample);
  for (const ControlSetting& c : s.controls) {
    text += "; " + c.name + "=";
    if (c.value) {
      text += *c.value;
      continue;
    }
    std::string keys;
    for (const auto& [frame, value] : c.keys)
      keys += (keys.empty() ? "" : " ") + FormatNumber(frame) + ":" + value;
    text += "[" + keys + "]";
  }
  return text;
}

std::optional<std::string> PrecisionWarning(const std::string& output, const std::string& holds,
                                            int precision, int bpc, int input_precision) {
  const int render_precision = bpc == 32 ? PrecisionOf(SampleType::kFloat) : 8;
  if (precision >= render_precision || precision >= input_precision) return std::nullopt;
  return Quoted(output) + " holds " + holds + "; the " + std::to_string(bpc) +
         "-bit render is converted";
}

std::optional<std::string> ShallowRenderWarning(const RenderSettings& s,
                                                const vmedia::Source& input,
                                                const FootageFacts& facts, int bpc) {
  if (bpc != 8 || facts.precision <= 8) return std::nullopt;
  std::string line =
      "input " + Quoted(s.input) + " holds " +
      (facts.type == SampleType::kHalf    ? "half floats"
       : facts.type == SampleType::kFloat ? "floats"
                                          : std::to_string(facts.precision) + "-bit samples") +
      "; the 8-bit render keeps 8 bits of them";
  if (facts.type != SampleType::kHalf && facts.type != SampleType::kFloat) return line;
  if (input.kind() != vmedia::SourceKind::kStill) return line + " and clips values outside 0..1";
  const RgbaImage image = vmedia::ReadImage(input.path(), "input");
  int64_t clipped = 0;
  for (size_t i = 0; i < image.pixels.size(); i += 4) {
    bool out = false;
    for (int c = 0; c < 4; ++c)
      out = out || !(image.pixels[i + c] >= 0 && image.pixels[i + c] <= 1);
    clipped += out;
  }
  if (clipped > 0) line += "; " + std::to_string(clipped) + " pixels outside 0..1 are clipped";
  return line;
}

}  // namespace vpipe

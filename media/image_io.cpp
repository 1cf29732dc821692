#include "media/image_io.h"

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "hostapp/text.h"
#include "media/errors.h"
#include "media/source.h"
#include "media/temp_file.h"

namespace vmedia {

namespace {
using vhost::Quoted;
}  // namespace

namespace {

// Every sample type: OpenImageIO's name and type for it, and the significant bits it keeps.
struct SampleTypeRow {
  SampleType type;
  const char* name;
  OIIO::TypeDesc::BASETYPE desc;
  int precision;
};
constexpr SampleTypeRow kSampleTypes[] = {
    {SampleType::kUInt8, "uint8", OIIO::TypeDesc::UINT8, 8},
    {SampleType::kUInt16, "uint16", OIIO::TypeDesc::UINT16, 16},
    {SampleType::kHalf, "half", OIIO::TypeDesc::HALF, 11},
    {SampleType::kFloat, "float", OIIO::TypeDesc::FLOAT, 24},
};

const SampleTypeRow& RowOf(SampleType type) {
  for (const SampleTypeRow& row : kSampleTypes)
    if (row.type == type) return row;
  return kSampleTypes[0];
}

OIIO::TypeDesc TypeDescOf(SampleType type) {
  return RowOf(type).desc;
}

}  // namespace

std::optional<SampleType> ParseSampleType(const std::string& name) {
  for (const SampleTypeRow& row : kSampleTypes)
    if (name == row.name) return row.type;
  return std::nullopt;
}

const char* SampleTypeName(SampleType type) {
  return RowOf(type).name;
}

int PrecisionOf(SampleType type) {
  return RowOf(type).precision;
}

bool OutputFormat::Holds(SampleType type) const {
  return std::find(holds.begin(), holds.end(), type) != holds.end();
}

namespace {

// Whether every value of `from` survives being stored as `to`.
bool KeepsEveryValue(SampleType to, SampleType from) {
  if (to == from || to == SampleType::kFloat) return true;
  return from == SampleType::kUInt8;  // 8-bit steps fit in 16 bits and in half's 11-bit mantissa
}

// The sample types of the formats we know; OpenImageIO converts to them on writing. Formats not
// listed are written at 8 bits.
std::vector<SampleType> TypesHeldBy(const std::string& format) {
  using T = SampleType;
  if (format == "openexr") return {T::kHalf, T::kFloat};
  if (format == "tiff") return {T::kUInt8, T::kUInt16, T::kHalf, T::kFloat};
  if (format == "png" || format == "pnm" || format == "sgi") return {T::kUInt8, T::kUInt16};
  if (format == "dpx") return {T::kUInt8, T::kUInt16, T::kHalf, T::kFloat};
  if (format == "hdr") return {T::kFloat};
  if (format == "fits") return {T::kUInt8, T::kUInt16, T::kFloat};
  return {T::kUInt8};
}

// Compression names each format takes, and whether a ":level" may follow.
struct CompressionName {
  const char* name;
  bool level;
};
std::vector<CompressionName> CompressionsOf(const std::string& format) {
  if (format == "openexr")
    return {{"none", false},  {"rle", false}, {"zip", true},   {"zips", true}, {"piz", false},
            {"pxr24", false}, {"b44", false}, {"b44a", false}, {"dwaa", true}, {"dwab", true}};
  if (format == "tiff")
    return {{"none", false}, {"lzw", false}, {"zip", true}, {"packbits", false}};
  if (format == "png") return {{"zip", true}};
  return {};
}

}  // namespace

OutputFormat OutputFormatFor(const std::string& path) {
  auto writer = OIIO::ImageOutput::create(path);
  OIIO::geterror();  // a failed lookup leaves a message behind; it is reported our own way
  if (!writer)
    throw InputError("output " + Quoted(path) + ": no image format writes files named like this");
  OutputFormat format;
  format.name = writer->format_name();
  format.holds = TypesHeldBy(format.name);
  format.has_alpha = writer->supports("alpha");
  format.associated = format.name == "openexr";
  return format;
}

SampleType NearestSampleType(const OutputFormat& format, SampleType wanted) {
  if (format.Holds(wanted)) return wanted;
  for (SampleType type : format.holds) {
    if (KeepsEveryValue(type, wanted)) return type;
  }
  return format.holds.back();
}

void CheckCompression(const OutputFormat& format, const std::string& compression,
                      const std::string& output) {
  const std::vector<CompressionName> known = CompressionsOf(format.name);
  const std::string where = "--compression " + Quoted(compression);
  if (known.empty())
    throw InputError(where + ": " + format.name + " files (" + Quoted(output) +
                     ") have no compression to choose" +
                     (format.name == "jpeg" ? "; give --quality instead" : ""));
  const size_t colon = compression.find(':');
  const std::string name = compression.substr(0, colon);
  std::string names;
  for (const CompressionName& c : known) {
    names += (names.empty() ? "" : ", ") + std::string(c.name);
    if (name != c.name) continue;
    if (colon == std::string::npos) return;
    const std::string level = compression.substr(colon + 1);
    char* end = nullptr;
    const double value = std::strtod(level.c_str(), &end);
    if (c.level && !level.empty() && *end == '\0' && value >= 0 && value <= 1000) return;
    throw InputError(where + ": " +
                     (c.level ? "expected a level after the colon, e.g. " + name + ":4"
                              : name + " takes no level"));
  }
  throw InputError(where + ": " + format.name + " files know " + names);
}

void CheckQuality(const OutputFormat& format, int quality, const std::string& output) {
  if (format.name != "jpeg" && format.name != "webp")
    throw InputError("--quality: " + format.name + " files (" + Quoted(output) +
                     ") take no quality; it is for JPEG and WebP");
  if (quality < 1 || quality > 100) throw InputError("--quality: expected 1 to 100");
}

ImageLayout PlainLayout(const OutputFormat& format, int bpc) {
  ImageLayout layout;
  layout.type = NearestSampleType(format, bpc == 32 ? SampleType::kFloat : SampleType::kUInt8);
  return layout;
}

namespace {

// How one image is laid out in its file, and whether its colour is stored multiplied by alpha
// (associated formats, and formats without alpha, which get the image over black).
struct WritePlan {
  OIIO::ImageSpec layout;
  int channels = 4;
  bool has_alpha = true;
  bool multiply = false;
  SampleType type = SampleType::kUInt8;
};

// PNG's zlib strategy, level and row filter when none is asked for (run-length matching only,
// libpng's PNG_FILTER_SUB), and EXR's compression. All are lossless: only the files' sizes and
// the time to write them depend on them. The defaults write much faster than the libraries'
// own for files of about the same size (varnex-bench --encodings measures them; the README's
// Images section has the table). Lossy compressions (dwaa, b44) would change pixels and are never
// a default.
constexpr const char* kDefaultPngStrategy = "rle";
constexpr int kDefaultPngLevel = 1;
constexpr int kDefaultPngFilter = 0x10;
constexpr const char* kDefaultExrCompression = "piz";

// Sets the writer's compression: `asked` (OpenImageIO's names, as --compression gave them), or
// the format's fast default when it is empty. OpenImageIO's PNG writer takes its zlib level from
// an attribute of its own and its "compression" as zlib's strategy, so "zip:N" is handed to it as
// the level with zlib's default strategy and the library's filter choice.
void SetCompression(const OutputFormat& format, const std::string& asked, OIIO::ImageSpec* spec) {
  if (format.name == "png") {
    if (asked.empty()) {
      spec->attribute("compression", kDefaultPngStrategy);
      spec->attribute("png:compressionLevel", kDefaultPngLevel);
      spec->attribute("png:filter", kDefaultPngFilter);
      return;
    }
    const size_t colon = asked.find(':');
    if (colon != std::string::npos)
      spec->attribute("png:compressionLevel", std::atoi(asked.c_str() + colon + 1));
    return;
  }
  if (!asked.empty())
    spec->attribute("compression", asked);
  else if (format.name == "openexr")
    spec->attribute("compression", kDefaultExrCompression);
}

WritePlan PlanWrite(const OutputFormat& format, int width, int height, const ImageLayout& layout) {
  WritePlan plan;
  plan.has_alpha = format.has_alpha;
  plan.channels = plan.has_alpha ? 4 : 3;
  plan.type = layout.type;
  plan.layout = OIIO::ImageSpec(width, height, plan.channels, TypeDescOf(layout.type));
  plan.layout.x = layout.x;
  plan.layout.y = layout.y;
  const Window display = layout.display.value_or(Window{layout.x, layout.y, width, height});
  plan.layout.full_x = display.x;
  plan.layout.full_y = display.y;
  plan.layout.full_width = display.width;
  plan.layout.full_height = display.height;
  plan.layout.extra_attribs = layout.attributes;
  SetCompression(format, layout.compression, &plan.layout);
  if (layout.quality > 0)
    plan.layout.attribute("compression", "jpeg:" + std::to_string(layout.quality));
  if (plan.has_alpha) {
    plan.layout.alpha_channel = 3;
    if (!format.associated) plan.layout.attribute("oiio:UnassociatedAlpha", 1);
  }
  plan.multiply = format.associated || !plan.has_alpha;
  return plan;
}

// The largest magnitude a type stores; integer types store 0 to 1.
constexpr float kHalfMax = 65504.0f;

// What storing the straight float pixel `rgba` as the plan says loses.
void CountLoss(const WritePlan& plan, const float* rgba, WriteLoss* loss) {
  bool clipped = false;
  if (plan.type == SampleType::kUInt8 || plan.type == SampleType::kUInt16) {
    for (int c = 0; c < 4; ++c) clipped = clipped || !(rgba[c] >= 0.0f && rgba[c] <= 1.0f);
  } else if (plan.type == SampleType::kHalf) {
    for (int c = 0; c < 4; ++c) clipped = clipped || std::fabs(rgba[c]) > kHalfMax;
  }
  loss->clipped += clipped;
  loss->not_opaque += !plan.has_alpha && rgba[3] < 1.0f;
}
// Writes pixels of `type` laid out as `plan` says through a temporary file renamed into place.
// Throws RenderError naming the file; the target is then unchanged.
void WritePlanned(const std::string& path, const OutputFormat& format, const WritePlan& plan,
                  OIIO::TypeDesc type, const void* pixels) {
  std::string why = "no image format writes files named like this";
  try {
    // A writer per file: each call may be on its own thread.
    auto writer = OIIO::ImageOutput::create(format.name);
    if (writer) {
      TempFile temp(path);
      if (!writer->open(temp.path(), plan.layout) || !writer->write_image(type, pixels) ||
          !writer->close())
        why = vhost::FirstLine(writer->geterror());
      else if (temp.Commit(&why))
        return;
    }
  } catch (const std::exception& e) {
    why = e.what();
  }
  throw RenderError("cannot write " + Quoted(path) + ": " + why);
}

// Writes straight float colour, multiplied by alpha where the plan asks for it.
WriteLoss WriteStraightFloat(const std::string& path, const OutputFormat& format,
                             const WritePlan& plan, const RgbaImage& image) {
  const int channels = plan.channels;
  std::vector<float> data(static_cast<size_t>(image.width) * image.height * channels);
  const size_t count = static_cast<size_t>(image.width) * image.height;
  WriteLoss loss;
  for (size_t i = 0; i < count; ++i) {
    const float* src = image.pixels.data() + i * 4;
    float* dst = data.data() + i * channels;
    CountLoss(plan, src, &loss);
    for (int c = 0; c < 3; ++c) dst[c] = plan.multiply ? src[c] * src[3] : src[c];
    if (plan.has_alpha) dst[3] = src[3];
  }
  WritePlanned(path, format, plan, OIIO::TypeDesc::FLOAT, data.data());
  return loss;
}

}  // namespace

WriteLoss LossOf(const vhost::Image& image, SampleType type, bool has_alpha) {
  WritePlan plan;
  plan.type = type;
  plan.has_alpha = has_alpha;
  WriteLoss loss;
  if (image.bpc == 8 && has_alpha) return loss;
  float rgba[4];
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      for (int c = 0; c < 4; ++c) rgba[c] = image.Get(x, y, kHostChannel[c]);
      CountLoss(plan, rgba, &loss);
    }
  }
  return loss;
}

WriteLoss WriteImage(const std::string& path, const RgbaImage& image, const OutputFormat& format,
                     const ImageLayout& layout) {
  return WriteStraightFloat(path, format, PlanWrite(format, image.width, image.height, layout),
                            image);
}

WriteLoss WriteHostImage(const std::string& path, const vhost::Image& image,
                         const OutputFormat& format, const ImageLayout& layout) {
  const WritePlan plan = PlanWrite(format, image.width, image.height, layout);
  // An 8-bit render bound for an 8-bit file with straight alpha needs only its channels put in
  // file order: every byte would come back unchanged from the trip through float, and nothing
  // can be clipped. This is the common case of a sequence, and skips two frame-sized float
  // buffers per frame.
  if (image.bpc != 8 || plan.type != SampleType::kUInt8 || plan.multiply)
    return WriteStraightFloat(path, format, plan, FromHostImage(image));
  std::vector<uint8_t> data(static_cast<size_t>(image.width) * image.height * 4);
  uint8_t* dst = data.data();
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* src = image.Row(y);
    for (int x = 0; x < image.width; ++x, src += 4, dst += 4) {
      for (int c = 0; c < 4; ++c) dst[c] = src[kHostChannel[c]];
    }
  }
  WritePlanned(path, format, plan, OIIO::TypeDesc::UINT8, data.data());
  return {};
}

}  // namespace vmedia

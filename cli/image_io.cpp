#include "cli/image_io.h"

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "cli/errors.h"
#include "cli/limits.h"
#include "cli/silence.h"
#include "cli/temp_file.h"

namespace vcli {

namespace {

std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? "unknown error" : line;
}

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

// The format OpenImageIO picks for this name, or null when it knows none.
std::unique_ptr<OIIO::ImageOutput> CreateWriter(const std::string& path) {
  auto writer = OIIO::ImageOutput::create(path);
  OIIO::geterror();  // a failed lookup leaves a message behind; it is reported our own way
  return writer;
}

bool IsAssociatedFormat(const std::string& format_name) {
  return format_name == "openexr";
}

bool KeepsFloat(const std::string& format_name) {
  return format_name == "openexr" || format_name == "tiff";
}

void CheckDimensions(const OIIO::ImageSpec& layout, const std::string& what) {
  if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0)
    throw InputError(what + ": the image is empty");
  if (layout.depth > 1) throw InputError(what + ": volume images are not supported");
  if (layout.width > kMaxImageSide || layout.height > kMaxImageSide ||
      static_cast<long long>(layout.width) * layout.height > kMaxImagePixels)
    throw InputError(what + ": " + std::to_string(layout.width) + "x" +
                     std::to_string(layout.height) + " is larger than the limit of " +
                     std::to_string(kMaxImageSide) + " pixels a side and " +
                     std::to_string(kMaxImagePixels) + " pixels in all");
}

// Reads channels [begin, end) as floats, `end - begin` per pixel.
std::vector<float> ReadChannels(OIIO::ImageInput& in, int begin, int end, const std::string& what) {
  const OIIO::ImageSpec& layout = in.spec();
  std::vector<float> data(static_cast<size_t>(layout.width) * layout.height * (end - begin));
  if (!in.read_image(0, 0, begin, end, OIIO::TypeDesc::FLOAT, data.data()))
    throw InputError(what + ": cannot read the pixels: " + FirstLine(in.geterror()));
  return data;
}

// OpenEXR trusts the sizes in a file's header: a few corrupt bytes can declare an attribute of a
// gigabyte, which the library then allocates and reads for many seconds. A header whose
// attributes do not fit in the file is refused before the library sees it. Only the first
// header is walked (a multi-part file's later headers follow it the same way).
bool ExrHeaderFits(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char magic[8];
  if (!file.read(magic, 8) || std::memcmp(magic, "\x76\x2f\x31\x01", 4) != 0) return true;
  file.seekg(0, std::ios::end);
  const std::streamoff length = file.tellg();
  file.seekg(8);
  for (int attribute = 0; attribute < 4096; ++attribute) {
    std::string name, type;
    if (!std::getline(file, name, '\0') || name.empty()) return static_cast<bool>(file);
    if (!std::getline(file, type, '\0')) return false;
    int32_t size = 0;
    if (!file.read(reinterpret_cast<char*>(&size), 4) || size < 0) return false;
    if (file.tellg() + static_cast<std::streamoff>(size) > length) return false;
    file.seekg(size, std::ios::cur);
  }
  return false;
}

}  // namespace

RgbaImage ReadImage(const std::string& path, const std::string& role) {
  const std::string what = role + " " + Quoted(path);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw InputError(what + ": no such file");
  if (!std::filesystem::is_regular_file(path, ec)) throw InputError(what + ": not a file");

  if (!ExrHeaderFits(path))
    throw InputError(what + ": cannot read it as an image: the EXR header is damaged");

  // Decoders print their own complaints about damaged files; ours is the one line below.
  SilenceFd quiet_stderr(STDERR_FILENO);
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in) throw InputError(what + ": cannot read it as an image: " + FirstLine(OIIO::geterror()));
  const OIIO::ImageSpec layout = in->spec();
  CheckDimensions(layout, what);

  // Colour comes from the first three channels (or the first one, grey, repeated); alpha from the
  // channel the file marks as alpha, wherever it is.
  const int alpha = layout.alpha_channel >= 0 && layout.alpha_channel < layout.nchannels
                        ? layout.alpha_channel
                        : -1;
  const int colour_channels = std::min(layout.nchannels, alpha >= 0 && alpha < 3 ? alpha : 3);
  const int first_count = std::min(layout.nchannels, std::max(colour_channels, alpha + 1));
  const int read_end = std::min(first_count, 4);
  std::vector<float> head = ReadChannels(*in, 0, read_end, what);
  std::vector<float> alpha_plane;
  if (alpha >= read_end) alpha_plane = ReadChannels(*in, alpha, alpha + 1, what);

  RgbaImage image;
  image.width = layout.width;
  image.height = layout.height;
  image.float_source = layout.format.is_floating_point();
  image.pixels.resize(static_cast<size_t>(layout.width) * layout.height * 4);
  const bool associated = alpha >= 0 && layout.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
  const size_t count = static_cast<size_t>(layout.width) * layout.height;
  for (size_t i = 0; i < count; ++i) {
    const float* src = head.data() + i * read_end;
    float* dst = image.pixels.data() + i * 4;
    for (int c = 0; c < 3; ++c) dst[c] = src[colour_channels >= 3 ? c : 0];
    dst[3] = alpha < 0 ? 1.0f : (alpha < read_end ? src[alpha] : alpha_plane[i]);
    if (associated && dst[3] > 0) {
      for (int c = 0; c < 3; ++c) dst[c] /= dst[3];
    }
  }
  return image;
}

void CheckOutputFormat(const std::string& path) {
  if (!CreateWriter(path))
    throw InputError("output " + Quoted(path) + ": no image format writes files named like this");
}

bool StoresFloat(const std::string& path) {
  auto writer = CreateWriter(path);
  if (!writer) return false;
  return KeepsFloat(writer->format_name());
}

namespace {

// How a file named `path` will be written: its layout and whether colour is stored multiplied
// by alpha (associated formats, and formats without alpha, which get the image over black).
struct WritePlan {
  std::unique_ptr<OIIO::ImageOutput> writer;
  OIIO::ImageSpec layout;
  int channels = 4;
  bool has_alpha = true;
  bool multiply = false;
  bool float_out = false;
};

void PlanWrite(const std::string& path, int width, int height, int bpc, WritePlan* plan) {
  plan->writer = CreateWriter(path);
  if (!plan->writer)
    throw RenderError("cannot write " + Quoted(path) +
                      ": no image format writes files named like this");
  const std::string format = plan->writer->format_name();
  plan->has_alpha = plan->writer->supports("alpha");
  const bool associated = IsAssociatedFormat(format);
  plan->channels = plan->has_alpha ? 4 : 3;
  plan->float_out = bpc == 32 && KeepsFloat(format);
  plan->layout = OIIO::ImageSpec(width, height, plan->channels,
                                 plan->float_out ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8);
  if (plan->has_alpha) {
    plan->layout.alpha_channel = 3;
    if (!associated) plan->layout.attribute("oiio:UnassociatedAlpha", 1);
  }
  plan->multiply = associated || !plan->has_alpha;
}

// Writes pixels of `type` laid out as `plan` says through a temporary file renamed into place.
// Throws RenderError naming the file; the target is then unchanged.
void WritePlanned(const std::string& path, WritePlan& plan, OIIO::TypeDesc type,
                  const void* pixels) {
  std::string why;
  try {
    TempFile temp(path);
    if (!plan.writer->open(temp.path(), plan.layout) || !plan.writer->write_image(type, pixels) ||
        !plan.writer->close())
      why = FirstLine(plan.writer->geterror());
    else if (temp.Commit(&why))
      return;
  } catch (const std::exception& e) {
    why = e.what();
  }
  throw RenderError("cannot write " + Quoted(path) + ": " + why);
}

// Writes straight float colour, multiplied by alpha where the plan asks for it.
void WriteStraightFloat(const std::string& path, WritePlan& plan, const RgbaImage& image) {
  const int channels = plan.channels;
  std::vector<float> data(static_cast<size_t>(image.width) * image.height * channels);
  const size_t count = static_cast<size_t>(image.width) * image.height;
  for (size_t i = 0; i < count; ++i) {
    const float* src = image.pixels.data() + i * 4;
    float* dst = data.data() + i * channels;
    for (int c = 0; c < 3; ++c) dst[c] = plan.multiply ? src[c] * src[3] : src[c];
    if (plan.has_alpha) dst[3] = src[3];
  }
  WritePlanned(path, plan, OIIO::TypeDesc::FLOAT, data.data());
}

}  // namespace

void WriteImage(const std::string& path, const RgbaImage& image, int bpc) {
  WritePlan plan;
  PlanWrite(path, image.width, image.height, bpc, &plan);
  WriteStraightFloat(path, plan, image);
}

void WriteHostImage(const std::string& path, const vhost::Image& image, int bpc) {
  WritePlan plan;
  PlanWrite(path, image.width, image.height, bpc, &plan);
  // An 8-bit render bound for an 8-bit file with straight alpha needs only its channels put in
  // file order: every byte would come back unchanged from the trip through float. This is the
  // common case of a sequence, and skips two frame-sized float buffers per frame.
  if (image.bpc != 8 || plan.float_out || plan.multiply) {
    WriteStraightFloat(path, plan, FromHostImage(image));
    return;
  }
  std::vector<uint8_t> data(static_cast<size_t>(image.width) * image.height * 4);
  uint8_t* dst = data.data();
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* src = image.Row(y);
    for (int x = 0; x < image.width; ++x, src += 4, dst += 4) {
      dst[0] = src[1];
      dst[1] = src[2];
      dst[2] = src[3];
      dst[3] = src[0];
    }
  }
  WritePlanned(path, plan, OIIO::TypeDesc::UINT8, data.data());
}

vhost::Image ToHostImage(const RgbaImage& image, int bpc, int origin_x, int origin_y) {
  vhost::Image host = vhost::Image::Make(image.width, image.height, bpc, origin_x, origin_y);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const float* p = image.At(x, y);
      host.Set(x, y, 0, p[3]);
      for (int c = 0; c < 3; ++c) host.Set(x, y, c + 1, p[c]);
    }
  }
  return host;
}

RgbaImage FromHostImage(const vhost::Image& host) {
  RgbaImage image;
  image.width = host.width;
  image.height = host.height;
  image.float_source = host.bpc == 32;
  image.pixels.resize(static_cast<size_t>(host.width) * host.height * 4);
  for (int y = 0; y < host.height; ++y) {
    for (int x = 0; x < host.width; ++x) {
      float* p = image.At(x, y);
      p[3] = host.Get(x, y, 0);
      for (int c = 0; c < 3; ++c) p[c] = host.Get(x, y, c + 1);
    }
  }
  return image;
}

}  // namespace vcli

#include "cli/image_io.h"

#include <OpenImageIO/imageio.h>
#include <unistd.h>

#include <memory>

#include "cli/errors.h"
#include "cli/silence.h"
#include "cli/temp_file.h"
#include "hostapp/footage/source.h"
#include "hostapp/text.h"

namespace vcli {

namespace {
using vhost::Quoted;

using vfoot::FirstLine;

// Runs one of the footage's readers with standard error silenced, its refusals as InputError.
template <typename Read>
auto ReadAsInput(Read read) {
  SilenceFd quiet_stderr(STDERR_FILENO);
  try {
    return read();
  } catch (const vfoot::FootageError& e) {
    throw InputError(e.what());
  }
}

}  // namespace

RgbaImage ReadImage(const std::string& path, const std::string& role) {
  return ReadAsInput([&] { return vfoot::ReadImage(path, role); });
}

vhost::Image ReadHostImage(const std::string& path, const std::string& role, std::optional<int> bpc,
                           int origin_x, int origin_y) {
  return ReadAsInput([&] { return vfoot::ReadHostImage(path, role, bpc, origin_x, origin_y); });
}

OutputFormat OutputFormatFor(const std::string& path) {
  auto writer = OIIO::ImageOutput::create(path);
  OIIO::geterror();  // a failed lookup leaves a message behind; it is reported our own way
  if (!writer)
    throw InputError("output " + Quoted(path) + ": no image format writes files named like this");
  OutputFormat format;
  format.name = writer->format_name();
  format.keeps_float = format.name == "openexr" || format.name == "tiff";
  format.has_alpha = writer->supports("alpha");
  format.associated = format.name == "openexr";
  return format;
}

namespace {

// How one image is laid out in its file, and whether its colour is stored multiplied by alpha
// (associated formats, and formats without alpha, which get the image over black).
struct WritePlan {
  OIIO::ImageSpec layout;
  int channels = 4;
  bool has_alpha = true;
  bool multiply = false;
  bool float_out = false;
};

WritePlan PlanWrite(const OutputFormat& format, int width, int height, int bpc) {
  WritePlan plan;
  plan.has_alpha = format.has_alpha;
  plan.channels = plan.has_alpha ? 4 : 3;
  plan.float_out = bpc == 32 && format.keeps_float;
  plan.layout = OIIO::ImageSpec(width, height, plan.channels,
                                plan.float_out ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8);
  if (plan.has_alpha) {
    plan.layout.alpha_channel = 3;
    if (!format.associated) plan.layout.attribute("oiio:UnassociatedAlpha", 1);
  }
  plan.multiply = format.associated || !plan.has_alpha;
  return plan;
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
        why = FirstLine(writer->geterror());
      else if (temp.Commit(&why))
        return;
    }
  } catch (const std::exception& e) {
    why = e.what();
  }
  throw RenderError("cannot write " + Quoted(path) + ": " + why);
}

// Writes straight float colour, multiplied by alpha where the plan asks for it.
void WriteStraightFloat(const std::string& path, const OutputFormat& format, const WritePlan& plan,
                        const RgbaImage& image) {
  const int channels = plan.channels;
  std::vector<float> data(static_cast<size_t>(image.width) * image.height * channels);
  const size_t count = static_cast<size_t>(image.width) * image.height;
  for (size_t i = 0; i < count; ++i) {
    const float* src = image.pixels.data() + i * 4;
    float* dst = data.data() + i * channels;
    for (int c = 0; c < 3; ++c) dst[c] = plan.multiply ? src[c] * src[3] : src[c];
    if (plan.has_alpha) dst[3] = src[3];
  }
  WritePlanned(path, format, plan, OIIO::TypeDesc::FLOAT, data.data());
}

}  // namespace

void WriteImage(const std::string& path, const RgbaImage& image, const OutputFormat& format,
                int bpc) {
  WriteStraightFloat(path, format, PlanWrite(format, image.width, image.height, bpc), image);
}

void WriteHostImage(const std::string& path, const vhost::Image& image, const OutputFormat& format,
                    int bpc) {
  const WritePlan plan = PlanWrite(format, image.width, image.height, bpc);
  // An 8-bit render bound for an 8-bit file with straight alpha needs only its channels put in
  // file order: every byte would come back unchanged from the trip through float. This is the
  // common case of a sequence, and skips two frame-sized float buffers per frame.
  if (image.bpc != 8 || plan.float_out || plan.multiply) {
    WriteStraightFloat(path, format, plan, FromHostImage(image));
    return;
  }
  std::vector<uint8_t> data(static_cast<size_t>(image.width) * image.height * 4);
  uint8_t* dst = data.data();
  for (int y = 0; y < image.height; ++y) {
    const uint8_t* src = image.Row(y);
    for (int x = 0; x < image.width; ++x, src += 4, dst += 4) {
      for (int c = 0; c < 4; ++c) dst[c] = src[kHostChannel[c]];
    }
  }
  WritePlanned(path, format, plan, OIIO::TypeDesc::UINT8, data.data());
}

}  // namespace vcli

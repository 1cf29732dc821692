#include "media/image_read.h"

#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "hostapp/text.h"
#include "media/source.h"

namespace vmedia {

namespace {

using vhost::Quoted;

void CheckDimensions(const OIIO::ImageSpec& layout, const std::string& what) {
  if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0)
    throw FootageError(what + ": the image is empty");
  if (layout.depth > 1) throw FootageError(what + ": volume images are not supported");
  if (layout.width > kMaxImageSide || layout.height > kMaxImageSide ||
      static_cast<long long>(layout.width) * layout.height > kMaxImagePixels)
    throw FootageError(what + ": " + std::to_string(layout.width) + "x" +
                       std::to_string(layout.height) + " is larger than the limit of " +
                       std::to_string(kMaxImageSide) + " pixels a side and " +
                       std::to_string(kMaxImagePixels) + " pixels in all");
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

// Opens the first image of a file, refusing what CheckDimensions refuses.
std::unique_ptr<OIIO::ImageInput> OpenChecked(const std::string& path, const std::string& what) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) throw FootageError(what + ": no such file");
  if (!std::filesystem::is_regular_file(path, ec)) throw FootageError(what + ": not a file");
  if (!ExrHeaderFits(path))
    throw FootageError(what + ": cannot read it as an image: the EXR header is damaged");
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path, &config);
  if (!in)
    throw FootageError(what +
                       ": cannot read it as an image: " + vhost::FirstLine(OIIO::geterror()));
  CheckDimensions(in->spec(), what);
  return in;
}

// Where a file's channels go. Colour comes from the first three channels (or the first one,
// grey, repeated); alpha from the channel the file marks as alpha, wherever it is. The channels
// up to `head_end` are read together, an alpha beyond them on its own.
struct ChannelMap {
  int alpha = -1;  // -1: opaque
  int colour_channels = 0;
  int head_end = 0;
  bool associated = false;  // colour is stored multiplied by alpha
};

ChannelMap MapChannels(const OIIO::ImageSpec& layout) {
  ChannelMap map;
  map.alpha = layout.alpha_channel >= 0 && layout.alpha_channel < layout.nchannels
                  ? layout.alpha_channel
                  : -1;
  map.colour_channels = std::min(layout.nchannels, map.alpha >= 0 && map.alpha < 3 ? map.alpha : 3);
  const int first_count = std::min(layout.nchannels, std::max(map.colour_channels, map.alpha + 1));
  map.head_end = std::min(first_count, 4);
  map.associated = map.alpha >= 0 && layout.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0;
  return map;
}

// Reads channels [begin, end) as samples of `T`, `end - begin` per pixel.
template <typename T>
std::vector<T> ReadChannels(OIIO::ImageInput& in, int begin, int end, OIIO::TypeDesc type,
                            const std::string& what) {
  const OIIO::ImageSpec& layout = in.spec();
  std::vector<T> data(static_cast<size_t>(layout.width) * layout.height * (end - begin));
  if (!in.read_image(0, 0, begin, end, type, data.data()))
    throw FootageError(what + ": cannot read the pixels: " + vhost::FirstLine(in.geterror()));
  return data;
}

// Hands `store` each pixel's index and its RGBA samples as `T`, `opaque` where the file has no
// alpha; colour is as stored (associated or not).
template <typename T, typename Store>
void ReadRgba(OIIO::ImageInput& in, const ChannelMap& map, OIIO::TypeDesc type, T opaque,
              const std::string& what, Store store) {
  const std::vector<T> head = ReadChannels<T>(in, 0, map.head_end, type, what);
  std::vector<T> alpha_plane;
  if (map.alpha >= map.head_end)
    alpha_plane = ReadChannels<T>(in, map.alpha, map.alpha + 1, type, what);
  const size_t count = static_cast<size_t>(in.spec().width) * in.spec().height;
  T rgba[4];
  for (size_t i = 0; i < count; ++i) {
    const T* src = head.data() + i * map.head_end;
    for (int c = 0; c < 3; ++c) rgba[c] = src[map.colour_channels >= 3 ? c : 0];
    rgba[3] = map.alpha < 0 ? opaque : (map.alpha < map.head_end ? src[map.alpha] : alpha_plane[i]);
    store(i, rgba);
  }
}

RgbaImage ReadStraightFloat(OIIO::ImageInput& in, const std::string& what) {
  const OIIO::ImageSpec& layout = in.spec();
  const ChannelMap map = MapChannels(layout);
  RgbaImage image;
  image.width = layout.width;
  image.height = layout.height;
  image.float_source = layout.format.is_floating_point();
  image.pixels.resize(static_cast<size_t>(layout.width) * layout.height * 4);
  ReadRgba<float>(in, map, OIIO::TypeDesc::FLOAT, 1.0f, what, [&](size_t i, const float* rgba) {
    float* dst = image.pixels.data() + i * 4;
    std::copy(rgba, rgba + 4, dst);
    if (map.associated && dst[3] > 0) {
      for (int c = 0; c < 3; ++c) dst[c] /= dst[3];
    }
  });
  return image;
}

// 8-bit straight samples into an 8-bit host buffer, byte for byte.
vhost::Image ReadHost8(OIIO::ImageInput& in, const ChannelMap& map, const std::string& what,
                       int origin_x, int origin_y) {
  const OIIO::ImageSpec& layout = in.spec();
  vhost::Image host = vhost::Image::Make(layout.width, layout.height, 8, origin_x, origin_y);
  const size_t width = static_cast<size_t>(layout.width);
  ReadRgba<uint8_t>(in, map, OIIO::TypeDesc::UINT8, 255, what, [&](size_t i, const uint8_t* rgba) {
    uint8_t* dst = host.Row(static_cast<int>(i / width)) + (i % width) * 4;
    for (int c = 0; c < 4; ++c) dst[kHostChannel[c]] = rgba[c];
  });
  return host;
}

}  // namespace

ImageHeader ReadImageHeader(const std::string& path, const std::string& role) {
  auto in = OpenChecked(path, role + " " + Quoted(path));
  const OIIO::ImageSpec& layout = in->spec();
  ImageHeader header;
  header.width = layout.width;
  header.height = layout.height;
  header.float_samples = layout.format.is_floating_point();
  header.deep_samples = layout.format.size() > 1;
  header.format = in->format_name();
  header.spec = layout;
  // OpenImageIO's EXR files cannot carry its own tag (the reader says "Linear" of every one), so
  // ours carry it as "colorspace" too, which wins where it is present.
  header.colour_space = layout.get_string_attribute("colorspace");
  if (header.colour_space.empty())
    header.colour_space = layout.get_string_attribute("oiio:ColorSpace");
  return header;
}

RgbaImage ReadImage(const std::string& path, const std::string& role) {
  const std::string what = role + " " + Quoted(path);
  auto in = OpenChecked(path, what);
  return ReadStraightFloat(*in, what);
}

vhost::Image ReadHostImage(const std::string& path, const std::string& role, std::optional<int> bpc,
                           int origin_x, int origin_y) {
  const std::string what = role + " " + Quoted(path);
  auto in = OpenChecked(path, what);
  const OIIO::ImageSpec& layout = in->spec();
  const int depth = bpc.value_or(layout.format.is_floating_point() ? 32 : 8);
  const ChannelMap map = MapChannels(layout);
  if (depth == 8 && layout.format == OIIO::TypeDesc::UINT8 && !map.associated)
    return ReadHost8(*in, map, what, origin_x, origin_y);
  return ToHostImage(ReadStraightFloat(*in, what), depth, origin_x, origin_y);
}

vhost::Image ToHostImage(const RgbaImage& image, int bpc, int origin_x, int origin_y) {
  vhost::Image host = vhost::Image::Make(image.width, image.height, bpc, origin_x, origin_y);
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      const float* p = image.At(x, y);
      for (int c = 0; c < 4; ++c) host.Set(x, y, kHostChannel[c], p[c]);
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
      for (int c = 0; c < 4; ++c) p[c] = host.Get(x, y, kHostChannel[c]);
    }
  }
  return image;
}

}  // namespace vmedia

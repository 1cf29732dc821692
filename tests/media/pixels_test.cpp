// What `varnex render` writes of what it reads: every level of deep samples, the sample type
// chosen, what is lost said in a warning with its count, windows and metadata kept, and the
// write options a format does not have refused.

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/cli_support.h"

namespace iotest {
namespace {

using clitest::Lines;
using clitest::RunVarnex;
using clitest::TempDir;

const std::vector<std::string> kIdentity = {"-s", "Anti-Aliasing=None"};

std::vector<std::string> Args(std::vector<std::string> args, const std::vector<std::string>& more) {
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

// An RGBA file of `type`, pixels as given (straight colour for PNG and TIFF, associated for EXR),
// with whatever `dress` adds to its spec.
template <typename Dress>
void WriteFile(const std::string& path, int width, int height, const std::vector<float>& rgba,
               OIIO::TypeDesc type, Dress dress) {
  OIIO::ImageSpec spec(width, height, 4, type);
  spec.alpha_channel = 3;
  dress(spec);
  auto out = OIIO::ImageOutput::create(path);
  ASSERT_TRUE(out) << path;
  ASSERT_TRUE(out->open(path, spec)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, rgba.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}
void WriteFile(const std::string& path, int width, int height, const std::vector<float>& rgba,
               OIIO::TypeDesc type) {
  WriteFile(path, width, height, rgba, type, [](OIIO::ImageSpec&) {});
}

struct FileContents {
  OIIO::ImageSpec spec;
  std::vector<float> pixels;
};

FileContents ReadFile(const std::string& path) {
  FileContents file;
  auto in = OIIO::ImageInput::open(path);
  EXPECT_TRUE(in) << path << ": " << OIIO::geterror();
  if (!in) return file;
  file.spec = in->spec();
  file.pixels.resize(file.spec.image_pixels() * file.spec.nchannels);
  EXPECT_TRUE(
      in->read_image(0, 0, 0, file.spec.nchannels, OIIO::TypeDesc::FLOAT, file.pixels.data()));
  return file;
}

// 64 x 34 opaque pixels whose red and green together take 2176 different 16-bit levels, with a
// blue of at most 31/65535, which 8 bits would turn to 0.
std::vector<float> DeepRamp() {
  std::vector<float> rgba(64 * 34 * 4);
  for (int i = 0; i < 64 * 34; ++i) {
    rgba[i * 4 + 0] = static_cast<float>(i * 30) / 65535.0f;
    rgba[i * 4 + 1] = static_cast<float>(65535 - i * 29) / 65535.0f;
    rgba[i * 4 + 2] = static_cast<float>(i % 32) / 65535.0f;
    rgba[i * 4 + 3] = 1.0f;
  }
  return rgba;
}

}  // namespace

TEST(IoSamples, DeepFilesComeBackWithEveryLevelInTheirOwnType) {
  TempDir dir;
  const std::vector<float> ramp = DeepRamp();
  for (const std::string ext : {"png", "tif"}) {
    SCOPED_TRACE(ext);
    const std::string in = dir / ("in." + ext), out = dir / ("out." + ext);
    WriteFile(in, 64, 34, ramp, OIIO::TypeDesc::UINT16);
    const auto run = RunVarnex({"render", in, "-o", out}, dir);  // the default controls
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const FileContents back = ReadFile(out);
    EXPECT_EQ(back.spec.format, OIIO::TypeDesc::UINT16);
    ASSERT_EQ(back.pixels.size(), ramp.size());
    for (size_t i = 0; i < ramp.size(); ++i)
      ASSERT_EQ(std::lround(back.pixels[i] * 65535), std::lround(ramp[i] * 65535))
          << "sample " << i;
  }

  // Half in, half out, each value as it was; asked for, float.
  std::vector<float> hdr = ramp;
  for (size_t i = 0; i < hdr.size(); i += 4) hdr[i] *= 40.0f;  // well above 1
  WriteFile(dir / "in.exr", 64, 34, hdr, OIIO::TypeDesc::HALF);
  const FileContents half_in = ReadFile(dir / "in.exr");
  auto run = RunVarnex(Args({"render", dir / "in.exr", "-o", dir / "out.exr"}, kIdentity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const FileContents half_out = ReadFile(dir / "out.exr");
  EXPECT_EQ(half_out.spec.format, OIIO::TypeDesc::HALF);
  // The render's own sampling moves values by a few millionths; half keeps them to 1/2048.
  ASSERT_EQ(half_out.pixels.size(), half_in.pixels.size());
  for (size_t i = 0; i < half_in.pixels.size(); ++i)
    ASSERT_NEAR(half_out.pixels[i], half_in.pixels[i], 1e-5f + 1e-3f * half_in.pixels[i])
        << "sample " << i;
  run = RunVarnex(
      Args({"render", dir / "in.exr", "--out-type", "float", "-o", dir / "float.exr"}, kIdentity),
      dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(ReadFile(dir / "float.exr").spec.format, OIIO::TypeDesc::FLOAT);
}

TEST(IoSamples, WhatTheFileCannotHoldIsCountedInAWarning) {
  TempDir dir;
  // 16 x 4: three pixels above 1, two below 0, four not opaque (one of them also above 1).
  std::vector<float> rgba(16 * 4 * 4, 0.5f);
  for (size_t i = 3; i < rgba.size(); i += 4) rgba[i] = 1.0f;
  for (int p : {0, 1, 2}) rgba[p * 4] = 3.0f;
  for (int p : {20, 21}) rgba[p * 4 + 1] = -0.25f;
  for (int p : {2, 40, 41, 42}) rgba[p * 4 + 3] = 0.5f;
  // EXR stores associated colour: these are the straight values above times alpha.
  std::vector<float> associated = rgba;
  for (size_t i = 0; i < rgba.size(); i += 4)
    for (int c = 0; c < 3; ++c) associated[i + c] *= rgba[i + 3];
  WriteFile(dir / "in.exr", 16, 4, associated, OIIO::TypeDesc::FLOAT);

  auto run = RunVarnex(Args({"render", dir / "in.exr", "-o", dir / "out.png"}, kIdentity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string png = "\"" + (dir / "out.png").string() + "\"";
  EXPECT_EQ(
      Lines(run.err),
      (std::vector<std::string>{
          "varnex: warning: " + png + " holds 16 bits per channel; the 32-bit render is converted",
          "varnex: warning: " + png + ": 5 pixels had values outside 0..1 and were clipped"}));

  run = RunVarnex(Args({"render", dir / "in.exr", "-o", dir / "out.jpg"}, kIdentity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string jpg = "\"" + (dir / "out.jpg").string() + "\"";
  EXPECT_EQ(
      Lines(run.err),
      (std::vector<std::string>{
          "varnex: warning: " + jpg + " holds 8 bits per channel; the 32-bit render is converted",
          "varnex: warning: " + jpg + ": 5 pixels had values outside 0..1 and were clipped",
          "varnex: warning: " + jpg +
              " keeps no alpha: 4 pixels that were not opaque are written over black"}));

  // Told to render at 8 bits, the input loses its depth and its range before the render.
  run =
      RunVarnex(Args({"render", dir / "in.exr", "-d", "8", "-o", dir / "d8.exr"}, kIdentity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "varnex: warning: input \"" + (dir / "in.exr").string() +
                         "\" holds floats; the 8-bit render keeps 8 bits of them; 5 pixels outside "
                         "0..1 are clipped\n");

  run = RunVarnex(Args({"render", dir / "in.exr", "-q", "-o", dir / "quiet.jpg"}, kIdentity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
}

TEST(IoStructure, WindowsMetadataAndCompressionAreKeptAndOtherChannelsDropped) {
  TempDir dir;
  // 24 x 14 pixels at (4, 2) of a 32 x 18 frame, with a depth channel and the shot's metadata.
  const int w = 24, h = 14;
  {
    OIIO::ImageSpec spec(w, h, 5, OIIO::TypeDesc::HALF);
    spec.channelnames = {"R", "G", "B", "A", "Z"};
    spec.alpha_channel = 3;
    spec.z_channel = 4;
    spec.x = 4, spec.y = 2;
    spec.full_x = 0, spec.full_y = 0, spec.full_width = 32, spec.full_height = 18;
    spec.attribute("Artist", "Mira");
    spec.attribute("studio:shot", "sh010");
    const int fps[2] = {24, 1};
    spec.attribute("FramesPerSecond", OIIO::TypeRational, fps);
    std::vector<float> px(static_cast<size_t>(w) * h * 5, 0.25f);
    for (size_t i = 3; i < px.size(); i += 5) px[i] = 1.0f;
    auto out = OIIO::ImageOutput::create("exr");
    ASSERT_TRUE(out->open(dir / "in.exr", spec));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, px.data()));
    ASSERT_TRUE(out->close());
  }
  const auto run = RunVarnex(Args({"render", dir / "in.exr", "--compression", "piz", "-s",
                                   "Translate X=12", "-o", dir / "out.exr"},
                                  kIdentity),
                             dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "varnex: warning: input \"" + (dir / "in.exr").string() +
                         "\": channel Z not displaced, left out of the output\n");
  const OIIO::ImageSpec out = ReadFile(dir / "out.exr").spec;
  EXPECT_EQ(out.nchannels, 4);
  EXPECT_EQ(out.format, OIIO::TypeDesc::HALF);
  EXPECT_EQ((std::vector<int>{out.x, out.y, out.width, out.height}),
            (std::vector<int>{4, 2, w, h}));
  EXPECT_EQ((std::vector<int>{out.full_x, out.full_y, out.full_width, out.full_height}),
            (std::vector<int>{0, 0, 32, 18}));
  EXPECT_EQ(out.get_string_attribute("Artist"), "Mira");
  EXPECT_EQ(out.get_string_attribute("studio:shot"), "sh010");
  const OIIO::ParamValue* rate = out.find_attribute("FramesPerSecond", OIIO::TypeRational);
  ASSERT_TRUE(rate);
  EXPECT_EQ(static_cast<const int*>(rate->data())[0], 24);
  EXPECT_EQ(out.get_string_attribute("compression"), "piz");
  EXPECT_EQ(std::string(out.get_string_attribute("Software")).rfind("varnex ", 0), 0u)
      << out.get_string_attribute("Software");
  EXPECT_NE(out.get_string_attribute("varnex:Settings").find("Translate X=12"), std::string::npos)
      << out.get_string_attribute("varnex:Settings");
}

TEST(IoStructure, AMapSitsWhereItsDataWindowIsUnlessAnOffsetIsGiven) {
  TempDir dir;
  // A gradient input at (4, 2), and an opaque map of half its width: at (12, 2) by its window,
  // and the same map at the input's own origin.
  const int w = 16, h = 6;
  std::vector<float> in(w * h * 4), map((w / 2) * h * 4, 0.0f);
  for (int i = 0; i < w * h; ++i) {
    in[i * 4] = static_cast<float>(i % w) / w;
    in[i * 4 + 1] = 0.5f;
    in[i * 4 + 3] = 1.0f;
  }
  for (size_t i = 3; i < map.size(); i += 4) map[i] = 1.0f;
  auto at = [](int x, int y) { return [x, y](OIIO::ImageSpec& s) { s.x = x, s.y = y; }; };
  WriteFile(dir / "in.exr", w, h, in, OIIO::TypeDesc::FLOAT, at(4, 2));
  WriteFile(dir / "placed.exr", w / 2, h, map, OIIO::TypeDesc::FLOAT, at(12, 2));
  WriteFile(dir / "origin.exr", w / 2, h, map, OIIO::TypeDesc::FLOAT, at(4, 2));
  const std::vector<std::string> controls = {
      "-s", "Channel=Alpha",      "-s", "Translate X=25",
      "-s", "Edge Behavior=None", "-s", "Anti-Aliasing=None"};
  auto render = [&](const std::string& map_file, std::vector<std::string> more,
                    const std::string& out) {
    const auto run = RunVarnex(
        Args(Args({"render", dir / "in.exr", "-m", dir / map_file, "-o", dir / out}, controls),
             more),
        dir);
    EXPECT_EQ(run.status, 0) << run.err;
    return ReadFile(dir / out).pixels;
  };
  const std::vector<float> by_window = render("placed.exr", {}, "a.exr");
  EXPECT_EQ(by_window, render("origin.exr", {"--map-offset", "8,0"}, "b.exr"));
  EXPECT_NE(by_window, render("placed.exr", {"--map-offset", "0,0"}, "c.exr"));
}

TEST(IoBadInput, WriteOptionsTheFormatLacksAreRefusedBeforeAnythingIsWritten) {
  TempDir dir;
  WriteFile(dir / "in.png", 8, 4, std::vector<float>(8 * 4 * 4, 1.0f), OIIO::TypeDesc::UINT8);
  const auto before = dir.Entries();
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--out-type", "half", "-o", dir / "a.png"},
       "png files (\"" + (dir / "a.png").string() + "\") hold uint8, uint16"},
      {{"--out-type", "int12", "-o", dir / "a.exr"}, "expected uint8, uint16, half or float"},
      {{"--out-type", "uint8", "-o", dir / "a.exr"}, "openexr files"},
      {{"--compression", "piz", "-o", dir / "a.png"}, "png files know zip"},
      {{"--compression", "dwaa:x", "-o", dir / "a.exr"}, "expected a level after the colon"},
      {{"--compression", "piz:3", "-o", dir / "a.exr"}, "piz takes no level"},
      {{"--compression", "zip", "-o", dir / "a.jpg"}, "give --quality instead"},
      {{"--quality", "90", "-o", dir / "a.png"}, "it is for JPEG and WebP"},
      {{"--quality", "0", "-o", dir / "a.jpg"}, "--quality"},
      {{"--out-type", "uint16", "-o", dir / "a.mov"}, "are for image outputs"},
  };
  for (const auto& [options, fragment] : cases) {
    const auto run = RunVarnex(Args({"render", dir / "in.png"}, options), dir);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find(fragment), std::string::npos) << run.err << "expected: " << fragment;
  }
  EXPECT_EQ(dir.Entries(), before);
}

}  // namespace iotest

namespace iotest {

TEST(IoStructure, OutputsAreTaggedWithTheSpaceTheirValuesAreIn) {
  TempDir dir;
  WriteFile(dir / "in.png", 8, 4, std::vector<float>(8 * 4 * 4, 0.5f), OIIO::TypeDesc::UINT8);
  auto tag = [&](const std::vector<std::string>& args, const std::string& out) {
    const auto run = RunVarnex(Args(Args({"render"}, args), {"-q", "-o", dir / out}), dir);
    EXPECT_EQ(run.status, 0) << run.err;
    const OIIO::ImageSpec spec = ReadFile(dir / out).spec;
    // EXR keeps the tag in an attribute of its own; PNG in its gamma.
    const std::string own(spec.get_string_attribute("colorspace"));
    return own.empty() ? std::string(spec.get_string_attribute("oiio:ColorSpace")) : own;
  };
  // Values passed through keep the input's space, whatever the output's format usually holds.
  EXPECT_EQ(tag({dir / "in.png"}, "a.exr"), "sRGB");
  EXPECT_EQ(tag({dir / "a.exr"}, "b.png"), "sRGB");
  EXPECT_EQ(tag({dir / "in.png", "--colorspace-in", "linear"}, "c.exr"), "linear");
  EXPECT_EQ(tag({dir / "c.exr"}, "d.png"), "linear");
  // Converted, they are in the space converted to.
  EXPECT_EQ(tag({dir / "in.png", "--working-space", "linear"}, "e.exr"), "linear");
  EXPECT_EQ(tag({dir / "c.exr", "--working-space", "linear"}, "f.png"), "sRGB");
}

}  // namespace iotest

namespace iotest {

// The write defaults are chosen for speed (PNG with zlib's run-length strategy and one row
// filter, EXR piz); they may change file sizes but never a pixel. Each output is written with the
// default and with an explicit setting (the library's own level for PNG, none or zip for EXR) and
// read back: every sample equal, and the files differ, so the default was applied.
TEST(IoCompression, DefaultsChangeFileSizesButNoPixel) {
  TempDir dir;
  // Noise in every channel, alpha included, so that filters and zlib levels make different files
  // and straight alpha meets the associated EXR.
  std::vector<float> rgba(96 * 64 * 4);
  uint32_t state = 12345;
  for (float& v : rgba) {
    state = state * 1664525u + 1013904223u;
    v = static_cast<float>(state >> 16) / 65535.0f;
  }
  WriteFile(dir / "in8.png", 96, 64, rgba, OIIO::TypeDesc::UINT8);
  WriteFile(dir / "in16.png", 96, 64, rgba, OIIO::TypeDesc::UINT16);
  WriteFile(dir / "in.exr", 96, 64, rgba, OIIO::TypeDesc::FLOAT);
  struct Case {
    std::string input, output, reference;
    std::vector<std::string> more;
  };
  const std::vector<Case> cases = {
      {"in8.png", "png", "zip", {}},
      {"in16.png", "png", "zip:6", {}},
      {"in8.png", "exr", "none", {}},
      {"in.exr", "exr", "zip", {}},
      {"in.exr", "exr", "none", {"--out-type", "float"}},
      {"in8.png", "exr", "zip", {"-d", "32"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + " to " + c.output + " against " + c.reference);
    const std::string fast = (dir / ("fast." + c.output)).string();
    const std::string ref = (dir / ("ref." + c.output)).string();
    const std::vector<std::string> render = Args(
        Args({"render", dir / c.input, "-q", "-s", "Translate X=3.5", "-s", "Rotate=7"}, kIdentity),
        c.more);
    const auto a = RunVarnex(Args(render, {"-o", fast}), dir);
    ASSERT_EQ(a.status, 0) << a.err;
    const auto b = RunVarnex(Args(render, {"--compression", c.reference, "-o", ref}), dir);
    ASSERT_EQ(b.status, 0) << b.err;
    const FileContents f = ReadFile(fast);
    const FileContents r = ReadFile(ref);
    EXPECT_EQ(f.spec.format, r.spec.format);
    ASSERT_EQ(f.pixels.size(), r.pixels.size());
    size_t differing = 0;
    for (size_t i = 0; i < f.pixels.size(); ++i) differing += f.pixels[i] != r.pixels[i];
    EXPECT_EQ(differing, 0u) << "of " << f.pixels.size() << " samples";
    EXPECT_NE(std::filesystem::file_size(fast), std::filesystem::file_size(ref));
    if (c.output == "exr") {
      EXPECT_EQ(f.spec.get_string_attribute("compression"), "piz");
    }
  }
}

}  // namespace iotest

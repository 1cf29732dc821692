// Hostile and extreme inputs, through the varnex command and through our host: nothing may crash,
// hang or take memory without bound. Each case ends in a clear error with exit status 2, or in a
// defined picture; finite input gives finite pixels.
//
// The command runs as a child process so that its exit, its run time and its peak memory can be
// measured; the sanitizer build runs it instrumented, so a memory error in it fails the case.
#include <OpenImageIO/imageio.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "reliability/reliability_support.h"
#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;

// ---- Running the command ---------------------------------------------------------------------

using CommandRun = testsupport::ChildRun;
using testsupport::ReadFile;

// Runs build/bin/varnex with `args` in `dir`, killing it after `timeout_s` seconds.
CommandRun RunCommand(const std::vector<std::string>& args, const fs::path& dir,
                      int timeout_s = 120) {
  testsupport::ChildOptions options;
  options.cwd = dir;
  options.capture = dir;
  options.timeout_s = timeout_s;
  return testsupport::RunChild(std::string(VARNEX_BINARY_DIR) + "/bin/varnex", args, options);
}

// ---- Files -----------------------------------------------------------------------------------

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string BigEndian(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
  return BigEndian(static_cast<uint32_t>(data.size())) + type + data +
         BigEndian(Crc32(type + data));
}

// A well-formed PNG header declaring width × height RGBA pixels, followed by a few bytes of data:
// a reader that trusts the header would allocate for the whole picture.
std::string PngClaiming(uint32_t width, uint32_t height) {
  const std::string ihdr =
      BigEndian(width) + BigEndian(height) + std::string("\x08\x06\x00\x00\x00", 5);
  return std::string("\x89PNG\r\n\x1a\n", 8) + PngChunk("IHDR", ihdr) +
         PngChunk("IDAT", std::string("\x78\x9c\x63\x00\x00\x00\x01\x00\x01", 9)) +
         PngChunk("IEND", "");
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Writes straight RGBA floats; EXR stores them as given.
void WriteImage(const fs::path& path, int width, int height, const std::vector<float>& rgba,
                OIIO::TypeDesc format) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out) << path;
  OIIO::ImageSpec layout(width, height, 4, format);
  layout.alpha_channel = 3;
  layout.attribute("oiio:UnassociatedAlpha", 1);
  ASSERT_TRUE(out->open(path.string(), layout)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, rgba.data())) << out->geterror();
  ASSERT_TRUE(out->close());
}

std::vector<float> Gradient(int width, int height, float scale = 1.0f) {
  std::vector<float> rgba;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      rgba.push_back(scale * static_cast<float>(x) / static_cast<float>(width));
      rgba.push_back(scale * static_cast<float>(y) / static_cast<float>(height));
      rgba.push_back(0.5f);
      rgba.push_back(1.0f);
    }
  return rgba;
}

struct Picture {
  int width = 0;
  int height = 0;
  std::vector<float> pixels;  // as many channels as the file has
};

Picture ReadPicture(const fs::path& path) {
  Picture p;
  auto in = OIIO::ImageInput::open(path.string());
  if (!in) return p;
  p.width = in->spec().width;
  p.height = in->spec().height;
  p.pixels.resize(static_cast<size_t>(p.width) * p.height * in->spec().nchannels);
  if (!in->read_image(0, 0, 0, in->spec().nchannels, OIIO::TypeDesc::FLOAT, p.pixels.data()))
    p.width = p.height = 0;
  return p;
}

bool AllFinite(const std::vector<float>& values) {
  for (float v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

class HostileCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           ("varnex-hostile-" + std::string(info->name()) + "-" + std::to_string(getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    WriteImage(dir_ / "in.exr", 16, 12, Gradient(16, 12, 2.0f), OIIO::TypeDesc::FLOAT);
    WriteImage(dir_ / "map.png", 10, 8, Gradient(10, 8), OIIO::TypeDesc::UINT8);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // A refusal: status 2, one line naming the problem, nothing written, modest memory, quick.
  void ExpectRefused(std::vector<std::string> args, const std::string& fragment,
                     const std::string& output = "out.exr") {
    args.insert(args.begin(), "render");
    args.insert(args.end(), {"-o", output, "-q"});
    const CommandRun run = RunCommand(args, dir_);
    ++tried_;
    EXPECT_FALSE(run.timed_out) << fragment;
    EXPECT_EQ(run.status, 2) << "signal " << run.signal << ": " << run.err;
    EXPECT_EQ(run.err.rfind("varnex: ", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err.substr(0, 300);
    EXPECT_NE(run.err.find(fragment), std::string::npos)
        << run.err.substr(0, 300) << " lacks " << fragment;
    EXPECT_FALSE(fs::exists(dir_ / "out.exr"));
    EXPECT_LT(run.peak_kib, kModestMemoryKiB) << fragment;
    EXPECT_LT(run.seconds, 60) << fragment;
    std::printf("refused in %.1f s, peak %ld MiB: %s", run.seconds, run.peak_kib / 1024,
                run.err.substr(0, 160).c_str());
  }

  // A render that must succeed with a finite picture of the input's size.
  Picture ExpectRendered(std::vector<std::string> args, int timeout_s = 300) {
    fs::remove(dir_ / "out.exr");
    args.insert(args.begin(), "render");
    args.insert(args.end(), {"-o", "out.exr", "-q", "-d", "32"});
    const CommandRun run = RunCommand(args, dir_, timeout_s);
    ++tried_;
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.status, 0) << "signal " << run.signal << ": " << run.err;
    EXPECT_LT(run.peak_kib, kModestMemoryKiB);
    Picture out = ReadPicture(dir_ / "out.exr");
    EXPECT_TRUE(AllFinite(out.pixels));
    return out;
  }

  void TearDownCount() { RecordProperty("hostile_inputs", tried_); }

  // Far more than the command needs for the small pictures here (about 150 MiB, more when
  // instrumented), far less than the pictures the hostile headers declare.
  static constexpr long kModestMemoryKiB = 1536 * 1024;
  fs::path dir_;
  int tried_ = 0;
};

TEST_F(HostileCommandTest, ImagesThatLieOrBreakAreRefusedBeforeAllocating) {
  WriteFile(dir_ / "huge.png", PngClaiming(100000, 100000));
  WriteFile(dir_ / "over_area.png", PngClaiming(16384, 16384));
  WriteFile(dir_ / "too_wide.png", PngClaiming(16385, 1));
  WriteFile(dir_ / "max_int.png", PngClaiming(0x7FFFFFFF, 0x7FFFFFFF));
  WriteFile(dir_ / "huge.ppm", "P6\n2147483647 2147483647\n255\nxy");
  WriteFile(dir_ / "zero.ppm", "P6\n0 0\n255\n");
  WriteFile(dir_ / "empty.png", "");
  WriteFile(dir_ / "garbage.exr", std::string(4096, '\x76'));
  const std::string good = ReadFile(dir_ / "map.png");
  WriteFile(dir_ / "cut_header.png", good.substr(0, 20));
  std::string flipped = good;
  for (size_t i = 60; i < flipped.size(); i += 7) flipped[i] = static_cast<char>(~flipped[i]);
  WriteFile(dir_ / "corrupt.png", flipped);
  const std::string exr = ReadFile(dir_ / "in.exr");
  WriteFile(dir_ / "cut.exr", exr.substr(0, exr.size() * 2 / 3));

  ExpectRefused({"huge.png"}, "100000x100000 is larger than the limit");
  ExpectRefused({"over_area.png"}, "16384x16384 is larger than the limit");
  ExpectRefused({"too_wide.png"}, "16385x1 is larger than the limit");
  ExpectRefused({"in.exr", "-m", "max_int.png"}, "map image");
  ExpectRefused({"huge.ppm"}, "huge.ppm");
  ExpectRefused({"zero.ppm"}, "zero.ppm");
  ExpectRefused({"empty.png"}, "empty.png");
  ExpectRefused({"garbage.exr"}, "garbage.exr");
  ExpectRefused({"cut_header.png"}, "cut_header.png");
  ExpectRefused({"corrupt.png"}, "corrupt.png");
  ExpectRefused({"cut.exr"}, "cut.exr");
  ExpectRefused({"in.exr", "-m", "corrupt.png"}, "map image");
  TearDownCount();
}

TEST_F(HostileCommandTest, TinyImagesRender) {
  WriteImage(dir_ / "one.exr", 1, 1, {0.25f, 0.5f, 0.75f, 1.0f}, OIIO::TypeDesc::FLOAT);
  WriteImage(dir_ / "row.png", 9, 1, Gradient(9, 1), OIIO::TypeDesc::UINT8);
  Picture one = ExpectRendered({"one.exr", "-s", "Anti-Aliasing=8x", "-s", "Iterations=20", "-s",
                                "Rotate=45", "-m", "map.png"});
  EXPECT_EQ(one.width, 1);
  EXPECT_EQ(one.height, 1);
  Picture row =
      ExpectRendered({"row.png", "-s", "Map Softness=100", "-s", "Edge Behavior=Mirror Repeat"});
  EXPECT_EQ(row.width, 9);
  EXPECT_EQ(row.height, 1);
  TearDownCount();
}

// Non-finite samples in a float picture: no crash, and either a clear refusal or a picture.
TEST_F(HostileCommandTest, NonFinitePixelsNeitherCrashNorHang) {
  std::vector<float> rgba = Gradient(16, 12);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  rgba[0] = nan;
  rgba[5] = inf;
  rgba[10] = -inf;
  rgba[4 * 40 + 3] = nan;  // an alpha
  rgba[4 * 41 + 3] = inf;
  WriteImage(dir_ / "nonfinite.exr", 16, 12, rgba, OIIO::TypeDesc::FLOAT);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"nonfinite.exr"},
        {"in.exr", "-m", "nonfinite.exr", "-s", "Map Softness=3"},
        {"nonfinite.exr", "-s", "Channel=Hue", "-s", "Anti-Aliasing=4x", "-s", "Iterations=5"},
        // Rendered at 8 bits: the samples are converted to bytes on the way in.
        {"nonfinite.exr", "-d", "8"}}) {
    fs::remove(dir_ / "out.exr");
    std::vector<std::string> full = {"render"};
    full.insert(full.end(), args.begin(), args.end());
    full.insert(full.end(), {"-o", "out.exr", "-q"});
    if (std::find(full.begin(), full.end(), "-d") == full.end())
      full.insert(full.end(), {"-d", "32"});
    const CommandRun run = RunCommand(full, dir_);
    ++tried_;
    EXPECT_FALSE(run.timed_out);
    EXPECT_TRUE(run.status == 0 || run.status == 2) << "signal " << run.signal << ": " << run.err;
    if (run.status == 0) {
      const Picture out = ReadPicture(dir_ / "out.exr");
      EXPECT_EQ(out.width, 16);
      EXPECT_EQ(out.height, 12);
    }
  }
  TearDownCount();
}

TEST_F(HostileCommandTest, HostileProjectsAreRefusedQuickly) {
  const struct {
    std::string name;
    std::string text;
    std::string fragment;
  } projects[] = {
      {"nested.json", std::string(100000, '[') + std::string(100000, ']'), "project"},
      {"binary.json", std::string("\x00\xff\xfe{\"in", 7), "malformed JSON"},
      {"empty.json", "", "malformed JSON"},
      {"fps.json", "{\"fps\": 1e999}", "number overflow"},
      {"rotate.json", "{\"controls\": {\"Rotate\": 1e999}}", "number overflow"},
      {"frames.json", "{\"frames\": [0, 1e300]}", "whole number"},
      {"depth.json", "{\"depth\": 18446744073709551615}", "whole number"},
      {"null.json", "{\"controls\": {\"Rotate\": null}}", "Rotate"},
      {"keys.json", "{\"controls\": {\"Rotate\": [[0, 1], [null, 2]]}}", "keyframes"},
      {"nested_value.json", "{\"controls\": {\"Rotate\": [[0, [[[1]]]]]}}", "Rotate"},
      {"wrapped.json", "{\"map\": {\"path\": \"map.png\", \"offset\": [18446744073709551516, 0]}}",
       "whole number"},
      {"wrapped_value.json", "{\"controls\": {\"Rotate\": 18446744073709551615}}", "outside"},
      {"millions.json", "{\"frames\": [0, 2147483647]}", "0-999999"},
      {"long_name.json", "{\"controls\": {\"" + std::string(4 << 20, 'x') + "\": 1}}",
       "unknown control"},
  };
  for (const auto& p : projects) {
    WriteFile(dir_ / p.name, p.text);
    ExpectRefused({"in.exr", "-p", p.name}, p.fragment);
  }
  // A project may not be a folder, nor larger than any real project is.
  fs::create_directories(dir_ / "folder.json");
  ExpectRefused({"in.exr", "-p", "folder.json"}, "folder.json");
  {
    std::ofstream big(dir_ / "big.json", std::ios::binary);
    big << "{\"controls\": {\"Rotate\": " << std::string(17 << 20, ' ') << "1}}";
  }
  ExpectRefused({"in.exr", "-p", "big.json"}, "too large");
  TearDownCount();
}

TEST_F(HostileCommandTest, HostileValuesAndRangesAreRefusedQuickly) {
  ExpectRefused({"in.exr", "-s", "Scale X=1e309"}, "\"Scale X\": \"1e309\"");
  ExpectRefused({"in.exr", "-s", "Scale X=-inf"}, "not a finite number");
  ExpectRefused({"in.exr", "-s", "Anchor X=5000.01"}, "outside the valid range");
  ExpectRefused({"in.exr", "-s", "Iterations=1001"}, "outside the valid range");
  ExpectRefused({"in.exr", "-s", "Iterations=99999999999999999999"}, "outside the valid range");
  ExpectRefused({"in.exr", "-s", "Map Gamma=-0.01"}, "outside the valid range");
  ExpectRefused({"in.exr", "-s", "Channel=1e300"}, "Channel");
  ExpectRefused({"in.exr", "-s", "Rotate="}, "Rotate");
  ExpectRefused({"in.exr", "-s", "Rotate=1e10"}, "Rotate");
  ExpectRefused({"in.exr", "-s", "=5"}, "NAME=VALUE");
  ExpectRefused({"in.exr", "-s", std::string(100000, 'y') + "=1"}, "unknown control");
  ExpectRefused({"in.exr", "-f", "0-999999"}, "more than the limit", "f####.exr");
  ExpectRefused({"in.exr", "-f", "0-5000000"}, "0-999999", "f####.exr");
  ExpectRefused({"in.exr", "-f", "0-99999999999999999999"}, "--frames", "f####.exr");
  ExpectRefused({"in.exr", "--fps", "1e308"}, "frames per second");
  ExpectRefused({"in.exr", "-j", "1000000"}, "--threads");
  ExpectRefused({"in.exr", "-m", "map.png", "--map-offset", "1048577,0"}, "offset");
  ExpectRefused({"in.exr", "-m", "map.png", "--map-offset", "0,-99999999999"}, "--map-offset");
  TearDownCount();
}

// The far ends of what is valid render, in bounded time, with finite pixels.
TEST_F(HostileCommandTest, ExtremeValidSettingsRenderFinitePictures) {
  Picture p = ExpectRendered({"in.exr", "-s", "Iterations=1000", "-s", "Anti-Aliasing=8x", "-s",
                              "Translate X=37", "-s", "Shutter Duration=200"});
  EXPECT_EQ(p.width, 16);
  ExpectRendered({"in.exr", "-m", "map.png", "-s", "Anchor X=5000", "-s", "Anchor Y=-5000", "-s",
                  "Scale X=-5000", "-s", "Uniform Scale=off", "-s", "Scale Y=5000", "-s",
                  "Translate X=-5000", "-s", "Rotate=32767", "-s", "Map Gamma=0"});
  ExpectRendered({"in.exr", "-m", "map.png", "--map-offset", "1048576,-1048576", "-s",
                  "Map Softness=100", "-s", "Map Gamma=10", "-s", "Displacement Offset=-10", "-s",
                  "Red=-10", "-s", "Blue=10", "-s", "Map Mix Input=100"});
  ExpectRendered({"in.exr", "--downsample", "64", "-s", "Map Softness=100"});
  TearDownCount();
}

// ---- Through the host --------------------------------------------------------------------------

class ExtremeSettingsTest : public rtest::RenderTest {
 protected:
  void SetUp() override {
    rtest::RenderTest::SetUp();
    input_ = vhost::Image::Make(12, 9, 32);
    map_ = vhost::Image::Make(7, 5, 32, 3, -2);
    // Finite values beyond 0..1, as float pictures carry.
    for (vhost::Image* img : {&input_, &map_})
      for (int y = 0; y < img->height; ++y)
        for (int x = 0; x < img->width; ++x)
          for (int c = 0; c < 4; ++c)
            img->Set(x, y, c, static_cast<float>((x * 7 + y * 3 + c * 5) % 11) * 0.4f - 1.0f);
  }

  // Renders with and without the map; both must succeed with finite pixels.
  void ExpectFinite(const std::string& what) {
    for (const vhost::Image* map :
         {static_cast<const vhost::Image*>(nullptr), static_cast<const vhost::Image*>(&map_)}) {
      const vhost::RenderResult r = Render(input_, map);
      ++renders_;
      EXPECT_EQ(r.err, PF_Err_NONE) << what;
      EXPECT_EQ(r.output.width, input_.width) << what;
      EXPECT_TRUE(reliability::AllFinite(r.output)) << what << (map ? " with map" : "");
    }
  }

  vhost::Image input_, map_;
  int renders_ = 0;
};

// Each control in turn at both ends of its valid range (popups at every entry), the others at
// their defaults.
TEST_F(ExtremeSettingsTest, EveryControlAtEachEndOfItsRangeGivesFinitePixels) {
  vhost::ControlStore& controls = host().controls();
  for (int i = PARAM_CHANNEL; i < controls.size(); ++i) {
    const PF_ParamDef def = controls.at(i).def;
    std::vector<double> values;
    switch (def.param_type) {
      case PF_Param_FLOAT_SLIDER:
        values = {def.u.fs_d.valid_min, def.u.fs_d.valid_max};
        break;
      case PF_Param_SLIDER:
        values = {static_cast<double>(def.u.sd.valid_min), static_cast<double>(def.u.sd.valid_max)};
        break;
      case PF_Param_ANGLE:
        values = {-32767, 32767};
        break;
      case PF_Param_CHECKBOX:
        values = {0, 1};
        break;
      case PF_Param_POPUP:
        for (int item = 1; item <= def.u.pd.num_choices; ++item) values.push_back(item);
        break;
      default:
        continue;
    }
    const double before = controls.ValueAt(i, 0);
    for (double v : values) {
      controls.SetValue(i, v);
      ExpectFinite("control " + std::to_string(i) + " = " + std::to_string(v));
    }
    controls.SetValue(i, before);
    if (HasFailure()) return;
  }
  RecordProperty("renders", renders_);
}

TEST_F(ExtremeSettingsTest, AllExtremesAtOnceGiveFinitePixels) {
  vhost::ControlStore& c = host().controls();
  const std::pair<int, double> extremes[] = {
      {PARAM_ITERATIONS, 1000},  {PARAM_ANTI_ALIASING, 5}, {PARAM_SHUTTER_DURATION, 200},
      {PARAM_UNIFORM_SCALE, 0},  {PARAM_SCALE_X, -5000},   {PARAM_SCALE_Y, 5000},
      {PARAM_ANCHOR_X, 5000},    {PARAM_ANCHOR_Y, -5000},  {PARAM_ROTATE, 32767},
      {PARAM_MAP_SOFTNESS, 100}, {PARAM_MAP_GAMMA, 0},     {PARAM_CA_RED, -10},
      {PARAM_CA_BLUE, 10},       {PARAM_EDGE_BEHAVIOR, 4},
  };
  for (const auto& [index, value] : extremes) c.SetValue(index, value);
  c.SetKeyframes(PARAM_TRANSLATE_X, {{0, -5000}, {2, 5000}});
  // A map layer far outside the frame places nothing.
  map_.origin_x = 1 << 20;
  map_.origin_y = -(1 << 20);
  ExpectFinite("all extremes");
  // The same on a one-pixel input.
  input_ = rtest::Uniform(1, 1, 32, 1, 0.5f, 0.25f, 2.0f);
  ExpectFinite("all extremes, 1 x 1");
}

// Non-finite samples reach the effect from float pictures; it must not fail or crash on them.
TEST_F(ExtremeSettingsTest, NonFiniteSamplesDoNotBreakTheRender) {
  const float values[] = {
      std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
      -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::max(),
      -std::numeric_limits<float>::max(),      std::numeric_limits<float>::denorm_min()};
  host().controls().SetValue(PARAM_MAP_SOFTNESS, 2);
  host().controls().SetValue(PARAM_ANTI_ALIASING, 3);
  for (float v : values) {
    vhost::Image input = input_;
    vhost::Image map = map_;
    input.Set(3, 3, 1, v);
    input.Set(4, 4, 0, v);
    map.Set(1, 1, 0, v);
    map.Set(2, 2, 2, v);
    for (int channel : {1, 4, 6, 8}) {
      host().controls().SetValue(PARAM_CHANNEL, channel);
      const vhost::RenderResult r = Render(input, &map);
      EXPECT_EQ(r.err, PF_Err_NONE) << v << " channel " << channel;
      EXPECT_EQ(r.output.width, input.width);
    }
  }
}

}  // namespace

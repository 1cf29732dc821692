// Stills and sequences rendered through the real plug-in, compared with what a pure translation
// gives: with "Channel" on "Alpha" an opaque image (or map) gives the full displacement amount,
// so "Translate X" 25 % moves a 32-pixel-wide image by 8 pixels toward larger x.
#include <gtest/gtest.h>

#include <string>

#include "support/cli_support.h"

namespace {

using clitest::ExpectShifted;
using clitest::GradientPicture;
using clitest::Picture;
using clitest::ReadPicture;
using clitest::RunVarnex;
using clitest::TempDir;
using clitest::WritePicture;

const std::vector<std::string> kPureTranslation = {
    "-s", "Channel=Alpha", "-s", "Anti-Aliasing=None", "-s", "Edge Behavior=None"};

std::vector<std::string> Args(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

constexpr float k8BitTolerance = 1.5f / 255;

TEST(CliRender, StillAt8BitsIsAPureTranslation) {
  TempDir dir;
  const Picture in = GradientPicture();
  WritePicture(dir / "in.png", in);
  const auto run = RunVarnex(
      Args({"render", dir / "in.png", "-o", dir / "out.png", "-s", "Translate X=25", "-j", "1"},
           kPureTranslation),
      dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  ExpectShifted(in, ReadPicture(dir / "out.png"), 8, k8BitTolerance);
}

TEST(CliRender, StillAt32BitsKeepsFloatPrecision) {
  TempDir dir;
  // Values between the 8-bit steps, which an 8-bit render could not keep.
  Picture in = GradientPicture();
  for (size_t i = 0; i < in.pixels.size(); ++i)
    if (i % 4 != 3) in.pixels[i] += 0.0013f;
  WritePicture(dir / "in.exr", in, OIIO::TypeDesc::FLOAT);
  // A float input renders at 32 bits unless told otherwise; the identifier names work too.
  const auto run = RunVarnex(
      Args({"render", dir / "in.exr", "-o", dir / "out.exr", "-s", "param_translate_x=-25"},
           kPureTranslation),
      dir);
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(in, ReadPicture(dir / "out.exr"), -8, 1e-4f);

  // The same render forced to 8 bits comes back on 8-bit steps.
  const auto eight = RunVarnex(
      Args({"render", dir / "in.exr", "-o", dir / "out8.exr", "-d", "8", "-s", "Translate X=-25"},
           kPureTranslation),
      dir);
  ASSERT_EQ(eight.status, 0) << eight.err;
  const Picture out8 = ReadPicture(dir / "out8.exr");
  ExpectShifted(in, out8, -8, k8BitTolerance);
  EXPECT_GT(std::abs(out8.at(0, 0, 0) - in.at(8, 0, 0)), 1e-4f);
}

TEST(CliRender, StraightAlphaSurvivesEveryFormat) {
  TempDir dir;
  Picture straight = GradientPicture();
  for (int y = 0; y < straight.height; ++y)
    for (int x = 0; x < straight.width; ++x) straight.ptr(x, y)[3] = (x % 4 + 1) * 51 / 255.0f;
  // EXR stores associated colour.
  Picture associated = straight;
  for (size_t i = 0; i < associated.pixels.size(); i += 4)
    for (int c = 0; c < 3; ++c) associated.pixels[i + c] *= associated.pixels[i + 3];
  WritePicture(dir / "straight.png", straight);
  WritePicture(dir / "associated.exr", associated, OIIO::TypeDesc::FLOAT);

  // No displacement: what comes out is what went in, each file in its own convention.
  const std::vector<std::string> identity = {"-s", "Anti-Aliasing=None", "-q"};
  auto run = RunVarnex(Args({"render", dir / "straight.png", "-o", dir / "a.png"}, identity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(straight, ReadPicture(dir / "a.png"), 0, k8BitTolerance);

  run = RunVarnex(Args({"render", dir / "associated.exr", "-o", dir / "b.png"}, identity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(straight, ReadPicture(dir / "b.png"), 0, k8BitTolerance);

  run = RunVarnex(Args({"render", dir / "straight.png", "-o", dir / "c.exr"}, identity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(associated, ReadPicture(dir / "c.exr"), 0, 1e-3f);

  // Without alpha in the file, the colour is the picture over black.
  run = RunVarnex(Args({"render", dir / "straight.png", "-o", dir / "d.jpg"}, identity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture jpeg = ReadPicture(dir / "d.jpg");
  ASSERT_EQ(jpeg.channels, 3);
  EXPECT_NEAR(jpeg.at(16, 12, 0), associated.at(16, 12, 0), 0.05f);
}

TEST(CliRender, FloatRenderIntoAn8BitFormatWarnsOnce) {
  TempDir dir;
  WritePicture(dir / "in.exr", GradientPicture(), OIIO::TypeDesc::FLOAT);
  const std::string out = dir / "out.png";
  auto run = RunVarnex({"render", dir / "in.exr", "-o", out, "--out-type", "uint8"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "varnex: warning: \"" + out +
                         "\" holds 8 bits per channel; the 32-bit render is converted\n");
  run = RunVarnex({"render", dir / "in.exr", "-o", out, "--out-type", "uint8", "--quiet"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "");
}

TEST(CliRender, PluginDiagnosticsOnlyWhenAskedForAndNeverOnStandardOutput) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  const std::string out = dir / "out.png";
  auto run = RunVarnex({"render", dir / "in.png", "-o", out}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  run = RunVarnex({"render", dir / "in.png", "-o", out, "--verbose"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("Using GL_LINEAR"), std::string::npos) << run.err;
}

TEST(CliRender, MapLayerAndItsOffsetSteerTheDisplacement) {
  TempDir dir;
  const Picture in = GradientPicture();
  WritePicture(dir / "in.png", in);
  Picture map = clitest::MakePicture(32, 24, 4);
  for (size_t i = 3; i < map.pixels.size(); i += 4) map.pixels[i] = 1;  // opaque black
  WritePicture(dir / "map.png", map);
  const auto args = Args({"render", dir / "in.png", "-m", dir / "map.png", "-s", "Translate X=25"},
                         kPureTranslation);

  // The opaque map over the whole input: the full amount toward larger x.
  auto run = RunVarnex(Args(args, {"-o", dir / "a.png"}), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(in, ReadPicture(dir / "a.png"), 8, k8BitTolerance);

  // Moved off the input, the map is transparent there: the full amount the other way.
  run = RunVarnex(Args(args, {"--map-offset", "32,0", "-o", dir / "b.png"}), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(in, ReadPicture(dir / "b.png"), -8, k8BitTolerance);
}

TEST(CliRender, DownsampleRendersAtAFractionOfTheSize) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  const auto run =
      RunVarnex({"render", dir / "in.png", "-o", dir / "out.png", "--downsample", "3"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture out = ReadPicture(dir / "out.png");
  EXPECT_EQ(out.width, 11);
  EXPECT_EQ(out.height, 8);
}

TEST(CliSequence, KeyframesMoveFramesAndThreadsDoNotChangeThem) {
  TempDir dir;
  const Picture in = GradientPicture();
  WritePicture(dir / "in.png", in);
  // 37.5 % at frame 3 moves the image 12 pixels: 4 more each frame. Paths are relative to the
  // project file.
  std::ofstream(dir / "project.json") << R"({
    "input": "in.png", "fps": 24, "frames": [0, 3],
    "controls": {"Translate X": [[0, 0], [3, 37.5]], "Channel": "Alpha",
                 "Anti-Aliasing": "None", "Edge Behavior": "None"}})";
  std::filesystem::create_directories(dir / "one");
  std::filesystem::create_directories(dir / "four");
  auto run = RunVarnex(
      {"render", "-p", dir / "project.json", "-o", dir / "one/f####.png", "-j", "1"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  run = RunVarnex({"render", "-p", dir / "project.json", "-o", dir / "four/f%04d.png", "-j", "4"},
                  dir);
  ASSERT_EQ(run.status, 0) << run.err;
  // Not a terminal: a log line per frame and the summary, nothing drawn in place.
  EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
  EXPECT_EQ(clitest::Lines(run.err).back().rfind(
                "varnex: 4 frames rendered, 0 skipped, 0 reused, 0 failed", 0),
            0u)
      << run.err;

  for (int frame = 0; frame <= 3; ++frame) {
    const std::string name = "f000" + std::to_string(frame) + ".png";
    ExpectShifted(in, ReadPicture(dir / ("one/" + name)), 4 * frame, k8BitTolerance);
    EXPECT_EQ(clitest::ReadFile(dir / ("one/" + name)), clitest::ReadFile(dir / ("four/" + name)))
        << name;
  }
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "four"),
                          std::filesystem::directory_iterator()),
            4);

  // The command line overrides the project: one frame of it, to a plain name.
  run = RunVarnex({"render", "-p", dir / "project.json", "-f", "2", "-o", dir / "still.png"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(in, ReadPicture(dir / "still.png"), 8, k8BitTolerance);
}

TEST(CliRender, FailedRenderLeavesTheExistingOutputIntact) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  std::ofstream(dir / "out.png") << "an earlier picture";
  const auto before = dir.Entries();
  const auto run = RunVarnex(
      {"render", dir / "in.png", "-o", dir / "out.png", "--plugin", VARNEX_FAILING_EFFECT}, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "varnex: frame 0: the render failed with 4 (PF_Err_OUT_OF_MEMORY)\n");
  EXPECT_EQ(clitest::ReadFile(dir / "out.png"), "an earlier picture");
  EXPECT_EQ(dir.Entries(), before) << "no temporary file left behind";
}

TEST(CliSequence, AFrameThatCannotBeWrittenFailsTheRenderInOneLine) {
  TempDir dir;
  WritePicture(dir / "in.png", GradientPicture());
  // Only the first frame's name is checked before the render: a folder in the way of a later one
  // is found by the worker that writes it.
  std::filesystem::create_directories(dir / "out/f0002.png");
  for (const char* threads : {"1", "3"}) {
    SCOPED_TRACE(std::string("threads ") + threads);
    const auto run = RunVarnex(
        {"render", dir / "in.png", "-o", dir / "out/f####.png", "-f", "0-5", "-j", threads, "-q"},
        dir);
    EXPECT_EQ(run.status, 1);
    const std::string lead = "varnex: cannot write \"" + (dir / "out/f0002.png").string() + "\": ";
    EXPECT_EQ(run.err.rfind(lead, 0), 0u) << run.err;
    EXPECT_EQ(clitest::Lines(run.err).size(), 1u) << run.err;
    EXPECT_TRUE(std::filesystem::exists(dir / "out/f0000.png"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out/f0002.png"));
    for (const auto& entry : std::filesystem::directory_iterator(dir / "out"))
      EXPECT_NE(entry.path().filename().string()[0], '.') << "temporary file left behind";
  }
}

}  // namespace

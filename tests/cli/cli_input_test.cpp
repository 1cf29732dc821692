// Bad input: each case exits with status 2 and one line naming the thing at fault, and writes
// nothing; then a good call in the same folder succeeds.
#include <gtest/gtest.h>

#include <string>

#include "support/cli_support.h"

namespace {

using clitest::RunVarnex;
using clitest::TempDir;

class CliBadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    clitest::WritePicture(dir_ / "in.png", clitest::GradientPicture());
    // A header that claims a picture far beyond the limit, over a few bytes of pixels.
    std::ofstream(dir_ / "huge.ppm") << "P6\n20000 20000\n255\nxyz";
    std::ofstream(dir_ / "wide.ppm") << "P6\n16000 16000\n255\nxyz";
    // A PNG cut short inside its pixel data.
    const std::string png = clitest::ReadFile(dir_ / "in.png");
    std::ofstream(dir_ / "cut.png", std::ios::binary) << png.substr(0, png.size() / 2);
    std::ofstream(dir_ / "text.png") << "not a picture";
    // An EXR whose first header attribute claims about a gigabyte: the decoder would allocate
    // and read it for many seconds.
    clitest::WritePicture(dir_ / "in.exr", clitest::GradientPicture(), OIIO::TypeDesc::FLOAT);
    std::string exr = clitest::ReadFile(dir_ / "in.exr");
    const size_t size_at = exr.find('\0', exr.find('\0', 8) + 1) + 1;
    exr.replace(size_at, 4, "IIII");
    std::ofstream(dir_ / "bloated.exr", std::ios::binary) << exr;
  }

  // Runs `args` (the input and the output are added) and checks the failure's shape; returns the
  // message.
  std::string ExpectRefused(std::vector<std::string> args, const std::string& fragment,
                            const std::string& output = "out.png") {
    const auto before = dir_.Entries();
    args.insert(args.begin(), "render");
    args.push_back("-o");
    args.push_back(dir_ / output);
    const auto run = RunVarnex(args, dir_);
    EXPECT_EQ(run.status, 2) << run.err;
    const auto lines = clitest::Lines(run.err);
    EXPECT_EQ(lines.size(), 1u) << run.err;
    EXPECT_EQ(run.err.rfind("varnex: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(fragment), std::string::npos)
        << "message: " << run.err << "expected to contain: " << fragment;
    EXPECT_EQ(dir_.Entries(), before) << "something was written for: " << run.err;
    return run.err;
  }

  std::string In() const { return dir_ / "in.png"; }
  void WriteProject(const std::string& text) { std::ofstream(dir_ / "p.json") << text; }
  std::string Project() const { return dir_ / "p.json"; }

  TempDir dir_;
};

TEST_F(CliBadInput, Images) {
  ExpectRefused({dir_ / "missing.png"},
                "input \"" + (dir_ / "missing.png").string() + "\": no such file");
  ExpectRefused({dir_ / "text.png"}, "cannot read it as an image");
  ExpectRefused({dir_ / "cut.png"}, "cut.png\": cannot read the pixels");
  ExpectRefused({dir_ / "huge.ppm"}, "20000x20000 is larger than the limit of 16384 pixels a side");
  ExpectRefused({dir_ / "wide.ppm"}, "16000x16000 is larger than the limit");
  ExpectRefused({In(), "-m", dir_ / "cut.png"}, "map image");
  ExpectRefused({dir_.path().string()}, "not a file");
  ExpectRefused({dir_ / "bloated.exr"}, "the EXR header is damaged");
}

TEST_F(CliBadInput, Controls) {
  const std::string unknown = ExpectRefused({In(), "-s", "Rotat=5"}, "unknown control \"Rotat\"");
  EXPECT_NE(unknown.find("nearest: \"Rotate\""), std::string::npos) << unknown;
  // Each --set and a fragment of its message.
  const std::pair<const char*, const char*> cases[] = {
      {"Translate X=6000",
       "--set: \"Translate X\": 6000 is outside the valid range -5000 to 5000%"},
      {"Iterations=0", "0 is outside the valid range 1 to 1000"},
      {"Iterations=2.5", "\"2.5\" is not a whole number"},
      {"Rotate=nan", "\"nan\" is not a finite number"},
      {"Map Gamma=inf", "\"inf\" is not a finite number"},
      {"Rotate=ten", "\"ten\" is not a number"},
      {"Channel=Purple", "is not one of Red, Green, Blue, Alpha, Hue"},
      {"Channel=5", "item 5 is a separator"},
      {"Invert Map=maybe", "is not on/off"},
      {"Transform=1", "\"Transform\" is a group and cannot be set"},
      {"Reset Transforms=1", "is a button and cannot be set"},
      {"Renderer=1", "only shows the GPU driver and cannot be set"},
      {"Map Layer=1", "is a layer and cannot be set; give the map image with --map"},
      {"Rotate", "--set \"Rotate\": expected NAME=VALUE"},
  };
  for (const auto& [setting, fragment] : cases) ExpectRefused({In(), "-s", setting}, fragment);
}

TEST_F(CliBadInput, Projects) {
  // Each project's text and a fragment of its message.
  const std::pair<const char*, const char*> cases[] = {
      {"{\"controls\": {\"Rotate\": 5,}}", "malformed JSON"},
      {"{\"colour\": 1}", "unknown key \"colour\""},
      {"{\"frames\": [0, \"ten\"]}", "\"frames\" must be a whole number"},
      {"[1, 2]", "the top level must be a JSON object"},
      {"{\"controls\": {\"Uniform Scale\": [[0, 1], [10, 0]]}}",
       "\"Uniform Scale\" cannot be animated"},
      {"{\"controls\": {\"Rotate\": [[0, 1], [0, 2]]}}", "two keyframes at frame 0"},
      {"{\"controls\": {\"Rotate\": [[0, 1], [10, 1e9]]}}",
       "keyframe at frame 10: \"Rotate\": 1000000000 is outside"},
      {"{\"fps\": 0}", "frames per second must be from"},
      {"{\"fps\": true}", "\"fps\" must be a number or a ratio"},
      {"{\"fps\": \"24/0\"}", "expected a number or a ratio NUM/DEN"},
  };
  for (const auto& [text, fragment] : cases) {
    WriteProject(text);
    ExpectRefused({In(), "-p", Project()}, fragment);
  }
  ExpectRefused({In(), "-p", dir_ / "none.json"}, "none.json: no such file");
}

TEST_F(CliBadInput, OutputsAndFrames) {
  ExpectRefused({In(), "-f", "0-9"}, "frames 0-9 need #### or %04d in the name");
  ExpectRefused({In(), "-f", "0-200000"}, "200001 frames are more than the limit of 100000",
                "f####.png");
  ExpectRefused({In(), "-f", "5-2"}, "are not a range", "f####.png");
  ExpectRefused({In(), "-f", "x"}, "expected A-B", "f####.png");
  ExpectRefused({In()}, "the folder", "no/such/folder/out.png");
  ExpectRefused({In()}, "no image format writes files named like this", "out.xyz");
  ExpectRefused({In()}, "more than one frame-number placeholder", "f##_%04d.png");
  ExpectRefused({In(), "--fps", "fast"}, "--fps \"fast\": expected a number");
  ExpectRefused({In(), "--fps", "nan"}, "frames per second must be from");
  ExpectRefused({In(), "-d", "16"}, "the depth must be 8 or 32");
  ExpectRefused({In(), "-j", "0"}, "--threads \"0\": expected a whole number from 1 to 256");
  ExpectRefused({In(), "--downsample", "1000"}, "--downsample \"1000\"");
  ExpectRefused({In(), "--map-offset", "3"}, "expected X,Y in pixels");
  ExpectRefused({In(), "--bogus"}, "--bogus");

  // After all that, a good call in the same folder writes its picture.
  const auto run = RunVarnex({"render", In(), "-o", dir_ / "out.png"}, dir_);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(dir_ / "out.png"));
}

}  // namespace

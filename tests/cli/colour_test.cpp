// Colour management through `varnex render` and `varnex colorspaces`, run as a user runs them:
// conversions checked against OpenImageIO's own, the map kept as data, the colour space the
// output's values are in, and the refusals.
#include <OpenImageIO/color.h>
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cli/args.h"
#include "pipeline/layers.h"
#include "pipeline/plan.h"
#include "support/cli_support.h"
#include "support/scoped_env.h"

namespace {

using clitest::ExpectShifted;
using clitest::Lines;
using clitest::Picture;
using clitest::ReadPicture;
using clitest::RunVarnex;
using clitest::WritePicture;

// Two spaces, a linear one and a pure 2.2 power curve that no built-in space is.
constexpr char kTinyConfig[] = R"(ocio_profile_version: 1
roles: {scene_linear: film_lin}
colorspaces:
  - !<ColorSpace> {name: film_lin}
  - !<ColorSpace> {name: gamma_2.2, to_reference: !<ExponentTransform> {value: [2.2, 2.2, 2.2, 1]}}
)";

std::vector<std::string> Args(std::vector<std::string> head, const std::vector<std::string>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// The gradient with alpha on four steps, so that a conversion touching alpha shows.
Picture StraightPicture(float blue = 128 / 255.0f) {
  Picture p = clitest::GradientPicture();
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      p.ptr(x, y)[2] = blue;
      p.ptr(x, y)[3] = (x % 4 + 1) * 51 / 255.0f;
    }
  }
  return p;
}

// OpenImageIO's own conversion of the colour of straight `picture`, then multiplied by alpha as
// EXR stores it.
Picture ConvertedAssociated(Picture picture, const std::string& from, const std::string& to,
                            OIIO::ColorConfig* config = nullptr) {
  OIIO::ImageSpec spec(picture.width, picture.height, 4, OIIO::TypeDesc::FLOAT);
  spec.alpha_channel = 3;
  const OIIO::ImageBuf straight(spec, picture.pixels.data());
  const OIIO::ImageBuf converted =
      OIIO::ImageBufAlgo::colorconvert(straight, from, to, false, "", "", config);
  EXPECT_FALSE(converted.has_error()) << converted.geterror();
  converted.get_pixels(OIIO::ROI::All(), OIIO::TypeDesc::FLOAT, picture.pixels.data());
  for (size_t i = 0; i < picture.pixels.size(); i += 4)
    for (int c = 0; c < 3; ++c) picture.pixels[i + c] *= picture.pixels[i + 3];
  return picture;
}

class Colour : public testing::Test {
 protected:
  // The $OCIO of whoever runs the tests would change which spaces exist.
  void SetUp() override { unsetenv("OCIO"); }

  // `varnex render` of `args`, without displacement: the output is the input, in whatever space
  // the render leaves it.
  clitest::RunResult Render(const std::vector<std::string>& args) {
    return RunVarnex(Args(Args({"render"}, args), {"-s", "Anti-Aliasing=None", "-q"}), dir);
  }

  // The colour space the settings of `varnex render args` say the output's values are in.
  std::string OutputSpace(std::vector<std::string> args) {
    args.insert(args.begin(), {"varnex", "render"});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    vcli::CommandLine command;
    EXPECT_EQ(vcli::ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &command), -1);
    vpipe::RenderSettings settings = vpipe::ResolveRenderSettings(vcli::RequestOf(command.render));
    vpipe::OpenLayers(&settings);
    return settings.output_colour_space;
  }

  clitest::TempDir dir;
};

TEST_F(Colour, ConversionsAreOpenImageIOsOwnOnEveryFrame) {
  WritePicture(dir / "in.0001.png", StraightPicture(0.25f));
  WritePicture(dir / "in.0002.png", StraightPicture(0.75f));
  const std::string in = dir / "in.0002.png";
  const Picture png = ReadPicture(in);  // the 8-bit values the render starts from

  // Into a linear EXR, written from the working space as it is (names match in any case).
  auto run =
      Render({in, "--working-space", "Linear", "--out-type", "float", "-o", dir / "out.exr"});
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(ConvertedAssociated(png, "sRGB", "linear"), ReadPicture(dir / "out.exr"), 0, 1e-5f);

  // Into a PNG: converted back into sRGB, its format's usual space, so the input comes back.
  run = Render({in, "--working-space", "linear", "-o", dir / "out.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  ExpectShifted(png, ReadPicture(dir / "out.png"), 0, 1.5f / 255);

  // Without a working space, --colorspace-out converts each frame of the untouched render.
  run = Render({dir / "in.####.png", "--colorspace-out", "linear", "--out-type", "float", "-o",
                dir / "out.####.exr"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const std::string n : {"0001", "0002"}) {
    ExpectShifted(ConvertedAssociated(ReadPicture(dir / ("in." + n + ".png")), "sRGB", "linear"),
                  ReadPicture(dir / ("out." + n + ".exr")), 0, 1e-5f);
  }
}

TEST_F(Colour, TheMapIsDataUnlessItsColourSpaceIsGiven) {
  Picture in = clitest::MakePicture(32, 8, 4);
  Picture map = in;
  for (size_t i = 0; i < in.pixels.size(); i += 4) {
    in.pixels[i + 1] = in.pixels[i + 3] = map.pixels[i + 3] = 1;
    map.pixels[i] = 176 / 255.0f;  // red: 3 pixels to the right as it is, 1 to the left in linear
  }
  WritePicture(dir / "in.png", in);
  WritePicture(dir / "map.png", map);
  // How far the input moved toward larger x, from the transparent columns at its edges.
  auto shift_of = [&](const std::vector<std::string>& more) {
    const auto run = Render(
        Args({dir / "in.png", "-m", dir / "map.png", "-s", "Channel=Red", "-s", "Translate X=25",
              "-s", "Edge Behavior=None", "--working-space", "linear", "-o", dir / "out.exr"},
             more));
    EXPECT_EQ(run.status, 0) << run.err;
    const Picture out = ReadPicture(dir / "out.exr");
    int left = 0, right = 0;
    while (left < out.width && out.at(left, 4, 3) < 0.5f) ++left;
    while (right < out.width && out.at(out.width - 1 - right, 4, 3) < 0.5f) ++right;
    return left - right;
  };
  EXPECT_EQ(shift_of({}), 3);
  EXPECT_EQ(shift_of({"--map-colorspace", "sRGB"}), -1);
}

TEST_F(Colour, OutputsAreInTheInputsSpaceUnlessConverted) {
  WritePicture(dir / "in.png", StraightPicture());
  WritePicture(dir / "in.exr", StraightPicture(), OIIO::TypeDesc::FLOAT);
  WritePicture(dir / "untagged.tif", StraightPicture(), OIIO::TypeDesc::FLOAT);
  const std::string exr = dir / "out.exr", png = dir / "out.png";

  // Values pass through: the output is in the input's space, from its tag or by convention.
  EXPECT_EQ(OutputSpace({dir / "in.png", "-o", exr}), "sRGB");
  EXPECT_EQ(OutputSpace({dir / "in.exr", "-o", png}), "linear");
  EXPECT_EQ(OutputSpace({dir / "untagged.tif", "-o", png}), "linear");
  EXPECT_EQ(OutputSpace({dir / "in.png", "-o", exr, "--colorspace-in", "rec709"}), "Rec709");

  // A working space writes the output format's usual space unless told another.
  EXPECT_EQ(OutputSpace({dir / "in.exr", "-o", png, "--working-space", "linear"}), "sRGB");
  EXPECT_EQ(OutputSpace({dir / "in.png", "-o", exr, "--working-space", "sRGB"}), "linear");
  EXPECT_EQ(OutputSpace({dir / "in.png", "-o", dir / "out.mov", "--working-space", "sRGB"}),
            "Rec709");
}

TEST_F(Colour, ColorspacesListsTheActiveConfigAndRendersUseIt) {
  auto run = RunVarnex({"colorspaces"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> built_in = Lines(run.out);
  for (const char* space : {"sRGB", "linear"})
    EXPECT_NE(std::find(built_in.begin(), built_in.end(), space), built_in.end()) << run.out;

  const std::string tiny = dir / "tiny.ocio";
  std::ofstream(tiny) << kTinyConfig;
  run = RunVarnex({"colorspaces", "--ocio-config", tiny}, dir);
  EXPECT_EQ(Lines(run.out), (std::vector<std::string>{"film_lin", "gamma_2.2"})) << run.err;
  {
    ScopedEnv ocio("OCIO", tiny);
    run = RunVarnex({"colorspaces"}, dir);
    EXPECT_EQ(Lines(run.out), (std::vector<std::string>{"film_lin", "gamma_2.2"})) << run.err;
  }

  // A render converts through the same config, as OpenImageIO does with it.
  WritePicture(dir / "in.png", StraightPicture());
  run = Render({dir / "in.png", "--ocio-config", tiny, "--colorspace-in", "gamma_2.2",
                "--working-space", "film_lin", "--colorspace-out", "film_lin", "--out-type",
                "float", "-o", dir / "out.exr"});
  ASSERT_EQ(run.status, 0) << run.err;
  OIIO::ColorConfig config(tiny);
  ExpectShifted(ConvertedAssociated(ReadPicture(dir / "in.png"), "gamma_2.2", "film_lin", &config),
                ReadPicture(dir / "out.exr"), 0, 1e-5f);
}

TEST_F(Colour, RefusalsAreOneLineAndWriteNothing) {
  WritePicture(dir / "in.png", StraightPicture());
  const std::string tiny = dir / "tiny.ocio", bad = dir / "bad.ocio";
  const std::string project = dir / "project.json", missing = dir / "missing.ocio";
  std::ofstream(tiny) << kTinyConfig;
  std::ofstream(bad) << "colorspaces: [\n";
  std::ofstream(project) << R"({"map_colorspace": "srgb2"})";
  const std::vector<std::string> before = dir.Entries();
  const std::string in = dir / "in.png", out = dir / "out.exr";
  const std::vector<std::string> base = {in, "-o", out};

  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--colorspace-in", "srgb2"}, "--colorspace-in \"srgb2\": no such colour space; nearest: "},
      {{"--working-space", "rec.709"},
       "--working-space \"rec.709\": no such colour space; nearest: \"Rec709\", "},
      {{"-p", project},
       "project " + project + ": \"map_colorspace\" \"srgb2\": no such colour space; nearest: "},
      {{"--ocio-config", missing}, "--ocio-config \"" + missing + "\": no such file"},
      {{"--ocio-config", bad}, "--ocio-config \"" + bad + "\": not an OpenColorIO config: "},
      {{"--working-space", "linear", "-d", "8"},
       "--depth 8: a working colour space renders at 32 bits"},
      {{"--ocio-config", tiny, "--working-space", "film_lin"},
       "input \"" + in + "\": its colour space \"sRGB\" (its tag) is not in the colour config"},
      {{"--ocio-config", tiny, "--colorspace-in", "gamma_2.2", "--working-space", "film_lin"},
       "output \"" + out + "\": its format's usual colour space \"linear\" is not in the colour "},
  };
  for (const auto& [args, prefix] : cases) {
    const auto run = Render(Args(base, args));
    EXPECT_EQ(run.status, 2) << args.back();
    EXPECT_EQ(run.err.rfind("varnex: " + prefix, 0), 0u) << run.err;
    EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
    EXPECT_EQ(dir.Entries(), before) << args.back();
  }
  {
    // A broken $OCIO refuses what asks for colour, and costs renders that do not nothing.
    ScopedEnv ocio("OCIO", bad);
    auto run = Render(Args(base, {"--working-space", "linear"}));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("varnex: $OCIO \"" + bad + "\": not an OpenColorIO config: ", 0), 0u)
        << run.err;
    EXPECT_EQ(dir.Entries(), before);
    EXPECT_EQ(Render(Args(base, {"-d", "8"})).status, 0);
  }
}

}  // namespace

// Every option of the table survives a saved project: rendered with a value other than its
// default and --save-project, then rendered back from the project alone with -p, the two outputs
// are the same file type with the same pixels, and the project holds the option's key.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "media/movie.h"
#include "pipeline/options.h"
#include "support/cli_support.h"

namespace {

using clitest::RunVarnex;
namespace fs = std::filesystem;

// The options that change nothing rendered or written, and so have no project key.
const std::set<std::string> kRunOnly = {
    "project", "threads", "no-overwrite", "skip-existing", "continue-on-error",
    "dry-run", "report",  "save-project", "quiet",         "verbose"};

// For each option with a project key: a value that is not its default, and the output it needs.
struct Case {
  std::string value;  // empty: the base command gives the option already
  std::string output = "out.png";
};

const std::map<std::string, Case> kCases = {
    {"input", {}},
    {"output", {}},
    {"map", {}},
    {"map-offset", {"3,-2"}},
    {"input-start", {"5"}},
    {"map-start", {"2"}},
    {"input-outside", {"loop"}},
    {"map-outside", {"transparent"}},
    {"missing", {"hold"}},
    {"codec", {"libx264", "out.mkv"}},
    {"crf", {"30", "out.mp4"}},
    {"bitrate", {"2M", "out.mp4"}},
    {"out-type", {"uint16"}},
    {"compression", {"zip:3"}},
    {"quality", {"50", "out.jpg"}},
    {"set", {"Rotate=30"}},
    {"depth", {"32", "out.exr"}},
    {"downsample", {"2"}},
    {"frames", {"7"}},
    {"fps", {"30"}},
    {"colorspace-in", {"linear", "out.exr"}},
    {"working-space", {"linear"}},
    {"colorspace-out", {"linear"}},
    {"map-colorspace", {"linear"}},
    {"ocio-config", {"tiny.ocio"}},
};

// A linear space and the sRGB curve, named as the cases name them.
constexpr char kTinyConfig[] = R"(ocio_profile_version: 1
roles: {scene_linear: linear}
colorspaces:
  - !<ColorSpace> {name: linear}
  - !<ColorSpace> {name: sRGB, to_reference: !<ExponentTransform> {value: [2.2, 2.2, 2.2, 1]}}
)";

struct Stored {
  std::string format;  // OpenImageIO's name for the file's format, or the movie's codec
  OIIO::TypeDesc type;
  std::vector<std::vector<uint8_t>> frames;  // pixels as stored, one entry per frame
};

Stored Read(const fs::path& path) {
  Stored stored;
  const std::string ext = path.extension().string();
  if (ext == ".mp4" || ext == ".mkv" || ext == ".mov") {
    const std::unique_ptr<vmedia::Source> movie = vmedia::OpenMovie(path.string());
    stored.format = ext;
    for (int f = movie->range().first; f <= movie->range().last; ++f)
      stored.frames.push_back(movie->Frame(f, 8).storage);
    return stored;
  }
  auto in = OIIO::ImageInput::open(path.string());
  EXPECT_TRUE(in) << path;
  if (!in) return stored;
  stored.format = in->format_name();
  stored.type = in->spec().format;
  std::vector<uint8_t> pixels(in->spec().image_bytes());
  EXPECT_TRUE(in->read_image(0, 0, 0, -1, in->spec().format, pixels.data()));
  stored.frames.push_back(std::move(pixels));
  return stored;
}

TEST(OptionTable, EveryOptionIsSavedAndRendersTheSameFromTheProject) {
  clitest::TempDir dir;
  clitest::WritePicture(dir / "in.png", clitest::GradientPicture());
  clitest::WritePicture(dir / "map.png", clitest::GradientPicture(3));
  {
    std::ofstream config(dir / "tiny.ocio");
    config << kTinyConfig;
  }
  for (const vpipe::Option& option : vpipe::RenderOptions()) {
    SCOPED_TRACE(option.name);
    if (option.key.empty()) {
      EXPECT_TRUE(kRunOnly.count(option.name)) << "a new option needs a project key";
      continue;
    }
    const auto found = kCases.find(option.name);
    ASSERT_NE(found, kCases.end()) << "no case for an option that is saved";
    const Case& c = found->second;
    const fs::path a = dir / ("a-" + option.name), b = dir / ("b-" + option.name);
    fs::create_directories(a);
    fs::create_directories(b);
    std::vector<std::string> first = {"render", dir / "in.png",   "-m",        dir / "map.png",
                                      "-o",     a / c.output,     "-s",        "Scale=120",
                                      "-q",     "--save-project", a / "p.json"};
    if (!c.value.empty()) {
      first.push_back("--" + option.name);
      first.push_back(option.name == "ocio-config" ? (dir / c.value).string() : c.value);
    }
    if (option.name.find("colorspace") != std::string::npos || option.name == "working-space") {
      first.push_back("--ocio-config");
      first.push_back(dir / "tiny.ocio");
    }
    const clitest::RunResult rendered = RunVarnex(first, dir);
    ASSERT_EQ(rendered.status, 0) << rendered.err;

    const nlohmann::json project = nlohmann::json::parse(testsupport::ReadFile(a / "p.json"));
    const size_t dot = option.key.find('.');
    EXPECT_TRUE(dot == std::string::npos
                    ? project.contains(option.key)
                    : project[option.key.substr(0, dot)].contains(option.key.substr(dot + 1)))
        << project.dump();

    const clitest::RunResult again =
        RunVarnex({"render", "-p", a / "p.json", "-o", b / c.output, "-q"}, dir);
    ASSERT_EQ(again.status, 0) << again.err;
    const Stored want = Read(a / c.output), got = Read(b / c.output);
    EXPECT_EQ(got.format, want.format);
    EXPECT_EQ(got.type, want.type);
    EXPECT_TRUE(got.frames == want.frames);
    EXPECT_FALSE(want.frames.empty());
  }
}

}  // namespace

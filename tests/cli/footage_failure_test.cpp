// Footage that cannot be rendered, through `varnex render`: refused in one line before anything
// is written, or, found only mid-render, stopped naming the frame with every finished frame kept
// and no partial file left behind. And the audio of a movie input on its way into the output.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/footage_render_support.h"
#include "support/clips.h"

namespace fs = std::filesystem;

namespace rendertest {
namespace {

std::string Frame(const std::string& stem, int n) {
  char name[64];
  std::snprintf(name, sizeof name, "%s.%04d.png", stem.c_str(), n);
  return name;
}

class FootageRenderFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int n = 1; n <= 5; ++n) WritePicture(dir_ / Frame("in", n), InputFrame(n));
    for (int n = 1; n <= 5; ++n) WritePicture(dir_ / Frame("map", n), MapFrame(n));
    for (int n : {1, 2, 4}) WritePicture(dir_ / Frame("gap", n), InputFrame(n));
    for (int n = 1; n <= 3; ++n)
      WritePicture(dir_ / Frame("sizes", n), n == 2 ? clitest::GradientPicture() : InputFrame(n));
    std::ofstream(dir_ / "text.mov") << "not a movie, a line of text\n";
    cliptest::WriteClip(dir_ / "clip.mkv", 6, cliptest::ClipOptions());
    const std::string clip = clitest::ReadFile(dir_ / "clip.mkv");
    std::ofstream(dir_ / "cut.mkv", std::ios::binary) << clip.substr(0, 300);
  }

  // Runs render with `args` and checks the refusal's shape; returns the message.
  std::string ExpectRefused(std::vector<std::string> args, const std::string& fragment) {
    const auto before = dir_.Entries();
    args.insert(args.begin(), "render");
    const auto run = RunVarnex(args, dir_);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(clitest::Lines(run.err).size(), 1u) << run.err;
    EXPECT_NE(run.err.find(fragment), std::string::npos)
        << "message: " << run.err << "expected to contain: " << fragment;
    EXPECT_EQ(dir_.Entries(), before) << "something was written for: " << run.err;
    return run.err;
  }

  std::string Path(const std::string& name) const { return dir_ / name; }

  TempDir dir_;
};

}  // namespace

TEST_F(FootageRenderFailure, UnusableFootageIsRefusedInOneLineBeforeAnythingIsWritten) {
  const std::string out = Path("out.####.png");
  ExpectRefused({Path("gap.####.png"), "-o", out}, "gap.####.png\": frame 3 is missing");
  ExpectRefused({Path("in.####.png"), "-m", Path("gap.####.png"), "-o", out}, "frame 3 is missing");
  ExpectRefused({Path("sizes.####.png"), "-o", out}, "frame 2 is 32x24");
  ExpectRefused({Path("none.####.png"), "-o", out}, "no file matches");
  ExpectRefused({Path("text.mov"), "-o", out}, "text.mov");
  ExpectRefused({Path("cut.mkv"), "-o", out}, "cut.mkv");
  ExpectRefused({Path("in.####.png"), "-m", Path("cut.mkv"), "-o", out}, "map");
  // Writing over footage the render reads would destroy it.
  ExpectRefused({Path("in.####.png"), "-o", Path("in.####.png")},
                "is a frame of the input \"" + Path("in.####.png") + "\"");
  ExpectRefused(
      {Path("in.####.png"), "-m", Path("map.%04d.png"), "-f", "3-4", "-o", Path("map.####.png")},
      "a frame of the map");
  ExpectRefused({Path("in.####.png"), "-m", Path("clip.mkv"), "-o", Path("clip.mkv")},
                "is the map");

  // Held, the gap shows its nearest earlier frame.
  const auto run = RunVarnex(
      Args({"render", Path("gap.####.png"), "--missing", "hold", "-o", out}, kMapMovesX), dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SeenIn(clitest::ReadPicture(Path("out.0003.png"))).input, 2);
  EXPECT_EQ(SeenIn(clitest::ReadPicture(Path("out.0004.png"))).input, 4);
}

TEST_F(FootageRenderFailure, AFrameThatCannotBeDecodedStopsTheRenderNamingIt) {
  // Frame 4's pixels are cut short; its header, all a sequence is checked by, is whole.
  const std::string png = clitest::ReadFile(Path(Frame("in", 4)));
  std::ofstream(Path(Frame("in", 4)), std::ios::binary) << png.substr(0, png.size() * 2 / 3);

  const auto run = RunVarnex(
      Args({"render", Path("in.####.png"), "-j", "1", "-o", Path("out.####.png")}, kMapMovesX),
      dir_);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(clitest::Lines(run.err).size(), 1u) << run.err;
  EXPECT_NE(run.err.find("frame 4"), std::string::npos) << run.err;
  for (int n = 1; n <= 3; ++n)
    EXPECT_EQ(SeenIn(clitest::ReadPicture(Path(Frame("out", n)))).input, n);
  for (int n = 4; n <= 5; ++n) EXPECT_FALSE(fs::exists(Path(Frame("out", n))));
  for (const auto& name : dir_.Entries())
    EXPECT_EQ(name.find(".tmp"), std::string::npos) << "left behind: " << name;
}

TEST_F(FootageRenderFailure, AFailedMovieRenderLeavesTheEarlierMovieAsItWas) {
  const std::string movie = Path("out.mov");
  auto run = RunVarnex(Args({"render", Path("in.####.png"), "-o", movie}, kMapMovesX), dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  const std::string before = clitest::ReadFile(movie);
  const auto entries = dir_.Entries();

  const std::string png = clitest::ReadFile(Path(Frame("in", 3)));
  std::ofstream(Path(Frame("in", 3)), std::ios::binary) << png.substr(0, png.size() * 2 / 3);
  run = RunVarnex(Args({"render", Path("in.####.png"), "-o", movie, "-j", "2"}, kMapMovesX), dir_);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.err.find("frame 3"), std::string::npos) << run.err;
  EXPECT_EQ(clitest::ReadFile(movie), before);
  EXPECT_EQ(dir_.Entries(), entries);
}

TEST_F(FootageRenderFailure, AMovieInputsAudioGoesIntoAMovieThatTakesIt) {
  cliptest::MuxWithAudio(Path("clip.mkv"), {"pcm_s16le"}, 0.5, Path("voiced.mov"));
  const std::vector<std::string> render = {"render", Path("voiced.mov"), "-s",
                                           "Anti-Aliasing=None"};
  auto audio_streams = [](const std::string& path) {
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) != 0) return -1;
    const vmedia::av::InputPtr in(raw);
    if (avformat_find_stream_info(in.get(), nullptr) < 0) return -1;
    int n = 0;
    for (unsigned i = 0; i < in->nb_streams; ++i)
      n += in->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    return n;
  };

  auto run = RunVarnex(Args(render, {"-o", Path("out.mov")}), dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
  EXPECT_EQ(audio_streams(Path("out.mov")), 1);

  // MP4 takes no PCM: the movie is written without it, and the user is told.
  run = RunVarnex(Args(render, {"-o", Path("out.mp4")}), dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
  EXPECT_EQ(audio_streams(Path("out.mp4")), 0);

  // Frames wanted before the movie starts have no audio to go with them.
  run = RunVarnex(Args(render, {"-f", "0-3", "--input-start", "2", "-o", Path("late.mov")}), dir_);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
  EXPECT_EQ(audio_streams(Path("late.mov")), 0);
}

}  // namespace rendertest

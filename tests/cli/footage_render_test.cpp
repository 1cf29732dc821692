// Footage over time through `varnex render`, run as a user runs it: which input and map frame
// each output frame shows, movies in and out, the depth footage asks for, and a project that
// names it all.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cli/footage_render_support.h"
#include "media/source.h"
#include "support/clips.h"
#include "support/test_images.h"

namespace fs = std::filesystem;

namespace rendertest {
namespace {

std::string Numbered(const std::string& pattern, int n) {
  char name[256];
  std::snprintf(name, sizeof name, pattern.c_str(), n);
  return name;
}

// What output frames first..last show, read from files named by the printf `pattern`.
std::vector<Seen> SeenInFiles(const TempDir& dir, const std::string& pattern, int first, int last) {
  std::vector<Seen> seen;
  for (int n = first; n <= last; ++n)
    seen.push_back(SeenIn(ReadPicture(dir / Numbered(pattern, n))));
  return seen;
}

vhost::Image ToImage(const Picture& p) {
  vhost::Image img = vhost::Image::Make(p.width, p.height, 8);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      img.Set(x, y, 0, p.at(x, y, 3));
      for (int c = 0; c < 3; ++c) img.Set(x, y, c + 1, p.at(x, y, c));
    }
  }
  return img;
}

void WriteMovie(const std::string& path, const std::vector<Picture>& frames, vmedia::Rational fps) {
  vmedia::MovieWriterOptions o;
  o.width = frames[0].width;
  o.height = frames[0].height;
  o.fps = fps;
  vmedia::MovieWriter writer(path, o);
  for (const Picture& p : frames) writer.Write(ToImage(p));
  writer.Finish();
}

}  // namespace

TEST(FootageRender, EachOutputFrameShowsTheInputAndMapFramesOfItsTime) {
  TempDir dir;
  for (int n = 1001; n <= 1004; ++n)
    WritePicture(dir / Numbered("in.%04d.png", n), InputFrame(n - 1000));
  for (int n = 1; n <= 3; ++n) WritePicture(dir / Numbered("map.%04d.png", n), MapFrame(n));
  for (int n = 1001; n <= 1002; ++n)
    WritePicture(dir / Numbered("short.%04d.png", n), MapFrame(n - 996));
  const std::vector<std::string> base = Args({"render", dir / "in.####.png"}, kMapMovesX);

  // The input holds outside its frames; the map, moved to start at 1002, loops.
  auto run =
      RunVarnex(Args(base, {"-m", dir / "map.####.png", "--map-start", "1002", "--map-outside",
                            "loop", "-f", "1000-1006", "-j", "2", "-o", dir / "a.####.png"}),
                dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SeenInFiles(dir, "a.%04d.png", 1000, 1006),
            (std::vector<Seen>{{1, 2}, {1, 3}, {2, 1}, {3, 2}, {4, 3}, {4, 1}, {4, 2}}));

  // Both transparent outside: no input before and after, no map before it starts.
  run = RunVarnex(
      Args(base, {"-m", dir / "map.####.png", "--map-start", "1002", "--map-outside", "transparent",
                  "--input-outside", "transparent", "-f", "1000-1005", "-o", dir / "b.####.png"}),
      dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SeenInFiles(dir, "b.%04d.png", 1000, 1005),
            (std::vector<Seen>{
                {kNoInput, kNoMap}, {1, kNoMap}, {2, 1}, {3, 2}, {4, 3}, {kNoInput, kNoMap}}));

  // Without -f the render covers the input's own frames; a shorter map holds its last.
  run = RunVarnex(Args(base, {"-m", dir / "short.####.png", "-o", dir / "c.%04d.png"}), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(dir / "c.1000.png"));
  EXPECT_FALSE(fs::exists(dir / "c.1005.png"));
  EXPECT_EQ(SeenInFiles(dir, "c.%04d.png", 1001, 1004),
            (std::vector<Seen>{{1, 5}, {2, 6}, {3, 6}, {4, 6}}));

  // Moved to start at frame 10, the input's first file shows there.
  run =
      RunVarnex(Args(base, {"--input-start", "10", "-f", "10-11", "-o", dir / "d.####.png"}), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SeenIn(ReadPicture(dir / "d.0010.png")).input, 1);
  EXPECT_EQ(SeenIn(ReadPicture(dir / "d.0011.png")).input, 2);
}

TEST(FootageRender, AMapMovieAtItsOwnRateShowsTheFrameOfEachTime) {
  TempDir dir;
  std::vector<Picture> in, map;
  for (int k = 0; k < 8; ++k) in.push_back(InputFrame(k + 1));
  for (int k = 0; k < 8; ++k) map.push_back(MapFrame(k));
  WriteMovie(dir / "in.mkv", in, {25, 1});
  WriteMovie(dir / "map.mkv", map, {24, 1});

  // The input gives the 25 fps and its 8 frames; frame k is at k/25 s, which the 24 fps map
  // shows as its frame floor(k * 24 / 25): frame 0 twice, then one behind.
  const auto run =
      RunVarnex(Args({"render", dir / "in.mkv", "-m", dir / "map.mkv", "-o", dir / "out.####.png"},
                     kMapMovesX),
                dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(fs::exists(dir / "out.0008.png"));
  EXPECT_EQ(SeenInFiles(dir, "out.%04d.png", 0, 7),
            (std::vector<Seen>{{1, 0}, {2, 0}, {3, 1}, {4, 2}, {5, 3}, {6, 4}, {7, 5}, {8, 6}}));
}

TEST(FootageRender, MovieInMovieOutKeepsFramesRateAndOrder) {
  cliptest::ClipDir clips;
  TempDir dir;
  const std::string in = clips / "in.mkv";
  cliptest::WriteClip(in, 7, cliptest::ClipOptions(8, {24000, 1001}));
  const std::vector<std::string> identity = {"-s", "Anti-Aliasing=None", "-q", "-j", "3"};

  // Lossless out: every frame back exact, in order, at the input's exact rate.
  auto run = RunVarnex(Args({"render", in, "-o", dir / "out.mkv"}, identity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  auto back = vmedia::OpenSource(dir / "out.mkv");
  EXPECT_EQ(back->range().count(), 7);
  EXPECT_EQ(back->fps().num, 24000);
  EXPECT_EQ(back->fps().den, 1001);
  for (int k = 0; k < 7; ++k)
    EXPECT_EQ(testimg::MaxDifference(back->Frame(k, 8), cliptest::ClipFrame(k, 8)), 0.0f)
        << "frame " << k;

  // The lossy defaults by extension, with a part of the input's frames.
  for (const std::string name : {"out.mov", "out.mp4"}) {
    run = RunVarnex(Args({"render", in, "-f", "2-5", "-o", dir / name}, identity), dir);
    ASSERT_EQ(run.status, 0) << name << ": " << run.err;
    back = vmedia::OpenSource(dir / name);
    ASSERT_EQ(back->range().count(), 4) << name;
    for (int k = 0; k < 4; ++k) EXPECT_EQ(cliptest::ReadCode(back->Frame(k, 8)), k + 2) << name;
  }
  EXPECT_EQ(vmedia::OpenSource(dir / "out.mov")->depth(), 32);  // ProRes 4444 is 10 bits or more
}

TEST(FootageRender, DeeperFootageRendersAt32BitsUnlessToldOtherwise) {
  TempDir dir;
  // A faint ramp on the 16-bit grid, far finer than 8 bits can hold.
  Picture faint = clitest::MakePicture(32, 8, 4);
  for (int y = 0; y < faint.height; ++y) {
    for (int x = 0; x < faint.width; ++x) {
      float* px = faint.ptr(x, y);
      px[0] = static_cast<float>(x) / 65535.0f;
      px[1] = static_cast<float>(1000 + 7 * x + y) / 65535.0f;
      px[3] = 1.0f;
    }
  }
  WritePicture(dir / "in.png", faint, OIIO::TypeDesc::UINT16);
  const std::vector<std::string> identity = {"-s", "Anti-Aliasing=None", "-q"};

  auto run = RunVarnex(Args({"render", dir / "in.png", "-o", dir / "deep.exr"}, identity), dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture deep = ReadPicture(dir / "deep.exr");
  for (int x = 0; x < 32; ++x) {
    ASSERT_NEAR(deep.at(x, 3, 0), faint.at(x, 3, 0), 2e-6f) << "x " << x;
    ASSERT_NEAR(deep.at(x, 3, 1), faint.at(x, 3, 1), 2e-6f) << "x " << x;
  }

  // Told 8 bits, the faint red is gone: the whole ramp is below half of one 8-bit step.
  run = RunVarnex(Args({"render", dir / "in.png", "-d", "8", "-o", dir / "eight.exr"}, identity),
                  dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture eight = ReadPicture(dir / "eight.exr");
  for (int x = 0; x < 32; ++x) ASSERT_EQ(eight.at(x, 3, 0), 0.0f) << "x " << x;
}

TEST(FootageRender, AProjectNamesInputMapAndOutput) {
  TempDir dir;
  for (int n = 0; n < 3; ++n) WritePicture(dir / Numbered("in.%04d.png", n), InputFrame(n + 1));
  for (int n = 0; n < 2; ++n) WritePicture(dir / Numbered("map.%04d.png", n), MapFrame(n + 3));
  std::ofstream(dir / "project.json") << R"({
    "input": {"path": "in.####.png", "start": 5},
    "map": {"path": "map.%04d.png", "start": 5, "outside": "loop", "offset": [0, 0]},
    "output": "out.####.png",
    "controls": {"Channel": "Alpha", "Anti-Aliasing": "None", "Edge Behavior": "None",
                 "Translate X": 25}})";

  // Paths are the project's own; its input's frames 5-7 are the render's.
  auto run = RunVarnex({"render", "-p", dir / "project.json", "-q"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SeenInFiles(dir, "out.%04d.png", 5, 7), (std::vector<Seen>{{1, 3}, {2, 4}, {3, 3}}));

  // The command line's output wins over the project's.
  run = RunVarnex({"render", "-p", dir / "project.json", "-q", "-f", "6", "-o", dir / "one.png"},
                  dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(SeenIn(ReadPicture(dir / "one.png")), (Seen{2, 4}));
  EXPECT_FALSE(fs::exists(dir / "out.0008.png"));
}

}  // namespace rendertest

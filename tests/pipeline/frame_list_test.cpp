// Frame lists as farms and compositing renderers write them, parsed, written back and cut into
// chunks, and a render of a list through the command.
#include "pipeline/frame_list.h"

#include <gtest/gtest.h>

#include <fstream>

#include "pipeline/errors.h"
#include "support/cli_support.h"

namespace {

using vpipe::FormatFrameList;
using vpipe::ParseFrameList;

TEST(FrameList, ListsParseToAscendingFramesAndFormatBackShortest) {
  EXPECT_EQ(ParseFrameList("7", "-f"), (std::vector<int>{7}));
  EXPECT_EQ(ParseFrameList("1-4", "-f"), (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(ParseFrameList("1-10x3", "-f"), (std::vector<int>{1, 4, 7, 10}));
  EXPECT_EQ(ParseFrameList("1-9x4", "-f"), (std::vector<int>{1, 5, 9}));
  EXPECT_EQ(ParseFrameList("10-12,1,5,11", "-f"), (std::vector<int>{1, 5, 10, 11, 12}));

  for (const std::string text : {"7", "1-4", "1-10x3", "1,5,10-12", "0-8x2,20,31-32", "3-4"})
    EXPECT_EQ(FormatFrameList(ParseFrameList(text, "-f")), text);
  EXPECT_EQ(FormatFrameList({1, 2, 3, 5, 7, 9, 10}), "1-3,5-9x2,10");

  for (const std::string bad :
       {"", "1,,2", "a-b", "5-1", "1-10x0", "1-10x", "-3", "1-2000000", "x2", "1-99999999x1"}) {
    EXPECT_THROW(ParseFrameList(bad, "--frames"), vpipe::InputError) << bad;
  }
  try {
    ParseFrameList("0-200000", "--frames");
    ADD_FAILURE() << "no limit";
  } catch (const vpipe::InputError& e) {
    EXPECT_NE(std::string(e.what()).find("more frames than the limit"), std::string::npos);
  }
}

TEST(FrameList, ChunksKeepOrderAndCoverEveryFrameOnce) {
  const std::vector<int> frames = ParseFrameList("1-20x2,40-43", "-f");
  const auto chunks = vpipe::SplitFrames(frames, 4);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(FormatFrameList(chunks[0]), "1-7x2");
  EXPECT_EQ(FormatFrameList(chunks[2]), "17,19,40-41");
  EXPECT_EQ(FormatFrameList(chunks[3]), "42-43");
}

TEST(FrameList, TheCommandRendersTheFramesOfAList) {
  clitest::TempDir dir;
  clitest::WritePicture(dir / "in.png", clitest::GradientPicture());
  std::ofstream(dir / "p.json") << R"({"input": "in.png", "frames": "2,4"})";
  auto run = clitest::RunVarnex(
      {"render", dir / "in.png", "-f", "1-5x2,9", "-q", "-o", dir / "a.####.png"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  run = clitest::RunVarnex({"render", "-p", dir / "p.json", "-q", "-o", dir / "b.####.png"}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(dir.Entries(),
            (std::vector<std::string>{"a.0001.png", "a.0003.png", "a.0005.png", "a.0009.png",
                                      "b.0002.png", "b.0004.png", "in.png", "p.json"}));
}

}  // namespace

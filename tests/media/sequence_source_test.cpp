// Stills and image sequences as sources: what OpenSource finds on disk, what it refuses before
// decoding anything, and the frames it hands back.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "media/source.h"
#include "support/footage_support.h"

namespace {

using namespace foottest;

std::string Path(const TempDir& dir, const std::string& name) {
  return (dir / name).string();
}

// The message and frame of the FootageError that opening `path` throws.
struct Refusal {
  std::string message;
  int frame = vmedia::FootageError::kNoFrame;
};
Refusal RefusalOf(const std::string& path,
                  vmedia::MissingFrames missing = vmedia::MissingFrames::kRefuse) {
  vmedia::OpenOptions options;
  options.missing = missing;
  try {
    vmedia::OpenSource(path, options);
  } catch (const vmedia::FootageError& e) {
    return {e.what(), e.frame};
  }
  ADD_FAILURE() << path << " opened";
  return {};
}

TEST(FootageSequence, RangeAndFramesComeFromTheFilesOnDisk) {
  TempDir dir;
  for (int n = 3; n <= 6; ++n)
    WriteNumberedFrame(Path(dir, "in." + std::to_string(n + 10000).substr(1) + ".png"), n);
  // Names the pattern does not give: another suffix, another prefix, a number padded wider.
  WriteNumberedFrame(Path(dir, "in.0001.tif"), 1);
  WriteNumberedFrame(Path(dir, "xin.0002.png"), 2);
  WriteNumberedFrame(Path(dir, "in.00007.png"), 7);
  std::ofstream(Path(dir, "in.00a8.png")) << "not a frame";

  for (const std::string pattern : {"in.####.png", "in.%04d.png"}) {
    SCOPED_TRACE(pattern);
    auto source = vmedia::OpenSource(Path(dir, pattern));
    EXPECT_EQ(source->kind(), vmedia::SourceKind::kSequence);
    EXPECT_EQ(source->path(), Path(dir, pattern));
    EXPECT_EQ(source->range().first, 3);
    EXPECT_EQ(source->range().last, 6);
    EXPECT_EQ(source->width(), 8);
    EXPECT_EQ(source->height(), 4);
    EXPECT_EQ(source->depth(), 8);
    EXPECT_FALSE(source->fps().valid());
    for (int n = 3; n <= 6; ++n) {
      const vhost::Image frame = source->Frame(n, 8);
      EXPECT_EQ(frame.bpc, 8);
      EXPECT_EQ(NumberIn(frame), n);
    }
  }
}

TEST(FootageSequence, NumbersMayOutgrowTheirPadding) {
  TempDir dir;
  WriteNumberedFrame(Path(dir, "f.99.png"), 99);
  WriteNumberedFrame(Path(dir, "f.100.png"), 100);
  WriteNumberedFrame(Path(dir, "f.101.png"), 101);
  auto source = vmedia::OpenSource(Path(dir, "f.##.png"));
  EXPECT_EQ(source->range().first, 99);
  EXPECT_EQ(source->range().last, 101);
  EXPECT_EQ(NumberIn(source->Frame(101, 8)), 101);
}

TEST(FootageSequence, AMissingFrameIsRefusedByNumberOrHeldFromTheNearest) {
  TempDir dir;
  for (int n : {1, 2, 5, 6, 8}) WriteNumberedFrame(Path(dir, "s" + std::to_string(n) + ".png"), n);
  const Refusal refused = RefusalOf(Path(dir, "s#.png"));
  EXPECT_EQ(refused.message, "input sequence \"" + Path(dir, "s#.png") + "\": frame 3 is missing");
  EXPECT_EQ(refused.frame, 3);

  vmedia::OpenOptions hold;
  hold.missing = vmedia::MissingFrames::kHoldNearest;
  auto source = vmedia::OpenSource(Path(dir, "s#.png"), hold);
  EXPECT_EQ(source->range().first, 1);
  EXPECT_EQ(source->range().last, 8);
  // 3 is nearer 2, 4 nearer 5; 7 lies as near 6 as 8 and takes the earlier.
  const int shown[] = {1, 2, 2, 5, 5, 6, 6, 8};
  for (int n = 1; n <= 8; ++n) EXPECT_EQ(NumberIn(source->Frame(n, 8)), shown[n - 1]) << n;
}

TEST(FootageSequence, RefusesBeforeDecodingWhatCannotBeOneSequence) {
  TempDir dir;
  WriteNumberedFrame(Path(dir, "a1.png"), 1);
  WriteNumberedFrame(Path(dir, "a2.png"), 2, 4, 4);
  WriteNumberedFrame(Path(dir, "a3.png"), 3);
  const Refusal sizes = RefusalOf(Path(dir, "a#.png"));
  EXPECT_EQ(sizes.message,
            "input sequence \"" + Path(dir, "a#.png") + "\": frame 2 is 4x4, frame 1 is 8x4");
  EXPECT_EQ(sizes.frame, 2);

  const Refusal none = RefusalOf(Path(dir, "b####.png"));
  EXPECT_EQ(none.message, "input sequence \"" + Path(dir, "b####.png") + "\": no file matches");
  EXPECT_EQ(none.frame, vmedia::FootageError::kNoFrame);

  const Refusal no_folder = RefusalOf(Path(dir, "gone/a#.png"));
  EXPECT_EQ(no_folder.message.rfind(
                "input sequence \"" + Path(dir, "gone/a#.png") + "\": cannot list its folder", 0),
            0u)
      << no_folder.message;

  // A frame that is no image at all is named by its number.
  std::ofstream(Path(dir, "c1.png")) << "not an image";
  const Refusal broken = RefusalOf(Path(dir, "c#.png"));
  EXPECT_EQ(broken.frame, 1);
  EXPECT_EQ(broken.message.rfind("input frame 1 \"" + Path(dir, "c1.png") + "\": ", 0), 0u)
      << broken.message;

  const Refusal two_places = RefusalOf(Path(dir, "a#_%02d.png"));
  EXPECT_NE(two_places.message.find("more than one frame-number placeholder"), std::string::npos);

  // The same folder's good sequence still opens.
  WriteNumberedFrame(Path(dir, "a2.png"), 2);
  EXPECT_EQ(vmedia::OpenSource(Path(dir, "a#.png"))->range().count(), 3);
}

TEST(FootageSequence, SixteenBitFramesAreDeepAndReadAsFloat) {
  TempDir dir;
  // Red between two 8-bit steps: only a deep read keeps it.
  std::vector<uint16_t> samples(8 * 4 * 4, 65535);
  for (size_t i = 0; i < samples.size(); i += 4) samples[i] = 1000;
  for (const std::string name : {"d0.png", "d1.png"}) {
    auto out = OIIO::ImageOutput::create(Path(dir, name));
    OIIO::ImageSpec layout(8, 4, 4, OIIO::TypeDesc::UINT16);
    layout.alpha_channel = 3;
    ASSERT_TRUE(out->open(Path(dir, name), layout));
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT16, samples.data()));
    ASSERT_TRUE(out->close());
  }
  auto source = vmedia::OpenSource(Path(dir, "d#.png"));
  EXPECT_EQ(source->depth(), 32);
  const vhost::Image deep = source->Frame(1, 32);
  EXPECT_EQ(deep.bpc, 32);
  EXPECT_NEAR(deep.Get(3, 2, 1), 1000.0f / 65535.0f, 1e-6f);
  EXPECT_EQ(deep.Get(3, 2, 0), 1.0f);
}

TEST(FootageOpen, StillsAndSequencesByNameAndContents) {
  TempDir dir;
  WriteNumberedFrame(Path(dir, "still.png"), 9);
  // A still under a name no image format claims is still recognised by its contents.
  std::filesystem::copy_file(dir / "still.png", dir / "still.data");
  for (const std::string name : {"still.png", "still.data"}) {
    SCOPED_TRACE(name);
    auto still = vmedia::OpenSource(Path(dir, name));
    EXPECT_EQ(still->kind(), vmedia::SourceKind::kStill);
    EXPECT_EQ(still->range().first, 0);
    EXPECT_EQ(still->range().last, 0);
    EXPECT_FALSE(still->fps().valid());
    EXPECT_EQ(still->depth(), 8);
    EXPECT_EQ(NumberIn(still->Frame(0, 32)), 9);
  }

  vmedia::OpenOptions map;
  map.role = "map";
  try {
    vmedia::OpenSource(Path(dir, "nothing.png"), map);
    ADD_FAILURE() << "a missing file opened";
  } catch (const vmedia::FootageError& e) {
    EXPECT_EQ(std::string(e.what()), "map \"" + Path(dir, "nothing.png") + "\": no such file");
  }
  // A damaged file with an image's name is refused as an image, not tried as a movie.
  std::ofstream(Path(dir, "broken.png")) << "not an image";
  const Refusal broken = RefusalOf(Path(dir, "broken.png"));
  EXPECT_EQ(broken.message.rfind("input image \"" + Path(dir, "broken.png") + "\": cannot read", 0),
            0u)
      << broken.message;
}

}  // namespace
